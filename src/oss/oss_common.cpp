// Operating-system services shared by every platform: the OS naming from a
// version record, start-up, the host information record, the banner stamp
// texts and the safe stop.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/output.h"
#include "app/settings.h"
#include "oss/oss.h"
#include "oss/oss_internal.h"
#include "torvex.h"

OSSHostIdent g_HostIdent = {"<unknown>", "Unknown Microsoft OS", "Unknown Version", 0};
int g_bOSSInitialized = 0;

namespace {

// Appends formatted text to a fixed buffer, cutting at its end.
void AppendF(char *buffer, size_t size, const char *format, ...) TF_PRINTF(3, 4);
void AppendF(char *buffer, size_t size, const char *format, ...) {
    size_t used = std::strlen(buffer);
    if (used + 1 >= size) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer + used, size - used, format, args);
    va_end(args);
}

void CopyText(char *dest, size_t size, const char *text) {
    if (size == 0) return;
    std::snprintf(dest, size, "%s", text != nullptr ? text : "");
}

// Name of an NT system from version 5.0 on; false when the version has no
// row in the naming table.
void AppendNtName(const OSSVersionInfo &info, unsigned major, unsigned minor, unsigned build, bool extended, char *type,
                  size_t size) {
    const bool workstation = info.productType == OSS_PRODUCT_WORKSTATION;
    const unsigned suite = info.suiteMask;
    const unsigned arch = info.processorArch;
    if (major == 10 && minor == 0 && extended) {
        if (workstation)
            AppendF(type, size, "Microsoft Windows 10 ");
        else if (build == 14393)
            AppendF(type, size, "Microsoft Windows Server 2016");
        else
            AppendF(type, size, "Microsoft Windows Server 2019");
    } else if (major == 6 && minor <= 3) {
        static const char *const kWorkstation[] = {"Microsoft Windows Vista ", "Microsoft Windows 7 ",
                                                   "Microsoft Windows 8 ", "Microsoft Windows 8.1 "};
        static const char *const kServer[] = {"Microsoft Windows Server 2008 ", "Microsoft Windows Server 2008 R2 ",
                                              "Microsoft Windows Server 2012 ", "Microsoft Windows Server 2012 R2 "};
        AppendF(type, size, "%s", workstation ? kWorkstation[minor] : kServer[minor]);
        if (extended) AppendF(type, size, "%s", OSSEditionWord(info.editionType));
    } else if (major == 5 && minor == 2) {
        if (workstation && arch == OSS_ARCH_X64) {
            AppendF(type, size, "Microsoft Windows XP Professional ");
        } else {
            if (info.r2Metric)
                AppendF(type, size, "Microsoft Windows Server 2003 R2 ");
            else if (suite & OSS_SUITE_STORAGE_SERVER)
                AppendF(type, size, "Microsoft Windows Storage Server 2003 ");
            else
                AppendF(type, size, "Microsoft Windows Server 2003 ");
            if (arch == OSS_ARCH_IA64) {
                if (suite & OSS_SUITE_DATACENTER)
                    AppendF(type, size, "Datacenter Itanium");
                else if (suite & OSS_SUITE_ENTERPRISE)
                    AppendF(type, size, "Enterprise Itanium");
            } else if (suite & OSS_SUITE_COMPUTE_SERVER) {
                AppendF(type, size, "Compute Cluster");
            } else if (suite & OSS_SUITE_DATACENTER) {
                AppendF(type, size, "Datacenter");
            } else if (suite & OSS_SUITE_ENTERPRISE) {
                AppendF(type, size, "Enterprise");
            } else {
                AppendF(type, size, "Standard");
            }
        }
    } else if (major == 5 && minor == 1) {
        AppendF(type, size, "Microsoft Windows XP %s", (suite & OSS_SUITE_PERSONAL) ? "Home Edition" : "Professional");
    } else if (major == 5 && minor == 0) {
        if (workstation)
            AppendF(type, size, "Microsoft Windows 2000 Professional");
        else if (suite & OSS_SUITE_DATACENTER)
            AppendF(type, size, "Microsoft Windows 2000 Datacenter Server");
        else if (suite & OSS_SUITE_ENTERPRISE)
            AppendF(type, size, "Microsoft Windows 2000 Advanced Server");
        else
            AppendF(type, size, "Microsoft Windows 2000 Server");
    } else if (major < 5) {
        AppendF(type, size, "Windows NT %s", std::strcmp(info.ntProductType, "WINNT") == 0 ? "Workstation" : "Server");
    } else {
        // A version the table does not know yet.
        AppendF(type, size, "Microsoft Windows ");
    }
    if ((major == 10 && extended) || major == 6) {
        if (arch == OSS_ARCH_X64)
            AppendF(type, size, " 64-bit");
        else if (arch == OSS_ARCH_X86)
            AppendF(type, size, "  32-bit");
    }
}

} // namespace

