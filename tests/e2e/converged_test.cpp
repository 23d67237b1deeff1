// Converged adapters end to end: the first-generation, Lark and Tesk
// presets updated by the default run and by /b, region order, wrappers and
// waits from the journal and the debug lines, VPD keywords read back from
// the simulated flash, restore of a damaged twin VPD, the BIOS default area
// carried over, count rules, and images refused before any write.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../tools/imagekit/families.h"
#include "update_hosts.h"

namespace {

namespace fs = std::filesystem;
namespace ik = imagekit;
using json = nlohmann::json;

const char kTable[] = "0x0801,0x1D7A,CXR8001,Dual port 10Gb FCoE CNA,TRUE\n"
                      "0x0821,0x1D7A,CXR8021,Dual port 10Gb CNA,TRUE\n"
                      "0x0831,0x1D7A,CXR8031,Dual port 10Gb CNA,TRUE\n";

struct Family {
    const char *preset;
    ik::Family kit;
    uint16_t ssdid;
    const char *model;
    const char *card;
};

const Family kFirstGen{"cna8001", ik::Family::FirstGen, 0x0801, "CXR8152", "cna81"};
const Family kLark{"cna-lark", ik::Family::Lark, 0x0821, "CXR8242", "lark58"};
const Family kTesk{"cna-tesk", ik::Family::Tesk, 0x0831, "CXR8342", "cna83"};

// The preset's host description, as tarniksim writes it.
json PresetHost(const std::string &preset) {
    e2e::ScratchDir d("cnapreset");
    auto r = e2e::Run(TF_SIMTOOL, {"init", d.path().string(), preset}, d.path());
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(e2e::ReadFile(d.path() / "host.json"));
}

json &RegionOf(json &host, const std::string &card, unsigned code) {
    char c[8];
    std::snprintf(c, sizeof c, "0x%02X", code);
    for (json &k : host["cards"])
        if (k["name"] == card)
            for (json &r : k["chips"][0]["regions"])
                if (r["code"] == c) return r;
    ADD_FAILURE() << card << " has no region " << c;
    static json none;
    return none;
}

ik::FamilySpec Spec(const Family &f) {
    ik::FamilySpec s;
    s.family = f.kit;
    s.ssvid = 0x1D7A;
    s.ssdid = f.ssdid;
    s.image = {2, 1, 0};
    return s;
}

// Puts a BIOS default area into the first (BIOS) image of a boot region:
// "SVID" at 28, "MECXR " at 0x100 and zeros where the adapter's settings go.
void AddDefaultArea(ik::IltSpec &spec, uint16_t code) {
    for (ik::IltRegion &r : spec.regions) {
        if (r.code != code) continue;
        ik::Bytes &b = r.data;
        const size_t len = static_cast<size_t>(b.at(2)) * 512;
        const std::string svid = "SVID", marker = "MECXR ";
        std::copy(svid.begin(), svid.end(), b.begin() + 28);
        b.at(32) = b.at(33) = 0;
        std::copy(marker.begin(), marker.end(), b.begin() + 0x100);
        for (size_t i = 0x106; i < 0x302; ++i)
            b.at(i) = 0;
        uint8_t sum = 0;
        for (size_t i = 0; i + 1 < len; ++i)
            sum = static_cast<uint8_t>(sum + b[i]);
        b.at(len - 1) = static_cast<uint8_t>(0u - sum);
        return;
    }
    ADD_FAILURE() << "image has no region " << code;
}

void SaveImage(const fs::path &path, const ik::Bytes &bytes) {
    e2e::WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

// Value of a VPD keyword (walks tags and keywords of the dumped region).
std::string VpdField(const std::string &vpd, const std::string &kw) {
    size_t p = 0;
    while (p + 3 <= vpd.size()) {
        const uint8_t tag = static_cast<uint8_t>(vpd[p]);
        if (tag == 0x78) break;
        if (tag == 0x82 || tag == 0x90 || tag == 0x91) {
            const size_t len = static_cast<uint8_t>(vpd[p + 1]) | (static_cast<uint8_t>(vpd[p + 2]) << 8);
            p += tag == 0x82 ? 3 + len : 3;
            continue;
        }
        const size_t len = static_cast<uint8_t>(vpd[p + 2]);
        if (vpd.compare(p, 2, kw) == 0) return vpd.substr(p + 3, std::min(len, vpd.size() - p - 3));
        p += 3 + len;
    }
    return "<none>";
}

class Converged {
  public:
    explicit Converged(const Family &f) : f_(f), s_("cna"), host_(PresetHost(f.preset)) {}
    json &Host() { return host_; }
    upd::Scene &Scene() { return s_; }
    // Writes the host, the tables and the control entry naming image.bin.
    void Files(const std::string &imageVersion = "2.01.00") {
        char line[160];
        std::snprintf(line, sizeof line, "0x%04X,0x1D7A,%s,3.40,6.20,4.10,8.07.03,image.bin,%s\n", f_.ssdid, f_.model,
                      imageVersion.c_str());
        s_.Files(host_.dump(2), kTable, line);
    }
    void Image(const ik::Bytes &b) { SaveImage(s_.path() / "image.bin", b); }
    void Image(const ik::IltSpec &spec) { Image(ik::BuildIltImage(spec)); }
    std::string Dump(const std::string &card, unsigned region) {
        char r[16];
        std::snprintf(r, sizeof r, "0x%X", region);
        fs::path out = s_.path() / "dump.bin";
        auto res = e2e::Run(TF_SIMTOOL, {"dump", s_.path().string(), card + "/0", r, out.string()}, s_.path());
        EXPECT_EQ(res.status, 0) << res.err;
        return e2e::ReadFile(out);
    }
    // Regions written on one card, in order.
    std::vector<std::string> Regions(const std::string &card) const {
        std::vector<std::string> out;
        for (const auto &w : s_.Writes())
            if (w.card == card) out.push_back(w.region);
        return out;
    }

  private:
    const Family &f_;
    upd::Scene s_;
    json host_;
};

using Seq = std::vector<std::string>;

// The console as it reads without /debug: Debug lines may cut a progress
// line in two ("Updating ... " then the driver's Debug lines, then
// "Success").
std::string WithoutDebug(const std::string &out) {
    std::string r;
    size_t p = 0;
    while (p < out.size()) {
        size_t d = out.find("Debug: ", p);
        if (d == std::string::npos) {
            r += out.substr(p);
            break;
        }
        r += out.substr(p, d - p);
        size_t e = out.find('\n', d);
        p = e == std::string::npos ? out.size() : e + 1;
    }
    return r;
}

// Every region of the family, in the family's order, through the right
// write wrapper; the waits of the family; the VPD keywords rewritten; a
// second run finds nothing to do.
TEST(Converged, DefaultRunWritesEveryRegionInOrder) {
    struct Row {
        const Family *f;
        std::vector<std::pair<std::string, Seq>> writes; // card: regions
        std::vector<std::string> lines;
        std::vector<std::string> waits;
        std::vector<std::pair<unsigned, std::vector<std::pair<std::string, std::string>>>> vpd; // first card
    };
    const std::vector<Row> rows = {
        {&kFirstGen,
         {{"cna81", {"0x2E", "0x41", "0x45", "0x40", "0x07", "0x01", "0x14", "0x16", "0x2C", "0x2D"}}},
         {"Updating Adapter NIC MPI Config Parameters... Success", "Updating Adapter NIC EDC FW... Success",
          "Updating Adapter FCoE Boot Code... Success", "Updating Adapter FCoE VPD... Success",
          "Updating Adapter NIC VPD... Success", "Updating Flash on HBA port(s) -  CXR8152. Please wait..."},
         {"OSSSleep: 11000 ms", "OSSSleep: 2000 ms", "OSSSleep: 1000 ms"},
         {{0x14, {{"RM", "020100"}, {"V3", "09.01.02"}, {"SN", "SIM8152H0041"}}}, {0x2C, {{"RM", "020100"}}}}},
        {&kLark,
         {{"lark58", {"0x07", "0x4F", "0x2E", "0x70", "0x72", "0x73", "0x97", "0x81"}},
          {"lark54", {"0x07", "0x4F", "0x2E", "0x70", "0x72", "0x73", "0x74", "0x81"}}},
         {"Updating Adapter BootLoader... Success", "Updating Adapter PEGTune ... Success",
          "Updating Adapter CRBInit... Success", "Updating Adapter VPD... Success",
          "Updating Flash on HBA instance 2 -  CXR8241. Please wait..."},
         {"OSSSleep: 5000 ms", "EthernetUpdateLarkOptionRom: Updating Region=2e",
          "FCUpdateLarkOptionRom: Updating Region=97", "FCUpdateLarkOptionRom: Updating Region=74",
          "Region 0x97 successfully updated (7 of 7)"},
         {{0x81, {{"RM", "020100"}, {"VV", "FFV02.01.00"}}}}},
        {&kTesk,
         {{"cna83", {"0x2E", "0xA2", "0x4F", "0x70", "0x72", "0x73", "0xA4", "0x97", "0xDF", "0x81", "0x14", "0x16"}}},
         {"Updating Adapter FCoE Boot Code... Success", "Updating Adapter NIC/CNA FW... Success",
          "Updating Adapter FCoE FW... Success", "Updating Adapter Flash Memo Block... Success",
          "Updating Adapter NIC/CNA VPD... Success", "Updating Adapter FC VPD... Success"},
         {"OSSSleep: 5000 ms", "OSSSleep: 10000 ms", "Region 0x97 successfully updated (8 of 10)"},
         {{0x81, {{"RM", "020100"}, {"VV", "FFV02.01.00"}}}, {0x16, {{"VV", "FFV02.01.00"}}}}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.f->preset);
        Converged c(*row.f);
        c.Files();
        c.Image(ik::BuildFamilyImage(Spec(*row.f)));
        auto r = c.Scene().Tf({"/debug"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        for (const auto &[card, seq] : row.writes)
            EXPECT_EQ(c.Regions(card), seq) << card;
        for (const auto &w : c.Scene().Writes())
            EXPECT_EQ(w.instance, w.card == "lark54" ? 2 : 0) << "written through the chip's first port";
        const std::string console = WithoutDebug(r.out);
        for (const auto &l : row.lines)
            EXPECT_NE(console.find(l), std::string::npos) << l << "\n" << console;
        for (const auto &l : row.waits)
            EXPECT_NE(r.out.find(l), std::string::npos) << l;
        EXPECT_NE(r.out.find("Updates completed successfully"), std::string::npos);
        for (const auto &[region, fields] : row.vpd) {
            const std::string vpd = c.Dump(row.writes.front().first, region);
            for (const auto &[kw, value] : fields)
                EXPECT_EQ(VpdField(vpd, kw), value) << kw << " of region " << region;
        }
        auto again = c.Scene().Tf({});
        EXPECT_EQ(again.status, 1) << again.out;
        EXPECT_NE(again.out.find("No updates required."), std::string::npos);
        EXPECT_TRUE(c.Scene().Writes().empty());
    }
}

// /b writes the same sequence through the chip's first port; a driver of
// an older version gives no disable-reset option, and the library answers
// plainly: the summary says so.
TEST(Converged, TargetedUpdateAndResetOption) {
    struct Row {
        const Family *f;
        std::string driver;
        std::string target;
        std::string summary;
        int options;
    };
    const std::vector<Row> rows = {
        {&kTesk, "9.4.2.10", "1",
         "Flash update complete. Changes have been saved to all ports of this HBA.\nYou must reboot", 1},
        {&kTesk, "9.1.8.10", "0",
         "Option ROM update complete. Changes have been saved to both ports of this HBA.\nYou must reboot in order "
         "for changes to take effect.",
         0},
        {&kLark, "9.1.8.10", "2", "Flash update complete. Changes have been saved to all ports of this HBA.", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.f->preset + std::string(" ") + row.driver);
        Converged c(*row.f);
        for (json &card : c.Host()["cards"])
            for (json &p : card["chips"][0]["ports"])
                p["driver"]["version"] = row.driver;
        c.Files();
        c.Image(ik::BuildFamilyImage(Spec(*row.f)));
        auto r = c.Scene().Tf({"/b", row.target, "image.bin", "--ports"});
        EXPECT_EQ(r.status, row.options == 1 ? 201 : 0) << r.out << r.err;
        auto writes = c.Scene().Writes();
        ASSERT_FALSE(writes.empty());
        for (const auto &w : writes)
            if (w.region != "0xDF") { // the memo block is written without the option
                EXPECT_EQ(w.status, row.options == 1 ? "0x20000100" : "0x00000000") << w.region;
            }
        // Line by line, in order (the console may end lines with CR LF).
        size_t at = 0;
        std::stringstream lines(row.summary);
        for (std::string line; std::getline(lines, line);) {
            at = r.out.find(line, at);
            ASSERT_NE(at, std::string::npos) << line << "\n" << r.out;
        }
        if (row.summary.find("reboot") == std::string::npos) {
            EXPECT_EQ(r.out.find("You must reboot"), std::string::npos) << r.out;
        }
    }
}

// A damaged FC VPD is restored from its twin's freshly written image; a
// blank VPD 1 means a single-port card and is left alone.
TEST(Converged, FcVpdRestoredFromTwin) {
    const std::string damaged = std::string("\x82\x05\x00"
                                            "BROKEN",
                                            8) +
                                std::string(40, '\x11');
    struct Row {
        const char *name;
        unsigned broken;
        std::string contents;
        int ports;
        Seq vpdWrites;
        bool twinsEqual;
    };
    const std::vector<Row> rows = {
        {"VPD 1 damaged", 0x16, damaged, 2, {"0x14", "0x16", "0x2C", "0x2D"}, true},
        {"VPD 0 damaged", 0x14, damaged, 2, {"0x16", "0x14", "0x2C", "0x2D"}, true},
        {"VPD 1 blank, single port", 0x16, std::string(1, '\xFF'), 1, {"0x14", "0x2C", "0x2D"}, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Converged c(kFirstGen);
        e2e::WriteFile(c.Scene().path() / "vpd.bin", row.contents);
        json &region = RegionOf(c.Host(), "cna81", row.broken);
        region.erase("vpd");
        region["file"] = "vpd.bin";
        json &chip = c.Host()["cards"][0]["chips"][0];
        chip["ports"] = json::array({chip["ports"][0]});
        if (row.ports == 2) chip["ports"].push_back(chip["ports"][0]);
        c.Files();
        c.Image(ik::BuildFamilyImage(Spec(kFirstGen)));
        auto r = c.Scene().Tf({"/b", "0", "image.bin"});
        EXPECT_EQ(r.status, 201) << r.out;
        Seq regions = c.Regions("cna81");
        ASSERT_GE(regions.size(), 6u);
        EXPECT_EQ(Seq(regions.begin() + 6, regions.end()), row.vpdWrites);
        const std::string v0 = c.Dump("cna81", 0x14);
        const std::string v1 = c.Dump("cna81", 0x16);
        EXPECT_EQ(VpdField(v0, "RM"), "020100");
        if (row.twinsEqual) {
            EXPECT_EQ(v0, v1);
        } else {
            EXPECT_EQ(v1, std::string(0x200, '\xFF'));
        }
        EXPECT_EQ(r.out.find("errors in version updates"), std::string::npos) << r.out;
    }
}

// The adapter's BIOS settings (the "SVID" bytes and the block after
// "MECXR ") survive the boot code update; without "MECXR " on the adapter
// only the "SVID" bytes are carried. The BIOS image still sums to zero.
TEST(Converged, BiosDefaultAreaCarriedOver) {
    for (bool settings : {true, false}) {
        SCOPED_TRACE(settings ? "with settings" : "without MECXR");
        Converged c(kTesk);
        RegionOf(c.Host(), "cna83", 0xA2)["boot"]["defaults"]["settings"] = settings;
        c.Files();
        ik::FamilySpec spec = Spec(kTesk);
        ik::IltSpec ilt = ik::FamilyIltSpec(spec);
        AddDefaultArea(ilt, 0xA2);
        c.Image(ilt);
        auto r = c.Scene().Tf({});
        EXPECT_EQ(r.status, 0) << r.out;
        const std::string boot = c.Dump("cna83", 0xA2);
        ASSERT_GT(boot.size(), 0x400u);
        EXPECT_EQ(boot.substr(28, 4), "SVID");
        EXPECT_EQ(static_cast<uint8_t>(boot[32]), 0x1D);
        EXPECT_EQ(static_cast<uint8_t>(boot[33]), 0x7A);
        EXPECT_EQ(boot.substr(0x100, 6), "MECXR ");
        for (size_t i = 0; i < 508; ++i) {
            const uint8_t want = settings ? static_cast<uint8_t>(0xC0 ^ (i * 7)) : 0;
            if (static_cast<uint8_t>(boot[0x106 + i]) != want) {
                ADD_FAILURE() << "settings byte " << i;
                break;
            }
        }
        const size_t len = static_cast<size_t>(static_cast<uint8_t>(boot[2])) * 512;
        uint8_t sum = 0;
        for (size_t i = 0; i < len; ++i)
            sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(boot[i]));
        EXPECT_EQ(sum, 0);
    }
}

// Count rules: a Lark image without PEG tune writes six regions and fails
// the count; a Tesk image of nine regions completes; a request that names
// one region (an image of exactly 128 KiB) writes nothing and fails.
TEST(Converged, CountRules) {
    struct Row {
        const char *name;
        const Family *f;
        std::function<ik::Bytes()> image;
        int status;
        size_t writes;
        std::string line;
    };
    const std::vector<Row> rows = {
        {"Lark without PEG tune", &kLark,
         [] {
             ik::IltSpec s = ik::FamilyIltSpec(Spec(kLark));
             std::erase_if(s.regions, [](const ik::IltRegion &r) { return r.code == 0x73; });
             return ik::BuildIltImage(s);
         },
         2, 12, "Not all regions updated (6 of 7)."},
        {"Tesk of nine regions", &kTesk,
         [] {
             ik::IltSpec s = ik::FamilyIltSpec(Spec(kTesk));
             s.regions.insert(
                 s.regions.begin(),
                 ik::FamilyRegion(0x07, ik::BuildBootCodeRegion(ik::FunctionBootSpecs(0x2031)), {3, 40, 0}));
             return ik::BuildIltImage(s);
         },
         0, 13, "Region 0x97 successfully updated (9 of 10)"},
        {"one-region request", &kTesk,
         [] {
             ik::Bytes b = ik::BuildFamilyImage(Spec(kTesk));
             b.resize(0x20000, 0xFF);
             return b;
         },
         2, 0, "Not all regions updated (0 of 10)."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Converged c(*row.f);
        c.Files();
        c.Image(row.image());
        auto r = c.Scene().Tf({"/debug"});
        EXPECT_EQ(r.status, row.status) << r.out;
        EXPECT_EQ(c.Scene().Writes().size(), row.writes);
        EXPECT_TRUE(WithoutDebug(r.out).find(row.line) != std::string::npos ||
                    r.out.find(row.line) != std::string::npos)
            << r.out;
    }
}

// Images the adapter must not take are refused before the first write,
// each with its message; a failing region write stops the adapter there.
TEST(Converged, RefusedImagesWriteNothing) {
    struct Row {
        const char *name;
        const Family *f;
        std::function<void(ik::FamilySpec &)> fault;
        std::function<void(ik::IltSpec &)> edit;
        std::string message;
    };
    const std::string notMine = "Selected flash image file does not match with current adapter";
    const std::vector<Row> rows = {
        {"no card type", &kTesk, [](ik::FamilySpec &s) { s.faults.noCardType = true; }, nullptr, notMine},
        {"other board", &kFirstGen, [](ik::FamilySpec &s) { s.ssdid = 0x0999; }, nullptr, notMine},
        {"wrong chip revision", &kLark, [](ik::FamilySpec &s) { s.faults.wrongChipRev = true; }, nullptr,
         "Incorrect flash image (Adapter chip revision does not match with image chip revision)!"},
        {"component checksum", &kTesk, [](ik::FamilySpec &s) { s.faults.badChecksum = true; }, nullptr, notMine},
        {"entry past the end", &kLark, [](ik::FamilySpec &s) { s.faults.entryPastEnd = true; }, nullptr, notMine},
        {"signature", &kFirstGen, [](ik::FamilySpec &s) { s.faults.wrongSignature = true; }, nullptr,
         "File signature or layout does not match with current adapter"},
        {"table version", &kTesk, [](ik::FamilySpec &s) { s.tableVersion = 5; }, nullptr,
         "Incompatible flash image (Unknown flash layout table version)!"},
        {"NIC boot code without its locator", &kFirstGen, nullptr,
         [](ik::IltSpec &s) {
             for (auto &r : s.regions)
                 if (r.code == 0x2E) r.data = ik::BuildBootCodeRegion(ik::NicBootSpecs(0x8000), false);
         },
         notMine},
        {"firmware longer than its region", &kTesk, nullptr,
         [](ik::IltSpec &s) {
             for (auto &r : s.regions)
                 if (r.code == 0x97) r.data.resize(0x80001, 0);
         },
         "Incompatible flash image (Region size mismatched)!"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Converged c(*row.f);
        c.Files();
        ik::FamilySpec spec = Spec(*row.f);
        if (row.fault) row.fault(spec);
        ik::IltSpec ilt = ik::FamilyIltSpec(spec);
        if (row.edit) row.edit(ilt);
        c.Image(ilt);
        auto r = c.Scene().Tf({});
        EXPECT_EQ(r.status, 2) << r.out;
        EXPECT_TRUE(c.Scene().Writes().empty()) << c.Scene().Writes().front().region;
        EXPECT_NE(r.out.find("Validating Flash Image File... Failed"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(row.message), std::string::npos) << r.out;
    }
}

// A region write that fails ends the adapter at that region: earlier
// regions stay written, nothing after it is written, the run reports the
// failure.
TEST(Converged, WriteFailureStopsAtTheRegion) {
    struct Row {
        const Family *f;
        const char *region;
        Seq written;
        std::string line;
    };
    const std::vector<Row> rows = {
        {&kLark, "0x72", {"0x07", "0x4F", "0x2E", "0x70", "0x72"}, "Not all regions updated (4 of 7)."},
        {&kFirstGen, "0x40", {"0x2E", "0x41", "0x45", "0x40"}, "Updating Adapter NIC MPI FW... Failed"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.region);
        Converged c(*row.f);
        c.Files();
        c.Scene().Faults(std::string(R"({"faults": [{"op": "write", "region": ")") + row.region +
                         R"(", "statuses": ["0x20000001"]}]})");
        c.Image(ik::BuildFamilyImage(Spec(*row.f)));
        auto r = c.Scene().Tf({"/b", "0", "image.bin"});
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(c.Regions(row.f->card), row.written);
        EXPECT_NE(r.out.find("Flash update failed on this HBA (Instance 0) with error (0x20000001)"), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find(row.line), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Flash update complete"), std::string::npos) << r.out;
    }
}

// A four-port card has a second chip. The first generation goes on to the
// second chip after the first failed (and the run ends with the second
// chip's status); Lark stops at the failed chip.
TEST(Converged, SecondChip) {
    struct Row {
        const Family *f;
        const char *card;
        bool secondWritten;
        int port4Status; // /b on port 4 without --ports: its chip is updated through port 3
        const char *port4Line;
    };
    const Row rows[] = {
        {&kFirstGen, "cna81", true, 4, "Info: Flash update is unsupported with current OS!"},
        {&kLark, "lark58", false, 3, "Info: Flash update is unsupported with current OS!"},
        {&kTesk, "cna83", false, 4, "Info: HBA instance 3 - CXR8342 does not need to be upgraded."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.card);
        Converged c(*row.f);
        json &cards = c.Host()["cards"];
        for (size_t i = 0; i < cards.size(); ++i)
            if (cards[i]["name"] != row.card) cards.erase(i--);
        json &chips = cards[0]["chips"];
        chips[0]["ports"] = json::array({chips[0]["ports"][0], chips[0]["ports"][0]});
        chips.push_back(chips[0]);
        // Ports 1-4 of the card, two per chip.
        for (int chip = 0; chip < 2; ++chip)
            for (int port = 0; port < 2; ++port)
                chips[chip]["ports"][port]["pci"]["api_port"] = chip * 2 + port + 1;
        c.Files();
        c.Scene().Faults(R"({"faults": [{"op": "write", "instance": 0, "statuses": ["0x20000001"]}]})");
        c.Image(ik::BuildFamilyImage(Spec(*row.f)));
        auto r = c.Scene().Tf({"/b", "0", "image.bin"});
        std::vector<int> chipsWritten;
        for (const auto &w : c.Scene().Writes())
            if (w.status != "0x20000001") chipsWritten.push_back(w.chip);
        if (row.secondWritten) {
            EXPECT_EQ(r.status, 201) << r.out;
            EXPECT_FALSE(chipsWritten.empty());
            EXPECT_TRUE(std::all_of(chipsWritten.begin(), chipsWritten.end(), [](int chip) { return chip == 1; }));
        } else {
            EXPECT_NE(r.status, 0);
            EXPECT_TRUE(chipsWritten.empty()) << r.out;
        }
        // Without the fault both chips are written.
        c.Scene().Faults(R"({"faults": []})");
        r = c.Scene().Tf({"/b", "0", "image.bin"});
        EXPECT_EQ(r.status, 201) << r.out;
        bool chip0 = false, chip1 = false;
        for (const auto &w : c.Scene().Writes())
            (w.chip == 0 ? chip0 : chip1) = true;
        EXPECT_TRUE(chip0 && chip1);

        auto port4 = c.Scene().Tf({"/b", "3", "image.bin"});
        EXPECT_EQ(port4.status, row.port4Status) << port4.out;
        EXPECT_NE(port4.out.find(row.port4Line), std::string::npos) << port4.out;
        EXPECT_TRUE(c.Scene().Writes().empty());
    }
}

// Power lost in the middle of a converged update: the regions written so
// far stay, the VPD still names the old image, so the next run finds the
// adapter down-level and writes the whole sequence again.
TEST(Converged, PowerCutThenRecovery) {
    struct Row {
        const Family *f;
        int cutAfter;
        size_t writesAfterRecovery;
    };
    const Row rows[] = {{&kTesk, 3, 12}, {&kFirstGen, 6, 10}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.f->preset);
        Converged c(*row.f);
        c.Host()["power_cut_after_writes"] = row.cutAfter;
        c.Files();
        c.Image(ik::BuildFamilyImage(Spec(*row.f)));
        auto cut = c.Scene().Tf({});
        EXPECT_EQ(cut.status, 99);
        EXPECT_EQ(c.Scene().Writes().size(), static_cast<size_t>(row.cutAfter));
        EXPECT_EQ(VpdField(c.Dump(row.f->card, row.f == &kTesk ? 0x81 : 0x14), "RM"), "010000");

        c.Host().erase("power_cut_after_writes");
        c.Files();
        auto again = c.Scene().Tf({});
        EXPECT_EQ(again.status, 0) << again.out;
        EXPECT_EQ(c.Scene().Writes().size(), row.writesAfterRecovery);
        EXPECT_EQ(VpdField(c.Dump(row.f->card, row.f == &kTesk ? 0x81 : 0x14), "RM"), "020100");
    }
}

} // namespace
