#include "inventory/prefs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
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
        PrefReadPreferenceFile();
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
    // A missing file, and a folder of the file's name (which can't be opened).
    std::filesystem::create_directories(dir_.path() / "folder.properties");
    const std::string names[] = {(dir_.path() / "none.properties").string(),
                                 (dir_.path() / "folder.properties").string()};
    for (const std::string &name : names) {
        CopyText(g_configurationFileName, sizeof g_configurationFileName, name.c_str());
        PrefReadPreferenceFile();
        g_bSilent = 1;
        g_iPollingInterval = 7;
        EXPECT_EQ(CoreGetQuietModeConfig(), -1) << name;
        EXPECT_EQ(CoreGetPollingInterval(), -1) << name;
        EXPECT_EQ(g_bSilent, 1) << name;
        EXPECT_EQ(g_iPollingInterval, 7) << name;
        int v = 5;
        EXPECT_EQ(PrefGetIntProperty("node.agent.x", &v), -1) << name;
        EXPECT_EQ(v, 5) << name;
    }
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
    // The instance is written as a signed number; a short buffer cuts the key.
    const uint8_t high[8] = {0xFF, 0xEE, 0x0A, 0x90, 0x00, 0x01, 0x10, 0xAB};
    FormatTargetBeaconKey(key, sizeof key, 0xFFFFFFFEu, high);
    EXPECT_STREQ(key, "node.agent.target.beacon.-2.ffee0a90000110ab");
    FormatTargetBeaconKey(key, 29, 4000000000u, high);
    EXPECT_STREQ(key, "node.agent.target.beacon.-29");
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

// The readers answer from the file as read, the same as a lookup in the
// file itself would.
TEST_F(Preferences, ReadersAnswerAsTheFileLookup) {
    const std::string text = "a=1\nb==2\r\nc=x=3\nd\ne=4=f\n=5\nb=6\ng=\nh=7 \nkey=key=8\n" + std::string(600, 'z') +
                             "=9\n" + std::string("n\0=10\n", 6) + "last=11";
    // The 600-character line is read in two pieces: 511 characters, then the rest.
    const std::string keys[] = {"a", "b",    "c",      "x", "d", "e", "f", "g", "h", "key", "5", std::string(89, 'z'),
                                "n", "last", "absent", "1", ""};
    Use(text);
    for (const std::string &s : keys) {
        const char *key = s.c_str();
        FILE *file = PrefOpenPreferenceFile();
        ASSERT_NE(file, nullptr);
        const char *value = PrefGetProperty(file, key);
        int expected = value != nullptr ? std::atoi(value) : 0;
        std::fclose(file);
        int v = -1;
        EXPECT_EQ(PrefGetIntProperty(key, &v), 0) << key;
        EXPECT_EQ(v, expected) << key;
    }
}

// A run reads the file once (CoreInitialize); later changes of the file are
// seen after it is read again, a new file name is read at once.
TEST_F(Preferences, ReadOncePerInitialization) {
    const uint8_t wwpn[8] = {0x21, 0x00, 0x00, 0x1B, 0x32, 0xA1, 0xB2, 0xC3};
    const char *kKey = "node.agent.target.beacon.3.2100001b32a1b2c3";
    dir_.Write("agent.properties", std::string(kKey) + "=5\n");
    CopyText(g_szConfigPath, sizeof g_szConfigPath, dir_.dir().c_str());
    EXPECT_EQ(CoreInitialize(), 0);
    std::filesystem::remove(dir_.path() / "agent.properties");
    uint32_t beacon = 0;
    EXPECT_EQ(PrefGetTargetBeacon(3, wwpn, &beacon), 0);
    EXPECT_EQ(beacon, 5u);
    PrefReadPreferenceFile(); // now absent
    EXPECT_EQ(PrefGetTargetBeacon(3, wwpn, &beacon), -1);
    EXPECT_EQ(beacon, 0u);
    dir_.Write("agent.properties", std::string(kKey) + "=6\n");
    EXPECT_EQ(PrefGetTargetBeacon(3, wwpn, &beacon), -1); // still as read
    EXPECT_EQ(CoreInitialize(), 0);
    EXPECT_EQ(PrefGetTargetBeacon(3, wwpn, &beacon), 0);
    EXPECT_EQ(beacon, 6u);
    // Another file name is read without being asked.
    std::string other = dir_.Write("other.properties", std::string(kKey) + "=7\n");
    CopyText(g_configurationFileName, sizeof g_configurationFileName, other.c_str());
    EXPECT_EQ(PrefGetTargetBeacon(3, wwpn, &beacon), 0);
    EXPECT_EQ(beacon, 7u);
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
