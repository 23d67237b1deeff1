// 27xx (Fenwar) and 28xx (Zult) adapters updated online end to end: the
// set that is not running is written in the family's order inside a flash
// update session, the status records flip, the adapter activates the new
// set; the offline 27xx path, the refusals and the activation answers.
#include <gtest/gtest.h>

#include <cstring>

#include "online_hosts.h"

namespace {

using online::Exit;
using online::json;
using online::RegionOf;
using online::Scene;

const std::vector<std::string> kFenwarOnline = {"session_start", "write:0x9F",    "write:0x09",  "write:0xD3",
                                                "write:0xD1",    "fw_attributes", "write:0x02",  "write:0x96",
                                                "write:0x95",    "write:0xDF",    "write:0x14",  "write:0x16",
                                                "write:0xD4",    "write:0xD6",    "session_end", "activate"};
const std::vector<std::string> kZultOnline = {
    "session_start", "write:0x9F",    "write:0x09",  "write:0x0A",  "write:0x105", "write:0xF1",
    "write:0x106",   "write:0x107",   "write:0x108", "write:0xF0",  "write:0x109", "write:0x10A",
    "write:0x10B",   "fw_attributes", "write:0x02",  "write:0x124", "write:0x96",  "write:0x95",
    "write:0x126",   "write:0x125",   "session_end", "activate"};

class Online : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(TF_SIMTOOL).empty()) GTEST_SKIP() << "tarniksim is not built";
    }
};

// Every region that belongs to a flash set belongs to the set written.
void ExpectOnlyWrittenSet(const std::vector<std::string> &regions, const std::map<std::string, int> &sets, int set) {
    for (const std::string &r : regions) {
        auto it = sets.find(r);
        if (it != sets.end()) {
            EXPECT_EQ(it->second, set) << "region " << r << " of the running set was written";
        }
    }
}

