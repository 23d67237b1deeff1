// Safety of the classic FC update paths end to end, second part: values
// that discovery could not read, the four-port card of two chips when a
// port is missing or its reads fail, a rerun after the power was cut
// between the two chips, and a layout region larger than the flash.
#include <gtest/gtest.h>

#include "update_hosts.h"

namespace {

using upd::MultibootCard;
using upd::MultibootChip;

const char kFailed[] = "(0x20000001) (General failure)!\n";

std::string Fault(const std::string &op, int instance, int skip) {
    return R"({"faults":[{"op":")" + op + R"(","instance":)" + std::to_string(instance) + R"(,"skip":)" +
           std::to_string(skip) + R"(,"statuses":["0x20000001"]}]})";
}

std::string OnePort24() {
    return upd::Host({MultibootCard("b", "2432", "0x0200", "RFDB", {MultibootChip("2432", {}, 1)})});
}

std::string Card23() {
    return upd::Host({R"({"name": "old", "device_id": "0x2312", "subsys_vendor": "0x1D7A", "subsys_device": "0x0100",
        "model": "CXR2312", "serial": "RFD23", "chips": [{"flash_size": "0x20000", "ports": [{}], "regions": [
        {"code": "0x05", "size": "0x20000", "boot": {"bios": "1.80", "fcode": "1.10", "device_id": "0x2312"}},
        {"code": "0xFF"}]}]})"});
}

// Four ports on two 25xx chips (PCI functions 0-3).
std::string FourPort25() {
    return upd::Host(
        {MultibootCard("q", "2532", "0x0302", "RFDQ", {MultibootChip("2532", {}, 2), MultibootChip("2532", {}, 2)})});
}
const std::string kTable4 = std::string(upd::kTable) + "0x0302,0x1D7A,CXR2532,Quad port 8Gb FC,TRUE\n";
const char kControl4[] = "0x0302,0x1D7A,CXR2532-2P,3.28,6.01,4.03,8.02.01,mbi25.bin,3.01.02\n";

// The model name and the subsystem IDs are stamped into the boot code: when
// discovery could not read them the adapter's update ends before any write
// (a blank model name or the IDs 0 were written, and the run said success).
TEST(ClassicSafety2, UnreadDiscoveryValuesWriteNothing) {
    struct Row {
        const char *name;
        std::string host, control, faults;
        std::vector<std::string> kit, args;
        int status;
        std::vector<std::string> lines;
    };
    const std::string control23 = "0x0100,0x1D7A,CXR2312,1.90,0.00,1.19,0.00.00,rom23.bin,0.00.00\n";
    const std::vector<std::string> common23 = {"optionrom23", "--chip",  "2312", "--common-bios", "--bios",
                                               "1.90",        "--fcode", "1.19", "rom23.bin"};
    const std::string regionFailed = std::string("Flash update failed on this HBA (Instance 0) with error ") + kFailed;
    const std::string allFailed = "All HBAs that need to be updated failed to be updated (0 out of 1)!\n";
    const Row rows[] = {
        {"23xx common BIOS, node property",
         Card23(),
         control23,
         Fault("TvxGetHbaDeviceNodeProperty", 0, 0),
         common23,
         {},
         2,
         {std::string("Failed to update flash on HBA 0 ") + kFailed, allFailed}},
        {"23xx common BIOS /b 0, node property",
         Card23(),
         "",
         Fault("TvxGetHbaDeviceNodeProperty", 0, 0),
         common23,
         {"/b", "0", "rom23.bin"},
         255,
         {std::string("Failed to update flash on HBA 0 ") + kFailed}},
        {"24xx /b 0, node property",
         OnePort24(),
         "",
         Fault("TvxGetHbaDeviceNodeProperty", 0, 0),
         {"multiboot", "--chip", "2432", "mbi24.bin"},
         {"/b", "0", "mbi24.bin"},
         34,
         {regionFailed}},
    };
    for (const auto &row : rows) {
        upd::Scene s("safe2_reads");
        s.Files(row.host, upd::kTable, row.control);
        s.Kit(row.kit);
        s.Faults(row.faults);
        auto r = s.Tf(row.args);
        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.out << r.err;
        for (const auto &line : row.lines)
            EXPECT_NE(r.out.find("\n" + line), std::string::npos) << row.name << ": " << line << r.out;
        EXPECT_EQ(r.out.find("Please wait"), std::string::npos) << row.name << "\n" << r.out;
        EXPECT_EQ(r.err, "") << row.name;
        EXPECT_TRUE(s.Writes().empty()) << row.name;
    }
}

// The four-port card: the run's summary and status say which chips were
// written; a chip whose carrying port is missing is a failed update, and a
// chip whose first port is there is updated through it.
TEST(ClassicSafety2, FourPortCardSummaryTellsEveryChip) {
    struct Row {
        const char *name;
        std::string faults;
        int status;
        std::string summary;
        std::vector<std::string> writes;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"no fault",
         "",
         0,
         "Info: Updates completed successfully (1 out of 1).\n",
         {"0:0x07", "0:0x01", "2:0x07", "2:0x01"},
         {}},
        // Port 1 is missing: chip 0 has no port that carries its update.
        {"port 1 not opened",
         R"({"faults":[{"op":"TvxOpenDevice","skip":0,"statuses":["0x20000001"]}]})",
         3,
         "Warning: Unable to update all HBAs (1 out of 2)!\n",
         {"2:0x07", "2:0x01"},
         {}},
        // Port 1's serial number cannot be read when the card is put
        // together, so it looks like a card of its own and does not take up
        // chip 1: port 3 does.
        {"port 1 VPD unreadable",
         R"({"faults":[{"op":"TvxGetVpd","skip":8,"statuses":["0x20000001"]}]})",
         0,
         "Info: Updates completed successfully (2 out of 2).\n",
         {"0:0x07", "0:0x01", "2:0x07", "2:0x01"},
         {}},
        // The second chip's NVRAM was not read: its IDs are unknown (NVRAM
        // image 2 is read before image 1, which holds them).
        {"chip 1 NVRAM unreadable",
         Fault("TvxGetNVRam", 2, 1),
         2,
         "All HBAs that need to be updated failed to be updated (0 out of 2)!\n",
         {"0:0x07", "0:0x01"},
         {std::string("Flash update failed on this HBA (Instance 2) with error ") + kFailed}},
    };
    for (const auto &row : rows) {
        upd::Scene s("safe2_4port");
        s.Files(FourPort25(), kTable4, kControl4);
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        if (!row.faults.empty()) s.Faults(row.faults);
        auto r = s.Tf({});
        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find("\n" + row.summary), std::string::npos) << row.name << "\n" << r.out;
        for (const auto &line : row.lines)
            EXPECT_NE(r.out.find("\n" + line), std::string::npos) << row.name << ": " << line << r.out;
        EXPECT_EQ(s.WriteList(), row.writes) << row.name << "\n" << r.out;
    }
}

