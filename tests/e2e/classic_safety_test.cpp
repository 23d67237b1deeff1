// Safety of the classic FC update paths end to end: library reads that
// fail, images that carry another chip's firmware, cards whose write
// failed, adapters that are not there, regions without size, and the
// stream and level of every message a script or an operator reads.
#include <gtest/gtest.h>

#include <fstream>

#include "update_hosts.h"

namespace {

using upd::MultibootCard;
using upd::MultibootChip;

const char kFailed[] = "(0x20000001) (General failure)!\n";

// Host file with every library call journaled and writes kept in memory,
// so one scene can be run again with the same flash.
std::string Journaled(const std::string &host) {
    return R"({"journal_all": true, "read_only": true, )" + host.substr(1);
}

std::string OnePort25() {
    return upd::Host({MultibootCard("a", "2532", "0x0301", "RFDA", {MultibootChip("2532", {}, 1)})});
}

std::string Card23() {
    return R"({"name": "old", "device_id": "0x2312", "subsys_vendor": "0x1D7A", "subsys_device": "0x0100",
        "model": "CXR2312", "serial": "RFD23", "chips": [{"flash_size": "0x20000", "ports": [{}], "regions": [
        {"code": "0x05", "size": "0x20000", "boot": {"bios": "1.80", "fcode": "1.10", "device_id": "0x2312"}},
        {"code": "0xFF"}]}]})";
}

// Number of TvxGetVariableValue calls on instance 0 before the first flash
// write of the last run; -1 when the run wrote nothing.
int VariableReadsBeforeFirstWrite(const upd::Scene &s) {
    std::stringstream in(e2e::ReadFile(s.path() / "journal.jsonl"));
    std::string line;
    int reads = 0;
    while (std::getline(in, line)) {
        if (upd::Field(line, "op") == "write") return reads;
        if (upd::Field(line, "fn") == "TvxGetVariableValue" && upd::Field(line, "instance") == "0") ++reads;
    }
    return -1;
}

// A subsystem ID that the library fails to give ends the adapter's update
// before any write (it was stamped as 0x0000 into the boot code and the
// run reported success).
TEST(ClassicSafety, FailedIdReadWritesNothing) {
    struct Row {
        const char *name;
        std::string host, table, control;
        std::vector<std::string> kit, args;
        int param;   // NVRAM parameter whose read fails: 128 device ID, 127 vendor ID
        int fromEnd; // that read counted back from the first write
        int status;
        std::vector<std::string> lines;
    };
    const std::string control23 = "0x0100,0x1D7A,CXR2312,1.90,0.00,1.19,0.00.00,rom23.bin,0.00.00\n";
    const std::vector<std::string> mbi = {"multiboot", "--chip", "2532", "mbi25.bin"};
    const std::string regionFailed = std::string("Flash update failed on this HBA (Instance 0) with error ") + kFailed;
    const std::string allFailed = "All HBAs that need to be updated failed to be updated (0 out of 1)!\n";
    const Row rows[] = {
        {"run, vendor ID", OnePort25(), upd::kTable, upd::kControl25, mbi, {}, 127, 1, 2, {regionFailed, allFailed}},
        {"run, device ID", OnePort25(), upd::kTable, upd::kControl25, mbi, {}, 128, 2, 2, {regionFailed, allFailed}},
        {"/b 0, vendor ID", OnePort25(), upd::kTable, "", mbi, {"/b", "0", "mbi25.bin"}, 127, 1, 34, {regionFailed}},
        {"/b ALL, vendor ID",
         OnePort25(),
         upd::kTable,
         "",
         mbi,
         {"/b", "ALL", "mbi25.bin"},
         127,
         1,
         34,
         {regionFailed}},
        {"23xx option ROM, vendor ID",
         upd::Host({Card23()}),
         upd::kTable,
         control23,
         {"optionrom23", "rom23.bin"},
         {"/b", "0", "rom23.bin"},
         127,
         1,
         255,
         {std::string("Failed to update flash on HBA 0 ") + kFailed}},
        // The read that tells the two boards that must not be flashed here.
        {"23xx board check, vendor ID",
         upd::Host({Card23()}),
         upd::kTable,
         control23,
         {"optionrom23", "rom23.bin"},
         {"/b", "0", "rom23.bin"},
         127,
         3,
         3,
         {"Debug: doCXRCheckForOptionROM: Unable to read the subsystem IDs (0x20000001)!\n"}},
    };
    for (const auto &row : rows) {
        upd::Scene s("safe_ids");
        s.Files(Journaled(row.host), row.table, row.control);
        s.Kit(row.kit);
        // A clean run finds the ID reads, counted back from the first write
        // (the update's own reads are the last two: device ID, vendor ID).
        auto clean = s.Tf(row.args);
        const int reads = VariableReadsBeforeFirstWrite(s);
        ASSERT_GE(reads, row.fromEnd) << row.name << "\n" << clean.out;
        const int skip = reads - row.fromEnd;
        s.Faults(R"({"faults":[{"op":"TvxGetVariableValue","instance":0,"skip":)" + std::to_string(skip) +
                 R"(,"statuses":["0x20000001"]}]})");
        std::vector<std::string> args = row.args;
        args.push_back("-debug");
        auto r = s.Tf(args);
        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find("ReadAdapterSubsysIds: TvxGetVariableValue(" + std::to_string(row.param) + ") failed"),
                  std::string::npos)
            << row.name << "\n"
            << r.out;
        for (const auto &line : row.lines)
            EXPECT_NE(r.out.find("\n" + line), std::string::npos) << row.name << ": " << line << r.out;
        EXPECT_EQ(r.err, "") << row.name;
        EXPECT_EQ(r.out.find("Please wait"), std::string::npos) << row.name;
        EXPECT_TRUE(s.Writes().empty()) << row.name;
    }
}