TEST_F(Online, FenwarWritesTheInactiveSetAndActivatesIt) {
    for (const std::vector<std::string> &args : {std::vector<std::string>{}, {"/b", "0", "fenwar.bin"}}) {
        SCOPED_TRACE(args.empty() ? "default run" : "/b");
        Scene s("online_fenwar");
        s.Preset("fc27xx");
        s.Images();
        auto r = s.Tf(args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(s.Trace(), kFenwarOnline);
        ExpectOnlyWrittenSet(s.WrittenRegions(), online::FenwarSets(), 2);
        // Every region is written whole, at the size its layout gives.
        const json host = json::parse(e2e::ReadFile(s.path() / "host.json"));
        for (const online::Call &c : s.Calls()) {
            if (c.op != "write") continue;
            json h = host;
            EXPECT_EQ(std::stoul(c.size), RegionOf(h, c.region)["size"].get<unsigned>()) << c.region;
        }
        const std::string out = upd::Lines(r.out);
        for (const char *line :
             {"Updating Adapter Signature... Success", "Updating Adapter FC Boot Code... Success",
              "Updating Adapter MPI Fw ... Success", "Updating Adapter PEP Fw... Success",
              "Updating Adapter FC RISC Fw... Success", "Updating Adapter Secondary Image Status... Success",
              "Updating Adapter Primary Image Status... Success", "Updating Adapter FC VPD 3... Success",
              "Option ROM update complete. Changes have been saved to both ports of this HBA."})
            EXPECT_TRUE(online::Contains(out, line)) << line << "\n" << out;
        const online::ChipView v = s.Show();
        EXPECT_EQ(v.running, 2);
        EXPECT_EQ(v.designated, 2);
        EXPECT_EQ(v.records.at("0x96"), std::make_pair(1, 4));
        EXPECT_EQ(v.records.at("0x95"), std::make_pair(0, 3));
        EXPECT_EQ(v.memo.at("0xDF"), "2.01.00");

        // The new set runs and its memo block carries the image's version:
        // nothing left to do.
        auto again = s.Tf({});
        EXPECT_EQ(again.status, 1) << again.out;
        EXPECT_TRUE(online::Contains(again.out, "No updates required.")) << again.out;
        EXPECT_TRUE(s.WrittenRegions().empty());
    }
}

TEST_F(Online, FenwarRefreshesOnlyTheVpdRegionsItHolds) {
    Scene s("online_fenwar_vpd");
    s.Preset("fc27xx", [](json &h) {
        RegionOf(h, "0xD4").erase("vpd");
        RegionOf(h, "0xD6").erase("vpd");
        for (const char *vpd : {"0x14", "0x16"})
            RegionOf(h, vpd)["vpd"] = {{"ro", {{"PN", "CXR2772"}, {"RM", "000000"}, {"VV", "FFV00.00.00"}}}};
    });
    s.Images();
    auto r = s.Tf({"/b", "0", "fenwar.bin"});
    EXPECT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> w = s.WrittenRegions();
    EXPECT_EQ(std::vector<std::string>(w.end() - 3, w.end()), (std::vector<std::string>{"0xDF", "0x14", "0x16"}));
    EXPECT_FALSE(online::Contains(r.out, "FC VPD 2"));
    // Both FC VPDs name the image's multi-boot version 2.1.0.
    for (const char *vpd : {"0x14", "0x16"}) {
        auto d = e2e::Run(TF_SIMTOOL, {"dump", s.path().string(), "hba27/0", vpd, "vpd.bin"}, s.path());
        ASSERT_EQ(d.status, 0) << d.err;
        const std::string bytes = e2e::ReadFile(s.path() / "vpd.bin");
        EXPECT_TRUE(online::Contains(bytes, "020100")) << vpd;
        EXPECT_TRUE(online::Contains(bytes, "FFV02.01.00")) << vpd;
    }
}

// The kit's FC board configuration of a Zult image.
std::vector<uint8_t> Component(const std::string &image, uint16_t code) {
    auto u16 = [&](size_t o) { return uint16_t(uint8_t(image[o]) | uint8_t(image[o + 1]) << 8); };
    auto u32 = [&](size_t o) { return uint32_t(u16(o)) | uint32_t(u16(o + 2)) << 16; };
    const unsigned n = u16(10);
    for (unsigned i = 0; i + 1 < n; ++i) {
        const size_t e = 32 + 32 * size_t(i);
        if (u16(e) != code) continue;
        const uint32_t off = u32(e + 6);
        const uint32_t len = u32(e + 10);
        return std::vector<uint8_t>(image.begin() + off, image.begin() + off + len);
    }
    ADD_FAILURE() << "no component " << code;
    return {};
}

uint32_t DwordSum(const std::vector<uint8_t> &b, size_t bytes) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= bytes && i + 4 <= b.size(); i += 4)
        sum += uint32_t(b[i]) | uint32_t(b[i + 1]) << 8 | uint32_t(b[i + 2]) << 16 | uint32_t(b[i + 3]) << 24;
    return sum;
}

void Reseal(std::vector<uint8_t> &b) {
    const size_t bytes = size_t(DwordSum({b.begin() + 12, b.begin() + 16}, 4)) * 4;
    std::memset(b.data() + 8, 0, 4);
    const uint32_t c = 0u - DwordSum(b, bytes);
    for (int i = 0; i < 4; ++i)
        b[8 + i] = uint8_t(c >> (8 * i));
}

