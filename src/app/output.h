// Output functions: every console and log message of the program goes
// through these. Formats are printf-style and checked by the compiler.
#pragma once

#include <cstdio>

// GCC (and mingw, whose C99 formats come from its own stdio) checks the GNU
// printf dialect; clang knows that dialect as plain printf.
#if defined(__clang__)
#define TF_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TF_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#endif

// Message levels.
enum : int {
    LEVEL_PLAIN = 0,
    LEVEL_INFO = 1,
    LEVEL_WARNING = 2,
    LEVEL_ERROR = 3,
    LEVEL_DEBUG = 100,
};

const char *LevelWord(int level);

// Whether a message of this level is written now (not silent; Debug only
// with g_bDebug). The output functions check it before any formatting.
bool OutputLevelShown(int level);

// Formats into a 256-character buffer (longer texts are cut) and writes it
// at its level: console (stdout, Error to stderr) or the log file.
void OutputLevelMessage(int level, const char *format, ...) TF_PRINTF(2, 3);
void WriteLevelLine(int level, const char *text, FILE *console);
// A message without level, newline appended.
void OutputMessage(const char *format, ...) TF_PRINTF(1, 2);
// First half of a progress line: no newline on the console.
void OutputText(const char *text);
// Internal trace channel of the lower layers: only level 0 is written (the
// other levels return before formatting).
int CoreTrace(int level, const char *format, ...) TF_PRINTF(2, 3);
// Off switch of CoreTrace (suppresses level 0 too); nothing sets it.
extern int g_bCoreTraceOff;
