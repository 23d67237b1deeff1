#include "app/output.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

#include "app/settings.h"

int g_bCoreTraceOff = 0;

namespace {

// Formats into a fixed buffer; a text longer than the buffer is cut.
void FormatInto(char *buffer, size_t size, const char *format, va_list args) {
    std::memset(buffer, 0, size);
    std::vsnprintf(buffer, size, format, args);
}

// Local time as "%b %d %H:%M:%S %p ", empty when it can't be had.
void TimeStamp(char *stamp, size_t size) {
    stamp[0] = '\0';
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1)) return;
#if defined(_WIN32)
    if (localtime_s(&local, &now) != 0) return;
#else
    if (localtime_r(&now, &local) == nullptr) return;
#endif
    if (std::strftime(stamp, size, "%b %d %H:%M:%S %p ", &local) == 0) stamp[0] = '\0';
}

} // namespace

const char *LevelWord(int level) {
    switch (level) {
    case LEVEL_PLAIN: return "";
    case LEVEL_INFO: return "Info";
    case LEVEL_WARNING: return "Warning";
    case LEVEL_ERROR: return "Error";
    case LEVEL_DEBUG: return "Debug";
    default: return "Unknown";
    }
}

bool OutputLevelShown(int level) { return !g_bSilent && (level != LEVEL_DEBUG || g_bDebug); }

void WriteLevelLine(int level, const char *text, FILE *console) {
    // A line that is not shown costs neither a time stamp nor a write.
    if (text == nullptr || !OutputLevelShown(level)) return;
    if (g_pLogFile != nullptr) {
        if (level == LEVEL_PLAIN) {
            std::fprintf(g_pLogFile, "%s\n", text);
        } else {
            char stamp[128];
            TimeStamp(stamp, sizeof stamp);
            std::fprintf(g_pLogFile, "%s: %s\n", stamp, text);
        }
        std::fflush(g_pLogFile);
        return;
    }
    FILE *out = console != nullptr ? console : stdout;
    if (level == LEVEL_PLAIN) {
        std::fprintf(out, "%s\n", text);
    } else if (level == LEVEL_ERROR) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", LevelWord(level), text);
    } else {
        std::fprintf(stdout, "%s: %s\n", LevelWord(level), text);
    }
    std::fflush(stdout);
}

void OutputLevelMessage(int level, const char *format, ...) {
    // Checked before formatting: most Debug lines are not shown.
    if (format == nullptr || !OutputLevelShown(level)) return;
    char buffer[256];
    va_list args;
    va_start(args, format);
    FormatInto(buffer, sizeof buffer, format, args);
    va_end(args);
    WriteLevelLine(level, buffer, stdout);
}

void OutputMessage(const char *format, ...) {
    if (g_bSilent || format == nullptr) return;
    char buffer[256];
    va_list args;
    va_start(args, format);
    FormatInto(buffer, sizeof buffer, format, args);
    va_end(args);
    if (g_pLogFile != nullptr) {
        std::fprintf(g_pLogFile, "%s\n", buffer);
        std::fflush(g_pLogFile);
    } else {
        std::fprintf(stdout, "%s\n", buffer);
        std::fflush(stdout);
    }
}

void OutputText(const char *text) {
    if (g_bSilent || text == nullptr) return;
    if (g_pLogFile != nullptr) {
        std::fprintf(g_pLogFile, "%s\n", text);
        std::fflush(g_pLogFile);
    } else {
        std::fprintf(stdout, "%s", text);
        std::fflush(stdout);
    }
}

int CoreTrace(int level, const char *format, ...) {
    // Only level 0 is ever written: the other levels are not formatted.
    if (format == nullptr || level != 0 || g_bCoreTraceOff) return 0;
    char buffer[512];
    va_list args;
    va_start(args, format);
    FormatInto(buffer, sizeof buffer, format, args);
    va_end(args);
    std::fprintf(stdout, "%s\n", buffer);
    std::fflush(stdout);
    return 0;
}
