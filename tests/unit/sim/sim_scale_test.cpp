// The simulated library's shortcuts for large hosts give the answers the
// plain walks gave: flash contents made per read window, targets and LUNs
// found through indexes, journal digests taken over from earlier writes of
// the same bytes, state files only for what was written, handles numbered on
// after every close, and a host file read card by card.
#include "../../../sim/torvex_sim.h"
#include "sim_host_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

uint64_t Fnv(const std::vector<uint8_t> &d) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : d) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    return h;
}

std::vector<std::string> Lines(const fs::path &p) {
    std::ifstream in(p);
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

class SimScaleTest : public SimHostFixture {
  protected:
    SimScaleTest() : SimHostFixture("simscale") {}
    std::string LoadError() {
        char msg[512] = "";
        TvxSimGetLoadError(msg, sizeof msg);
        return msg;
    }
};

// Every kind of generated contents, with pieces near the window edges the
// test reads across: memo blocks and status records at 0, a descriptor
// table at 0x3F80, a multi-boot block at 0x3FFC0, a file under a status
// record, a VPD and a filled gap before the last region.
const char *kGeneratedHost = R"({"journal": "off", "cards": [{"name": "g", "chips": [{"regions": [
    {"code": 7, "size": "0x4000", "boot": {"bios": "3.20", "fcode": "4.00", "efi": "6.01",
                                          "defaults": {"svid": "12 34"}}},
    {"code": "0x14", "size": "0x200", "vpd": {}},
    {"code": 1, "size": "0x40000", "firmware": {"version": "8.1.0", "mbi": "3.0.1"}},
    {"code": "0xDF", "size": "0x4000", "fill": "0x5A", "memo": {"mbi": "1.2.3", "ffv": "1.2.3.4"},
     "fdt": {"offset": "0x3F80"}},
    {"code": "0x95", "size": "0x100", "file": "status.bin", "status": {"generation": 3}},
    {"code": "0x96", "size": "0x100", "offset": "0x50000", "fill": 0, "status": {"mask": 1, "generation": 7}},
    {"code": "0xFF"}], "ports": [{}]}]}]})";

