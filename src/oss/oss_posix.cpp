// POSIX implementation of the operating-system services.
#include <pthread.h>
#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "app/output.h"
#include "app/settings.h"
#include "oss/oss.h"
#include "oss/oss_internal.h"

// Build time of the program (seconds since 1970, UTC). The program's own
// build supplies it from a source generated when its code is rebuilt;
// other users of this library (the tests) get 0.
long long TfBuildEpoch();
__attribute__((weak)) long long TfBuildEpoch() { return 0; }

const char OSS_PATH_SEPARATOR = '/';

namespace {
pthread_mutex_t g_mutex;
bool g_mutexValid = false;
pthread_mutex_t g_stopMutex = PTHREAD_MUTEX_INITIALIZER;
OSSCtrlHandler g_ctrlHandler = nullptr;

std::string ErrnoText(int error) {
    char buffer[256] = {};
    // GNU strerror_r may return a static text instead of filling buffer.
    const char *text = strerror_r(error, buffer, sizeof buffer);
    return text != nullptr ? text : buffer;
}

// Waits for SIGINT and SIGQUIT on its own thread, so the handler runs as
// ordinary code and may take locks and write messages.
void *SignalThread(void *arg) {
    sigset_t *set = static_cast<sigset_t *>(arg);
    for (;;) {
        int sig = 0;
        if (sigwait(set, &sig) != 0) continue;
        int event = sig == SIGINT ? OSS_CTRL_C_EVENT : OSS_CTRL_BREAK_EVENT;
        int handled = g_ctrlHandler != nullptr ? g_ctrlHandler(event) : 0;
        if (!handled) OSSExitProcess(128 + sig);
    }
    return nullptr;
}

// Longest os-release line taken in; the rest of a longer line is skipped.
constexpr size_t kMaxOsReleaseLine = 4096;
} // namespace

