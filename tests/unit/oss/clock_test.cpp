// The fixed local time a test sets for a separate process, and its order
// against the in-process pin.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "oss/oss.h"

namespace {

struct FixedCase {
    const char *text;
    bool fixed; // the clock answers with the text's time
    int year, month, day, hour, minute, second;
};

class FixedTime : public ::testing::Test {
  protected:
    void TearDown() override {
        unsetenv("TARNIK_FIXED_TIME");
        OSSUnpinLocalTime();
    }
};

TEST_F(FixedTime, EnvironmentSettingFixesTheClock) {
    const FixedCase cases[] = {
        {"2026-03-14 09:26:53", true, 2026, 3, 14, 9, 26, 53},
        {"1999-12-31 23:59:59", true, 1999, 12, 31, 23, 59, 59},
        {"2026-13-01 00:00:00", false, 0, 0, 0, 0, 0, 0},  // no such month
        {"2026-03-14 24:00:00", false, 0, 0, 0, 0, 0, 0},  // no such hour
        {"2026-03-14", false, 0, 0, 0, 0, 0, 0},           // no time of day
        {"2026-03-14 09:26:53x", false, 0, 0, 0, 0, 0, 0}, // trailing text
        {"yesterday", false, 0, 0, 0, 0, 0, 0},
    };
    for (const FixedCase &c : cases) {
        SCOPED_TRACE(c.text);
        setenv("TARNIK_FIXED_TIME", c.text, 1);
        std::tm t{};
        ASSERT_TRUE(OSSGetLocalTime(t));
        if (c.fixed) {
            EXPECT_EQ(t.tm_year + 1900, c.year);
            EXPECT_EQ(t.tm_mon + 1, c.month);
            EXPECT_EQ(t.tm_mday, c.day);
            EXPECT_EQ(t.tm_hour, c.hour);
            EXPECT_EQ(t.tm_min, c.minute);
            EXPECT_EQ(t.tm_sec, c.second);
        } else {
            // A setting that is no time leaves the real clock: this year.
            const std::time_t now = std::time(nullptr);
            std::tm real{};
            localtime_r(&now, &real);
            EXPECT_EQ(t.tm_year, real.tm_year);
        }
    }
}

TEST_F(FixedTime, InProcessPinWins) {
    setenv("TARNIK_FIXED_TIME", "2026-03-14 09:26:53", 1);
    std::tm pinned{};
    pinned.tm_year = 2011 - 1900;
    pinned.tm_mon = 4;
    pinned.tm_mday = 2;
    OSSPinLocalTime(&pinned);
    std::tm t{};
    ASSERT_TRUE(OSSGetLocalTime(t));
    EXPECT_EQ(t.tm_year + 1900, 2011);
    OSSPinLocalTime(nullptr);
    EXPECT_FALSE(OSSGetLocalTime(t));
}

} // namespace
