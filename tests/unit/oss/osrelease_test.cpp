// The operating-system name taken from an os-release file (POSIX hosts).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <cstdio>
#include <filesystem>
#include <string>

#include "oss/oss_internal.h"

namespace {

namespace fs = std::filesystem;

TEST(OSSOsReleaseValue, Lines) {
    const fs::path file = fs::temp_directory_path() / "tf_oss_osrelease";
    const std::string longLine = "X=" + std::string(10000, 'x');
    struct Row {
        const char *label;
        std::string text;
        const char *expected;
    };
    const Row rows[] = {
        {"double quotes", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12\"\n", "Debian GNU/Linux 12"},
        {"single quotes", "PRETTY_NAME='Alpine'\n", "Alpine"},
        {"no quotes", "PRETTY_NAME=Arch\n", "Arch"},
        {"first line wins", "PRETTY_NAME=one\nPRETTY_NAME=two\n", "one"},
        {"last line without newline", "ID=x\nPRETTY_NAME=\"Last\"", "Last"},
        {"key inside another key", "MY_PRETTY_NAME=no\n PRETTY_NAME=no\n", ""},
        {"empty value", "PRETTY_NAME=\nPRETTY_NAME=later\n", ""},
        {"empty file", "", ""},
        {"blank lines", "\n\n\nPRETTY_NAME=\"After blanks\"\n", "After blanks"},
        // The end of an over-long line is not a line of its own.
        {"long line", longLine + "PRETTY_NAME=tail\nPRETTY_NAME=real\n", "real"},
        {"long value", "PRETTY_NAME=" + std::string(5000, 'v') + "\n", nullptr},
    };
    for (const Row &row : rows) {
        std::FILE *f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(row.text.data(), 1, row.text.size(), f), row.text.size());
        ASSERT_EQ(std::fclose(f), 0);
        const std::string value = OSSOsReleaseValue(file.c_str(), "PRETTY_NAME");
        if (row.expected != nullptr) {
            EXPECT_EQ(value, row.expected) << row.label;
        } else { // cut to the longest line taken in, quotes rule unchanged
            EXPECT_EQ(value, std::string(4096 - 12, 'v')) << row.label;
        }
    }
    fs::remove(file);
    EXPECT_EQ(OSSOsReleaseValue(file.c_str(), "PRETTY_NAME"), "");
}

} // namespace
#endif
