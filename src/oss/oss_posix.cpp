// POSIX implementation of the operating-system services.
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/output.h"
#include "oss/oss.h"

const char OSS_PATH_SEPARATOR = '/';

namespace {
pthread_mutex_t g_mutex;
bool g_mutexValid = false;
} // namespace

void OSSSleep(unsigned milliseconds) {
    OutputLevelMessage(LEVEL_DEBUG, "OSSSleep: %u ms", milliseconds);
    const char *off = std::getenv("TARNIK_NO_SLEEP");
    if (off != nullptr && std::strcmp(off, "1") == 0) return;
    timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int OSSInitCriticalSection() {
    if (pthread_mutex_init(&g_mutex, nullptr) != 0) {
        OutputLevelMessage(LEVEL_ERROR, "OSSInitCriticalSection: Failed with (%s)", OSSGetLastErrorText().c_str());
        return -1;
    }
    g_mutexValid = true;
    return 0;
}

int OSSEnterCriticalSection() {
    if (!g_mutexValid || pthread_mutex_lock(&g_mutex) != 0) {
        CoreTrace(LEVEL_DEBUG, "OSSEnterCriticalSection: Failed with (%s)", OSSGetLastErrorText().c_str());
        return -1;
    }
    return 0;
}

int OSSLeaveCriticalSection() {
    if (!g_mutexValid || pthread_mutex_unlock(&g_mutex) != 0) {
        CoreTrace(LEVEL_DEBUG, "OSSLeaveCriticalSection: Failed with (%s)", OSSGetLastErrorText().c_str());
        return -1;
    }
    return 0;
}

int OSSDeleteCriticalSection() {
    if (!g_mutexValid) return 0;
    g_mutexValid = false;
    if (pthread_mutex_destroy(&g_mutex) != 0) {
        CoreTrace(LEVEL_DEBUG, "OSSDeleteCriticalSection: Failed with (%s)", OSSGetLastErrorText().c_str());
        return -1;
    }
    return 0;
}

std::string OSSGetCurrentDirectory() {
    char buffer[256];
    if (getcwd(buffer, sizeof buffer) == nullptr) return {};
    return buffer;
}

std::string OSSGetComputerName() {
    char buffer[128] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return buffer;
}

std::string OSSGetLastErrorText() { return std::strerror(errno); }

std::string OSSGetEnv(const char *name) {
    const char *v = std::getenv(name);
    return v != nullptr ? v : "";
}
