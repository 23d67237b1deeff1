// Command line: the two passes that fill the run settings, the adapter
// operand, the usage text and the version banner.
#pragma once

#include <cstdint>

// Command codes (g_iCommand).
enum : int {
    CMD_USAGE = 1,
    CMD_VERSION = 2,
    CMD_HOST_INFO = 3,
    CMD_HBA_INFO = 4,
    CMD_NOTHING = 5,
    CMD_DEFAULT_UPDATE = 6,
    CMD_MBI_VERSION = 7,
    CMD_TARGETED_UPDATE = 8,
    CMD_PEP_VERSION = 9,
    CMD_FDT = 10,
};

// Adapter selector (g_iAdapterSelect).
enum : int {
    ADAPTER_SELECT_ALL = 0,
    ADAPTER_SELECT_INSTANCE = 1,
    ADAPTER_SELECT_WWN = 2,
};

constexpr int MAX_ADAPTER_INSTANCE = 64;
constexpr int MAX_POSITIONAL_ARGS = 128;

// 0 run, 1 help, 2 version, 7 invalid, 10 out of memory, 16 bad adapter
// operand (its message already written as an Error).
int ParseCommandLine(int argc, char **argv);
// First pass: flags anywhere on the line; the rest are kept as positional
// arguments. 0, 1 help, 2 version, 7 too many positional arguments, 10.
int ParseOptionFlags(int argc, char **argv);
// Second pass over the positional arguments: 0, 7 or 16.
int ParseCommand();
// Positional arguments kept by the first pass (until ParseCommandLine
// ends).
int GetPositionalCount();
const char *GetPositionalArg(int index);
void FreePositionalArgs();

// 0, or 16 with g_szCmdLineError set.
int ParseAdapterSelector(const char *text);
// 0, or -1 (traced); out holds the bytes converted so far.
int StringToWWN(const char *text, uint8_t out[8]);
// 0 when both texts are non-empty and equal ignoring letter case, else -1.
int StrCompareNoCase(const char *a, const char *b);

void PrintUsage();
void PrintVersion();
