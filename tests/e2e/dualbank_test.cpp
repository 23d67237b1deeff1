// Adapters with two flash sets and the Tesk FC card end to end: the
// multi-boot version /q reads from the flash memo block, and the /fdt
// descriptor table repair.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "update_hosts.h"

namespace {

using json = nlohmann::json;

// The host of a tarniksim preset.
json Preset(const std::string &name) {
    e2e::ScratchDir dir("dualbank_preset");
    auto r = e2e::Run(TF_SIMTOOL, {"init", dir.path().string(), name}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(e2e::ReadFile(dir.path() / "host.json"));
}

// One region entry of the first chip of a card.
json &RegionOf(json &card, const char *code) {
    for (json &r : card["chips"][0]["regions"])
        if (r["code"] == code) return r;
    ADD_FAILURE() << "no region " << code;
    static json none;
    return none;
}

// A host of the cards of several presets, in order.
std::string Cards(const std::vector<json> &cards) {
    json host = {{"cards", cards}};
    return host.dump(2);
}

// POSIX exit statuses keep the low 8 bits of the command's status.
constexpr int Exit(int status) { return status & 0xFF; }

class DualBank : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(TF_SIMTOOL).empty()) GTEST_SKIP() << "tarniksim is not built";
    }
};

TEST_F(DualBank, QueryShowsTheMemoBlockVersion) {
    json fenwar = Preset("fc27xx")["cards"][0];
    json zult = Preset("fc28xx")["cards"][0];
    json zultSecondary = zult;
    // Secondary set active: its memo block (region 0x124) holds 2.0.9.
    RegionOf(zultSecondary, "0x95")["status"]["mask"] = 0;
    RegionOf(zultSecondary, "0x96")["status"] = {{"mask", 1}, {"generation", 6}, {"signature", "0xFACEFADF"}};
    struct Case {
        const char *name;
        json card;
        const char *line;
    } cases[] = {
        {"27xx", fenwar, "Flash Image (MBI) Version      : 01.03.02"},
        {"28xx", zult, "Flash Image (MBI) Version      : 02.01.04"},
        {"28xx on its secondary set", zultSecondary, "Flash Image (MBI) Version      : 02.00.09"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        upd::Scene s("dualbank_q");
        s.Files(Cards({c.card}), "", "");
        auto r = s.Tf({"/q"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(upd::Count(r.out, c.line), 2u) << r.out;
        EXPECT_TRUE(s.Writes().empty());
    }
}

// The default run compares the control file's multi-boot version with the
// memo block's: the same version needs no update, a newer one does.
TEST_F(DualBank, DefaultRunComparesTheMemoBlockVersion) {
    struct Case {
        const char *preset;
        const char *table;
        const char *control; // without the multi-boot version
        const char *mbi;
        bool needed;
    } cases[] = {
        {"fc27xx", "0x0501,0x1D7A,CXR2772,Dual port 32Gb FC,TRUE\n",
         "0x0501,0x1D7A,CXR2772,7.10,7.40,6.05,9.06.01,mbi27.bin,", "1.03.02", false},
        {"fc27xx", "0x0501,0x1D7A,CXR2772,Dual port 32Gb FC,TRUE\n",
         "0x0501,0x1D7A,CXR2772,7.10,7.40,6.05,9.06.01,mbi27.bin,", "1.03.03", true},
        {"fc28xx", "0x0601,0x1D7A,CXR2882,Dual port 64Gb FC,TRUE\n",
         "0x0601,0x1D7A,CXR2882,8.02,8.20,7.10,10.02.04,mbi28.bin,", "2.01.04", false},
        {"fc28xx", "0x0601,0x1D7A,CXR2882,Dual port 64Gb FC,TRUE\n",
         "0x0601,0x1D7A,CXR2882,8.02,8.20,7.10,10.02.04,mbi28.bin,", "2.02.00", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.preset) + " " + c.mbi);
        upd::Scene s("dualbank_run");
        s.Files(Cards({Preset(c.preset)["cards"][0]}), c.table, std::string(c.control) + c.mbi + "\n");
        e2e::WriteFile(s.path() / (std::string(c.preset) == "fc27xx" ? "mbi27.bin" : "mbi28.bin"), "");
        auto r = s.Tf({});
        // When the card needs the update, only its second port (whose chip
        // is written through the first) says it needs none.
        EXPECT_EQ(upd::Count(r.out, "does not need to be upgraded"), c.needed ? 1u : 2u) << r.out;
        if (!c.needed) {
            EXPECT_EQ(r.status, 1) << r.out << r.err;
            EXPECT_NE(r.out.find("Info: No updates required."), std::string::npos);
        }
    }
}

TEST_F(DualBank, DescriptorTableRepairedOnce) {
    upd::Scene s("dualbank_fdt");
    s.Files(Cards({Preset("fc-tesk-fc")["cards"][0]}), "", "");
    auto r = s.Tf({"/fdt", "0"});
    EXPECT_EQ(r.status, 201) << r.out << r.err;
    EXPECT_EQ(upd::Lines(r.out), "HBA 0 (CXR8362):  Updating FDT erase code and patching checksum...Success.\n");
    // One write for the card, none for its second port.
    EXPECT_EQ(s.WriteList(), std::vector<std::string>{"0:0x1A"});
    auto show = e2e::Run(TF_SIMTOOL, {"show", s.path().string()}, s.path());
    EXPECT_NE(show.out.find("erase code D8 20, checksum ok"), std::string::npos) << show.out;

    auto again = s.Tf({"/fdt", "0"});
    EXPECT_EQ(again.status, Exit(430)) << again.out << again.err;
    EXPECT_EQ(upd::Lines(again.out), "HBA 0 (CXR8362): FDT Erase code OK\n");
    EXPECT_TRUE(s.Writes().empty());
}

TEST_F(DualBank, DescriptorTableRepairChoosesItsCards) {
    json tesk = Preset("fc-tesk-fc")["cards"][0];
    json otherPart = tesk;
    RegionOf(otherPart, "0x1A")["fdt"]["flash_id"] = "C2 20 18 00";
    json fenwar = Preset("fc27xx")["cards"][0];
    json zult = Preset("fc28xx")["cards"][0];
    struct Case {
        const char *name;
        std::vector<json> cards;
        int status;
        std::vector<std::string> writes;
        const char *out;
    } cases[] = {
        {"Tesk FC card among others",
         {fenwar, tesk, zult},
         201,
         {"2:0x1A"},
         "HBA 2 (CXR8362):  Updating FDT erase code and patching checksum...Success.\n"},
        {"another flash part", {otherPart}, 0, {}, ""},
        {"no Tesk FC card", {fenwar, zult}, 8, {}, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        upd::Scene s("dualbank_fdt_cards");
        s.Files(Cards(c.cards), "", "");
        auto r = s.Tf({"/fdt", "0"});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(s.WriteList(), c.writes);
        EXPECT_EQ(upd::Lines(r.out), c.out);
    }
}

// A reset request (0x20000100) still counts as a repair; a write the
// library refuses is reported and ends with 34.
TEST_F(DualBank, DescriptorTableWriteAnswers) {
    struct Case {
        const char *name;
        const char *resetMode;
        const char *faults;
        int status;
        const char *out;
    } cases[] = {
        {"reset disabled", "always", "{}", 201,
         "HBA 0 (CXR8362):  Updating FDT erase code and patching checksum...Success (Reboot required).\n"},
        {"write refused", "on_request", R"({"faults": [{"op": "write", "statuses": ["0x20000007"]}]})", 34,
         "HBA 0 (CXR8362):  Updating FDT erase code and patching checksum...\n"
         "HBA 0 (CXR8362): Unable to update flash descriptor table!\n"
         "Unable to modify flash descriptor table of HBA instance 0 - CXR8362!\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        json tesk = Preset("fc-tesk-fc")["cards"][0];
        tesk["chips"][0]["reset_disabled"] = c.resetMode;
        upd::Scene s("dualbank_fdt_answers");
        s.Files(Cards({tesk}), "", "");
        s.Faults(c.faults);
        auto r = s.Tf({"/fdt", "0"});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(upd::Lines(r.out), c.out);
    }
}

} // namespace