TEST_F(SimScaleTest, WindowedReadsOfGeneratedRegionsMatchWholeReads) {
    std::vector<uint8_t> file(0x80);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = uint8_t(i * 13 + 1);
    std::ofstream(dir_ / "status.bin", std::ios::binary).write(reinterpret_cast<const char *>(file.data()), 0x80);
    Host(kGeneratedHost);
    uint32_t h = Open(0);
    std::vector<uint8_t> whole(0x50100);
    ASSERT_EQ(TvxGetOptionRomOffset(h, 0, whole.data(), uint32_t(whole.size()), 0), TVX_STATUS_OK);
    // every region's contents at its offset, read whole
    const struct {
        uint32_t code, offset, size;
    } regions[] = {{7, 0, 0x4000},          {0x14, 0x4000, 0x200},  {1, 0x4200, 0x40000},
                   {0xDF, 0x44200, 0x4000}, {0x95, 0x48200, 0x100}, {0x96, 0x50000, 0x100}};
    for (const auto &r : regions) {
        std::vector<uint8_t> b(r.size);
        ASSERT_EQ(TvxGetOptionRomEx(h, 0, b.data(), r.size, r.code), TVX_STATUS_OK);
        EXPECT_TRUE(std::equal(b.begin(), b.end(), whole.begin() + r.offset)) << "region " << r.code;
    }
    // each generated piece whole, through its last byte: its checksum holds
    auto SumBe32 = [&](size_t at, size_t words) {
        uint32_t sum = 0;
        for (size_t i = 0; i < words; ++i)
            sum += uint32_t(whole[at + 4 * i]) << 24 | uint32_t(whole[at + 4 * i + 1]) << 16 |
                   uint32_t(whole[at + 4 * i + 2]) << 8 | whole[at + 4 * i + 3];
        return sum;
    };
    auto SumLe = [&](size_t at, size_t bytes, size_t width) {
        uint32_t sum = 0;
        for (size_t i = 0; i < bytes; i += width)
            for (size_t k = 0; k < width; ++k)
                sum += uint32_t(whole[at + i + k]) << (8 * k);
        return width == 2 ? sum & 0xFFFF : sum;
    };
    EXPECT_EQ(SumBe32(0x4200, 0x100), 0u);           // firmware segment 1
    EXPECT_EQ(SumBe32(0x4200 + 0x400, 0x40), 0u);    // firmware segment 2
    EXPECT_EQ(SumLe(0x50000, 16, 4), 0u);            // status record over fill
    EXPECT_EQ(SumLe(0x48200, 16, 4), 0u);            // status record over the file
    EXPECT_EQ(SumLe(0x44200, 48, 4), 0u);            // memo block
    EXPECT_EQ(SumLe(0x44200 + 0x3F80, 0x80, 2), 0u); // descriptor table
    EXPECT_EQ(whole[0x4200 + 0x3FFC0 + 63], 0x00);   // multi-boot block through its last byte
    EXPECT_EQ(whole[0x17FF], 0x00);                  // the last image of the boot chain
    EXPECT_EQ(whole[0x1800], 0xFF);                  // and erased bytes after it
    EXPECT_EQ(0, std::memcmp(whole.data() + 0x4200 + 0x3FFC0, "OMBV\x03\x00\x01", 7));
    EXPECT_EQ(0, std::memcmp(whole.data() + 0x44200, "FMBS", 4));
    EXPECT_EQ(0, std::memcmp(whole.data() + 0x44200 + 0x3F80, "TFDT", 4));
    EXPECT_EQ(whole[0x48200 + 16], file[16]); // the file past the status record
    EXPECT_EQ(whole[0x48200 + 0x80], 0xFF);   // and the fill past the file
    EXPECT_EQ(whole[0x48300], 0xFF);          // the gap before region 0x96
    // windows of odd sizes and places give the same bytes
    const uint32_t sizes[] = {1, 7, 15, 47, 4093, 65537};
    for (uint32_t size : sizes)
        for (uint32_t at : {0u, 3u, 13u, 45u, 0x3FFFu, 0x41FDu, 0x4300u, 0x443FCu, 0x44200u + 0x3F7Fu, 0x481FFu,
                            0x4820Fu, 0x4827Fu, 0x482FFu, 0x4FFFFu}) {
            if (at + size > whole.size()) continue;
            std::vector<uint8_t> w(size);
            ASSERT_EQ(TvxGetOptionRomOffset(h, 0, w.data(), size, at), TVX_STATUS_OK);
            EXPECT_TRUE(std::equal(w.begin(), w.end(), whole.begin() + at)) << "window " << at << "+" << size;
        }
}

