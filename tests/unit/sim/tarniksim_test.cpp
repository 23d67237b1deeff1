// The tarniksim tool: every preset makes a host the library opens with the
// right ports; region files go on the card; bad arguments give status 2.
#include "../../../sim/torvex_sim.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Runs the tool with its output to files of dir; the exit status.
int Tool(const fs::path &dir, const std::string &args) {
    std::string cmd = std::string("'") + TF_SIMTOOL + "' " + args + " >'" + (dir / "out.txt").string() + "' 2>'" +
                      (dir / "err.txt").string() + "'";
    int ws = std::system(cmd.c_str());
    return WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
}

std::string Slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TarniksimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tarniksim-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        unsetenv("TORVEX_SIM_JOURNAL");
        unsetenv("TORVEX_SIM_READONLY");
    }
    void TearDown() override {
        TvxSimReset();
        unsetenv("TORVEX_SIM_HOST");
        fs::remove_all(dir_);
    }
    void Use(const fs::path &host) {
        setenv("TORVEX_SIM_HOST", host.c_str(), 1);
        TvxSimReset();
    }
    fs::path dir_;
};

TEST_F(TarniksimTest, EveryPresetOpensWithItsPorts) {
    struct Case {
        const char *preset;
        uint32_t ports;
        uint16_t device, subsys;
        const char *model;
    } cases[] = {
        {"fc23xx", 1, 0x2312, 0x0101, "CXR2312"},       {"fc24xx-2port", 2, 0x2432, 0x0201, "CXR2462"},
        {"fc25xx-2port", 2, 0x2532, 0x0301, "CXR2562"}, {"fc25xx-4port", 4, 0x2532, 0x0302, "CXR2564"},
        {"fc8432", 1, 0x8432, 0x0401, "CXR8432"},       {"empty", 0, 0, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.preset);
        fs::path host = dir_ / c.preset;
        ASSERT_EQ(Tool(dir_, "init '" + host.string() + "' " + c.preset), 0) << Slurp(dir_ / "err.txt");
        Use(host / "host.json");
        char err[512] = "";
        TvxSimGetLoadError(err, sizeof err);
        EXPECT_STREQ(err, "");
        uint32_t n = 0;
        for (uint32_t h = 0; n < 8; ++n) {
            TVX_STATUS st = TvxOpenDevice(n, &h);
            if (st == TVX_ERR_NO_MORE_DEVICES) break;
            ASSERT_EQ(st, TVX_STATUS_OK);
            TVX_CHIP_PROPERTY cp{};
            TVX_NODE_PROPERTY np{};
            ASSERT_EQ(TvxGetHbaDeviceChipProperty(h, &cp), TVX_STATUS_OK);
            ASSERT_EQ(TvxGetHbaDeviceNodeProperty(h, &np), TVX_STATUS_OK);
            EXPECT_EQ(cp.PciVendorId, 0x1D7A);
            EXPECT_EQ(cp.PciDeviceId, c.device);
            EXPECT_EQ(cp.SubsysDeviceId, c.subsys);
            EXPECT_STREQ(np.Model, c.model);
            EXPECT_NE(np.OptRomVersion[0], 0) << "a BIOS in the boot region";
            EXPECT_EQ((cp.PciSlotNumber >> 5) & 7, n) << "PCI functions numbered across the card";
        }
        EXPECT_EQ(n, c.ports);
        ASSERT_EQ(Tool(dir_, "show '" + host.string() + "'"), 0);
        std::string out = Slurp(dir_ / "out.txt");
        EXPECT_NE(out.find(std::to_string(c.ports) + " instance(s)"), std::string::npos) << out;
    }
}

TEST_F(TarniksimTest, FourPortCardHasTwoChipsWithOneSerialNumber) {
    ASSERT_EQ(Tool(dir_, "init '" + dir_.string() + "' fc25xx-4port"), 0);
    Use(dir_ / "host.json");
    std::string serials[4];
    for (uint32_t i = 0; i < 4; ++i) {
        uint32_t h = 0, chip = 9;
        ASSERT_EQ(TvxOpenDevice(i, &h), TVX_STATUS_OK);
        ASSERT_EQ(TvxSimGetInstanceInfo(i, nullptr, 0, &chip, nullptr), TVX_STATUS_OK);
        EXPECT_EQ(chip, i / 2);
        std::vector<uint8_t> vpd(512);
        uint32_t size = 512;
        ASSERT_EQ(TvxGetVpd(h, 0, vpd.data(), &size), TVX_STATUS_OK);
        std::string text(vpd.begin(), vpd.end());
        size_t sn = text.find("SN");
        ASSERT_NE(sn, std::string::npos);
        serials[i] = text.substr(sn + 3, uint8_t(text[sn + 2]));
    }
    EXPECT_EQ(serials[0], "SIM2564C0007");
    for (const std::string &s : serials)
        EXPECT_EQ(s, serials[0]);
}

