#include "app/settings.h"

int g_iCommand = 0;
int g_iFlashMode = 0;
int g_iAdapterSelect = 0;
int g_iAdapterInstance = 0;
uint8_t g_AdapterWWN[8] = {};
int g_iFamilyType = 0;
int g_bAllPorts = 0;
uint8_t g_bForce = 0;
int g_bSilent = 0;
int g_bDebug = 0;
FILE *g_pLogFile = nullptr;
char g_szMBIFile[261] = {};
char g_szCmdLineError[256] = {};
int g_bIA64Host = 0;
char g_szConfigPath[261] = {};
char g_configurationFileName[260] = {};