TEST_F(SimScaleTest, CommandsReachTheFirstTargetAndLunOfTheirNumber) {
    Host(R"({"journal": "off", "cards": [{"chips": [{"ports": [{"targets": [
        {"port_wwn": "50:00:00:00:00:00:00:02", "discovered": false, "luns": [{"vendor": "HIDDEN"}]},
        {"port_wwn": "50:00:00:00:00:00:00:01", "luns": [{"lun": 5, "vendor": "FIVE_A"}, {"lun": 2, "vendor": "TWO"},
                                                         {"lun": 5, "vendor": "FIVE_B"}, {"lun": 300, "vendor": "FLAT"}]},
        {"port_wwn": "50:00:00:00:00:00:00:01", "luns": [{"lun": 2, "vendor": "SHADOW"}]},
        {"port_wwn": "50:00:00:00:00:00:00:03", "luns": [{}, {}, {"vendor": "THIRD"}]},
        {"port_wwn": "50:00:00:00:00:00:00:04", "luns": [{}, {"lun": 1}, {"lun": 2, "reserved": false}]}]}]}]}]})");
    uint32_t h = Open(0);
    uint8_t sense[32];
    auto Vendor = [&](uint8_t last, uint16_t lun) {
        TVX_SCSI_ADDRESS a{};
        a.AddressType = 2;
        const uint8_t wwn[8] = {0x50, 0, 0, 0, 0, 0, 0, last};
        std::memcpy(a.PortWWN, wwn, 8);
        a.Lun = lun;
        uint8_t inq[36] = {};
        TVX_STATUS st = TvxSendScsiInquiryCmdFC(h, &a, 0, 0, inq, sizeof inq, sense, sizeof sense);
        if (st != TVX_STATUS_OK) return "status " + std::to_string(st);
        if (inq[0] == 0x7F) return std::string("no LUN");
        std::string v(reinterpret_cast<char *>(inq + 8), 8);
        return v.substr(0, v.find(' '));
    };
    const struct {
        uint8_t target;
        uint16_t lun;
        std::string vendor;
    } cases[] = {
        {1, 5, "FIVE_A"},
        {1, 2, "TWO"},
        {1, 300, "FLAT"},
        {1, 0, "no LUN"},
        {1, 3, "no LUN"},
        {2, 0, "HIDDEN"},
        {3, 2, "THIRD"},
        {3, 0, "SIMSTOR"},
        {3, 3, "no LUN"},
        {3, 2, "THIRD"},
        {1, 5, "FIVE_A"}, // back to an earlier target
        {9, 0, "status " + std::to_string(TVX_ERR_SCSI_TRANSPORT)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Vendor(c.target, c.lun), c.vendor) << "target " << int(c.target) << " LUN " << c.lun;
    // an empty LUN entry answers as one whose fields are all given their defaults
    auto Answers = [&](uint16_t lun) {
        TVX_SCSI_ADDRESS a{};
        a.AddressType = 2;
        const uint8_t wwn[8] = {0x50, 0, 0, 0, 0, 0, 0, 4};
        std::memcpy(a.PortWWN, wwn, 8);
        a.Lun = lun;
        std::vector<uint8_t> all(36 + 24 + 8 + 1);
        EXPECT_EQ(TvxSendScsiInquiryCmdFC(h, &a, 0, 0, all.data(), 36, sense, sizeof sense), TVX_STATUS_OK);
        EXPECT_EQ(TvxSendScsiInquiryCmdFC(h, &a, 1, 0x83, all.data() + 36, 24, sense, sizeof sense), TVX_STATUS_OK);
        EXPECT_EQ(TvxSendScsiReadCapacityCmdFC(h, &a, all.data() + 60, 8, sense, sizeof sense), TVX_STATUS_OK);
        const uint8_t tur[6] = {};
        all[68] = uint8_t(TvxSendScsiPassThruFC(h, &a, tur, 6, 0, nullptr, 0, sense, sizeof sense));
        EXPECT_EQ(all[36 + 8 + 7], lun); // the identifier ends with the LUN number
        all[36 + 8 + 7] = 0;
        return all;
    };
    EXPECT_EQ(Answers(0), Answers(1));
    EXPECT_EQ(Answers(0), Answers(2));
    // the discovered targets in list order, the undiscovered one left out
    TVX_DISC_TARGET_PROPERTY t{};
    const uint8_t expect[] = {1, 1, 3, 4};
    for (uint32_t i = 0; i < 4; ++i) {
        ASSERT_EQ(TvxGetDiscTargetProperty(h, 0, i, 0, &t), TVX_STATUS_OK);
        EXPECT_EQ(t.PortWWN[7], expect[i]);
        EXPECT_EQ(t.AddressWord1, i + 1);
    }
    EXPECT_EQ(TvxGetDiscTargetProperty(h, 0, 4, 0, &t), TVX_ERR_INVALID_PARAMETER);
    TVX_PORT_PROPERTY pp{};
    ASSERT_EQ(TvxGetHbaDevicePortProperty(h, 0, &pp), TVX_STATUS_OK);
    EXPECT_EQ(pp.DiscoveredTargetCount, 4);
}

