// Operating-system services: the only code of the program that calls the
// operating system. One implementation per platform (oss_posix.cpp,
// oss_win32.cpp); everything OS-independent lives in oss_common.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// Native path separator: '\\' on Windows, '/' elsewhere.
extern const char OSS_PATH_SEPARATOR;

// The one sleep of the program. Traced at Debug level with its length.
// Real sleeping is switched off when TARNIK_NO_SLEEP=1 is set (test aid).
void OSSSleep(unsigned milliseconds);
// 1 when TARNIK_NO_SLEEP=1 is set.
int OSSSleepDisabled();

// Program mutex (unnamed). Return 0 or -1; failures are traced.
int OSSInitCriticalSection();
int OSSEnterCriticalSection();
int OSSLeaveCriticalSection();
int OSSDeleteCriticalSection();

// Current working directory (at most 255 characters); empty when it can't
// be read.
std::string OSSGetCurrentDirectory();
// Folder of the program's own path (argv[0]) with a trailing separator;
// empty when the path has no folder part.
std::string OSSGetProgramDirectory(const char *programPath);
// Computer name; empty when it can't be read.
std::string OSSGetComputerName();
// Text of the system's last error.
std::string OSSGetLastErrorText();
// Reads an environment variable; empty when unset.
std::string OSSGetEnv(const char *name);

// Host identification filled at start-up.
struct OSSHostIdent {
    char hostName[128];
    char osType[128];
    char osVersion[128];
    int vendorFlag;
};
extern OSSHostIdent g_HostIdent;

// Host information record handed to the displays.
struct OSSHostInfo {
    char hostName[128];
    char osType[128];
    char osVersion[128];
    char libraryVersion[64]; // TvxGetVersion text
    int valid;
    int vendorFlag;
};
// Fills the record from the host identification; returns 0.
int OSSGetHostInfo(OSSHostInfo *info);

// Windows version information as the system reports it. The naming of the
// operating system is a pure function of this record (OSSBuildOSNames), so
// it can be checked on every platform; the Windows layer only fills it.
constexpr unsigned OSS_PLATFORM_WIN32S = 0;
constexpr unsigned OSS_PLATFORM_WIN9X = 1;
constexpr unsigned OSS_PLATFORM_NT = 2;
constexpr unsigned OSS_PRODUCT_WORKSTATION = 1;
constexpr unsigned OSS_ARCH_X86 = 0;
constexpr unsigned OSS_ARCH_IA64 = 6;
constexpr unsigned OSS_ARCH_X64 = 9;
constexpr unsigned OSS_SUITE_ENTERPRISE = 0x0002;
constexpr unsigned OSS_SUITE_DATACENTER = 0x0080;
constexpr unsigned OSS_SUITE_PERSONAL = 0x0200;
constexpr unsigned OSS_SUITE_STORAGE_SERVER = 0x2000;
constexpr unsigned OSS_SUITE_COMPUTE_SERVER = 0x4000;

struct OSSVersionInfo {
    unsigned platformId;
    unsigned major;
    unsigned minor;
    unsigned build;
    char servicePack[128];
    unsigned productType; // 1 workstation, else server
    unsigned suiteMask;
    unsigned processorArch; // 0 x86, 6 Itanium, 9 x64
    int r2Metric;           // system reports Windows Server 2003 R2
    unsigned editionType;   // product type of GetProductInfo, 0 unknown
    // CurrentVersion registry values, 0 when absent.
    unsigned regMajor;
    unsigned regMinor;
    unsigned regBuild;
    // ProductOptions "ProductType" value (NT 4 naming).
    char ntProductType[32];
};

// Builds the OS type and version texts (cut to their sizes). extended:
// the full naming; otherwise the simpler one (names up to 6.3, no registry
// override, no edition words). Returns 1 when both texts were built, 0 for
// a legacy platform (traced).
int OSSBuildOSNames(const OSSVersionInfo &info, bool extended, char *osType, size_t typeSize, char *osVersion,
                    size_t versionSize);
// Edition word of a GetProductInfo type for 6.x systems ("" for others).
const char *OSSEditionWord(unsigned editionType);

// Builds OS type and version texts from the system (1) or fails (0).
int OSSGetOSDisplayString(char *osType, size_t typeSize, char *osVersion, size_t versionSize);
// Fills g_HostIdent (computer name, OS naming, vendor flag).
void OSSIdentifyHost();

// Start-up of the services: configuration directory (g_szConfigPath) and
// preferences file name, host identification, program mutex. A mutex that
// can't be created ends the process with status 1 after the fatal message.
void OSSInitialize(int argc, char **argv);
extern int g_bOSSInitialized;

// Version banner build stamp: date "%02u/%02u/%04u" (month, day, year) or
// "<Unknown>", and the locale time text "h:mm:ss tt" (may be empty).
void OSSGetBuildDateTime(std::string &date, std::string &time);
// Formats a local time as the banner date and a 12-hour time
// "h:mm:ss AM" (fallback form of the locale time).
std::string OSSFormatBannerDate(const std::tm &local);
std::string OSSFormatBannerTime(const std::tm &local);

// Local time now. False when the system cannot give it. Tests pin the
// answer with OSSPinLocalTime (a null time pins "unavailable") and release
// it with OSSUnpinLocalTime.
bool OSSGetLocalTime(std::tm &out);
void OSSPinLocalTime(const std::tm *pinned);
void OSSUnpinLocalTime();

// Console control events and handler. The handler runs on a thread of its
// own (never inside a signal context); it returns nonzero when it handled
// the event, zero to let the process end with the default action.
constexpr int OSS_CTRL_C_EVENT = 0;
constexpr int OSS_CTRL_BREAK_EVENT = 1;
using OSSCtrlHandler = int (*)(int event);
void OSSInstallCtrlHandler(OSSCtrlHandler handler);

// Safe stop. A stop request (Ctrl-C, Ctrl-Break) must never interrupt a
// flash write. Code that writes adapter flash brackets every library write
// with OSSBeginCriticalWrite()/OSSEndCriticalWrite() (nesting allowed).
//
// OSSRequestStop: with no write in progress it ends the process at once
// (status OSS_STOP_EXIT_STATUS, devices are released by the system);
// during a write it records the request and returns, and the process ends
// in OSSEndCriticalWrite when the outermost write is over, on the writing
// thread, after running the stop cleanup (OSSSetStopCleanup). A write that
// would begin after a request ends the process instead of starting.
constexpr int OSS_STOP_EXIT_STATUS = 130;
void OSSRequestStop(int event);
int OSSStopRequested();
void OSSBeginCriticalWrite();
void OSSEndCriticalWrite();
int OSSCriticalWriteDepth();
void OSSSetStopCleanup(void (*cleanup)());
// Ends the process now with status (flushes the console and the log).
[[noreturn]] void OSSExitProcess(int status);