const char *OSSEditionWord(unsigned editionType) {
    switch (editionType) {
    case 1: return "Ultimate";
    case 2: return "Home Basic";
    case 3: return "Home Premium";
    case 4:
    case 10: return "Enterprise";
    case 6: return "Business";
    case 7: return "Standard";
    case 8: return "Datacenter";
    case 9: return "Small Business Server";
    case 11: return "Starter";
    case 12: return "Datacenter (core)";
    case 13: return "Standard (core)";
    case 14: return "Enterprise (core)";
    case 15: return "Enterprise Itanium";
    case 17: return "Web Server";
    case 18: return "Cluster Server";
    case 25: return "Small Business Server Premium";
    default: return "";
    }
}

int OSSBuildOSNames(const OSSVersionInfo &info, bool extended, char *osType, size_t typeSize, char *osVersion,
                    size_t versionSize) {
    if (osType == nullptr || osVersion == nullptr || typeSize == 0 || versionSize == 0) return 0;
    const char *sp = info.servicePack;
    if (info.platformId == OSS_PLATFORM_WIN9X) {
        osType[0] = '\0';
        if (info.major == 4 && info.minor == 0)
            AppendF(osType, typeSize, "Microsoft Windows 95 %s", sp[0] != '\0' && sp[1] == 'C' ? "OSR2" : "");
        else if (info.major == 4 && info.minor == 10)
            AppendF(osType, typeSize, "Microsoft Windows 98 %s", sp[0] != '\0' && sp[1] == 'A' ? "SE" : "");
        else if (info.major == 4 && info.minor == 90)
            AppendF(osType, typeSize, "Microsoft Windows Me");
        std::snprintf(osVersion, versionSize, "%u.%u", info.major, info.minor);
        return 1;
    }
    if (info.platformId == OSS_PLATFORM_WIN32S) {
        CopyText(osType, typeSize, "Microsoft Win32s");
        std::snprintf(osVersion, versionSize, "%u.%u", info.major, info.minor);
        return 1;
    }
    if (info.platformId != OSS_PLATFORM_NT || info.major < 4) {
        CoreTrace(LEVEL_DEBUG, "OSSGetOSDisplayString: Legacy Windows OS version (PlatformID=%d MajorVer=%d",
                  static_cast<int>(info.platformId), static_cast<int>(info.major));
        return 0;
    }
    unsigned major = info.major, minor = info.minor, build = info.build;
    if (extended && info.regMajor != 0) {
        major = info.regMajor;
        minor = info.regMinor;
        build = info.regBuild;
    }
    if (!extended && (major > 6 || (major == 6 && minor > 3))) {
        // The simpler naming knows systems up to 6.3 only.
        return 0;
    }
    osType[0] = '\0';
    AppendNtName(info, major, minor, build, extended, osType, typeSize);
    AppendF(osType, typeSize, " x64");
    if (major < 5)
        std::snprintf(osVersion, versionSize, "%u.%u %s (Build %u)", major, minor, sp, build);
    else if (sp[0] == '\0')
        std::snprintf(osVersion, versionSize, "Build %u", build);
    else
        std::snprintf(osVersion, versionSize, "%s (Build %u)", sp, build);
    return 1;
}

int OSSGetHostInfo(OSSHostInfo *info) {
    if (info == nullptr) return 0;
    std::memset(info, 0, sizeof *info);
    CopyText(info->hostName, sizeof info->hostName, g_HostIdent.hostName);
    CopyText(info->osType, sizeof info->osType, g_HostIdent.osType);
    CopyText(info->osVersion, sizeof info->osVersion, g_HostIdent.osVersion);
    char version[64] = {};
    if (TvxGetVersion(version, sizeof version) == TVX_STATUS_OK) {
        version[sizeof version - 1] = '\0';
        CopyText(info->libraryVersion, sizeof info->libraryVersion, version);
    }
    info->valid = 1;
    info->vendorFlag = g_HostIdent.vendorFlag;
    return 0;
}

