// Win32 implementation of the operating-system services.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/output.h"
#include "app/settings.h"
#include "oss/oss.h"
#include "oss/oss_internal.h"

const char OSS_PATH_SEPARATOR = '\\';

namespace {
HANDLE g_hMutex = nullptr;
CRITICAL_SECTION g_stopSection;
INIT_ONCE g_stopOnce = INIT_ONCE_STATIC_INIT;
OSSCtrlHandler g_ctrlHandler = nullptr;

BOOL CALLBACK InitStopSection(PINIT_ONCE, PVOID, PVOID *) {
    InitializeCriticalSection(&g_stopSection);
    return TRUE;
}

std::string ErrorText(DWORD error) {
    char buffer[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer - 1, nullptr);
    if (n == 0) {
        std::snprintf(buffer, sizeof buffer, "error %lu", static_cast<unsigned long>(error));
        return buffer;
    }
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Reads a DWORD or a decimal REG_SZ value below HKLM; 0 when absent.
unsigned RegistryNumber(const char *subKey, const char *value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return 0;
    BYTE data[64] = {};
    DWORD type = 0, size = sizeof data - 1;
    unsigned result = 0;
    if (RegQueryValueExA(key, value, nullptr, &type, data, &size) == ERROR_SUCCESS) {
        if (type == REG_DWORD && size >= sizeof(DWORD)) {
            DWORD number = 0;
            std::memcpy(&number, data, sizeof number);
            result = number;
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            data[sizeof data - 1] = 0;
            result = static_cast<unsigned>(std::strtoul(reinterpret_cast<const char *>(data), nullptr, 10));
        }
    }
    RegCloseKey(key);
    return result;
}

void RegistryText(const char *subKey, const char *value, char *out, size_t outSize) {
    out[0] = '\0';
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    char data[64] = {};
    DWORD type = 0, size = sizeof data - 1;
    if (RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE *>(data), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        data[sizeof data - 1] = '\0';
        std::snprintf(out, outSize, "%s", data);
    }
    RegCloseKey(key);
}

using RtlGetVersionFn = LONG(WINAPI *)(OSVERSIONINFOEXW *);
using GetNativeSystemInfoFn = void(WINAPI *)(SYSTEM_INFO *);
using GetProductInfoFn = BOOL(WINAPI *)(DWORD, DWORD, DWORD, DWORD, DWORD *);

template <typename Fn> Fn ModuleFunction(const char *module, const char *name) {
    HMODULE handle = GetModuleHandleA(module);
    if (handle == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(handle, name)));
}

// Fills the version record. extended: the extended version form and the
// registry, product and metric details; 0 when the system gives no version.
int ReadVersionInfo(OSSVersionInfo &info, bool extended) {
    std::memset(&info, 0, sizeof info);
    OSVERSIONINFOEXW vi{};
    vi.dwOSVersionInfoSize = sizeof vi;
    bool have = false;
    if (extended) {
        auto rtlGetVersion = ModuleFunction<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion");
        if (rtlGetVersion != nullptr && rtlGetVersion(&vi) == 0) have = true;
        if (!have) {
            vi = {};
            vi.dwOSVersionInfoSize = sizeof vi;
            have = GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&vi)) != 0;
        }
    }
    if (!have) {
        vi = {};
        vi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        have = GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&vi)) != 0;
        if (!have) return 0;
    }
    info.platformId = vi.dwPlatformId;
    info.major = vi.dwMajorVersion;
    info.minor = vi.dwMinorVersion;
    info.build = vi.dwBuildNumber;
    WideCharToMultiByte(CP_ACP, 0, vi.szCSDVersion, -1, info.servicePack, sizeof info.servicePack - 1, nullptr,
                        nullptr);
    info.servicePack[sizeof info.servicePack - 1] = '\0';
    info.productType = vi.wProductType;
    info.suiteMask = vi.wSuiteMask;

    SYSTEM_INFO si{};
    auto nativeInfo = ModuleFunction<GetNativeSystemInfoFn>("kernel32.dll", "GetNativeSystemInfo");
    if (nativeInfo != nullptr)
        nativeInfo(&si);
    else
        GetSystemInfo(&si);
    info.processorArch = si.wProcessorArchitecture;
    info.r2Metric = GetSystemMetrics(SM_SERVERR2) != 0;

    if (extended) {
        const char *cv = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
        info.regMajor = RegistryNumber(cv, "CurrentMajorVersionNumber");
        info.regMinor = RegistryNumber(cv, "CurrentMinorVersionNumber");
        info.regBuild = RegistryNumber(cv, "CurrentBuild");
        auto productInfo = ModuleFunction<GetProductInfoFn>("kernel32.dll", "GetProductInfo");
        DWORD type = 0;
        if (productInfo != nullptr && productInfo(6, 0, 0, 0, &type)) info.editionType = type;
    }
    if (info.major < 5)
        RegistryText("SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductType", info.ntProductType,
                     sizeof info.ntProductType);
    return 1;
}

