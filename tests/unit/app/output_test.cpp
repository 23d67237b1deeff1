// Routing of the output functions: console streams, -debug, the log file
// and silent mode; buffer limits.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/output.h"
#include "app/settings.h"

namespace {

struct Captured {
    std::string out, err, log;
};

// Runs fn with the given settings and returns what reached stdout, stderr
// and (when withLog) the log file.
template <typename Fn> Captured Capture(int silent, int debug, bool withLog, Fn fn) {
    g_bSilent = silent;
    g_bDebug = debug;
    FILE *log = withLog ? std::tmpfile() : nullptr;
    g_pLogFile = log;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    fn();
    Captured c;
    c.out = testing::internal::GetCapturedStdout();
    c.err = testing::internal::GetCapturedStderr();
    if (log != nullptr) {
        std::rewind(log);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, log)) > 0)
            c.log.append(buf, n);
        std::fclose(log);
    }
    g_pLogFile = nullptr;
    g_bSilent = 0;
    g_bDebug = 0;
    return c;
}

void AllLevels() {
    OutputLevelMessage(LEVEL_PLAIN, "plain %d", 0);
    OutputLevelMessage(LEVEL_INFO, "info");
    OutputLevelMessage(LEVEL_WARNING, "warn");
    OutputLevelMessage(LEVEL_ERROR, "err");
    OutputLevelMessage(LEVEL_DEBUG, "dbg");
    OutputLevelMessage(42, "odd");
}

// Removes the time stamps ("Mon dd hh:mm:ss AM : ") of log lines.
std::string StripStamps(const std::string &log) {
    std::string result;
    size_t pos = 0;
    while (pos < log.size()) {
        size_t end = log.find('\n', pos);
        std::string line = log.substr(pos, end - pos);
        size_t mark = line.find(" : ");
        if (mark != std::string::npos && mark == 18) line = "<stamp>" + line.substr(mark + 3);
        result += line + "\n";
        pos = end == std::string::npos ? log.size() : end + 1;
    }
    return result;
}

TEST(OutputRouting, ByOptions) {
    struct Row {
        const char *name;
        int silent, debug;
        bool log;
        const char *out, *err, *logText;
    };
    const Row rows[] = {
        {"console", 0, 0, false, "plain 0\nInfo: info\nWarning: warn\nUnknown: odd\n", "Error: err\n", ""},
        {"-debug", 0, 1, false, "plain 0\nInfo: info\nWarning: warn\nDebug: dbg\nUnknown: odd\n", "Error: err\n", ""},
        {"-trace", 0, 1, true, "", "", "plain 0\n<stamp>info\n<stamp>warn\n<stamp>err\n<stamp>dbg\n<stamp>odd\n"},
        {"log without debug", 0, 0, true, "", "", "plain 0\n<stamp>info\n<stamp>warn\n<stamp>err\n<stamp>odd\n"},
        {"-s", 1, 0, false, "", "", ""},
        {"-s -trace", 1, 1, true, "", "", ""},
    };
    for (const auto &r : rows) {
        Captured c = Capture(r.silent, r.debug, r.log, AllLevels);
        EXPECT_EQ(c.out, r.out) << r.name;
        EXPECT_EQ(c.err, r.err) << r.name;
        EXPECT_EQ(StripStamps(c.log), r.logText) << r.name;
    }
}

TEST(OutputRouting, LogStampForm) {
    Captured c = Capture(0, 0, true, [] { OutputLevelMessage(LEVEL_INFO, "Orvane HBA not found!"); });
    // "Mon dd hh:mm:ss XM : text"
    ASSERT_GE(c.log.size(), 22u);
    EXPECT_EQ(c.log.substr(18), " : Orvane HBA not found!\n");
    EXPECT_EQ(c.log[3], ' ');
    EXPECT_EQ(c.log[6], ' ');
    EXPECT_EQ(c.log[9], ':');
    EXPECT_EQ(c.log[12], ':');
    EXPECT_TRUE(c.log.substr(16, 2) == "AM" || c.log.substr(16, 2) == "PM") << c.log;
}

