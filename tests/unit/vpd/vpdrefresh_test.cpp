// VPD version refresh against simulated VPD regions: the keyword texts,
// which fields are rewritten, damaged and blank regions, the retried reads
// of the newer families and the region check of the online update.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "vpd/vpd.h"
#include "vpd/vpdrefresh.h"

extern "C" void TvxSimReset(void);

namespace {

namespace fs = std::filesystem;

std::string Text(const VpdText &t) { return reinterpret_cast<const char *>(t.bytes); }

TEST(VpdRefresh, KeywordTexts) {
    EXPECT_EQ(Text(VpdFirmwareText(100, 1, 2)), "100.001.002");
    EXPECT_EQ(Text(VpdFirmwareText(99, 1, 2)), "99.01.02");
    EXPECT_EQ(Text(VpdFirmwareText(8, 7, 3)), "08.07.03");
    EXPECT_EQ(Text(VpdTwoPartText(3, 28)), "03.28");
    EXPECT_EQ(Text(VpdMultibootText(2, 1, 0)), "020100");
    EXPECT_EQ(Text(VpdDellMultibootText(2, 1, 0)), "FFV02.01.00");
}

// A VPD image in the PCI layout: identifier, VPD-R with the keywords and
// "RV", end tag; the rest of the region zero.
std::string Vpd(const std::vector<std::pair<std::string, std::string>> &ro, size_t size) {
    std::string v = "\x82";
    const std::string id = "SIM CNA";
    v += static_cast<char>(id.size());
    v += '\0';
    v += id;
    size_t len = 4;
    for (const auto &kv : ro)
        len += 3 + kv.second.size();
    v += '\x90';
    v += static_cast<char>(len);
    v += '\0';
    for (const auto &kv : ro)
        v += kv.first + static_cast<char>(kv.second.size()) + kv.second;
    v += "RV";
    v += '\x01';
    uint8_t sum = 0;
    for (char c : v)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    v += static_cast<char>(0u - sum);
    v += '\x78';
    v.resize(size, '\0');
    return v;
}

std::string Field(const std::string &vpd, const char *kw) {
    char value[64] = {};
    if (FindVpdField(reinterpret_cast<const uint8_t *>(vpd.data()), vpd.size(), kw, value, sizeof value) != 0)
        return "<none>";
    return value;
}

// One chip (device 'device') with the VPD regions given as files.
class VpdHost : public ::testing::Test {
  protected:
    void Open(uint16_t device, const std::vector<std::pair<unsigned, std::string>> &regions,
              const std::string &faults = "[]") {
        dir_ = fs::temp_directory_path() / ("tf_vpdrefresh_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::string list;
        for (const auto &[code, bytes] : regions) {
            // Built by appends: gcc 12 at -O2 warns (-Wrestrict) on "r" + to_string(...).
            std::string name = "r";
            name += std::to_string(code);
            name += ".bin";
            std::ofstream(dir_ / name, std::ios::binary) << bytes;
            list += R"({"code": )" + std::to_string(code) + R"(, "size": )" + std::to_string(bytes.size()) +
                    R"(, "file": ")" + name + R"("}, )";
        }
        char dev[8];
        std::snprintf(dev, sizeof dev, "0x%04X", device);
        std::ofstream(dir_ / "host.json")
            << R"({"journal": "off", "read_only": true, "faults": )" << faults << R"(, "cards": [{"device_id": ")"
            << dev << R"(", "chips": [{"ports": [{}], "regions": [)" << list << R"({"code": "0xFF"}]}]}]})";
        setenv("TORVEX_SIM_HOST", (dir_ / "host.json").c_str(), 1);
        TvxSimReset();
        ASSERT_EQ(TvxOpenDevice(0, &device_.handle), 0u);
        device_.chipProperty.PciDeviceId = device;
        g_bDebug = 1;
        testing::internal::CaptureStdout();
        open_ = true;
    }
    void TearDown() override {
        if (!open_) return;
        open_ = false;
        trace_.clear();
        testing::internal::GetCapturedStdout();
        g_bDebug = 0;
        TvxCloseDevice(device_.handle);
        unsetenv("TORVEX_SIM_HOST");
        TvxSimReset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Trace() {
        trace_ += testing::internal::GetCapturedStdout();
        testing::internal::CaptureStdout();
        return trace_;
    }
    std::string Region(unsigned code, size_t size) {
        std::string b(size, '\0');
        EXPECT_EQ(TvxGetOptionRomEx(device_.handle, 0, reinterpret_cast<uint8_t *>(b.data()),
                                    static_cast<uint32_t>(size), code),
                  0u);
        return b;
    }

    TVXDevice device_{};
    fs::path dir_;
    std::string trace_;
    bool open_ = false;
};