// Copies a firmware file over the firmware place (0x80000) of a whole image.
void PutFirmware(const upd::Scene &s, const std::string &image, const std::string &firmware) {
    std::string bytes = e2e::ReadFile(s.path() / image);
    const std::string fw = e2e::ReadFile(s.path() / firmware);
    ASSERT_EQ(bytes.size(), 0x100000u);
    ASSERT_LT(fw.size(), 0x3FFC0u);
    bytes.replace(0x80000, fw.size(), fw);
    e2e::WriteFile(s.path() / image, bytes);
}

// A whole image whose firmware does not belong to the adapter's chip is
// refused before the first write (its boot code alone was checked).
TEST(ClassicSafety, WholeImageFirmwareMustFitTheChip) {
    const std::string table = std::string(upd::kTable) + "0x0401,0x1D7A,CXR8432,Converged FC,TRUE\n";
    const std::string host = upd::Host({MultibootCard("a", "2532", "0x0301", "RFDA", {MultibootChip("2532", {}, 1)}),
                                        MultibootCard("c", "8432", "0x0401", "RFDC", {MultibootChip("8432", {}, 1)})});
    struct Row {
        const char *name;
        const char *chip;         // chip of the image
        std::string instance;     // adapter written
        std::string firmwareChip; // firmware put into the image, "" none, "-" erased
        int status;
    };
    const Row rows[] = {
        {"25xx image", "2532", "0", "", 0},
        {"24xx firmware in a 25xx image", "2532", "0", "2432", 27},
        {"25xx image without firmware", "2532", "0", "-", 27},
        {"8432 image", "8432", "1", "", 0},
        {"24xx firmware in an 8432 image", "8432", "1", "2432", 27},
    };
    for (const auto &row : rows) {
        upd::Scene s("safe_fw");
        s.Files(host, table, "");
        s.Kit({"multiboot", "--chip", row.chip, "mbi.bin"});
        if (row.firmwareChip == "-") {
            e2e::WriteFile(s.path() / "fw.bin", std::string(0x20000, '\xFF'));
            PutFirmware(s, "mbi.bin", "fw.bin");
        } else if (!row.firmwareChip.empty()) {
            s.Kit({"firmware", "--chip", row.firmwareChip, "fw.bin"});
            PutFirmware(s, "mbi.bin", "fw.bin");
        }
        auto r = s.Tf({"/b", row.instance, "mbi.bin"});
        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.out << r.err;
        if (row.status == 0) {
            EXPECT_EQ(s.WriteList(), (std::vector<std::string>{row.instance + ":0x07", row.instance + ":0x01"}))
                << row.name;
            continue;
        }
        const std::string model = row.instance == "0" ? "CXR2532-2P" : "CXR8432-2P";
        EXPECT_NE(r.out.find("\nmbi.bin is not an acceptable flash FW file for this HBA (Instance " + row.instance +
                             " - " + model + "), wrong size!\n"),
                  std::string::npos)
            << row.name << "\n"
            << r.out;
        EXPECT_EQ(r.err, "") << row.name;
        EXPECT_TRUE(s.Writes().empty()) << row.name;
    }
}