TEST_F(TarniksimTest, RegionFilesGoOnTheCardAndDumpReadsThemBack) {
    fs::path images = dir_ / "img";
    fs::create_directories(images);
    std::vector<uint8_t> whole(0x100000, 0xFF), boot(0x1000, 0xA5);
    for (size_t i = 0; i < 0x80000; ++i)
        whole[0x80000 + i] = uint8_t(i * 7);
    std::ofstream(images / "region_FF.bin", std::ios::binary)
        .write(reinterpret_cast<const char *>(whole.data()), std::streamsize(whole.size()));
    std::ofstream(images / "region_07.bin", std::ios::binary)
        .write(reinterpret_cast<const char *>(boot.data()), std::streamsize(boot.size()));
    fs::path host = dir_ / "h";
    ASSERT_EQ(Tool(dir_, "init '" + host.string() + "' fc25xx-2port --images '" + images.string() + "'"), 0)
        << Slurp(dir_ / "err.txt");
    ASSERT_EQ(Tool(dir_, "dump '" + host.string() + "' hba25/0 0x01 '" + (dir_ / "r1.bin").string() + "'"), 0)
        << Slurp(dir_ / "err.txt");
    std::string r1 = Slurp(dir_ / "r1.bin");
    ASSERT_EQ(r1.size(), 0x80000u);
    EXPECT_EQ(0, std::memcmp(r1.data(), whole.data() + 0x80000, 0x80000));
    ASSERT_EQ(Tool(dir_, "dump '" + host.string() + "' hba25/0 7 '" + (dir_ / "r7.bin").string() + "'"), 0);
    std::string r7 = Slurp(dir_ / "r7.bin");
    ASSERT_EQ(r7.size(), 0x40000u);
    EXPECT_EQ(0, std::memcmp(r7.data(), boot.data(), boot.size())); // region_07.bin wins over the cut
    EXPECT_EQ(uint8_t(r7[0x1000]), 0xFF);
    // the VPD region keeps its VPD
    Use(host / "host.json");
    uint32_t h = 0;
    ASSERT_EQ(TvxOpenDevice(0, &h), TVX_STATUS_OK);
    std::vector<uint8_t> vpd(512);
    uint32_t size = 512;
    ASSERT_EQ(TvxGetVpd(h, 0, vpd.data(), &size), TVX_STATUS_OK);
    EXPECT_EQ(vpd[0], 0x82);
    // a file too big for its region is refused, naming the file
    std::vector<uint8_t> big(0x40001, 0);
    std::ofstream(images / "region_07.bin", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(big.data()), std::streamsize(big.size()));
    EXPECT_EQ(Tool(dir_, "init '" + host.string() + "' fc25xx-2port --images '" + images.string() + "'"), 1);
    EXPECT_NE(Slurp(dir_ / "err.txt").find("region_07.bin"), std::string::npos);
}

TEST_F(TarniksimTest, JournalIsPrintedOneLinePerCall) {
    ASSERT_EQ(Tool(dir_, "init '" + dir_.string() + "' fc24xx-2port"), 0);
    Use(dir_ / "host.json");
    uint32_t h = 0;
    ASSERT_EQ(TvxOpenDevice(1, &h), TVX_STATUS_OK);
    std::vector<uint8_t> fw(0x40000, 0);
    EXPECT_EQ(TvxUpdateOptionRomEx(h, 0, fw.data(), uint32_t(fw.size()), 1), TVX_STATUS_OK);
    ASSERT_EQ(TvxCloseDevice(h), TVX_STATUS_OK);
    ASSERT_EQ(Tool(dir_, "journal '" + dir_.string() + "'"), 0) << Slurp(dir_ / "err.txt");
    std::string out = Slurp(dir_ / "out.txt");
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3) << out;
    EXPECT_NE(out.find("#1 pid"), std::string::npos) << out;
    EXPECT_NE(out.find("write TvxUpdateOptionRomEx instance 1 (hba24/0/1) region 0x01 size 262144"), std::string::npos)
        << out;
    EXPECT_NE(out.find("-> 0x00000000"), std::string::npos);
    // a broken line is reported with its number
    std::ofstream(dir_ / "journal.jsonl", std::ios::app) << "not json\n";
    EXPECT_EQ(Tool(dir_, "journal '" + dir_.string() + "'"), 1);
    EXPECT_NE(Slurp(dir_ / "err.txt").find("journal.jsonl:4"), std::string::npos);
}

TEST_F(TarniksimTest, BadArgumentsGiveUsageAndStatusTwo) {
    const std::string d = "'" + dir_.string() + "'";
    const std::string cases[] = {
        "",
        "frobnicate",
        "init",
        "init " + d,
        "init " + d + " fc99",
        "init " + d + " fc23xx extra",
        "init " + d + " fc23xx --images",
        "init " + d + " fc23xx --colour red",
        "show",
        "show " + d + " " + d,
        "dump " + d + " hba25 1 x.bin",
        "dump " + d + " hba25/zz 1 x.bin",
        "dump " + d + " hba25/0 0xZZ x.bin",
        "dump " + d + " hba25/0 1",
        "journal",
    };
    for (const std::string &args : cases) {
        EXPECT_EQ(Tool(dir_, args), 2) << args;
        EXPECT_NE(Slurp(dir_ / "err.txt").find("usage: tarniksim"), std::string::npos) << args;
    }
    // not arguments but missing files: status 1 and the file named
    EXPECT_EQ(Tool(dir_, "show '" + (dir_ / "none").string() + "'"), 1);
    EXPECT_NE(Slurp(dir_ / "err.txt").find("none/host.json"), std::string::npos);
    std::ofstream(dir_ / "host.json") << "{\"cards\": 5}";
    EXPECT_EQ(Tool(dir_, "show " + d), 1);
    EXPECT_NE(Slurp(dir_ / "err.txt").find("field 'cards'"), std::string::npos);
}

} // namespace