TEST_F(Online, ZultWritesTheInactiveSetKeepingTheRunningBoardSettings) {
    Scene s("online_zult");
    s.Preset("fc28xx");
    s.Images();
    // The running board configuration (0xBA) differs from the image's in
    // every setting the update must keep.
    std::vector<uint8_t> fresh = Component(e2e::ReadFile(s.path() / "zult.bin"), 0xBA);
    ASSERT_GT(fresh.size(), 3703u);
    std::vector<uint8_t> running = fresh;
    running[448] ^= 0x5A;
    running[449] ^= 0x01;
    for (size_t off : {818u, 1778u, 2738u, 3698u})
        running[off] ^= 0x33;
    for (size_t off : {822u, 1782u, 2742u, 3702u})
        running[off] ^= 0x02;
    Reseal(running);
    e2e::WriteFile(s.path() / "running_fbc.bin", std::string(running.begin(), running.end()));
    json host = json::parse(e2e::ReadFile(s.path() / "host.json"));
    RegionOf(host, "0xBA")["file"] = "running_fbc.bin";
    s.Files(host.dump(2), online::kTable, online::kControl);

    auto r = s.Tf({});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(s.Trace(), kZultOnline);
    ExpectOnlyWrittenSet(s.WrittenRegions(), online::ZultSets(), 2);
    for (const char *line :
         {"Updating Adapter FC RISC Fw version 9.1.2... Success", "Updating Adapter MPI Fw version 03.04.05... Success",
          "Updating Adapter FC Exp. Boot Code... Success", "BIOS version: 03.28.00",
          "Updating Adapter Secondary Image Status... Success",
          "Updating Adapter Secondary Aux Image Status... Success"})
        EXPECT_TRUE(online::Contains(r.out, line)) << line << "\n" << r.out;
    const online::ChipView v = s.Show();
    EXPECT_EQ(v.running, 2);
    EXPECT_EQ(v.designated, 2);
    EXPECT_EQ(v.boardConfig, 2);
    EXPECT_EQ(v.records.at("0x96"), std::make_pair(1, 6));
    EXPECT_EQ(v.records.at("0x126"), std::make_pair(1, 3));
    EXPECT_EQ(v.memo.at("0x124"), "2.05.00");

    auto dump = e2e::Run(TF_SIMTOOL, {"dump", s.path().string(), "hba28/0", "0x10B", "fbc.bin"}, s.path());
    ASSERT_EQ(dump.status, 0) << dump.err;
    const std::string text = e2e::ReadFile(s.path() / "fbc.bin");
    const std::vector<uint8_t> written(text.begin(), text.end());
    ASSERT_GT(written.size(), 3703u);
    EXPECT_EQ(written[448], running[448]);
    EXPECT_EQ(written[449] & 1, running[449] & 1);
    for (size_t off : {818u, 1778u, 2738u, 3698u})
        EXPECT_EQ(written[off], running[off]) << off;
    for (size_t off : {822u, 1782u, 2742u, 3702u})
        EXPECT_EQ(written[off] & 2, running[off] & 2) << off;
    EXPECT_EQ(written[16] | written[17] << 8, 0x1D7A);
    EXPECT_EQ(written[18] | written[19] << 8, 0x0601);
    const size_t bytes = size_t(written[12] | written[13] << 8) * 4;
    EXPECT_EQ(DwordSum(written, bytes), 0u);

    auto again = s.Tf({});
    EXPECT_EQ(again.status, 1) << again.out;
    EXPECT_TRUE(s.WrittenRegions().empty());
}

