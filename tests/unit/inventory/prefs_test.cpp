#include "inventory/prefs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/settings.h"
#include "inventory/invutil.h"
#include "testutil.h"

namespace {

class Preferences : public ::testing::Test {
  protected:
    void Use(const std::string &text) {
        std::string path = dir_.Write("agent.properties", text);
        CopyText(g_configurationFileName, sizeof g_configurationFileName, path.c_str());
    }
    void UseMissing() {
        std::string path = (dir_.path() / "none.properties").string();
        CopyText(g_configurationFileName, sizeof g_configurationFileName, path.c_str());
    }
    invtest::TempDir dir_;
};

TEST_F(Preferences, QuietModeReplacesTheCommandLineSetting) {
    struct Case {
        const char *file;
        int before;
        int after;
    };
    const Case cases[] = {
        {"node.agent.quiet.mode.enable=1\n", 0, 1},    {"node.agent.quiet.mode.enable=0\n", 1, 0},
        {"node.agent.quiet.mode.enable=2\n", 1, 1},    // out of range: unchanged
        {"node.agent.polling.interval=5\n", 1, 0},     // absent key: off
        {"a=node.agent.quiet.mode.enable\n", 1, 0},    // no value after the key: absent
        {"x=node.agent.quiet.mode.enable=1\n", 0, 1},  // any piece may match
        {"node.agent.quiet.mode.enable==1\r\n", 0, 1}, // runs of separators are one
        {"node.agent.quiet.mode.enablex=1\n", 1, 0},   // exact key comparison
        {"Node.agent.quiet.mode.enable=1\n", 0, 0},    // case-sensitive
    };
    for (const Case &c : cases) {
        Use(c.file);
        g_bSilent = c.before;
        EXPECT_EQ(CoreGetQuietModeConfig(), 0);
        EXPECT_EQ(g_bSilent, c.after) << c.file;
    }
    g_bSilent = 0;
}

TEST_F(Preferences, MissingFileKeepsSettings) {
    UseMissing();
    g_bSilent = 1;
    g_iPollingInterval = 7;
    EXPECT_EQ(CoreGetQuietModeConfig(), -1);
    EXPECT_EQ(CoreGetPollingInterval(), -1);
    EXPECT_EQ(g_bSilent, 1);
    EXPECT_EQ(g_iPollingInterval, 7);
    int v = 5;
    EXPECT_EQ(PrefGetIntProperty("node.agent.x", &v), -1);
    g_bSilent = 0;
}

TEST_F(Preferences, SettingDefaultsAndRanges) {
    struct Case {
        const char *file;
        int polling, fabric, secured;
    };
    const Case cases[] = {
        {"", 30, 0, 0},
        {"node.agent.polling.interval=0\n", 30, 0, 0},
        {"node.agent.polling.interval=-4\n", 30, 0, 0},
        {"node.agent.polling.interval=45s\n", 45, 0, 0},
        {"node.agent.polling.interval=abc\n", 30, 0, 0},
        {"node.agent.fabric.scanning.enable=1\nnode.agent.secured.flash.update.ovremote.enable=1\n", 30, 1, 1},
        {"node.agent.fabric.scanning.enable=3\nnode.agent.secured.flash.update.ovremote.enable=9\n", 30, -1, 0},
        {"node.agent.polling.interval=99999999999999\n", 2147483647, 0, 0},
    };
    for (const Case &c : cases) {
        Use(c.file);
        g_iFabricScanning = -1;
        g_iSecuredFlashUpdate = -1;
        g_iPollingInterval = -1;
        CoreGetPollingInterval();
        CoreGetFabricScanningConfig();
        CoreGetFlashUpdateConfig();
        EXPECT_EQ(g_iPollingInterval, c.polling) << c.file;
        EXPECT_EQ(g_iFabricScanning, c.fabric) << c.file;
        EXPECT_EQ(g_iSecuredFlashUpdate, c.secured) << c.file;
    }
}

TEST_F(Preferences, LongAndBinaryLinesStayInTheLineBuffer) {
    std::string text = std::string(2000, 'k') + "=v\n"; // split into 511-char reads
    const char binary[] = "\x01\xff\x00garbage=\x80\n";
    text += std::string(binary, sizeof binary - 1);
    text += "node.agent.target.beacon.3.2100001b32a1b2c3=17"; // no line end
    Use(text);
    int v = 0;
    EXPECT_EQ(PrefGetIntProperty("node.agent.target.beacon.3.2100001b32a1b2c3", &v), 0);
    EXPECT_EQ(v, 17);
    EXPECT_EQ(PrefGetIntProperty("node.agent.absent", &v), 0);
    EXPECT_EQ(v, 0);
}

TEST_F(Preferences, TargetBeaconKey) {
    const uint8_t wwpn[8] = {0x21, 0x00, 0x00, 0x1B, 0x32, 0xA1, 0xB2, 0xC3};
    char key[80];
    FormatTargetBeaconKey(key, sizeof key, 3, wwpn);
    EXPECT_STREQ(key, "node.agent.target.beacon.3.2100001b32a1b2c3");
    Use("node.agent.target.beacon.3.2100001b32a1b2c3=5\n");
    uint32_t beacon = 99;
    EXPECT_EQ(PrefGetTargetBeacon(3, wwpn, &beacon), 0);
    EXPECT_EQ(beacon, 5u);
    EXPECT_EQ(PrefGetTargetBeacon(4, wwpn, &beacon), 0);
    EXPECT_EQ(beacon, 0u);
}

TEST_F(Preferences, CoreInitializeNamesTheFileInTheConfigurationFolder) {
    dir_.Write("agent.properties", "node.agent.quiet.mode.enable=0\nnode.agent.polling.interval=12\n");
    CopyText(g_szConfigPath, sizeof g_szConfigPath, dir_.dir().c_str());
    g_bSilent = 1;
    EXPECT_EQ(CoreInitialize(), 0);
    EXPECT_EQ(std::string(g_configurationFileName), dir_.dir() + "agent.properties");
    EXPECT_EQ(g_iPollingInterval, 12);
    EXPECT_EQ(g_bSilent, 0);
    // A configuration path at the length limit is cut, never overrun.
    std::string longPath(sizeof g_szConfigPath - 1, 'p');
    CopyText(g_szConfigPath, sizeof g_szConfigPath, longPath.c_str());
    EXPECT_EQ(CoreInitialize(), 0);
    EXPECT_EQ(strlen(g_configurationFileName), sizeof g_configurationFileName - 1);
    g_szConfigPath[0] = '\0';
}

TEST(CoreAllocation, ZeroFilledAndNullRules) {
    EXPECT_EQ(CoreMalloc(0), nullptr);
    auto *p = static_cast<unsigned char *>(CoreMalloc(4096));
    ASSERT_NE(p, nullptr);
    for (size_t i = 0; i < 4096; ++i)
        ASSERT_EQ(p[i], 0) << i;
    CoreFree(p);
    CoreFree(nullptr); // traced, no effect
}

} // namespace
