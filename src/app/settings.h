// Run settings: filled by the command line before anything else runs.
#pragma once

#include <cstdint>
#include <cstdio>

extern int g_iCommand;         // command code 1-10
extern int g_iFlashMode;       // 0 standard, 1 force write, 2 force rewrite, 3 force downgrade
extern int g_iAdapterSelect;   // 0 all, 1 by instance, 2 by WWPN
extern int g_iAdapterInstance; // 0-64
extern uint8_t g_AdapterWWN[8];
extern int g_iFamilyType; // family filter code, 0 none
extern int g_bAllPorts;
extern uint8_t g_bForce;
extern int g_bSilent;
extern int g_bDebug;
extern FILE *g_pLogFile;
extern char g_szMBIFile[261];
extern char g_szCmdLineError[256];
extern int g_bIA64Host; // host OS type contains "IA64" (EFI boot mode)

// Configuration directory, ends with the native path separator.
extern char g_szConfigPath[261];
// Preferences file: configuration directory + "agent.properties".
extern char g_configurationFileName[260];
