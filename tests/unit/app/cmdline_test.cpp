// Command-line passes, adapter operand and WWPN conversion.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/settings.h"

namespace {

void ResetSettings() {
    g_iCommand = 0;
    g_iFlashMode = 0;
    g_iAdapterSelect = 0;
    g_iAdapterInstance = 0;
    std::memset(g_AdapterWWN, 0, sizeof g_AdapterWWN);
    g_iFamilyType = 0;
    g_bAllPorts = 0;
    g_bForce = 0;
    g_bSilent = 1; // keep the parser's Error lines out of the test output
    g_bDebug = 0;
    if (g_pLogFile != nullptr) std::fclose(g_pLogFile);
    g_pLogFile = nullptr;
    std::memset(g_szMBIFile, 0, sizeof g_szMBIFile);
    g_szCmdLineError[0] = '\0';
}

int Parse(std::vector<std::string> args) {
    ResetSettings();
    args.insert(args.begin(), "tarnikflasher");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return ParseCommandLine(static_cast<int>(args.size()), argv.data());
}

struct ParseCase {
    std::vector<std::string> args;
    int result;
    int command;
    int mode;
};

TEST(CommandLine, CommandWordsAndOperandCounts) {
    const ParseCase cases[] = {
        {{}, 0, 6, 0},
        {{"/f"}, 0, 6, 1},
        {{"-F"}, 0, 6, 1},
        {{"/E"}, 0, 6, 2},
        {{"-g"}, 0, 6, 3},
        {{"/fx"}, 7, 0, 0},
        {{"/f", "/e"}, 7, 0, 0},
        {{"/l"}, 0, 3, 0},
        {{"-I"}, 0, 4, 0},
        {{"/q"}, 0, 7, 0},
        {{"/PBC"}, 0, 9, 0},
        {{"/l", "extra"}, 7, 3, 0},
        {{"/i", "-h"}, 1, 1, 0},
        {{"/x", "-v"}, 2, 2, 0},
        {{"-?", "/v"}, 1, 1, 0},
        {{"/x"}, 7, 0, 0},
        {{"l"}, 7, 0, 0},
        {{"/b", "3", "image.bin"}, 0, 8, 0},
        {{"/b", "3", "image.bin", "extra"}, 7, 0, 0},
        {{"/b", "3"}, 7, 0, 0},
        {{"/b", "65", "image.bin"}, 16, 0, 0},
        {{"-fdt"}, 7, 10, 0},
        {{"-fdt", "0"}, 0, 10, 0},
        {{"/fdt", "all", "a.bin", "ignored"}, 0, 10, 0},
        {{"", "/l", ""}, 0, 3, 0},
        {{"/s", "-debug", "--ports", "--force", "/q"}, 0, 7, 0},
    };
    for (const auto &c : cases) {
        std::string line;
        for (const auto &a : c.args)
            line += "[" + a + "]";
        EXPECT_EQ(Parse(c.args), c.result) << line;
        if (c.result == 0 || c.result == 1 || c.result == 2) {
            EXPECT_EQ(g_iCommand, c.command) << line;
            EXPECT_EQ(g_iFlashMode, c.mode) << line;
        }
    }
}

TEST(CommandLine, FlagsAnywhereAndLastFamilyWins) {
    EXPECT_EQ(Parse({"-s", "/b", "3", "image.bin", "--27xx"}), 0);
    EXPECT_EQ(g_bSilent, 1);
    EXPECT_EQ(g_iAdapterSelect, 1);
    EXPECT_EQ(g_iAdapterInstance, 3);
    EXPECT_EQ(g_iFamilyType, 7);
    EXPECT_EQ(g_iCommand, 8);
    EXPECT_STREQ(g_szMBIFile, "image.bin");

    const std::pair<const char *, int> families[] = {{"--81xx", 1}, {"/82XX", 2},  {"--83xx", 3}, {"/24xx", 4},
                                                     {"--25xx", 5}, {"--27xx", 7}, {"/26xx", 8},  {"--28xx", 9}};
    for (const auto &[flag, code] : families) {
        EXPECT_EQ(Parse({"--24xx", "/i", flag}), 0) << flag;
        EXPECT_EQ(g_iFamilyType, code) << flag;
    }
    EXPECT_EQ(Parse({"--ports", "/force", "-debug"}), 0);
    EXPECT_EQ(g_bAllPorts, 1);
    EXPECT_EQ(g_bForce, 1);
    EXPECT_EQ(g_bDebug, 1);
    EXPECT_EQ(g_iCommand, 6);
    // Flags never match by prefix.
    EXPECT_EQ(Parse({"--24xxx"}), 7);
    EXPECT_EQ(Parse({"-alls"}), 7);
}

TEST(CommandLine, PositionalLimit) {
    // /fdt ignores operands after the image file, so only the slot limit
    // can reject these lines.
    std::vector<std::string> args = {"/fdt", "0"};
    args.resize(127, "x");
    EXPECT_EQ(Parse(args), 0);
    EXPECT_EQ(g_iCommand, 10);
    args.push_back("x"); // 128th positional argument
    EXPECT_EQ(Parse(args), 7);
    args.resize(1000, "x");
    EXPECT_EQ(Parse(args), 7);
    EXPECT_EQ(GetPositionalCount(), 0); // copies freed
    // Flags do not take slots.
    args = {"/fdt", "0"};
    args.resize(400, "-s");
    EXPECT_EQ(Parse(args), 0);
}

TEST(CommandLine, ImageFileIsCutAt260) {
    std::string longName(1000, 'a');
    EXPECT_EQ(Parse({"/b", "all", longName}), 0);
    EXPECT_EQ(std::strlen(g_szMBIFile), 260u);
    EXPECT_EQ(g_iAdapterSelect, 0);
    // -fdt with only the adapter clears an earlier file name.
    EXPECT_EQ(Parse({"/fdt", "1"}), 0);
    EXPECT_STREQ(g_szMBIFile, "");
}

struct SelectorCase {
    const char *text;
    int result;
    int select;
    int instance;
    std::array<uint8_t, 8> wwn;
    const char *error;
};

TEST(AdapterOperand, Table) {
    const std::array<uint8_t, 8> w = {0x21, 0x00, 0x00, 0x1B, 0x32, 0x01, 0x23, 0x45};
    const std::array<uint8_t, 8> z = {};
    const SelectorCase cases[] = {
        {"ALL", 0, 0, 0, z, ""},
        {"aLl", 0, 0, 0, z, ""},
        {"0", 0, 1, 0, z, ""},
        {"64", 0, 1, 64, z, ""},
        {"007", 0, 1, 7, z, ""},
        {"65", 16, -1, 0, z, "HBA number must be from 0 to 64!"},
        {"-1", 16, -1, 0, z, "HBA number must be from 0 to 64!"},
        {"3a", 16, -1, 0, z, "HBA number must be from 0 to 64!"},
        {"999999999999999", 16, -1, 0, z, "HBA number must be from 0 to 64!"},
        {"2100001B32012345", 0, 2, 0, w, ""},
        {"2100001b32012345", 0, 2, 0, w, ""},
        {"21-00-00-1B-32-01-23-45", 0, 2, 0, w, ""},
        {"21:00:00:1B:32:01:23:45", 16, -1, 0, z, "Invalid HBA WWN 21-00-00-00-00-00-00-00!"},
        {"21-00-00-1B-3G-01-23-45", 16, -1, 0, z, "Invalid HBA WWN 21-00-00-1B-00-00-00-00!"},
        {"2100001B3201234Z", 16, -1, 0, z, "Invalid HBA WWN 21-00-00-1B-32-01-23-00!"},
        {"-2100001B32012345-", 16, -1, 0, z, "HBA number must be from 0 to 64!"},
    };
    for (const auto &c : cases) {
        ResetSettings();
        g_iAdapterSelect = -1;
        EXPECT_EQ(ParseAdapterSelector(c.text), c.result) << c.text;
        EXPECT_EQ(g_iAdapterSelect, c.select) << c.text;
        EXPECT_STREQ(g_szCmdLineError, c.error) << c.text;
        if (c.result == 0 && c.select == 1) {
            EXPECT_EQ(g_iAdapterInstance, c.instance) << c.text;
        }
        if (c.select == 2) {
            EXPECT_EQ(0, std::memcmp(g_AdapterWWN, c.wwn.data(), 8)) << c.text;
        }
    }
    EXPECT_EQ(ParseAdapterSelector(nullptr), 16);
}

TEST(AdapterOperand, StringToWWNLengths) {
    uint8_t out[8] = {};
    EXPECT_EQ(StringToWWN("0102030405060708", out), 0);
    EXPECT_EQ(out[7], 0x08);
    EXPECT_EQ(StringToWWN("01-02-03-04-05-06-07-0", out), -1);
    EXPECT_EQ(StringToWWN("", out), -1);
    EXPECT_EQ(StringToWWN("01-02-03-04-05-06-07-08-", out), -1);
    EXPECT_EQ(StringToWWN("aa-bb-cc-dd-ee-ff-00-11", out), 0);
    EXPECT_EQ(out[0], 0xAA);
    EXPECT_EQ(out[5], 0xFF);
}

TEST(StrCompareNoCase, WholeWordIgnoringCase) {
    EXPECT_EQ(StrCompareNoCase("/B", "/b"), 0);
    EXPECT_EQ(StrCompareNoCase("--ports", "--PORTS"), 0);
    EXPECT_EQ(StrCompareNoCase("/b", "/bx"), -1);
    EXPECT_EQ(StrCompareNoCase("", ""), -1);
    EXPECT_EQ(StrCompareNoCase(nullptr, "a"), -1);
    EXPECT_EQ(StrCompareNoCase("a", nullptr), -1);
    EXPECT_EQ(StrCompareNoCase("\xe9", "\xc9"), -1); // bytes beyond ASCII compare as they are
}

TEST(CommandLine, TraceLogThatCannotOpenFallsBackToConsole) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / "tf_cmdline_trace";
    fs::remove_all(dir);
    fs::create_directories(dir / "tarnikflasher.log"); // a folder: fopen fails
    fs::path old = fs::current_path();
    fs::current_path(dir);
    int rc = Parse({"-trace", "/b", "1", "x.bin"});
    fs::current_path(old);
    fs::remove_all(dir);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(g_iCommand, 8);
    EXPECT_EQ(g_bDebug, 1);
    EXPECT_EQ(g_pLogFile, nullptr);
}

} // namespace