// Two chips that get the same image and one that gets another; the digest
// on every write line is the digest of that write's bytes, also after a
// region that gave a digest was written again with other bytes.
TEST_F(SimScaleTest, JournalDigestsAreThoseOfEveryWritesBytes) {
    std::string chip = R"({"regions": [{"code": 7, "size": "0x8000"}, {"code": 1, "size": "0x8000"}], "ports": [{}]})";
    Host(R"({"faults": [{"op": "write", "instance": 3, "statuses": ["0x20000100"]}], "cards": [)"
         R"({"name": "a", "chips": [)" +
         chip + R"(]}, {"name": "b", "chips": [)" + chip + R"(]}, {"name": "c", "chips": [)" + chip +
         R"(]}, {"name": "d", "chips": [)" + chip + "]}]}");
    std::vector<uint8_t> one(0x8000), two(0x8000), three(0x8000), erased(0x8000, 0xFF);
    for (size_t i = 0; i < one.size(); ++i) {
        one[i] = uint8_t(i * 7);
        two[i] = uint8_t(i * 7 + (i == 0x7FFF ? 1 : 0)); // differs in the last byte only
        three[i] = uint8_t(i >> 3);
    }
    uint32_t h[4] = {Open(0), Open(1), Open(2), Open(3)};
    const struct {
        int chip;
        uint32_t region;
        const std::vector<uint8_t> *data;
    } writes[] = {
        {0, 7, &one},   {1, 7, &one},   {2, 7, &two},    {0, 7, &three}, // a's region 7 no longer holds `one`
        {2, 1, &one},   {1, 1, &one},   {0, 1, &two},    {1, 7, &two},
        {2, 7, &one},   {3, 7, &three}, // refused by the fault: chip d's region 7 stays erased
        {0, 1, &three}, {3, 1, &three}, {1, 7, &erased},
    };
    std::vector<uint64_t> want;
    for (const auto &w : writes) {
        TVX_STATUS st = TvxUpdateOptionRomEx(h[w.chip], 0, w.data->data(), uint32_t(w.data->size()), w.region);
        EXPECT_EQ(st, w.chip == 3 && w.region == 7 ? TVX_ERR_RESET_DISABLED : TVX_STATUS_OK);
        want.push_back(Fnv(*w.data));
    }
    // state files removed behind the library's back: their regions read
    // erased again, and erased bytes get their own digest
    fs::remove_all(dir_ / "state");
    ASSERT_EQ(TvxUpdateOptionRomEx(h[2], 0, erased.data(), uint32_t(erased.size()), 1), TVX_STATUS_OK);
    want.push_back(Fnv(erased));
    std::vector<uint64_t> got;
    for (const std::string &l : Lines(dir_ / "journal.jsonl")) {
        size_t at = l.find("\"fnv1a64\":\"");
        if (at != std::string::npos) got.push_back(std::stoull(l.substr(at + 11, 16), nullptr, 16));
    }
    EXPECT_EQ(got, want);
    // with the journal off nothing is journaled and the writes still land
    setenv("TORVEX_SIM_JOURNAL", "off", 1);
    TvxSimReset();
    fs::remove(dir_ / "journal.jsonl");
    uint32_t again = Open(1);
    ASSERT_EQ(TvxUpdateOptionRomEx(again, 0, three.data(), uint32_t(three.size()), 7), TVX_STATUS_OK);
    EXPECT_FALSE(fs::exists(dir_ / "journal.jsonl"));
    std::vector<uint8_t> back(0x8000);
    ASSERT_EQ(TvxGetOptionRomEx(again, 0, back.data(), uint32_t(back.size()), 7), TVX_STATUS_OK);
    EXPECT_EQ(back, three);
}

TEST_F(SimScaleTest, StateFilesHoldOnlyWhatWasWritten) {
    Host(R"({"journal": "off", "cards": [{"name": "p", "chips": [{"partial_writes": true, "regions": [
        {"code": 7, "size": "0x1000", "boot": {"bios": "1.00"}}, {"code": 1, "size": "0x1000", "offset": "0x2000"},
        {"code": "0xFF"}], "flash_size": "0x4000", "ports": [{}]}]}]})");
    uint32_t h = Open(0);
    const fs::path state = dir_ / "state" / "p-0";
    std::vector<uint8_t> before(0x4000);
    ASSERT_EQ(TvxGetOptionRomOffset(h, 0, before.data(), 0x4000, 0), TVX_STATUS_OK);
    // the whole flash again with its gaps erased: region files, no unmapped bytes
    std::vector<uint8_t> img = before;
    img[0x2010] = 0x42;
    ASSERT_EQ(TvxUpdateOptionRom(h, 0, img.data(), uint32_t(img.size())), TVX_STATUS_OK);
    EXPECT_TRUE(fs::exists(state / "region_07.bin"));
    EXPECT_TRUE(fs::exists(state / "region_01.bin"));
    EXPECT_FALSE(fs::exists(state / "unmapped.bin"));
    // a shorter image: the rest of the flash is erased, and a byte in a gap persists
    std::vector<uint8_t> part(0x1800, 0x11);
    part[0x1400] = 0x99;
    ASSERT_EQ(TvxUpdateOptionRom(h, 0, part.data(), uint32_t(part.size())), TVX_STATUS_OK);
    EXPECT_TRUE(fs::exists(state / "unmapped.bin"));
    // a part of a region written first keeps the initial bytes around it
    TvxSimReset();
    uint32_t h2 = Open(0);
    std::vector<uint8_t> now(0x4000);
    ASSERT_EQ(TvxGetOptionRomOffset(h2, 0, now.data(), 0x4000, 0), TVX_STATUS_OK);
    std::vector<uint8_t> want(0x4000, 0xFF);
    std::memcpy(want.data(), part.data(), part.size());
    EXPECT_EQ(now, want);
    fs::remove_all(dir_ / "state");
    TvxSimReset();
    h2 = Open(0);
    const uint8_t head[4] = {1, 2, 3, 4};
    ASSERT_EQ(TvxUpdateOptionRomEx(h2, 0, head, sizeof head, 7), TVX_STATUS_OK);
    std::vector<uint8_t> region(0x1000);
    ASSERT_EQ(TvxGetOptionRomEx(h2, 0, region.data(), 0x1000, 7), TVX_STATUS_OK);
    EXPECT_EQ(0, std::memcmp(region.data(), head, 4));
    EXPECT_TRUE(std::equal(region.begin() + 4, region.end(), before.begin() + 4));
    EXPECT_EQ(fs::file_size(state / "region_07.bin"), 0x1000u);
}

