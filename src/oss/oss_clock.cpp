// Local clock of the program, with a pin for tests that need a fixed time.
#include <cstdio>
#include <cstdlib>
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

// Test aid: TARNIK_FIXED_TIME="YYYY-MM-DD hh:mm:ss" makes every reading of
// the clock give that time, so that runs in separate processes stamp the
// same bytes. A value that is not such a time is ignored.
bool ReadFixedTime(std::tm &out) {
    const char *text = std::getenv("TARNIK_FIXED_TIME");
    if (text == nullptr || *text == '\0') return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    if (std::sscanf(text, "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day, &hour, &minute, &second, &tail) != 6)
        return false;
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        hour < 0 || minute < 0 || second < 0)
        return false;
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    out = t;
    return true;
}

} // namespace

bool OSSGetLocalTime(std::tm &out) {
    if (!g_timePinned) return ReadFixedTime(out) || ReadLocalClock(out);
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
