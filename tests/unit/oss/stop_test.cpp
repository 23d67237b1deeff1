// Safe stop: a stop request ends the process at once unless a flash write
// is in progress; then it ends right after the write, after the cleanup.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "oss/oss.h"

namespace {

void MarkCleanup() { std::fputs("cleanup ran\n", stderr); }

TEST(SafeStopDeathTest, StopsAtOnceWhenNothingIsWritten) {
    EXPECT_EXIT(
        {
            OSSSetStopCleanup(MarkCleanup);
            OSSRequestStop(OSS_CTRL_C_EVENT);
            std::fputs("still running\n", stderr);
            std::_Exit(0);
        },
        testing::ExitedWithCode(OSS_STOP_EXIT_STATUS), "^$");
}

TEST(SafeStopDeathTest, DefersUntilTheOutermostWriteEnds) {
    EXPECT_EXIT(
        {
            OSSSetStopCleanup(MarkCleanup);
            OSSBeginCriticalWrite();
            OSSBeginCriticalWrite();
            OSSRequestStop(OSS_CTRL_C_EVENT);
            std::fputs("write continues\n", stderr);
            OSSEndCriticalWrite();
            std::fputs("inner write ended\n", stderr);
            OSSEndCriticalWrite();
            std::fputs("after the write\n", stderr);
            std::_Exit(0);
        },
        testing::ExitedWithCode(OSS_STOP_EXIT_STATUS), "write continues\ninner write ended\ncleanup ran\n$");
}

TEST(SafeStop, WriteDepthCounts) {
    EXPECT_EQ(OSSCriticalWriteDepth(), 0);
    OSSBeginCriticalWrite();
    EXPECT_EQ(OSSCriticalWriteDepth(), 1);
    OSSEndCriticalWrite();
    EXPECT_EQ(OSSCriticalWriteDepth(), 0);
    OSSEndCriticalWrite(); // unbalanced end does not go negative
    EXPECT_EQ(OSSCriticalWriteDepth(), 0);
    EXPECT_EQ(OSSStopRequested(), 0);
}

TEST(Sleep, DisabledByEnvironment) {
    // ctest runs every test with TARNIK_NO_SLEEP=1.
    if (!OSSSleepDisabled()) GTEST_SKIP() << "TARNIK_NO_SLEEP not set";
    auto start = std::chrono::steady_clock::now();
    OSSSleep(60000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace
