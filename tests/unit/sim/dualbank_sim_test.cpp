// Chips with two flash sets in the simulated library: the running set and
// its versions change only on activation or a reset; the presets and what
// tarniksim shows of them.
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

// A 64 KiB status region whose record has the given mask and generation.
std::vector<uint8_t> StatusRegion(uint8_t mask, uint16_t generation) {
    std::vector<uint8_t> r(0x10000, 0xFF);
    std::memset(r.data(), 0, 16);
    r[0] = mask;
    r[1] = uint8_t(generation);
    r[2] = uint8_t(generation >> 8);
    const uint32_t sig = 0xFACEFADFu;
    for (int i = 0; i < 4; ++i)
        r[12 + i] = uint8_t(sig >> (8 * i));
    uint32_t sum = 0;
    for (int i = 0; i < 16; i += 4)
        sum += uint32_t(r[i]) | (uint32_t(r[i + 1]) << 8) | (uint32_t(r[i + 2]) << 16) | (uint32_t(r[i + 3]) << 24);
    uint32_t c = 0u - sum;
    for (int i = 0; i < 4; ++i)
        r[8 + i] = uint8_t(c >> (8 * i));
    return r;
}

class DualBankSim : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("dualbank-sim-" + std::to_string(getpid()) + "-" +
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
    // Loads the host afresh, as a new process would, and opens port 0.
    uint32_t Reload() {
        setenv("TORVEX_SIM_HOST", (dir_ / "host.json").c_str(), 1);
        TvxSimReset();
        uint32_t h = 0;
        EXPECT_EQ(TvxOpenDevice(0, &h), TVX_STATUS_OK);
        return h;
    }
    std::string RunningFirmware(uint32_t h) {
        TVX_NODE_PROPERTY np{};
        EXPECT_EQ(TvxGetHbaDeviceNodeProperty(h, &np), TVX_STATUS_OK);
        char t[160];
        std::snprintf(t, sizeof t, "%s %u.%u.%u %s", np.FirmwareVersion, np.FlashFwVersion[0], np.FlashFwVersion[1],
                      np.FlashFwVersion[2], np.OptRomVersion);
        return t;
    }
    uint32_t Running(uint32_t instance = 0) {
        uint32_t set = 0, generation = 0;
        EXPECT_EQ(TvxSimGetRunningSet(instance, &set, &generation), TVX_STATUS_OK);
        return set;
    }
    fs::path dir_;
};

TEST_F(DualBankSim, RunningSetChangesOnActivationOrReset) {
    ASSERT_EQ(Tool(dir_, "init '" + dir_.string() + "' fc28xx"), 0) << Slurp(dir_ / "err.txt");
    const std::string set1 = "10.02.04 10.2.4 8.02", set2 = "10.01.09 10.1.9 8.00";
    uint32_t h = Reload();
    EXPECT_EQ(RunningFirmware(h), set1);
    // The records now designate set 2; the chip keeps running set 1, in
    // this process and the next.
    ASSERT_EQ(TvxUpdateOptionRomEx(h, 0, StatusRegion(1, 6).data(), 0x10000, 0x96), TVX_STATUS_OK);
    ASSERT_EQ(TvxUpdateOptionRomEx(h, 0, StatusRegion(0, 5).data(), 0x10000, 0x95), TVX_STATUS_OK);
    TVX_ACTIVE_REGIONS a{};
    ASSERT_EQ(TvxGetActiveRegions(h, 0, &a), TVX_STATUS_OK);
    EXPECT_EQ(a.ActiveGlobalRegions, 2);
    EXPECT_EQ(RunningFirmware(h), set1);
    h = Reload();
    EXPECT_EQ(RunningFirmware(h), set1);
    EXPECT_EQ(Running(), 1u);
    // Activation switches both ports to set 2.
    ASSERT_EQ(TvxOnlineActivateFlashUpdate(h, 0), TVX_STATUS_OK);
    EXPECT_EQ(RunningFirmware(h), set2);
    uint32_t h1 = 0;
    ASSERT_EQ(TvxOpenDevice(1, &h1), TVX_STATUS_OK);
    EXPECT_EQ(RunningFirmware(h1), set2);
    h = Reload();
    EXPECT_EQ(Running(), 2u);
    // Records back to set 1: only the reset of the tool brings it back.
    ASSERT_EQ(TvxUpdateOptionRomEx(h, 0, StatusRegion(1, 7).data(), 0x10000, 0x95), TVX_STATUS_OK);
    ASSERT_EQ(TvxUpdateOptionRomEx(h, 0, StatusRegion(0, 6).data(), 0x10000, 0x96), TVX_STATUS_OK);
    EXPECT_EQ(RunningFirmware(h), set2);
    TvxSimReset();
    ASSERT_EQ(Tool(dir_, "reset '" + dir_.string() + "'"), 0) << Slurp(dir_ / "err.txt");
    EXPECT_EQ(Slurp(dir_ / "out.txt"), "hba28/0: reset, running set 1 (generation 7)\n");
    h = Reload();
    EXPECT_EQ(RunningFirmware(h), set1);
    EXPECT_NE(Slurp(dir_ / "journal.jsonl").find("\"op\":\"reset\""), std::string::npos);
}