std::string OSSOsReleaseValue(const char *path, const char *key) {
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> in(std::fopen(path, "r"), &std::fclose);
    if (in == nullptr) return {};
    const std::string prefix = std::string(key) + "=";
    std::string line;
    for (;;) {
        line.clear();
        bool any = false;
        int c = 0;
        while ((c = std::getc(in.get())) != EOF) {
            any = true;
            if (c == '\n') break;
            if (line.size() < kMaxOsReleaseLine) line += static_cast<char>(c);
        }
        if (!any) return {}; // end of the file (or a read error)
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        std::string value = line.substr(prefix.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
            value = value.substr(1, value.size() - 2);
        return value;
    }
}

void OSSStopLock() { pthread_mutex_lock(&g_stopMutex); }
void OSSStopUnlock() { pthread_mutex_unlock(&g_stopMutex); }

void OSSSleep(unsigned milliseconds) {
    OutputLevelMessage(LEVEL_DEBUG, "OSSSleep: %u ms", milliseconds);
    if (OSSSleepDisabled()) return;
    timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int OSSInitCriticalSection() {
    if (g_mutexValid) return 0;
    int rc = pthread_mutex_init(&g_mutex, nullptr);
    if (rc != 0) {
        OutputLevelMessage(LEVEL_ERROR, "OSSInitCriticalSection: Failed with (%s)", ErrnoText(rc).c_str());
        return -1;
    }
    g_mutexValid = true;
    return 0;
}

int OSSEnterCriticalSection() {
    if (!g_mutexValid) {
        CoreTrace(LEVEL_DEBUG, "OSSEnterCriticalSection: Failed with (%s)", "mutex not created");
        return -1;
    }
    int rc = pthread_mutex_lock(&g_mutex);
    if (rc != 0) {
        CoreTrace(LEVEL_DEBUG, "OSSEnterCriticalSection: Failed with (%s)", ErrnoText(rc).c_str());
        return -1;
    }
    return 0;
}

int OSSLeaveCriticalSection() {
    if (!g_mutexValid) {
        CoreTrace(LEVEL_DEBUG, "OSSLeaveCriticalSection: Failed with (%s)", "mutex not created");
        return -1;
    }
    int rc = pthread_mutex_unlock(&g_mutex);
    if (rc != 0) {
        CoreTrace(LEVEL_DEBUG, "OSSLeaveCriticalSection: Failed with (%s)", ErrnoText(rc).c_str());
        return -1;
    }
    return 0;
}

int OSSDeleteCriticalSection() {
    if (!g_mutexValid) return 0;
    g_mutexValid = false;
    int rc = pthread_mutex_destroy(&g_mutex);
    if (rc != 0) {
        CoreTrace(LEVEL_DEBUG, "OSSDeleteCriticalSection: Failed with (%s)", ErrnoText(rc).c_str());
        return -1;
    }
    return 0;
}

std::string OSSGetCurrentDirectory() {
    char buffer[256];
    if (getcwd(buffer, sizeof buffer) == nullptr) return {};
    return buffer;
}

std::string OSSGetProgramDirectory(const char *programPath) {
    if (programPath == nullptr) return {};
    std::string path = programPath;
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

std::string OSSGetComputerName() {
    char buffer[128] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return buffer;
}

std::string OSSGetLastErrorText() { return ErrnoText(errno); }

std::string OSSGetEnv(const char *name) {
    const char *v = name != nullptr ? std::getenv(name) : nullptr;
    return v != nullptr ? v : "";
}

int OSSReadVendorFlag() { return 0; }

int OSSGetOSDisplayString(char *osType, size_t typeSize, char *osVersion, size_t versionSize) {
    if (osType == nullptr || osVersion == nullptr || typeSize == 0 || versionSize == 0) return 0;
    utsname un{};
    if (uname(&un) != 0) return 0;
    std::string name = OSSOsReleaseValue("/etc/os-release", "PRETTY_NAME");
    if (name.empty()) name = un.sysname;
    // Processor names in the upper-case form the image code tests for
    // ("IA64").
    std::string machine = un.machine;
    if (machine == "ia64") machine = "IA64";
    std::snprintf(osType, typeSize, "%s %s", name.c_str(), machine.c_str());
    std::snprintf(osVersion, versionSize, "%s %s (%s)", un.sysname, un.release, un.version);
    return 1;
}

void OSSIdentifyHost() {
    std::string host = OSSGetComputerName();
    std::snprintf(g_HostIdent.hostName, sizeof g_HostIdent.hostName, "%s", host.empty() ? "<unknown>" : host.c_str());
    char type[128] = {}, version[128] = {};
    if (OSSGetOSDisplayString(type, sizeof type, version, sizeof version)) {
        std::snprintf(g_HostIdent.osType, sizeof g_HostIdent.osType, "%s", type);
        std::snprintf(g_HostIdent.osVersion, sizeof g_HostIdent.osVersion, "%s", version);
    }
    g_HostIdent.vendorFlag = OSSReadVendorFlag();
}

void OSSGetBuildDateTime(std::string &date, std::string &time) {
    std::time_t stamp = static_cast<std::time_t>(TfBuildEpoch());
    std::tm local{};
    if (stamp <= 0 || localtime_r(&stamp, &local) == nullptr) {
        date = "<Unknown>";
        time.clear();
        return;
    }
    date = OSSFormatBannerDate(local);
    time = OSSFormatBannerTime(local);
}

void OSSInstallCtrlHandler(OSSCtrlHandler handler) {
    g_ctrlHandler = handler;
    static sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGQUIT);
    // Blocked here, before any other thread exists, so that only the
    // signal thread receives them.
    sigset_t previous;
    if (pthread_sigmask(SIG_BLOCK, &set, &previous) != 0) return;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, SignalThread, &set) == 0) {
        pthread_detach(thread);
    } else {
        // No thread to take them: Ctrl-C must still end the process.
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
}

void OSSExitProcess(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    if (g_pLogFile != nullptr) std::fflush(g_pLogFile);
    _exit(status);
}