// A port whose chip is written through another port is counted neither as
// needing an update nor as updated, so a failed card is reported failed.
TEST(ClassicSafety, PortWithoutItsOwnUpdateIsNotCounted) {
    const std::string twoPort = MultibootCard("a", "2532", "0x0301", "RFDA", {MultibootChip("2532", {}, 2)});
    const std::string onePort = MultibootCard("b", "2532", "0x0301", "RFDB", {MultibootChip("2532", {}, 1)});
    const std::string failFirst =
        R"({"faults":[{"op":"write","instance":0,"region":"0x07","statuses":["0x20000006"]}]})";
    struct Row {
        const char *name;
        std::vector<std::string> cards;
        std::string faults;
        std::vector<std::string> args;
        int status;
        std::string summary;
        std::vector<std::string> writes;
    };
    const Row rows[] = {
        {"write fails",
         {twoPort},
         failFirst,
         {},
         2,
         "All HBAs that need to be updated failed to be updated (0 out of 1)!\n",
         {"0:0x07"}},
        {"write fails, forced",
         {twoPort},
         failFirst,
         {"/f"},
         2,
         "All HBAs that need to be updated failed to be updated (0 out of 1)!\n",
         {"0:0x07"}},
        {"one card of two fails",
         {twoPort, onePort},
         failFirst,
         {},
         3,
         "Warning: Unable to update all HBAs (1 out of 2)!\n",
         {"0:0x07", "2:0x07", "2:0x01"}},
        {"written", {twoPort}, "", {}, 0, "Info: Updates completed successfully (1 out of 1).\n", {"0:0x07", "0:0x01"}},
        {"written, forced",
         {twoPort},
         "",
         {"/f"},
         0,
         "Info: Updates completed successfully (1 out of 1).\n",
         {"0:0x07", "0:0x01"}},
    };
    for (const auto &row : rows) {
        upd::Scene s("safe_count");
        s.Files(upd::Host(row.cards));
        if (!row.faults.empty()) s.Faults(row.faults);
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        auto r = s.Tf(row.args);
        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find("\n" + row.summary), std::string::npos) << row.name << "\n" << r.out;
        EXPECT_EQ(s.WriteList(), row.writes) << row.name;
    }
}

// /b for an instance or WWPN that no adapter has is refused with 19.
TEST(ClassicSafety, TargetedUpdateOfAMissingAdapter) {
    upd::Scene s("safe_missing");
    s.Files(OnePort25(), upd::kTable, "");
    s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
    for (const char *who : {"7", "21-00-00-1D-7A-09-00-00", "2100001D7A090000"}) {
        auto r = s.Tf({"/b", who, "mbi25.bin"});
        EXPECT_EQ(r.status, 19) << who;
        EXPECT_EQ(upd::Lines(r.out), "Unable to find the selected HBA!\n") << who;
        EXPECT_EQ(r.err, "") << who;
        EXPECT_TRUE(s.Writes().empty()) << who;
    }
}

// A layout entry of size 0 is no writable region: the update is refused
// before the first write (a 0-byte write was sent, after the boot region
// had been written when the firmware entry was the empty one).
TEST(ClassicSafety, RegionOfSizeZeroIsNotWritten) {
    struct Row {
        const char *name;
        const char *bootSize;
        const char *fwSize;
    };
    const Row rows[] = {{"boot region", "0", "0x40000"}, {"firmware region", "0x40000", "0"}};
    for (const auto &row : rows) {
        const std::string chip = std::string(R"({"flash_size": "0x100000", "ports": [{}], "regions": [
            {"code": "0x07", "size": ")") +
                                 row.bootSize + R"(", "offset": "0"},
            {"code": "0x01", "size": ")" +
                                 row.fwSize + R"(", "offset": "0x80000"}, {"code": "0xFF"}]})";
        upd::Scene s("safe_zero");
        s.Files(upd::Host({MultibootCard("z", "2532", "0x0301", "RFDZ", {chip})}), upd::kTable, upd::kControl25);
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        auto r = s.Tf({"/b", "0", "mbi25.bin"});
        EXPECT_EQ(r.status, 37) << row.name << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find("\nNo valid flash update region found!\n"), std::string::npos) << row.name << r.out;
        EXPECT_EQ(r.err, "") << row.name;
        EXPECT_TRUE(s.Writes().empty()) << row.name;
        auto run = s.Tf({});
        EXPECT_EQ(run.status, 2) << row.name << run.out;
        EXPECT_TRUE(s.Writes().empty()) << row.name;
    }
}

