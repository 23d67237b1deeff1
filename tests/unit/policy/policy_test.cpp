#include <gtest/gtest.h>

#include <cstring>

#include "app/settings.h"
#include "update/policy.h"

namespace {

struct Versions {
    uint8_t bios[2], efi[2], fcode[2], fw[3], mbi[3];
};

FlashCtrEntry Entry(const Versions &v) {
    FlashCtrEntry e{};
    std::memcpy(e.biosVer, v.bios, 2);
    std::memcpy(e.efiVer, v.efi, 2);
    std::memcpy(e.fcodeVer, v.fcode, 2);
    std::memcpy(e.fwVer, v.fw, 3);
    std::memcpy(e.mbiVer, v.mbi, 3);
    return e;
}

const Versions kBase{{3, 20}, {6, 12}, {4, 3}, {8, 5, 63}, {3, 20, 4}};

struct PolicyCase {
    const char *name;
    int cxrType;
    int mode;
    Versions adapter;
    Versions file;
    int expected;
};

const PolicyCase kPolicyCases[] = {
    // Component class, standard mode.
    {"only firmware lower", 10, 0, kBase, {{3, 20}, {6, 12}, {4, 3}, {8, 5, 64}, {3, 20, 4}}, 1},
    {"bios newer efi lower",
     10,
     0,
     {{3, 21}, {6, 11}, {4, 3}, {8, 5, 63}, {}},
     {{3, 20}, {6, 12}, {4, 3}, {8, 5, 63}, {}},
     1},
    {"all equal standard", 10, 0, kBase, kBase, 0},
    {"all newer standard", 9, 0, {{3, 21}, {6, 13}, {4, 4}, {8, 6, 0}, {}}, kBase, 0},
    {"type 11 ignores mbi", 11, 0, {{3, 20}, {6, 12}, {4, 3}, {8, 5, 63}, {3, 20, 3}}, kBase, 0},
    // Codes 12 and 13 add the multi-boot image only in standard mode.
    {"12 standard mbi lower", 12, 0, {{3, 20}, {6, 12}, {4, 3}, {8, 5, 63}, {3, 20, 3}}, kBase, 1},
    {"13 standard mbi lower", 13, 0, {{3, 20}, {6, 12}, {4, 3}, {8, 5, 63}, {3, 20, 3}}, kBase, 1},
    {"12 standard mbi equal", 12, 0, kBase, kBase, 0},
    {"12 downgrade mbi lower", 12, 3, {{3, 20}, {6, 12}, {4, 3}, {8, 5, 63}, {3, 20, 3}}, kBase, 0},
    {"13 rewrite mbi newer comps equal", 13, 2, {{3, 20}, {6, 12}, {4, 3}, {8, 5, 63}, {9, 0, 0}}, kBase, 1},
    {"13 downgrade mbi lower", 13, 3, {{3, 20}, {6, 12}, {4, 3}, {8, 5, 63}, {3, 20, 3}}, kBase, 0},
    {"12 rewrite comps newer mbi lower", 12, 2, {{3, 21}, {6, 13}, {4, 4}, {8, 6, 0}, {3, 20, 3}}, kBase, 0},
    // Firmware compares as "%d.%02d.%02d" text: 9.00.00 sorts after 10.00.00.
    {"firmware text 9 after 10",
     10,
     0,
     {{3, 20}, {6, 12}, {4, 3}, {9, 0, 0}, {}},
     {{3, 20}, {6, 12}, {4, 3}, {10, 0, 0}, {}},
     0},
    // Force rewrite and downgrade.
    {"rewrite all equal", 10, 2, kBase, kBase, 1},
    {"rewrite all newer", 10, 2, {{3, 21}, {6, 13}, {4, 4}, {8, 6, 0}, {}}, kBase, 0},
    {"downgrade all equal", 10, 3, kBase, kBase, 0},
    {"downgrade bios newer",
     10,
     3,
     {{3, 21}, {6, 12}, {4, 3}, {8, 5, 63}, {}},
     {{3, 20}, {6, 12}, {4, 3}, {8, 5, 63}, {}},
     1},
    // BIOS class compares texts: 9.99 sorts after 10.01.
    {"bios class 9.99 vs 10.01", 4, 0, {{9, 99}, {}, {}, {}, {}}, {{10, 1}, {}, {}, {}, {}}, 0},
    {"bios class 10.01 vs 9.99", 4, 0, {{10, 1}, {}, {}, {}, {}}, {{9, 99}, {}, {}, {}, {}}, 1},
    {"bios class ignores firmware", 14, 0, {{3, 20}, {}, {}, {1, 0, 0}, {}}, {{3, 20}, {}, {}, {9, 0, 0}, {}}, 0},
    {"bios class downgrade differs", 0, 3, {{3, 21}, {}, {}, {}, {}}, {{3, 20}, {}, {}, {}, {}}, 1},
    // Multi-boot class: 032004 before 032100.
    {"mbi class lower", 25, 0, {{}, {}, {}, {}, {3, 20, 4}}, {{}, {}, {}, {}, {3, 21, 0}}, 1},
    // The multi-boot text pads its major: 090000 sorts before 100000.
    {"mbi class padded major", 21, 0, {{}, {}, {}, {}, {9, 0, 0}}, {{}, {}, {}, {}, {10, 0, 0}}, 1},
    {"mbi class ignores components",
     15,
     0,
     {{1, 0}, {1, 0}, {1, 0}, {1, 0, 0}, {3, 21, 0}},
     {{9, 0}, {9, 0}, {9, 0}, {9, 0, 0}, {3, 21, 0}},
     0},
    {"mbi class rewrite equal", 27, 2, {{}, {}, {}, {}, {3, 21, 0}}, {{}, {}, {}, {}, {3, 21, 0}}, 1},
    {"mbi class downgrade newer", 24, 3, {{}, {}, {}, {}, {3, 22, 0}}, {{}, {}, {}, {}, {3, 21, 0}}, 1},
    // Force write always; unknown mode never.
    {"force write equal", 4, 1, kBase, kBase, 1},
    {"force write newer", 25, 1, {{}, {}, {}, {}, {9, 0, 0}}, kBase, 1},
    {"unknown mode", 10, 4, {{1, 0}, {}, {}, {}, {}}, kBase, 0},
    {"negative mode", 25, -1, {{}, {}, {}, {}, {1, 0, 0}}, kBase, 0},
};

TEST(UpdatePolicy, DecisionTable) {
    for (const PolicyCase &c : kPolicyCases) {
        FlashCtrEntry a = Entry(c.adapter);
        FlashCtrEntry f = Entry(c.file);
        EXPECT_EQ(DecideFlashUpdate(c.cxrType, c.mode, nullptr, &a, &f), c.expected) << c.name;
    }
}

TEST(UpdatePolicy, MissingRecordsNeverUpdateExceptForceWrite) {
    FlashCtrEntry e = Entry(kBase);
    EXPECT_EQ(DecideFlashUpdate(10, 0, nullptr, nullptr, &e), 0);
    EXPECT_EQ(DecideFlashUpdate(10, 3, nullptr, &e, nullptr), 0);
    EXPECT_EQ(DecideFlashUpdate(10, 1, nullptr, nullptr, nullptr), 1);
}

TEST(UpdatePolicy, NoAdapterIsBiosClassUnderRunMode) {
    FlashCtrEntry a = Entry({{3, 20}, {}, {}, {}, {1, 0, 0}});
    FlashCtrEntry f = Entry({{3, 21}, {}, {}, {}, {1, 0, 0}});
    int saved = g_iFlashMode;
    g_iFlashMode = 0;
    EXPECT_EQ(GetFlashUpdatePolicy(nullptr, &a, &f), 1);
    g_iFlashMode = 2;
    EXPECT_EQ(GetFlashUpdatePolicy(nullptr, &f, &a), 0);
    g_iFlashMode = saved;
}

TEST(InboxDriver, Versions) {
    struct {
        const char *text;
        int expected;
    } cases[] = {
        {"9.1.4.5", 1},  {"9.1.4.6", 1},  {"9.1.4.61", 1},  {"9.1.4.6a", 1}, {"9.1.4", 1},
        {"", 1},         {"...", 1},      {"9.1.4.7", 0},   {"9.2.4.5", 0},  {"8.1.4.5", 0},
        {"9.1.4.50", 1}, {"9,1,4,55", 1}, {"9.1.4.5.9", 0}, {"9.1.5", 0},    {"10.1.4.5", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(isInboxDriverVersion(c.text), c.expected) << c.text;
    EXPECT_EQ(isInboxDriverVersion(nullptr), 1);
}

TEST(InboxDriver, ImprovedPhase2) {
    struct {
        const char *text;
        int newer;
        int expected;
    } cases[] = {
        {"9.1.10.1", 0, 1}, {"9.1.9.40", 0, 0}, {"9.1.9.40", 1, 1}, {"9.1.9.39", 0, 1},  {"9.1.9.46", 0, 1},
        {"9.1.9.38", 1, 0}, {"9.1.9.47", 0, 1}, {"9.1.9", 0, 1},    {"9.0.99.99", 1, 0}, {"10.0.0.0", 0, 1},
        {"8.9.9.99", 1, 0}, {"", 1, 0},         {"abc", 0, 0},      {" 9.1.9.39", 0, 1}, {"v9.1.9.46", 0, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(isImprovedInboxPhase2DriverVersion(c.text, c.newer), c.expected) << c.text << " flag " << c.newer;
}

} // namespace
