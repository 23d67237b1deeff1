// The program frame end to end: usage, version banner, bad input, output
// routing by option, start-up statuses with no adapter.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "harness.h"

namespace {

const std::map<std::string, std::string> kNoHost = {{"TORVEX_SIM_HOST", ""}};

e2e::RunResult Tf(const std::vector<std::string> &args, const std::filesystem::path &cwd) {
    return e2e::Run(TF_BINARY, args, cwd, kNoHost);
}

std::string ExpectedUsage() {
    const char *lines[] = {
        "\r\nOPTIONS:\r\n\n",
        "    Default: Invoked with no parameter\r\n",
        "    Force to write a known firmware version to all HBAs that are currently\r",
        "    down revision.\r\n",
        " /f Write:\r\n",
        "    Force to write a known firmware version to all HBAs (No revision check).\r\n",
        " /e Rewrite:\r\n",
        "    Force to rewrite the firmware to all HBAs that are at revision. Only\r",
        "    HBAs that are down revision will be upgraded. HBAs that are up\r",
        "    revision will be left alone.\r\n",
        " /g Downgrade:\r\n",
        "    Force to downgrade the firmware of HBAs that are up revision to\r",
        "    a current known revision. HBAs that are down revision are upgraded\r",
        "    and HBAs that are at revision will be left alone.\r\n",
        " /l Host Information:\r\n",
        "    Display Host information.\r\n",
        " /i HBA Information:\r\n",
        "    Display general information of all HBAs.\r\n",
        " /q Multiboot Image Version Info:\r\n",
        "    Display Multiboot Image version.\r\n",
        " /v Version infomation:\r\n",
        "    Display application version.\r\n",
        " /s Silent Mode:\r\n",
        "    Suppress all outputs.\r\n",
        " /b <hba instance> | <hba WWPN> <MBI file> [<hba family type>]\r\n",
        "    <hba instance>: Adapter port instance number.\r\n",
        "    <hba WWPN>: Adapter port world wide port name.\r\n",
        "    <MBI file>: Multiboot image file.\t\n",
        "    [hba family type]: Optional\r\n",
        "         If specified, update only adapters that match the hba\r\n",
        "         family model as below.\r\n",
        "               /24xx: Update 24xx FC adapter model type.\r\n",
        "               /25xx: Update 25xx FC adapter model type.\r\n",
        "               /81xx: Update 81xx CNA adapter model type.\r\n",
        "               /82xx: Update 82xx CNA adapter model type.\r\n",
        "               /83xx: Update 26xx/83xx FC/CNA adapter model type.\r\n",
        "               /27xx: Update 27xx FC adapter model type.\r\n",
        "               /28xx: Update 28xx FC adapter model type.\r\n",
    };
    std::string text = "NAME\n\ntarnikflasher - Orvane Flash (Firmware Component) Update Utility\n\nSYNOPSIS\n\n"
                       "tarnikflasher [OPTION]\n\n";
    for (const char *line : lines)
        text += std::string(line) + "\n";
    return text;
}

TEST(FrameCli, UsageIsByteExact) {
    e2e::ScratchDir dir("usage");
    for (const char *word : {"-h", "/?", "/H", "-?"}) {
        auto r = Tf({word}, dir.path());
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out, ExpectedUsage()) << word;
        EXPECT_EQ(r.err, "") << word;
    }
    // Help is found before the command word is looked at.
    auto r = Tf({"/i", "-h"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ExpectedUsage());
}

TEST(FrameCli, VersionBanner) {
    e2e::ScratchDir dir("version");
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"/v"}, std::vector<std::string>{"/x", "-V"}}) {
        auto r = Tf(args, dir.path());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("Orvane Flash (Firmware Component) Update Utility\nv2.2.0 Build 3\n", 0), 0u) << r.out;
        std::regex tail("\nBuild Type: Release\nBuild Date: \\d\\d/\\d\\d/\\d{4} \\d{1,2}:\\d\\d:\\d\\d [AP]M\n$");
        EXPECT_TRUE(std::regex_search(r.out, tail)) << r.out;
        // Banner, two notice lines, build type, build date.
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 6) << r.out;
    }
}