ImageVersionRecord Versions() {
    ImageVersionRecord r{};
    r.fcEfi = {6, 1};
    r.fcBios = {3, 28};
    r.fcFcode = {4, 3};
    r.riscFw = {100, 1, 2};
    r.image = {2, 1, 0};
    return r;
}

// First generation: the four FC fields and "RM" (or "V9") are rewritten and
// the region is written; a damaged or malformed region is never written.
TEST_F(VpdHost, FcRegionFields) {
    struct Row {
        const char *name;
        std::string vpd;
        int status;
        std::vector<std::pair<std::string, std::string>> after;
    };
    std::string runaway(512, '\0');
    runaway.replace(0, 6,
                    std::string("\x82\x03\x00"
                                "ABC",
                                6));
    runaway.replace(6, 6,
                    std::string("\x90\x0A\x00"
                                "V3\xFF",
                                6));
    runaway[100] = '\x78'; // inside the over-long field: not an end tag
    const std::vector<Row> rows = {
        {"all fields",
         Vpd({{"V1", "00.00"}, {"V3", "00.00.00000"}, {"V4", "00.00"}, {"V5", "00.00"}, {"RM", "000000"}}, 512),
         0,
         {{"V1", "06.01"}, {"V3", "100.001.002"}, {"V4", "03.28"}, {"V5", "04.03"}, {"RM", "020100"}}},
        {"V9 without RM, no V5",
         Vpd({{"V3", "00.00.00"}, {"V9", "000000"}}, 512),
         0,
         {{"V3", "100.001."}, {"V9", "020100"}, {"V5", "<none>"}}},
        {"no multi-boot field", Vpd({{"V3", "00.00.00"}}, 512), VPD_FIELD_NOT_FOUND, {}},
        {"blank", std::string(512, '\xFF'), VPD_REGION_BLANK, {}},
        {"no end tag",
         std::string("\x82\x02\x00"
                     "AB",
                     5) +
             std::string(507, '\x11'),
         VPD_REGION_DAMAGED,
         {}},
        {"walk leaves the buffer", runaway, VPD_REGION_DAMAGED, {}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Open(0x8001, {{0x14, r.vpd}});
        ImageVersionRecord v = Versions();
        EXPECT_EQ(UpdateFCVpdRegion(&device_, &v, 0x14, 512, nullptr, 0), r.status);
        const std::string after = Region(0x14, 512);
        if (r.status != 0) {
            EXPECT_EQ(after, r.vpd) << "written although refused";
        }
        for (const auto &[kw, value] : r.after)
            EXPECT_EQ(Field(after, kw.c_str()), value) << kw;
        if (r.status == 0) {
            EXPECT_EQ(verifyVpdChecksum(reinterpret_cast<const uint8_t *>(after.data()), 512), 0);
        }
        TearDown();
    }
}

// Newer families: the read is tried 18 times 5 seconds apart; a region
// that never reads is examined as the zero-filled buffer, i.e. blank.
TEST_F(VpdHost, LarkReadsRetried) {
    struct Row {
        const char *name;
        int failures;
        int status;
        size_t waits;
    };
    const Row rows[] = {
        {"reads at the 18th try", 17, 0, 17},
        {"never reads", 18, VPD_REGION_BLANK, 17},
        {"first try", 0, 0, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        std::string statuses;
        for (int i = 0; i < r.failures; ++i)
            statuses += std::string(i ? "," : "") + "\"0x20000001\"";
        Open(0x8021, {{0x81, Vpd({{"RM", "000000"}, {"VV", "FFV00.00.00"}}, 1024)}},
             R"([{"op": "TvxGetOptionRomEx", "region": "0x81", "statuses": [)" + statuses + "]}]");
        ImageVersionRecord v = Versions();
        EXPECT_EQ(UpdateAndRestoreLarkVPD(&device_, &v, 1024, 0), r.status);
        const std::string trace = Trace();
        size_t waits = 0;
        for (size_t p = trace.find("OSSSleep: 5000 ms"); p != std::string::npos;
             p = trace.find("OSSSleep: 5000 ms", p + 1))
            ++waits;
        EXPECT_EQ(waits, r.waits);
        const std::string after = Region(0x81, 1024);
        EXPECT_EQ(Field(after, "VV"), r.status == 0 ? "FFV02.01.00" : "FFV00.00.00");
        EXPECT_EQ(Field(after, "RM"), r.status == 0 ? "020100" : "000000");
        TearDown();
    }
}

// The region check of the online update: usable, blank, tags missing, a
// region it does not take, a region that never reads.
TEST_F(VpdHost, RegionCheck) {
    struct Row {
        const char *name;
        unsigned region;
        std::string contents;
        std::string faults;
        int status;
    };
    const std::string good = Vpd({{"RM", "000000"}}, 1024);
    const std::vector<Row> rows = {
        {"usable", 0xD4, good, "[]", 0},
        {"blank", 0xD4, std::string(1024, '\0'), "[]", VPD_REGION_BLANK},
        {"no start tag", 0xD4, std::string(1023, '\x11') + '\x78', "[]", VPD_REGION_DAMAGED},
        {"no end tag", 0xD4, '\x82' + std::string(1023, '\x11'), "[]", VPD_REGION_DAMAGED},
        {"not a VPD region", 0x07, good, "[]", VPD_BAD_REGION},
        {"never reads", 0xD4, good,
         R"([{"op": "TvxGetOptionRomEx", "statuses": ["0x20000001"], "then": "0x20000001"}])", VPD_BAD_REGION},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Open(0x2261, {{r.region, r.contents}}, r.faults);
        EXPECT_EQ(CheckNumberOfValidVpdRegion(&device_, r.region, 1024), r.status);
        TearDown();
    }
}

} // namespace

namespace {

// The pair is written copy 1 first and copy 0 last (copy 0 names the
// installed versions): a failed copy 0 write leaves copy 0 old, so the next
// run still finds the adapter down-level, while copy 1 is already new.
TEST_F(VpdHost, FcPairWritesCopyZeroLast) {
    struct Row {
        const char *name;
        std::string faults;
        int status;
        const char *rm0, *rm1;
    };
    const std::string good = Vpd({{"RM", "000000"}}, 512);
    const Row rows[] = {
        {"both written", "[]", 0, "020100", "020100"},
        {"copy 0 write fails", R"([{"op": "TvxUpdateOptionRomEx2", "region": "0x14", "statuses": ["0x20000001"]}])",
         0x20000001, "000000", "020100"},
        {"copy 1 write fails", R"([{"op": "TvxUpdateOptionRomEx2", "region": "0x16", "statuses": ["0x20000001"]}])",
         0x20000001, "020100", "000000"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Open(0x8001, {{0x14, good}, {0x16, good}}, r.faults);
        ImageVersionRecord v = Versions();
        EXPECT_EQ(UpdateAndRestoreFCVpds(&device_, &v, 512, 0), r.status);
        EXPECT_EQ(Field(Region(0x14, 512), "RM"), r.rm0);
        EXPECT_EQ(Field(Region(0x16, 512), "RM"), r.rm1);
        // Copy 1's write comes first in the trace.
        const std::string trace = Trace();
        const size_t one = trace.find("Successfully update and flash FC VPD 1");
        const size_t zero = trace.rfind("UpdateFCVpdRegion: Flash VPD completes successfully!");
        if (r.status == 0) {
            ASSERT_NE(one, std::string::npos);
            ASSERT_NE(zero, std::string::npos);
            EXPECT_LT(one, zero);
        }
        TearDown();
    }
}

} // namespace