TEST(OutputRouting, ProgressHalves) {
    auto progress = [] {
        OutputText("Updating Adapter FW... ");
        OutputMessage("%s", "Success");
    };
    Captured console = Capture(0, 0, false, progress);
    EXPECT_EQ(console.out, "Updating Adapter FW... Success\n");
    Captured logged = Capture(0, 0, true, progress);
    EXPECT_EQ(logged.out, "");
    EXPECT_EQ(logged.log, "Updating Adapter FW... \nSuccess\n");
    Captured silent = Capture(1, 0, false, progress);
    EXPECT_EQ(silent.out, "");
}

TEST(OutputRouting, CoreTraceOnlyLevelZeroIgnoringSilentAndLog) {
    Captured c = Capture(1, 1, true, [] {
        CoreTrace(LEVEL_DEBUG, "hidden");
        CoreTrace(LEVEL_ERROR, "hidden too");
        CoreTrace(0, "shown %s", "here");
    });
    EXPECT_EQ(c.out, "shown here\n");
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(c.log, "");
    g_bCoreTraceOff = 1;
    Captured off = Capture(0, 0, false, [] { CoreTrace(0, "suppressed"); });
    g_bCoreTraceOff = 0;
    EXPECT_EQ(off.out, "");
}

TEST(OutputRouting, LongMessagesAreCut) {
    std::string big(2000, 'x');
    Captured c = Capture(0, 0, false, [&] {
        OutputLevelMessage(LEVEL_PLAIN, "%s", big.c_str());
        OutputMessage("%s", big.c_str());
        CoreTrace(0, "%s", big.c_str());
    });
    EXPECT_EQ(c.out, std::string(255, 'x') + "\n" + std::string(255, 'x') + "\n" + std::string(511, 'x') + "\n");
    Captured e = Capture(0, 0, false, [&] { OutputLevelMessage(LEVEL_ERROR, "%s", big.c_str()); });
    EXPECT_EQ(e.err, "Error: " + std::string(255, 'x') + "\n");
}

// Whether a level is shown, for every setting; a message is written exactly
// when its level is shown (the functions check before formatting).
TEST(OutputRouting, LevelShownDecidesWhatIsWritten) {
    const int levels[] = {LEVEL_PLAIN, LEVEL_INFO, LEVEL_WARNING, LEVEL_ERROR, LEVEL_DEBUG, 42};
    for (int silent : {0, 1})
        for (int debug : {0, 1})
            for (bool log : {false, true})
                for (int level : levels) {
                    bool shown = false;
                    Captured c = Capture(silent, debug, log, [&] {
                        shown = OutputLevelShown(level);
                        OutputLevelMessage(level, "text %d", level);
                    });
                    bool expected = silent == 0 && (level != LEVEL_DEBUG || debug != 0);
                    EXPECT_EQ(shown, expected) << silent << debug << log << level;
                    EXPECT_EQ(!(c.out + c.err + c.log).empty(), expected) << silent << debug << log << level;
                }
    // The quiet-mode preference can change g_bSilent during a run: checked
    // at every message.
    Captured c = Capture(0, 0, false, [] {
        OutputLevelMessage(LEVEL_INFO, "before");
        g_bSilent = 1;
        OutputLevelMessage(LEVEL_INFO, "during");
        g_bSilent = 0;
        OutputLevelMessage(LEVEL_INFO, "after");
    });
    EXPECT_EQ(c.out, "Info: before\nInfo: after\n");
}

TEST(OutputRouting, LevelWords) {
    EXPECT_STREQ(LevelWord(0), "");
    EXPECT_STREQ(LevelWord(1), "Info");
    EXPECT_STREQ(LevelWord(2), "Warning");
    EXPECT_STREQ(LevelWord(3), "Error");
    EXPECT_STREQ(LevelWord(100), "Debug");
    EXPECT_STREQ(LevelWord(4), "Unknown");
}

} // namespace