TEST_F(DualBankSim, PresetsAndShow) {
    struct Case {
        const char *preset;
        uint16_t device;
        const char *model;
        std::vector<const char *> lines;
    } cases[] = {
        {"fc27xx",
         0x2071,
         "CXR2772",
         {"running set 1 (generation 3), records designate set 1",
          "image status 0x095: mask 1 generation 3 bitmap 0x00 signature FACEFADE checksum ok",
          "memo block 0x0DF: multi-boot 1.03.02 FFV 1.3.2.0 built 20260112 by ZVFL 2.2.0.3"}},
        {"fc28xx",
         0x2281,
         "CXR2882",
         {"running set 1 (generation 5), records designate set 1 (board config 1",
          "image status 0x125: mask 1 generation 2 bitmap 0x00 signature FACEFAED checksum ok",
          "memo block 0x124: multi-boot 2.00.09"}},
        {"fc-tesk-fc",
         0x2031,
         "CXR8362",
         {"memo block 0x089: multi-boot 4.02.01",
          "descriptor table at 0x3F0000: flash id EF 00 18 40, erase code 20 20, checksum ok"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.preset);
        fs::path host = dir_ / c.preset;
        ASSERT_EQ(Tool(dir_, "init '" + host.string() + "' " + c.preset), 0) << Slurp(dir_ / "err.txt");
        ASSERT_EQ(Tool(dir_, "show '" + host.string() + "'"), 0) << Slurp(dir_ / "err.txt");
        std::string out = Slurp(dir_ / "out.txt");
        for (const char *line : c.lines)
            EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
        // show neither persists the running set nor journals
        EXPECT_FALSE(fs::exists(host / "state"));
        EXPECT_FALSE(fs::exists(host / "journal.jsonl"));
        setenv("TORVEX_SIM_HOST", (host / "host.json").c_str(), 1);
        TvxSimReset();
        for (uint32_t i = 0; i < 2; ++i) {
            uint32_t h = 0;
            ASSERT_EQ(TvxOpenDevice(i, &h), TVX_STATUS_OK);
            TVX_CHIP_PROPERTY cp{};
            TVX_NODE_PROPERTY np{};
            ASSERT_EQ(TvxGetHbaDeviceChipProperty(h, &cp), TVX_STATUS_OK);
            ASSERT_EQ(TvxGetHbaDeviceNodeProperty(h, &np), TVX_STATUS_OK);
            EXPECT_EQ(cp.PciDeviceId, c.device);
            EXPECT_STREQ(np.Model, c.model);
        }
        uint32_t h = 0;
        EXPECT_EQ(TvxOpenDevice(2, &h), TVX_ERR_NO_MORE_DEVICES);
    }
}

} // namespace