TEST_F(SimScaleTest, HandlesStayValidUntilClosedAndAreNeverReused) {
    Host(R"({"journal": "off", "cards": [{"chips": [{"ports": [{}, {}]}, {"ports": [{}]}]}]})");
    uint32_t a = Open(0), b = Open(1), c = Open(2);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    ASSERT_EQ(TvxCloseDevice(b), TVX_STATUS_OK);
    TVX_CHIP_PROPERTY cp{};
    EXPECT_EQ(TvxGetHbaDeviceChipProperty(b, &cp), TVX_ERR_INVALID_HANDLE);
    EXPECT_EQ(TvxCloseDevice(b), TVX_ERR_INVALID_HANDLE);
    EXPECT_EQ(TvxGetHbaDeviceChipProperty(c, &cp), TVX_STATUS_OK);
    EXPECT_EQ(TvxEnableAen(c), TVX_STATUS_OK);
    ASSERT_EQ(TvxCloseDevice(a), TVX_STATUS_OK);
    ASSERT_EQ(TvxCloseDevice(c), TVX_STATUS_OK);
    uint32_t d = Open(1); // after every handle was closed
    EXPECT_GT(d, c);
    for (uint32_t old : {a, b, c, 0u, d + 1, 0xFFFFFFFFu})
        EXPECT_EQ(TvxGetHbaDeviceChipProperty(old, &cp), TVX_ERR_INVALID_HANDLE) << old;
    ASSERT_EQ(TvxGetHbaDeviceChipProperty(d, &cp), TVX_STATUS_OK);
    EXPECT_EQ(cp.PciSlotNumber & 0xE0, 1 << 5); // the second function
    TvxSimReset();
    uint32_t e = Open(0);
    EXPECT_GT(e, d);
    EXPECT_EQ(TvxGetHbaDeviceChipProperty(d, &cp), TVX_ERR_INVALID_HANDLE);
}

