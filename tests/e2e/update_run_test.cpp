// The default update run end to end against simulated classic FC hosts:
// update modes, summaries and statuses, control-file matching, inbox
// drivers, the reset retry and library write failures.
#include <gtest/gtest.h>

#include "update_hosts.h"

namespace {

using upd::FlashVersions;
using upd::MultibootCard;
using upd::MultibootChip;

const std::vector<std::string> kWritten = {"0:0x07", "0:0x01"};

std::string TwoPort25(const FlashVersions &v, const std::string &extra = "", const std::string &port = "{}") {
    return upd::Host({MultibootCard("c25", "2532", "0x0301", "RFD2500", {MultibootChip("2532", v, 2, extra, port)})});
}

TEST(UpdateRun, WritesTheImageThenNeedsNoUpdate) {
    upd::Scene s("run_main");
    s.Files(TwoPort25({}));
    s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
    auto r = s.Tf({});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(upd::Lines(r.out), "Info: Updating Flash on HBA port(s) - CXR2532-2P. Please wait...\n"
                                 "Option ROM update complete. Changes have been saved to both ports of this HBA.\n"
                                 "You must reboot in order for changes to take effect.\n"
                                 "Info: HBA 1 - CXR2532-2P does not need to be upgraded.\n"
                                 "Info: Updates completed successfully (1 out of 1).\n");
    EXPECT_EQ(s.WriteList(), kWritten);
    for (const auto &w : s.Writes())
        EXPECT_EQ(w.status, "0x00000000");

    auto again = s.Tf({});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(upd::Lines(again.out), "Info: HBA 0 - CXR2532-2P does not need to be upgraded.\n"
                                     "Info: HBA 1 - CXR2532-2P does not need to be upgraded.\n"
                                     "Info: No updates required.\n");
    EXPECT_TRUE(s.Writes().empty());
    auto q = s.Tf({"/q"});
    EXPECT_EQ(upd::Count(q.out, "Flash Image (MBI) Version      : 03.01.02"), 2u) << q.out;
}

// A Ctrl-C while the boot region is written lets the firmware region follow
// before the program stops, so the adapter never mixes old and new regions.
TEST(UpdateRun, CtrlCDuringTheBootRegionWaitsForTheFirmwareRegion) {
    upd::Scene s("run_interrupt");
    s.Files(TwoPort25({}));
    s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
    s.Faults(R"({"interrupt_after_writes": 1})");
    auto r = s.Tf({});
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    EXPECT_EQ(s.WriteList(), kWritten);
    auto again = s.Tf({});
    EXPECT_EQ(again.status, 1) << again.out;
    EXPECT_TRUE(s.Writes().empty());
}

// Flash below, at and above the file's versions under each mode.
TEST(UpdateRun, ModesDecideByVersion) {
    const FlashVersions lower{};
    const FlashVersions equal{"3.28", "4.03", "6.01", "8.2.1", "3.1.2"};
    const FlashVersions higher{"3.30", "4.05", "6.03", "8.3.0", "3.2.0"};
    struct Row {
        const char *name;
        FlashVersions flash;
        std::vector<std::string> args;
        bool writes;
    };
    const Row rows[] = {
        {"lower/standard", lower, {}, true},    {"lower/f", lower, {"/f"}, true},
        {"lower/e", lower, {"/e"}, true},       {"lower/g", lower, {"/g"}, true},
        {"equal/standard", equal, {}, false},   {"equal/f", equal, {"/f"}, true},
        {"equal/e", equal, {"/e"}, true},       {"equal/g", equal, {"/g"}, false},
        {"higher/standard", higher, {}, false}, {"higher/f", higher, {"/f"}, true},
        {"higher/e", higher, {"/e"}, false},    {"higher/g", higher, {"/g"}, true},
    };
    for (const auto &row : rows) {
        upd::Scene s("run_modes");
        s.Files(TwoPort25(row.flash));
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        auto r = s.Tf(row.args);
        if (row.writes) {
            EXPECT_EQ(r.status, 0) << row.name << r.out;
            // After port 1 wrote the chip, /f and /e also ask port 2, which
            // carries no update of its own and is not counted: (1 out of 1).
            EXPECT_NE(r.out.find("Info: Updates completed successfully (1 out of 1).\n"), std::string::npos)
                << row.name << r.out;
            EXPECT_EQ(s.WriteList(), kWritten) << row.name;
        } else {
            EXPECT_EQ(r.status, 1) << row.name << r.out;
            EXPECT_NE(r.out.find("Info: HBA 0 - CXR2532-2P does not need to be upgraded.\n"), std::string::npos)
                << row.name << r.out;
            EXPECT_NE(r.out.find("Info: No updates required.\n"), std::string::npos) << row.name;
            EXPECT_TRUE(s.Writes().empty()) << row.name;
        }
    }
}

// Two single-chip cards; scripted write failures on one or both.
TEST(UpdateRun, FailedWritesReachTheSummary) {
    const std::string host = upd::Host({MultibootCard("a", "2532", "0x0301", "RFDA", {MultibootChip("2532", {}, 1)}),
                                        MultibootCard("b", "2532", "0x0301", "RFDB", {MultibootChip("2532", {}, 1)})});
    struct Row {
        const char *name;
        const char *faults;
        int status;
        const char *summary;
        std::vector<std::string> writes;
    };
    const Row rows[] = {
        {"one fails",
         R"({"faults":[{"op":"write","instance":1,"region":"0x07","statuses":["0x20000006"]}]})",
         3,
         "Warning: Unable to update all HBAs (1 out of 2)!\n",
         {"0:0x07", "0:0x01", "1:0x07"}},
        {"both fail",
         R"({"faults":[{"op":"write","region":"0x01","statuses":["0x20000006","0x20000006"]}]})",
         2,
         "All HBAs that need to be updated failed to be updated (0 out of 2)!\n",
         {"0:0x07", "0:0x01", "1:0x07", "1:0x01"}},
    };
    for (const auto &row : rows) {
        upd::Scene s("run_fail");
        s.Files(host);
        s.Faults(row.faults);
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        auto r = s.Tf({});
        EXPECT_EQ(r.status, row.status) << row.name << r.out;
        std::string all = r.out + r.err;
        EXPECT_NE(all.find(row.summary), std::string::npos) << row.name << all;
        EXPECT_NE(all.find("Flash update failed on this HBA (Instance 1) with error (0x20000006) "), std::string::npos)
            << row.name << all;
        // The failed write stops that adapter: nothing follows it there.
        EXPECT_EQ(s.WriteList(), row.writes) << row.name;
    }
}

TEST(UpdateRun, ControlFileMatching) {
    const std::string host = upd::Host(
        {MultibootCard("a", "2532", "0x0301", "RFDA", {MultibootChip("2532", {}, 1)}),
         MultibootCard("b", "2432", "0x0200", "RFDB", {MultibootChip("2432", {"3.28", "4.03", "6.01", "8.2.1"}, 1)})});
    struct Row {
        const char *name;
        std::string control;
        int status;
        std::vector<std::string> lines;
        std::vector<std::string> writes;
    };
    const Row rows[] = {
        {"no entry for the 24xx",
         "# comment\n  ; another\n\n" + std::string(upd::kControl25),
         0,
         {"Warning: Unable to find a matched entry for current adapter (HBA 1 - CXR2432-2P)!\n",
          "Info: Updates completed successfully (1 out of 1).\n"},
         {"0:0x07", "0:0x01"}},
        {"24xx at revision",
         std::string(upd::kControl25) + "0x0200\t0x1D7A\tCXR2432-2P\t3.28\t6.01\t4.03\t8.02.01\tmbi24.bin\t3.01.02\n",
         0,
         {"Info: HBA 1 - CXR2432-2P does not need to be upgraded.\n"},
         {"0:0x07", "0:0x01"}},
        {"ssdid written without leading zero",
         "0x301,0x1D7A,CXR2532-2P,3.28,6.01,4.03,8.02.01,mbi25.bin,3.01.02\n",
         1,
         {"Warning: Unable to find a matched entry for current adapter (HBA 0 - CXR2532-2P)!\n",
          "Info: No updates required.\n"},
         {}},
    };
    for (const auto &row : rows) {
        upd::Scene s("run_ctl");
        s.Files(host, upd::kTable, row.control);
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        auto r = s.Tf({});
        EXPECT_EQ(r.status, row.status) << row.name << r.out;
        for (const auto &line : row.lines)
            EXPECT_NE(r.out.find(line), std::string::npos) << row.name << ": " << line << r.out;
        EXPECT_EQ(s.WriteList(), row.writes) << row.name;
    }
    // Without the control file the run stops before any adapter.
    upd::Scene s("run_noctl");
    s.Files(host, upd::kTable, "");
    auto r = s.Tf({});
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.out.find("Unable to open file " + s.path().string() + "/tarnikflasher.properties!\n"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(s.Writes().empty());
}

TEST(UpdateRun, InboxDriverIsCountedAndLeftAlone) {
    upd::Scene s("run_inbox");
    s.Files(
        upd::Host({MultibootCard("a", "2532", "0x0301", "RFDA",
                                 {MultibootChip("2532", {}, 1, "", R"({"node": {"driver_version": "9.1.4.6"}})")})}));
    s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
    auto r = s.Tf({});
    EXPECT_EQ(r.status, 2) << r.out;
    // The firmware preload run (every adapter from the 25xx on) refuses it
    // first.
    EXPECT_EQ(upd::Lines(r.out), "Command aborted! Please update existing driver (9.1.4.6) and try again.\n"
                                 "All HBAs that need to be updated failed to be updated (0 out of 1)!\n");
    EXPECT_TRUE(s.Writes().empty());
    auto b = s.Tf({"/b", "0", "mbi25.bin"});
    EXPECT_EQ(b.status, 120);
    EXPECT_EQ(upd::Lines(b.out), "");
    EXPECT_TRUE(s.Writes().empty());
}

std::string ResetAnswers(int n) {
    std::string list;
    for (int i = 0; i < n; ++i)
        list += std::string(i ? "," : "") + "\"0x20000075\"";
    return R"({"faults":[{"op":"read","region":"0xFF","statuses":[)" + list + "]}]}";
}

// The chip answers "resetting" to reads of the current flash: one wait of
// 1000 ms between calls, at most 30 calls.
TEST(UpdateRun, ResetRetryOnRegionReads) {
    struct Row {
        int answers;
        std::vector<std::string> flag;
        int status;
        bool writes;
    };
    const Row rows[] = {
        {29, {"-debug"}, 0, true},
        {30, {"-debug"}, 34, false},
        {29, {"-trace"}, 0, true},
    };
    for (const auto &row : rows) {
        upd::Scene s("run_reset");
        s.Files(TwoPort25({}));
        s.Faults(ResetAnswers(row.answers));
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        std::vector<std::string> args = row.flag;
        args.insert(args.end(), {"/b", "0", "mbi25.bin"});
        auto r = s.Tf(args);
        EXPECT_EQ(r.status, row.status) << row.answers;
        std::string trace = row.flag[0] == "-trace" ? e2e::ReadFile(s.path() / "tarnikflasher.log") : r.out;
        EXPECT_EQ(upd::Count(trace, "OSSSleep: 1000 ms"), 29u) << row.answers;
        EXPECT_EQ(upd::Count(trace, "getHBAOptionROMInfos: Waiting for CXR reset (0x20000075 - "), 29u);
        EXPECT_EQ(s.Writes().empty(), !row.writes) << row.answers;
        if (!row.writes) {
            EXPECT_NE((r.out + r.err).find("Flash update failed on this HBA (Instance 0) with error"),
                      std::string::npos);
        }
    }
    // Without a debug option the waits are not shown.
    upd::Scene s("run_reset_quiet");
    s.Files(TwoPort25({}));
    s.Faults(ResetAnswers(3));
    s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
    auto r = s.Tf({"/b", "0", "mbi25.bin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("OSSSleep"), std::string::npos) << r.out;
}

} // namespace