// Messages printed without a level go plainly to standard output; levels
// are kept where they are given, and notes for the log stay out of the
// console unless debugging.
TEST(ClassicSafety, MessageStreamsAndLevels) {
    struct Row {
        const char *name;
        std::string host;
        std::string control;
        std::vector<std::string> args;
        int status;
        std::string out; // whole standard output, failover notices removed
    };
    const std::string inbox =
        upd::Host({MultibootCard("a", "2532", "0x0301", "RFDA",
                                 {MultibootChip("2532", {}, 1, "", R"({"node": {"driver_version": "9.1.4.6"}})")})});
    const Row rows[] = {
        {"/b ALL without adapters",
         upd::Host({}),
         "",
         {"/b", "ALL", "mbi25.bin"},
         8,
         "No compatible HBA(s) found in current system !\n"},
        {"/b ALL, file missing",
         OnePort25(),
         "",
         {"/b", "ALL", "none.bin"},
         1,
         "Failed to open file none.bin for reading!\n"},
        {"/b 0, file missing", OnePort25(), "", {"/b", "0", "none.bin"}, 1, "Unable to open file none.bin!\n"},
        {"/b 0, image of another chip",
         OnePort25(),
         "",
         {"/b", "0", "mbi24.bin"},
         10,
         "Incorrect flash file for HBA 0 (Invalid SSDID/SSVID)!\n"},
        {"/b 0, filtered out",
         OnePort25(),
         "",
         {"/b", "0", "mbi25.bin", "--24xx"},
         19,
         "Skipping flash update on HBA 0 - CXR2532-2P. MBI file does not match with hardware type!\n"},
        {"inbox driver",
         inbox,
         upd::kControl25,
         {},
         2,
         // refused first by the firmware preload run, which takes the 25xx
         "Command aborted! Please update existing driver (9.1.4.6) and try again.\n"
         "All HBAs that need to be updated failed to be updated (0 out of 1)!\n"},
        {"/b 0, option ROM of another chip",
         upd::Host({Card23()}),
         "",
         {"/b", "0", "rom22.bin"},
         10,
         "Incorrect flash file for HBA 0 (Invalid SSDID/SSVID)!\n"},
        // once from each of the three data-file runs, then the update run
        {"default run, no adapters",
         upd::Host({}),
         upd::kControl25,
         {},
         8,
         "No compatible HBA(s) found in current system !\nNo compatible HBA(s) found in current system !\n"
         "No compatible HBA(s) found in current system !\nInfo: Orvane HBA not found!\n"},
    };
    for (const auto &row : rows) {
        upd::Scene s("safe_msg");
        s.Files(row.host, upd::kTable, row.control);
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        s.Kit({"multiboot", "--chip", "2432", "mbi24.bin"});
        s.Kit({"optionrom23", "--chip", "2200", "rom22.bin"});
        auto r = s.Tf(row.args);
        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.out << r.err;
        EXPECT_EQ(upd::Lines(r.out), row.out) << row.name;
        EXPECT_EQ(r.err, "") << row.name;
        EXPECT_TRUE(s.Writes().empty()) << row.name;
    }
    // The inbox driver note is for the log: a Debug line with -debug only.
    upd::Scene s("safe_msg_debug");
    s.Files(inbox);
    s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
    auto r = s.Tf({"-debug"});
    EXPECT_NE(r.out.find("\nDebug: Detected Windows Server 2008 inbox driver!\n"), std::string::npos) << r.out;
    // A write that the library refuses: the failure line on standard output.
    s.Files(OnePort25());
    s.Faults(R"({"faults":[{"op":"write","region":"0x01","statuses":["0x20000006"]}]})");
    auto w = s.Tf({"/b", "0", "mbi25.bin"});
    EXPECT_EQ(w.status, 34) << w.out << w.err;
    EXPECT_NE(w.out.find("\nFlash update failed on this HBA (Instance 0) with error (0x20000006) ("), std::string::npos)
        << w.out;
    EXPECT_EQ(w.err, "");
}

} // namespace