TEST(FrameCli, BadInputGetsStatusSevenAndNothingRuns) {
    e2e::ScratchDir dir("bad");
    struct Row {
        std::vector<std::string> args;
        std::string err;
    };
    const std::string invalid = "Error: Invalid/Unknown command line options!\n";
    const Row rows[] = {
        {{"/x"}, invalid},
        {{"/fx"}, invalid},
        {{"/f", "/e"}, invalid},
        {{"/b", "3", "image.bin", "extra"}, invalid},
        {{"/b", "3"}, invalid},
        {{"/fdt"}, invalid},
        {{"/l", "now"}, invalid},
        {{"/b", "65", "image.bin"}, "Error: HBA number must be from 0 to 64!\n"},
        {{"/b", "21:00:00:1B:32:01:23:45", "image.bin"}, "Error: Invalid HBA WWN 21-00-00-00-00-00-00-00!\n"},
        // Long operands, yet within the 32,767 characters that Windows
        // allows for a whole command line with the program's own path.
        {{"/b", std::string(32000, '7'), "image.bin"}, "Error: HBA number must be from 0 to 64!\n"},
        {{"/b", "1", std::string(31000, 'q')}, ""},
        {{std::string(5000, '\xff')}, invalid},
        {{"-trace", "/x"}, ""},
    };
    for (const auto &row : rows) {
        auto r = Tf(row.args, dir.path());
        std::string label = row.args[0].substr(0, 20);
        if (row.err.empty() && row.args[0] == "/b") {
            // A valid line with a long image name: it runs (no adapters file
            // here: status 5) and nothing overflows.
            EXPECT_EQ(r.status, 5) << label;
            continue;
        }
        EXPECT_EQ(r.status, 7) << label;
        EXPECT_EQ(r.out, "") << label;
        if (row.args[0] != "-trace") {
            EXPECT_EQ(r.err, row.err) << label;
        }
    }
    // Nothing was initialised: no log written by the bad -trace line except
    // its own error line.
    std::string log = e2e::ReadFile(dir.path() / "tarnikflasher.log");
    EXPECT_NE(log.find(" : Invalid/Unknown command line options!\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Starting initialization"), std::string::npos) << log;
}

TEST(FrameCli, SilentModeWritesNothing) {
    e2e::ScratchDir dir("silent");
    auto bad = Tf({"-s", "/x"}, dir.path());
    EXPECT_EQ(bad.status, 7);
    EXPECT_EQ(bad.out + bad.err, "");
    auto missing = Tf({"/i", "/S"}, dir.path());
    EXPECT_EQ(missing.status, 5);
    EXPECT_EQ(missing.out + missing.err, "");
    auto operand = Tf({"-s", "/b", "65", "x.bin"}, dir.path());
    EXPECT_EQ(operand.status, 7);
    EXPECT_EQ(operand.out + operand.err, "");
}

TEST(FrameCli, MissingSupportedAdapterTableGivesFive) {
    e2e::ScratchDir dir("noconfig");
    for (const char *word : {"/i", "/l", "/q", "/f"}) {
        auto r = Tf({word}, dir.path());
        EXPECT_EQ(r.status, 5) << word;
        EXPECT_EQ(r.out, "Configuration files not found in default path!\n") << word;
        EXPECT_EQ(r.err, "") << word;
    }
}

TEST(FrameCli, EmptyAdapterList) {
    e2e::ScratchDir dir("empty");
    e2e::WriteFile(dir.path() / "adapters.properties", "");
    for (const char *word : {"/i", "/q", "-PBC"}) {
        auto r = Tf({word}, dir.path());
        EXPECT_EQ(r.status, 8) << word;
        EXPECT_EQ(r.out, "Info: Orvane HBA not found!\n") << word;
    }
    // An instance or WWPN that no adapter has: nothing written, status 19.
    for (const char *who : {"3", "2100001B32012345"}) {
        auto r = Tf({"/b", who, "image.bin"}, dir.path());
        EXPECT_EQ(r.status, 19) << who;
        EXPECT_EQ(r.out, "Unable to find the selected HBA!\n") << who;
        EXPECT_EQ(r.err, "") << who;
    }
    // The default run needs the flash control file.
    auto run = Tf({}, dir.path());
    EXPECT_EQ(run.status, 4);
    EXPECT_NE(run.out.find("tarnikflasher.properties"), std::string::npos) << run.out;
    // The descriptor table repair finds no adapter either.
    auto fdt = Tf({"/fdt", "0"}, dir.path());
    EXPECT_EQ(fdt.status, 8);
    EXPECT_EQ(fdt.out, "Info: Orvane HBA not found!\n");
}