void OSSInitialize(int argc, char **argv) {
    std::string dir = OSSGetCurrentDirectory();
    if (!dir.empty()) {
        dir += OSS_PATH_SEPARATOR;
    } else {
        dir = OSSGetProgramDirectory(argc > 0 ? argv[0] : nullptr);
    }
    if (dir.size() >= sizeof g_szConfigPath) {
        // A cut folder name would name some other folder; bare file names
        // reach the current directory instead.
        OutputLevelMessage(LEVEL_DEBUG, "OSSInitialize: program folder longer than %zu characters, not used",
                           sizeof g_szConfigPath - 1);
        dir.clear();
    }
    CopyText(g_szConfigPath, sizeof g_szConfigPath, dir.c_str());
    OutputLevelMessage(LEVEL_DEBUG, "Configuration Path (%s)...", g_szConfigPath);
    int n = std::snprintf(g_configurationFileName, sizeof g_configurationFileName, "%s%s", g_szConfigPath,
                          "agent.properties");
    if (n < 0 || static_cast<size_t>(n) >= sizeof g_configurationFileName)
        OutputLevelMessage(LEVEL_DEBUG, "OSSInitialize: preferences file name cut to %zu characters",
                           sizeof g_configurationFileName - 1);

    OSSIdentifyHost();

    if (OSSInitCriticalSection() != 0) {
        std::fputs("*** UNABLE TO INITIALIZE...TERMINATING...\n\n", stderr);
        OSSExitProcess(1);
    }
    g_bOSSInitialized = 1;
}

std::string OSSFormatBannerDate(const std::tm &local) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u/%02u/%04u", static_cast<unsigned>(local.tm_mon + 1),
                  static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_year + 1900));
    return text;
}

std::string OSSFormatBannerTime(const std::tm &local) {
    int hour = local.tm_hour % 12;
    if (hour == 0) hour = 12;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d:%02d %s", hour, local.tm_min, local.tm_sec,
                  local.tm_hour < 12 ? "AM" : "PM");
    return text;
}

// ---- Safe stop -------------------------------------------------------

namespace {
int g_stopRequested = 0;
int g_writeDepth = 0;
void (*g_stopCleanup)() = nullptr;
} // namespace

void OSSSetStopCleanup(void (*cleanup)()) {
    OSSStopLock();
    g_stopCleanup = cleanup;
    OSSStopUnlock();
}

// Tests set TARNIK_NO_SLEEP=1 so that no wait really sleeps.
int OSSSleepDisabled() {
    const char *off = std::getenv("TARNIK_NO_SLEEP");
    return off != nullptr && std::strcmp(off, "1") == 0;
}

void OSSRequestStop(int event) {
    OSSStopLock();
    g_stopRequested = 1;
    if (g_writeDepth == 0) {
        // Nothing is being written: end now, holding the lock so that no
        // write can begin meanwhile.
        OSSExitProcess(OSS_STOP_EXIT_STATUS);
    }
    OutputLevelMessage(LEVEL_DEBUG, "OSSRequestStop: event %d deferred until the flash write ends", event);
    OSSStopUnlock();
}

int OSSStopRequested() {
    OSSStopLock();
    int requested = g_stopRequested;
    OSSStopUnlock();
    return requested;
}

void OSSBeginCriticalWrite() {
    OSSStopLock();
    if (g_stopRequested && g_writeDepth == 0) OSSExitProcess(OSS_STOP_EXIT_STATUS);
    ++g_writeDepth;
    OSSStopUnlock();
}

void OSSEndCriticalWrite() {
    OSSStopLock();
    if (g_writeDepth > 0) --g_writeDepth;
    bool stopNow = g_stopRequested && g_writeDepth == 0;
    void (*cleanup)() = g_stopCleanup;
    OSSStopUnlock();
    if (stopNow) {
        // On the writing thread, after the write: the lists may be freed.
        OutputLevelMessage(LEVEL_DEBUG, "OSSEndCriticalWrite: flash write finished, stopping");
        if (cleanup != nullptr) cleanup();
        OSSExitProcess(OSS_STOP_EXIT_STATUS);
    }
}

int OSSCriticalWriteDepth() {
    OSSStopLock();
    int depth = g_writeDepth;
    OSSStopUnlock();
    return depth;
}
