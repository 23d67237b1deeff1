// Local clock of the program, with a pin for tests that need a fixed time.
#include <ctime>

#include "oss/oss.h"

namespace {

bool g_timePinned = false;
bool g_pinnedAvailable = false;
std::tm g_pinnedTime{};

bool ReadLocalClock(std::tm &out) {
    std::time_t now = std::time(nullptr);
    if (now == static_cast<std::time_t>(-1)) return false;
#ifdef _WIN32
    return localtime_s(&out, &now) == 0;
#else
    return localtime_r(&now, &out) != nullptr;
#endif
}

} // namespace

bool OSSGetLocalTime(std::tm &out) {
    if (!g_timePinned) return ReadLocalClock(out);
    if (!g_pinnedAvailable) return false;
    out = g_pinnedTime;
    return true;
}

void OSSPinLocalTime(const std::tm *pinned) {
    g_timePinned = true;
    g_pinnedAvailable = pinned != nullptr;
    if (pinned != nullptr) g_pinnedTime = *pinned;
}

void OSSUnpinLocalTime() { g_timePinned = false; }