TEST(FrameCli, LongConfigurationFolderKeepsWholeFileNames) {
    // The control file's full name is longer than 255 characters here; a
    // cut name would report it missing (status 4).
    e2e::ScratchDir dir("longcfg");
    std::filesystem::path deep = dir.path();
    while (deep.string().size() < 240)
        deep /= std::string(std::min<size_t>(60, 240 - deep.string().size()), 'c');
    std::filesystem::create_directories(deep);
    e2e::WriteFile(deep / "adapters.properties", "");
    e2e::WriteFile(deep / "tarnikflasher.properties", "");
    auto r = Tf({}, deep);
    EXPECT_NE(r.status, 4) << r.out;
    EXPECT_EQ(r.out.find("Unable to open file"), std::string::npos) << r.out;
}

TEST(FrameCli, DebugShowsStartupTraces) {
    e2e::ScratchDir dir("debug");
    e2e::WriteFile(dir.path() / "adapters.properties", "");
    auto r = Tf({"-debug", "/i"}, dir.path());
    EXPECT_EQ(r.status, 8);
    for (const char *line : {"Debug: Starting initialization...\n", "Debug: CmdInit finished.\n",
                             "Debug: Cleanup finished.\n", "Info: Orvane HBA not found!\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    std::string sep = std::string(1, '/');
    EXPECT_NE(r.out.find("Debug: Configuration Path (" + std::filesystem::canonical(dir.path()).string() + sep + ")"),
              std::string::npos)
        << r.out;
    auto plain = Tf({"/i"}, dir.path());
    EXPECT_EQ(plain.out.find("Debug:"), std::string::npos) << plain.out;
}

TEST(FrameCli, TraceWritesTimeStampedLog) {
    e2e::ScratchDir dir("trace");
    e2e::WriteFile(dir.path() / "adapters.properties", "");
    auto r = Tf({"/i", "-trace"}, dir.path());
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    std::string log = e2e::ReadFile(dir.path() / "tarnikflasher.log");
    std::regex stamped("(^|\n)[A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d [AP]M : Orvane HBA not found!\n");
    EXPECT_TRUE(std::regex_search(log, stamped)) << log;
    std::regex debugLine("(^|\n)[A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d [AP]M : Starting initialization...\n");
    EXPECT_TRUE(std::regex_search(log, debugLine)) << log;
    EXPECT_EQ(log.find("Info"), std::string::npos) << log;

    // The log is appended to; the usage text goes there without stamps.
    auto help = Tf({"-trace", "-h"}, dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, "");
    std::string after = e2e::ReadFile(dir.path() / "tarnikflasher.log");
    ASSERT_GT(after.size(), log.size());
    EXPECT_EQ(after.substr(0, log.size()), log);
    EXPECT_EQ(after.substr(log.size()), ExpectedUsage());
}

TEST(FrameCli, TraceWithUnwritableLogStillRunsTheCommand) {
    e2e::ScratchDir dir("tracefail");
    e2e::WriteFile(dir.path() / "adapters.properties", "");
    std::filesystem::create_directory(dir.path() / "tarnikflasher.log");
    auto r = Tf({"-trace", "/i"}, dir.path());
    EXPECT_EQ(r.status, 8);
    EXPECT_NE(r.out.find("Info: Orvane HBA not found!\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Warning: Unable to open log file tarnikflasher.log!\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Debug: CmdInit finished.\n"), std::string::npos) << r.out;
    // A later -s silences the report of the failed open as well.
    auto quiet = Tf({"-trace", "/i", "-s"}, dir.path());
    EXPECT_EQ(quiet.status, 8);
    EXPECT_EQ(quiet.out + quiet.err, "");
}

} // namespace