// A current card whose second port's versions could not be read: the
// first port decides for the chip, so nothing is needed.
TEST(ClassicSafety2, CurrentChipWithAnUnreadSecondPortNeedsNothing) {
    upd::FlashVersions current;
    current.bios = "3.28";
    current.efi = "6.01";
    current.fcode = "4.03";
    current.fw = "8.2.1";
    current.mbi = "3.1.2";
    upd::Scene s("safe2_current");
    s.Files(upd::Host({MultibootCard("b", "2432", "0x0200", "RFDB", {MultibootChip("2432", current, 2)})}), upd::kTable,
            "0x0200,0x1D7A,CXR2432-2P,3.28,6.01,4.03,8.02.01,mbi24.bin,3.01.02\n");
    s.Kit({"multiboot", "--chip", "2432", "mbi24.bin"});
    s.Faults(Fault("TvxGetHbaDeviceNodeProperty", 1, 0));
    auto r = s.Tf({});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("\nInfo: No updates required.\n"), std::string::npos) << r.out;
    EXPECT_TRUE(s.Writes().empty());
}

// The power cut off after the first chip (or the second chip's boot code)
// was written: the next run updates the second chip through its first
// port, and a third run needs nothing.
TEST(ClassicSafety2, FourPortCardRerunAfterPowerCut) {
    for (int cut : {2, 3}) {
        upd::Scene s("safe2_cut");
        s.Files(FourPort25(), kTable4, kControl4);
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        s.Faults(R"({"faults":[],"power_cut_after_writes":)" + std::to_string(cut) + "}");
        s.Tf({});
        ASSERT_EQ(s.Writes().size(), static_cast<size_t>(cut)) << cut;
        s.Faults(R"({"faults":[]})");
        auto again = s.Tf({});
        EXPECT_EQ(again.status, 0) << cut << "\n" << again.out << again.err;
        EXPECT_NE(again.out.find("\nInfo: Updates completed successfully (1 out of 1).\n"), std::string::npos)
            << cut << "\n"
            << again.out;
        EXPECT_EQ(s.WriteList(), (std::vector<std::string>{"2:0x07", "2:0x01"})) << cut;
        auto third = s.Tf({});
        EXPECT_EQ(third.status, 1) << cut << "\n" << third.out;
        EXPECT_NE(third.out.find("\nInfo: No updates required.\n"), std::string::npos) << cut << "\n" << third.out;
        EXPECT_TRUE(s.Writes().empty()) << cut;
    }
}

// A layout whose region is larger than the whole flash of these adapters
// is refused before a buffer of its size is taken.
TEST(ClassicSafety2, RegionLargerThanTheFlashIsRefused) {
    struct Row {
        const char *name;
        const char *flashSize;
        int status;
    };
    const Row rows[] = {{"1 MiB", "0x100000", 0}, {"2 MiB", "0x200000", 37}};
    for (const auto &row : rows) {
        const std::string chip = std::string(R"({"flash_size": ")") + row.flashSize + R"(", "ports": [{}],
            "regions": [{"code": "0x07", "size": "0x40000", "offset": "0", "boot": {"bios": "3.10", "device_id": "0x2532"}},
            {"code": "0x01", "size": "0x40000", "offset": "0x80000", "firmware": {"version": "8.1.0", "chip": "2532",
            "mbi": "3.0.0"}}, {"code": "0xFF"}]})";
        upd::Scene s("safe2_big");
        s.Files(upd::Host({MultibootCard("z", "2532", "0x0301", "RFDZ", {chip})}), upd::kTable, "");
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        auto r = s.Tf({"/b", "0", "mbi25.bin"});
        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.out << r.err;
        if (row.status == 0) {
            EXPECT_EQ(s.WriteList(), (std::vector<std::string>{"0:0x07", "0:0x01"})) << row.name;
            continue;
        }
        EXPECT_NE(r.out.find("\nNo valid flash update region found!\n"), std::string::npos) << row.name << r.out;
        EXPECT_EQ(r.err, "") << row.name;
        EXPECT_TRUE(s.Writes().empty()) << row.name;
    }
}

} // namespace