TEST_F(Online, ZultWithoutBoardConfigurationLeavesTheAuxiliaryRecords) {
    Scene s("online_zult_nofbc");
    s.Preset("fc28xx");
    s.Images();
    // The image's board configuration entry gets a code no sequence names.
    std::string image = e2e::ReadFile(s.path() / "zult.bin");
    const unsigned n = uint8_t(image[10]) | uint8_t(image[11]) << 8;
    for (unsigned i = 0; i + 1 < n; ++i) {
        const size_t e = 32 + 32 * size_t(i);
        if (uint8_t(image[e]) == 0xBA && image[e + 1] == 0) image[e] = char(0xBB);
    }
    e2e::WriteFile(s.path() / "zult.bin", image);
    auto r = s.Tf({"/b", "0", "zult.bin"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<std::string> w = s.WrittenRegions();
    for (const char *region : {"0x10B", "0xBA", "0x125", "0x126"})
        EXPECT_EQ(std::count(w.begin(), w.end(), region), 0) << region;
    const online::ChipView v = s.Show();
    EXPECT_EQ(v.records.at("0x125"), std::make_pair(1, 2));
    EXPECT_EQ(v.records.at("0x126"), std::make_pair(0, 1));
    EXPECT_EQ(v.designated, 2);
}

struct EdgeCase {
    const char *name;
    const char *preset;
    std::function<void(json &)> edit;
    int status;
    std::vector<std::string> trace; // empty: no call that changes the adapter
    std::vector<std::string> lines;
};

json &Port0(json &h) { return h["cards"][0]["chips"][0]["ports"][0]; }

TEST_F(Online, PathChoiceAndEdgeCases) {
    const std::vector<std::string> offline = {"write:0x9E", "write:0x07", "write:0xD3", "write:0xD1", "write:0x01",
                                              "write:0xDF", "write:0x14", "write:0x16", "write:0xD4", "write:0xD6"};
    std::vector<std::string> noActivation(kFenwarOnline.begin(), kFenwarOnline.end() - 1);
    const EdgeCase cases[] = {
        {"library 1.28.0.121: offline", "fc27xx", [](json &h) { h["version"] = "1.28.0.121"; }, 0, offline, {}},
        {"library 1.28.0.122: online", "fc27xx", [](json &h) { h["version"] = "1.28.0.122"; }, 0, kFenwarOnline, {}},
        {"library 2.0.0.0: online", "fc27xx", [](json &h) { h["version"] = "2.0.0.0"; }, 0, kFenwarOnline, {}},
        {"library version unreadable: offline", "fc27xx", [](json &h) { h["version"] = "unknown"; }, 0, offline, {}},
        {"capability 1: offline",
         "fc27xx",
         [](json &h) { h["cards"][0]["chips"][0]["update_caps"] = 1; },
         0,
         offline,
         {}},
        {"session already open",
         "fc27xx",
         [](json &h) { h["cards"][0]["chips"][0]["session_busy"] = true; },
         Exit(525),
         {"session_start"},
         {"Flash update session in progress, please wait 15 minutes and try again."}},
        {"reset disabled by the driver",
         "fc27xx",
         [](json &h) { Port0(h)["driver"]["version"] = "9.4.2.10"; },
         201,
         noActivation,
         {"Flash update complete. Changes have been saved to all ports of this HBA.",
          "You must reboot in order for the changes to become effective."}},
        {"driver without flash update",
         "fc27xx",
         [](json &h) { Port0(h)["driver"]["version"] = "9.1.11.27"; },
         3,
         {},
         {"Flash update is unsupported with current driver 9.1.11.27!"}},
        {"27xx subsystem vendor ID of PCI differs from NVRAM",
         "fc27xx",
         [](json &h) {
             Port0(h)["pci"] = {{"subsys_vendor", "0x1234"}};
             Port0(h)["nvram1"] = {{"params", {{"127", "0x1D7A"}}}};
         },
         11,
         {},
         {"Adapter subsystem vendor Id mismatched (pci ssvid=0x1234 nvram ssvid=0x1d7a"}},
        {"28xx subsystem device ID of PCI differs from NVRAM",
         "fc28xx",
         [](json &h) {
             Port0(h)["pci"] = {{"subsys_device", "0x0602"}};
             Port0(h)["nvram1"] = {{"params", {{"128", "0x0601"}}}};
         },
         11,
         {},
         {"Adapter subsystem device Id mismatched (pci ssdid=0x602 nvram ssdid=0x601"}},
    };
    for (const EdgeCase &c : cases) {
        SCOPED_TRACE(c.name);
        Scene s("online_edge");
        s.Preset(c.preset, c.edit);
        s.Images();
        auto r = s.Tf({"/b", "0", std::string(c.preset) == "fc27xx" ? "fenwar.bin" : "zult.bin"});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(s.Trace(), c.trace);
        for (const std::string &line : c.lines)
            EXPECT_TRUE(online::Contains(r.out, line)) << line << "\n" << r.out;
    }
}

// Equal masks with equal generations designate the primary set as the one
// running: the secondary is written, with the next generation.
TEST_F(Online, FenwarEqualGenerationsWriteTheSetNotRunning) {
    for (int mask : {1, 0}) {
        SCOPED_TRACE(mask);
        Scene s("online_gen99");
        s.Preset("fc27xx", [mask](json &h) {
            RegionOf(h, "0x95")["status"] = {{"mask", mask}, {"generation", 9}, {"signature", "0xFACEFADE"}};
            RegionOf(h, "0x96")["status"] = {{"mask", mask}, {"generation", 9}, {"signature", "0xFACEFADE"}};
        });
        s.Images();
        EXPECT_EQ(s.Show().running, 1);
        auto r = s.Tf({"/b", "0", "fenwar.bin"});
        EXPECT_EQ(r.status, 0) << r.out;
        ExpectOnlyWrittenSet(s.WrittenRegions(), online::FenwarSets(), 2);
        const online::ChipView v = s.Show();
        EXPECT_EQ(v.records.at("0x96"), std::make_pair(1, 10));
        EXPECT_EQ(v.records.at("0x95"), std::make_pair(0, 9));
        EXPECT_EQ(v.designated, 2);
    }
}

// An invalid secondary record while the primary runs: the secondary set is
// written and its record made whole.
TEST_F(Online, FenwarInvalidSecondaryRecordWritesTheSecondarySet) {
    Scene s("online_badsec");
    s.Preset("fc27xx", [](json &h) { RegionOf(h, "0x96")["status"]["signature"] = "0x12345678"; });
    s.Images();
    auto r = s.Tf({"/b", "0", "fenwar.bin"});
    EXPECT_EQ(r.status, 0) << r.out;
    ExpectOnlyWrittenSet(s.WrittenRegions(), online::FenwarSets(), 2);
    const online::ChipView v = s.Show();
    EXPECT_EQ(v.records.at("0x96"), std::make_pair(1, 4));
    EXPECT_EQ(v.designated, 2);
    EXPECT_TRUE(
        online::Contains(s.ShowText(), "image status 0x096: mask 1 generation 4 bitmap 0x00 signature FACEFADE"));
}

TEST_F(Online, ActivationAnswers) {
    struct Case {
        const char *name;
        std::string statuses;
        int status;
        int calls;
        int running;
        std::vector<std::string> lines;
    } cases[] = {
        {"resets pending, then done",
         R"("0x20000075", "0x20000067")",
         0,
         3,
         2,
         {"AppActivateOnlineFlashUpdate: Cnt=1 Waiting for CXR reset (0x20000075",
          "AppActivateOnlineFlashUpdate: Cnt=2 Waiting for reset (0x20000067"}},
        {"online update failed at its end",
         R"("0x20000063")",
         Exit(523),
         1,
         1,
         {"You must reboot in order for the changes to become effective."}},
        {"waiting for a reset", R"("0x20000100")", 201, 1, 1, {"AppActivateOnlineFlashUpdate: Waiting for reset"}},
        {"refused", R"("0x20000007")", Exit(524), 1, 1, {"AppActivateOnlineFlashUpdate: Error (0x20000007"}},
        {"reset pending every time",
         std::string(R"("0x20000075", )") +
             [] {
                 std::string s;
                 for (int i = 0; i < 28; ++i)
                     s += R"("0x20000075", )";
                 return s;
             }() +
             R"("0x20000075")",
         Exit(524),
         30,
         1,
         {"AppActivateOnlineFlashUpdate: Cnt=30 Waiting for CXR reset"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Scene s("online_activate");
        s.Preset("fc28xx");
        s.Images();
        s.Faults(R"({"faults": [{"op": "TvxOnlineActivateFlashUpdate", "statuses": [)" + c.statuses + "]}]}");
        auto r = s.Tf({"/debug", "/b", "0", "zult.bin"});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        const std::vector<std::string> t = s.Trace();
        EXPECT_EQ(std::count(t.begin(), t.end(), "activate"), c.calls);
        // No wait after the last call: its answer is final.
        EXPECT_EQ(upd::Count(r.out + r.err, "OSSSleep: 20000 ms"), size_t(c.calls - 1));
        for (const std::string &line : c.lines)
            EXPECT_TRUE(online::Contains(r.out + r.err, line)) << line;
        const online::ChipView v = s.Show();
        EXPECT_EQ(v.designated, 2);
        EXPECT_EQ(v.running, c.running);
    }
}

// Nothing is written, and no session opened, for an image the adapter
// must not take.
TEST_F(Online, RefusedImagesWriteNothing) {
    struct Case {
        const char *name;
        const char *preset;
        std::vector<std::string> fenwar, zult;
        std::function<void(json &)> edit;
        const char *line;
        int status; // -1: any failure
    } cases[] = {
        {"27xx wrong signature",
         "fc27xx",
         {"--corrupt", "wrong-signature"},
         {},
         {},
         "File signature or layout does not match with current adapter",
         Exit(450)},
        {"27xx entry past the end", "fc27xx", {"--corrupt", "entry-past-end"}, {}, {}, "", -1},
        {"27xx other chip revision",
         "fc27xx",
         {"--corrupt", "wrong-chip-rev"},
         {},
         {},
         "Selected flash image file does not match with current adapter",
         Exit(522)},
        {"27xx no card type",
         "fc27xx",
         {"--corrupt", "no-card-type"},
         {},
         {},
         "Selected flash image file does not match with current adapter (Instance=0 ssdid=0x501 ssvid=0x1d7a)!",
         Exit(520)},
        {"27xx boot code longer than its region",
         "fc27xx",
         {},
         {},
         [](json &h) { RegionOf(h, "0x09")["size"] = 0x1000; },
         "Incompatible flash image (Region size mismatched)!",
         Exit(-4)},
        {"28xx signature region damaged",
         "fc28xx",
         {},
         {"--corrupt", "bad-checksum"},
         {},
         "Selected flash image file does not match with current adapter",
         Exit(522)},
        {"28xx wrong signature", "fc28xx", {}, {"--corrupt", "wrong-signature"}, {}, "", Exit(450)},
        {"28xx entry past the end", "fc28xx", {}, {"--corrupt", "entry-past-end"}, {}, "", -1},
        {"28xx other chip revision", "fc28xx", {}, {"--corrupt", "wrong-chip-rev"}, {}, "", Exit(522)},
        {"28xx no card type",
         "fc28xx",
         {},
         {"--corrupt", "no-card-type"},
         {},
         "Selected flash image file does not match with current adapter (Instance=0 ssdid=0x601 ssvid=0x1d7a)!",
         Exit(520)},
        {"28xx board configuration longer than its region",
         "fc28xx",
         {},
         {},
         [](json &h) { RegionOf(h, "0x10B")["size"] = 0x100; },
         "Incompatible flash image (Region size mismatched)!",
         Exit(-4)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Scene s("online_refused");
        s.Preset(c.preset, c.edit);
        s.Images(c.fenwar, c.zult);
        const bool fenwar = std::string(c.preset) == "fc27xx";
        auto r = s.Tf({"/b", "0", fenwar ? "fenwar.bin" : "zult.bin"});
        EXPECT_NE(r.status, 0) << r.out;
        if (c.status != -1) {
            EXPECT_EQ(r.status, c.status) << r.out;
        }
        EXPECT_TRUE(s.Trace().empty()) << r.out;
        EXPECT_TRUE(online::Contains(r.out, "Validating Flash Image File... Failed")) << r.out;
        if (*c.line != '\0') {
            EXPECT_TRUE(online::Contains(r.out, c.line)) << r.out;
        }
    }
}

// A refused region write ends the update there: the session is closed,
// the records stay, nothing is activated.
TEST_F(Online, FailedRegionWriteKeepsTheRunningSet) {
    Scene s("online_writefail");
    s.Preset("fc27xx");
    s.Images();
    s.Faults(R"({"faults": [{"op": "write", "region": "0x09", "statuses": ["0x20000007"]}]})");
    auto r = s.Tf({"/b", "0", "fenwar.bin"});
    EXPECT_EQ(r.status, Exit(458)) << r.out;
    EXPECT_EQ(s.Trace(), (std::vector<std::string>{"session_start", "write:0x9F", "write:0x09", "session_end"}));
    EXPECT_TRUE(online::Contains(r.out, "Updating Adapter FC Boot Code... Failed")) << r.out;
    EXPECT_TRUE(online::Contains(r.out, "Flash update failed on this HBA (Instance 0) with error (0x20000007)"))
        << r.out;
    const online::ChipView v = s.Show();
    EXPECT_EQ(v.designated, 1);
    EXPECT_EQ(v.records.at("0x95"), std::make_pair(1, 3));
}

// Offline, with the secondary set running: the primary set is written
// first, then its record makes it active above the secondary's generation.
TEST_F(Online, FenwarOfflineWritesThePrimarySetBeforeItsRecords) {
    Scene s("online_offline");
    s.Preset("fc27xx", [](json &h) {
        h["version"] = "1.28.0.121";
        RegionOf(h, "0x95")["status"]["mask"] = 0;
        RegionOf(h, "0x96")["status"] = {{"mask", 1}, {"generation", 4}, {"signature", "0xFACEFADE"}};
    });
    s.Images();
    auto r = s.Tf({"/b", "0", "fenwar.bin"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(s.Trace(), (std::vector<std::string>{"write:0x9E", "write:0x07", "write:0xD3", "write:0xD1", "write:0x01",
                                                   "write:0x95", "write:0x96", "write:0xDF", "write:0x14", "write:0x16",
                                                   "write:0xD4", "write:0xD6"}));
    const online::ChipView v = s.Show();
    EXPECT_EQ(v.records.at("0x95"), std::make_pair(1, 4));
    EXPECT_EQ(v.records.at("0x96"), std::make_pair(0, 3));
    EXPECT_EQ(v.designated, 1);
    EXPECT_TRUE(online::Contains(r.out, "Option ROM update complete.")) << r.out;
}

} // namespace

namespace {

// Library failures at each step after the image passed: the session is
// ended, the records designate a whole set, nothing is activated.
TEST_F(Online, LibraryFailuresLeaveAWholeDesignatedSet) {
    struct Case {
        const char *name;
        const char *preset;
        const char *faults;
        int status;
        int designated;      // after the run
        bool session;        // a session was opened (and must be ended)
        const char *missing; // a call that must not happen ("" none)
    } cases[] = {
        {"27xx status region refused", "fc27xx", R"({"op": "write", "region": "0x96", "statuses": ["0x20000007"]})",
         Exit(514), 1, true, "activate"},
        {"27xx firmware attributes refused", "fc27xx",
         R"({"op": "TvxSendFlashUpdateFWAttributes", "statuses": ["0x20000001"]})", Exit(459), 1, true, "write:0x02"},
        {"27xx session end refused", "fc27xx", R"({"op": "TvxEndFlashUpdate", "statuses": ["0x20000001"]})", Exit(524),
         2, true, "activate"},
        {"27xx FC VPD 2 unreadable", "fc27xx", R"({"op": "read", "region": "0xD4", "then": "0x20000008"})", 0, 2, true,
         "write:0xD4"},
        {"28xx memo block refused", "fc28xx", R"({"op": "write", "region": "0x124", "statuses": ["0x20000007"]})",
         Exit(526), 1, true, "write:0x96"},
        {"28xx status region refused", "fc28xx", R"({"op": "write", "region": "0x96", "statuses": ["0x20000007"]})",
         Exit(203), 1, true, "activate"},
        {"28xx auxiliary status region refused", "fc28xx",
         R"({"op": "write", "region": "0x126", "statuses": ["0x20000007"]})", Exit(204), 2, true, "activate"},
        {"28xx capabilities unanswered", "fc28xx",
         R"({"op": "TvxGetFlashUpdateCapabilities", "statuses": ["0x20000004"]})", Exit(1203), 1, false, "write:0x9F"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Scene s("online_faults");
        s.Preset(c.preset);
        s.Images();
        s.Faults(std::string(R"({"faults": [)") + c.faults + "]}");
        const bool fenwar = std::string(c.preset) == "fc27xx";
        auto r = s.Tf({"/b", "0", fenwar ? "fenwar.bin" : "zult.bin"});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        const std::vector<std::string> t = s.Trace();
        EXPECT_EQ(std::count(t.begin(), t.end(), "session_start"), c.session ? 1 : 0);
        EXPECT_EQ(std::count(t.begin(), t.end(), "session_end"), c.session ? 1 : 0);
        EXPECT_EQ(std::count(t.begin(), t.end(), c.missing), 0) << c.missing;
        const online::ChipView v = s.Show();
        EXPECT_EQ(v.designated, c.designated);
        // The chip keeps running the set it ran unless it activated.
        if (c.status != 0) {
            EXPECT_EQ(v.running, 1);
        }
    }
}

} // namespace

namespace {

// A 28xx card running its secondary set gets its primary set written, the
// memo block of that set (0xDF), and the primary record first.
TEST_F(Online, ZultRunningTheSecondarySetGetsThePrimaryWritten) {
    Scene s("online_zult_sec");
    s.Preset("fc28xx", [](json &h) {
        RegionOf(h, "0x95")["status"]["mask"] = 0;
        RegionOf(h, "0x96")["status"] = {{"mask", 1}, {"generation", 6}, {"signature", "0xFACEFADF"}};
    });
    s.Images();
    ASSERT_EQ(s.Show().running, 2);
    auto r = s.Tf({"/b", "0", "zult.bin"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> w = s.WrittenRegions();
    w.erase(std::remove(w.begin(), w.end(), "0x10B"), w.end()); // the board configuration copy follows its own records
    ExpectOnlyWrittenSet(w, online::ZultSets(), 1);
    const auto memo = std::find(w.begin(), w.end(), "0xDF");
    ASSERT_NE(memo, w.end());
    EXPECT_EQ(std::vector<std::string>(memo, memo + 3), (std::vector<std::string>{"0xDF", "0x95", "0x96"}));
    EXPECT_TRUE(online::Contains(r.out, "Updating Adapter Primary Image Status... Success")) << r.out;
    const online::ChipView v = s.Show();
    EXPECT_EQ(v.running, 1);
    EXPECT_EQ(v.records.at("0x95"), std::make_pair(1, 7));
    EXPECT_EQ(v.memo.at("0xDF"), "2.05.00");
}

} // namespace
