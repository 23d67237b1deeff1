// Operating-system services: the only code of the program that calls the
// operating system. One implementation per platform (oss_posix.cpp,
// oss_win32.cpp); everything OS-independent lives in oss_common.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Native path separator: '\\' on Windows, '/' elsewhere.
extern const char OSS_PATH_SEPARATOR;

// The one sleep of the program. Traced at Debug level with its length.
// Real sleeping is switched off when TARNIK_NO_SLEEP=1 is set (test aid).
void OSSSleep(unsigned milliseconds);

// Program mutex (unnamed). Return 0 or -1; failures are traced.
int OSSInitCriticalSection();
int OSSEnterCriticalSection();
int OSSLeaveCriticalSection();
int OSSDeleteCriticalSection();

// Current working directory; empty when it can't be read.
std::string OSSGetCurrentDirectory();
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

// Builds OS type and version texts from the system (1) or fails (0).
int OSSGetOSDisplayString(char *osType, size_t typeSize, char *osVersion, size_t versionSize);
// Fills the host identification (computer name, OS naming, vendor flag).
void OSSIdentifyHost();

// Version banner build stamp: date "%02u/%02u/%04u" or "<Unknown>", and
// the locale time text (may be empty).
void OSSGetBuildDateTime(std::string &date, std::string &time);

// Console control handler installation; the handler gets 0 for Ctrl-C and
// 1 for Ctrl-Break and returns nonzero when it handled the event.
using OSSCtrlHandler = int (*)(int event);
void OSSInstallCtrlHandler(OSSCtrlHandler handler);