// The host file is read card by card; what is reported for a bad file is
// what a check of the whole file in field order reports.
TEST_F(SimScaleTest, HostFileMessagesFollowFieldOrder) {
    const std::string good = R"({"chips": [{"ports": [{}]}]})";
    const std::string bad = R"({"chips": [{"ports": [{}], "colour": 1}]})";
    const struct {
        const char *name;
        std::string text, mention;
    } cases[] = {
        {"syntax error after a bad card", R"({"cards": [)" + bad + R"(], "x": )", "not valid JSON"},
        {"bad top field before the cards", R"({"version": 5, "cards": [)" + bad + "]}", "field 'version'"},
        {"bad fault after the cards", R"({"cards": [)" + bad + R"(], "faults": [{"op": "nope"}]})", "faults[0].op"},
        {"unknown top field and a bad card", R"({"aaa": 1, "cards": [)" + good + "," + bad + "]}",
         "cards[1].chips[0].colour"},
        {"first of two bad cards", R"({"cards": [{"chips": 5}, )" + bad + "]}", "field 'cards[0].chips'"},
        {"cards not a list", R"({"cards": {"a": 1}})", "field 'cards': expected a list"},
        {"a card not an object", R"({"cards": [)" + good + ", 7]}", "field 'cards[1]': expected an object"},
        {"top not an object", R"([{"cards": 1}, [5]])", "field '(top)'"},
        {"a later cards list replaces a bad one, then fails",
         R"({"cards": [{"chips": 5}], "cards": [)" + good + "," + bad + "]}", "cards[1].chips[0].colour"},
        {"a later cards value replaces a good list", R"({"cards": [)" + good + R"(], "cards": {}})",
         "field 'cards': expected a list"},
        {"a VPD longer than its region", R"({"cards": [{"chips": [{"regions": [{"code": 20, "size": 32, "vpd": {}}],
            "ports": [{}]}]}]})",
         "field 'cards[0].chips[0].regions[0].vpd': VPD of "},
        {"an inline VPD longer than its size",
         R"({"cards": [{"chips": [{"vpd": {"id": ")" + std::string(40, 'x') + R"(", "size": 16}, "ports": [{}]}]}]})",
         "field 'cards[0].chips[0].vpd.size': VPD does not fit"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ::testing::internal::CaptureStderr();
        Host(c.text);
        uint32_t h = 0;
        EXPECT_EQ(TvxOpenDevice(0, &h), TVX_ERR_NO_MORE_DEVICES);
        ::testing::internal::GetCapturedStderr();
        EXPECT_NE(LoadError().find(c.mention), std::string::npos) << LoadError();
    }
    // repeated lists: the last one counts
    Host(R"({"cards": [{"chips": 5}], "cards": [)" + good + "," + good + "]}");
    uint32_t card = 0, port = 0;
    EXPECT_EQ(TvxSimGetInstanceInfo(1, nullptr, 0, &card, &port), TVX_STATUS_OK);
    EXPECT_EQ(TvxSimGetInstanceInfo(2, nullptr, 0, &card, &port), TVX_ERR_NO_MORE_DEVICES);
    Host(R"({"cards": [)" + good + R"(], "cards": null})");
    EXPECT_EQ(TvxSimGetInstanceInfo(0, nullptr, 0, &card, &port), TVX_ERR_NO_MORE_DEVICES);
    EXPECT_EQ(LoadError(), "");
}

// The host file is read in chunks: a character split between two chunks
// arrives whole, and the parser's messages count lines and columns over the
// whole file, as when the text is parsed in one piece.
TEST_F(SimScaleTest, HostFileReadInChunksParsesAsOnePiece) {
    const std::string good = R"({"chips": [{"ports": [{}]}]})";
    auto InMemoryError = [](const std::string &text) -> std::string {
        try {
            const nlohmann::json parsed = nlohmann::json::parse(text);
            (void)parsed; // valid: no message
        } catch (const nlohmann::json::parse_error &e) {
            return e.what();
        }
        return "";
    };
    // "é" (C3 A9) across the first and second 16 KiB of the file.
    const std::string head = "{" + std::string(16383 - 14, ' ') + R"("version": "v)";
    ASSERT_EQ(head.size(), 16383u);
    const std::string tail = R"(x", "cards": [)" + good + "]" + std::string(20000, '\n');
    Host(head + "\xC3\xA9" + tail + "}");
    char version[64] = "";
    ASSERT_EQ(TvxGetVersion(version, sizeof version), TVX_STATUS_OK) << LoadError();
    EXPECT_STREQ(version, "v\xC3\xA9x");

    const std::string path = (dir_ / "host.json").string();
    const std::string bad[] = {
        "",
        head + "\xC3\xA9" + tail + ", }", // a comma before the end, some 20000 lines down
        std::string(40000, ' ') + "[1, 2",
        std::string(50000, ' ') + "{\"version\": \"v\xC3", // the file ends inside a character
    };
    for (const std::string &text : bad) {
        Host(text);
        uint32_t h = 0;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(TvxOpenDevice(0, &h), TVX_ERR_NO_MORE_DEVICES);
        ::testing::internal::GetCapturedStderr();
        const std::string expected = InMemoryError(text);
        ASSERT_NE(expected, "");
        EXPECT_EQ(LoadError(), path + ": not valid JSON: " + expected) << text.size() << " bytes";
    }
}

} // namespace