// Build time of the running executable from its PE file header, 0 when the
// header can't be read.
DWORD ImageTimeStamp() {
    const auto *base = reinterpret_cast<const BYTE *>(GetModuleHandleA(nullptr));
    if (base == nullptr) return 0;
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, base, sizeof dos);
    // The headers lie in the first page of the mapped image; never read
    // beyond it.
    constexpr LONG kHeaderPage = 0x1000;
    constexpr LONG kNeeded = static_cast<LONG>(sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER));
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0 || dos.e_lfanew > kHeaderPage - kNeeded) return 0;
    DWORD signature = 0;
    std::memcpy(&signature, base + dos.e_lfanew, sizeof signature);
    if (signature != IMAGE_NT_SIGNATURE) return 0;
    IMAGE_FILE_HEADER file;
    std::memcpy(&file, base + dos.e_lfanew + sizeof signature, sizeof file);
    return file.TimeDateStamp;
}

BOOL WINAPI CtrlRouter(DWORD type) {
    int event;
    if (type == CTRL_C_EVENT)
        event = OSS_CTRL_C_EVENT;
    else if (type == CTRL_BREAK_EVENT)
        event = OSS_CTRL_BREAK_EVENT;
    else
        return FALSE;
    return g_ctrlHandler != nullptr && g_ctrlHandler(event) ? TRUE : FALSE;
}
} // namespace

void OSSStopLock() {
    InitOnceExecuteOnce(&g_stopOnce, InitStopSection, nullptr, nullptr);
    EnterCriticalSection(&g_stopSection);
}
void OSSStopUnlock() { LeaveCriticalSection(&g_stopSection); }

void OSSSleep(unsigned milliseconds) {
    OutputLevelMessage(LEVEL_DEBUG, "OSSSleep: %u ms", milliseconds);
    if (OSSSleepDisabled()) return;
    Sleep(milliseconds);
}

int OSSInitCriticalSection() {
    if (g_hMutex != nullptr) return 0;
    g_hMutex = CreateMutexA(nullptr, FALSE, nullptr);
    if (g_hMutex == nullptr) {
        OutputLevelMessage(LEVEL_ERROR, "OSSInitCriticalSection: Failed with (%s)", OSSGetLastErrorText().c_str());
        return -1;
    }
    return 0;
}

int OSSEnterCriticalSection() {
    DWORD rc = g_hMutex != nullptr ? WaitForSingleObject(g_hMutex, INFINITE) : WAIT_FAILED;
    switch (rc) {
    case WAIT_OBJECT_0: return 0;
    case WAIT_ABANDONED:
        CoreTrace(LEVEL_DEBUG,
                  "OSSEnterCriticalSection: Received ownership of the abandoned mutex object - SHOULD NOT HAPPEN!");
        return -1;
    case WAIT_TIMEOUT:
        CoreTrace(LEVEL_DEBUG, "OSSEnterCriticalSection: Time-out interval has elapsed - SHOULD NOT HAPPEN!");
        return -1;
    default:
        CoreTrace(LEVEL_DEBUG, "OSSEnterCriticalSection: Failed with (%s)", OSSGetLastErrorText().c_str());
        return -1;
    }
}

int OSSLeaveCriticalSection() {
    if (g_hMutex == nullptr || !ReleaseMutex(g_hMutex)) {
        CoreTrace(LEVEL_DEBUG, "OSSLeaveCriticalSection: Failed with (%s)", OSSGetLastErrorText().c_str());
        return -1;
    }
    return 0;
}

int OSSDeleteCriticalSection() {
    if (g_hMutex == nullptr) return 0;
    HANDLE h = g_hMutex;
    g_hMutex = nullptr;
    if (!CloseHandle(h)) {
        CoreTrace(LEVEL_DEBUG, "OSSDeleteCriticalSection: Failed with (%s)", OSSGetLastErrorText().c_str());
        return -1;
    }
    return 0;
}

std::string OSSGetCurrentDirectory() {
    char buffer[256] = {};
    DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
    if (n == 0 || n >= sizeof buffer) return {};
    return buffer;
}

std::string OSSGetProgramDirectory(const char *programPath) {
    char path[MAX_PATH + 1] = {};
    if (programPath != nullptr && programPath[0] != '\0')
        std::snprintf(path, sizeof path, "%s", programPath);
    else if (GetModuleFileNameA(nullptr, path, MAX_PATH) == 0)
        return {};
    char drive[_MAX_DRIVE] = {}, dir[_MAX_DIR] = {};
    if (_splitpath_s(path, drive, sizeof drive, dir, sizeof dir, nullptr, 0, nullptr, 0) != 0) return {};
    std::string result = std::string(drive) + dir;
    if (!result.empty() && result.back() != '\\' && result.back() != '/') result += '\\';
    return result;
}

std::string OSSGetComputerName() {
    char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof buffer;
    if (!GetComputerNameA(buffer, &size)) return {};
    return buffer;
}

std::string OSSGetLastErrorText() { return ErrorText(GetLastError()); }

std::string OSSGetEnv(const char *name) {
    const char *v = name != nullptr ? std::getenv(name) : nullptr;
    return v != nullptr ? v : "";
}

int OSSReadVendorFlag() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dell\\Storage Consolidation", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    RegCloseKey(key);
    return 1;
}

int OSSGetOSDisplayString(char *osType, size_t typeSize, char *osVersion, size_t versionSize) {
    OSSVersionInfo info;
    if (!ReadVersionInfo(info, true)) return 0;
    return OSSBuildOSNames(info, true, osType, typeSize, osVersion, versionSize);
}

void OSSIdentifyHost() {
    std::string host = OSSGetComputerName();
    std::snprintf(g_HostIdent.hostName, sizeof g_HostIdent.hostName, "%s", host.empty() ? "<unknown>" : host.c_str());
    char type[128] = {}, version[128] = {};
    int built = OSSGetOSDisplayString(type, sizeof type, version, sizeof version);
    if (!built) {
        OSSVersionInfo info;
        built =
            ReadVersionInfo(info, false) && OSSBuildOSNames(info, false, type, sizeof type, version, sizeof version);
    }
    if (built) {
        std::snprintf(g_HostIdent.osType, sizeof g_HostIdent.osType, "%s", type);
        std::snprintf(g_HostIdent.osVersion, sizeof g_HostIdent.osVersion, "%s", version);
    }
    g_HostIdent.vendorFlag = OSSReadVendorFlag();
}

void OSSGetBuildDateTime(std::string &date, std::string &time) {
    DWORD stamp = ImageTimeStamp();
    std::time_t seconds = static_cast<std::time_t>(stamp);
    std::tm local{};
    if (stamp == 0 || localtime_s(&local, &seconds) != 0) {
        date = "<Unknown>";
        time.clear();
        return;
    }
    date = OSSFormatBannerDate(local);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(local.tm_year + 1900);
    st.wMonth = static_cast<WORD>(local.tm_mon + 1);
    st.wDay = static_cast<WORD>(local.tm_mday);
    st.wHour = static_cast<WORD>(local.tm_hour);
    st.wMinute = static_cast<WORD>(local.tm_min);
    st.wSecond = static_cast<WORD>(local.tm_sec);
    char text[64] = {};
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, "h':'mm':'ss tt", text, sizeof text) > 0)
        time = text;
    else
        time.clear();
}

void OSSInstallCtrlHandler(OSSCtrlHandler handler) {
    g_ctrlHandler = handler;
    SetConsoleCtrlHandler(CtrlRouter, TRUE);
}

void OSSExitProcess(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    if (g_pLogFile != nullptr) std::fflush(g_pLogFile);
    ExitProcess(static_cast<UINT>(status));
}
