#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "inventory/display.h"

namespace {

TVXDevice Device(uint16_t pciId, uint16_t ssdid = 0x100, uint16_t ssvid = 0x1077, const char *fw = "8.02.00") {
    TVXDevice d{};
    d.chipProperty.PciDeviceId = pciId;
    d.chipProperty.SubsysDeviceId = ssdid;
    d.chipProperty.SubsysVendorId = ssvid;
    std::strncpy(d.nodeProperty.FirmwareVersion, fw, sizeof(d.nodeProperty.FirmwareVersion) - 1);
    return d;
}

TVX_PORT_PROPERTY Port(uint16_t state, uint16_t ls2 = 0, uint16_t ls3 = 0, uint16_t ls6 = 0) {
    TVX_PORT_PROPERTY p{};
    p.PortState = state;
    p.LinkState2 = ls2;
    p.LinkState3 = ls3;
    p.LinkState6 = ls6;
    return p;
}

TEST(PortStatus, BitRules) {
    struct {
        const char *name;
        uint32_t before;
        TVX_PORT_PROPERTY port;
        uint32_t after;
    } cases[] = {
        {"down with LS2 1", 0, Port(2, 1), 0x021},
        {"loop down with LS2 6 and link 2", 0, Port(3, 6, 0, 2), 0x301},
        {"down switches LS2 bit", 0x041, Port(2, 5), 0x081},
        {"down clears link bit", 0x201, Port(2, 3, 0, 0), 0x001},
        {"down keeps pending bit", 0x1000, Port(2, 4), 0x1041},
        {"up clears down and pending", 0x1001, Port(1), 0},
        {"up keeps pending without down bit", 0x1000, Port(1), 0x1000},
        {"up keeps matching LS2 bit", 0x021, Port(1, 1), 0x020},
        {"up keeps link bit when still 2", 0x201, Port(1, 0, 0, 2), 0x200},
        {"up clears other bits of LS2", 0x1E1, Port(1, 6), 0x100},
        {"other state leaves flags", 0x1E1, Port(0, 1), 0x1E1},
        {"other state 7 leaves flags", 0x4000, Port(7, 6, 0, 2), 0x4000},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ApplyPortStatus(c.before, c.port), c.after) << c.name;
}

TEST(PortStatus, Texts) {
    struct {
        const char *name;
        TVXDevice dev;
        uint32_t flags;
        TVX_PORT_PROPERTY port;
        const char *text;
    } cases[] = {
        {"online 2312", Device(0x2312), 0, Port(1), "Online"},
        {"online fec on 2031", Device(0x2031), 0, Port(1, 0, 0x8000), "Online (FEC)"},
        {"online 2031 without fec bit", Device(0x2031), 0, Port(1, 0, 0x7FFF), "Online"},
        {"fec bit with old firmware", Device(0x2031, 0x100, 0x1077, "7.99.00"), 0, Port(1, 0, 0x8000), "Online"},
        {"fec bit below family 24", Device(0x2532), 0, Port(1, 0, 0x8000), "Online"},
        {"state 2 converged", Device(0x8001), 0, Port(2), "Link Down"},
        {"state 2 fc", Device(0x2532), 0, Port(2), "Loop down"},
        {"state 3 old", Device(0x2312), 0, Port(3), "Loop down"},
        {"state 3 new", Device(0x2532), 0, Port(3), "Link Down"},
        {"state 0", Device(0x2532), 0, Port(0), "Unknown"},
        {"flags 1 old", Device(0x2312), 1, Port(2, 1), "Loop down"},
        {"flags 1 no sfp", Device(0x2532), 1, Port(2, 1), "SFP not installed"},
        {"flags 1 sfp invalid", Device(0x2532), 1, Port(2, 6), "SFP Invalid"},
        {"flags 1 other", Device(0x2532), 1, Port(2, 3), "Link Down"},
        {"system error", Device(0x2532), 2, Port(1), "System Error"},
        {"lip", Device(0x2532), 4, Port(1), "Lip occurred"},
        {"loop up", Device(0x2312), 8, Port(1), "Loop up"},
        {"link up", Device(0x2532), 8, Port(1), "Link Up"},
        {"port update", Device(0x2532), 16, Port(1), "Port update"},
        {"send loop down", Device(0x2100), 0x1000, Port(1), "Send loop down update"},
        {"send link down", Device(0x2432), 0x1000, Port(1), "Send link down update"},
        {"alt wwn", Device(0x2532), 0x2000, Port(1), "Alt WWN active"},
        {"disable", Device(0x2532), 0x4000, Port(1), "Disable"},
        {"currently up", Device(0x2532), 0x8000, Port(1), "Currently up"},
        {"combined old", Device(0x2312), 0x21, Port(2, 1), "Loop down"},
        {"combined no sfp", Device(0x2532), 0x21, Port(2, 1), "SFP not installed"},
        {"combined sfp invalid", Device(0x2532), 0x101, Port(2, 6), "SFP Invalid"},
        {"diagnostic mode fenwar", Device(0x2071, 0x100), 0x201, Port(2, 3, 0, 2), "Loop Down, Diagnostic Mode"},
        {"diagnostic brocade list", Device(0x2071, 0x240), 0x201, Port(2, 3, 0, 2), "Link Down"},
        {"diagnostic below 21", Device(0x2532), 0x201, Port(2, 2, 0, 2), "Link Down"},
        {"ls2 7 other flags up", Device(0x2071), 0x1201, Port(1, 7), "Online"},
        {"ls2 2 other flags down", Device(0x2071), 0x1201, Port(2, 2), "Link Down"},
        {"ls2 other value", Device(0x2071), 0x1201, Port(2, 9), "Link Down"},
        {"leftover bits port up", Device(0x2532), 0x20, Port(1, 1), "Online"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(AdapterStatusText(&c.dev, c.flags, c.port), c.text) << c.name;
}

TEST(PortStatus, GetAdapterStatusCutsToBuffer) {
    TVXDevice d = Device(0x2532);
    d.handle = 0xFFFFFF; // no such handle: the stored port reading stands
    d.statusFlags = 1;
    d.portProperty = Port(2, 1);
    char buf[8];
    EXPECT_EQ(GetAdapterStatus(&d, buf, sizeof(buf)), 7);
    EXPECT_STREQ(buf, "SFP not");
    EXPECT_EQ(GetAdapterStatus(&d, nullptr, 10), 0);
    char big[64];
    EXPECT_EQ(GetAdapterStatus(&d, big, sizeof(big)), 17);
    EXPECT_STREQ(big, "SFP not installed");
}

TEST(DisplayHelpers, ChipRevision) {
    struct {
        unsigned chip;
        int type;
        const char *text;
    } cases[] = {
        {1, 15, "0x1(A0)"},    {1, 21, "0x1(A0)"},     {1, 24, "0x1(A0)"},    {1, 25, "0x1"},
        {2, 15, "0x2(A1)"},    {2, 21, "0x2(B0)"},     {2, 24, "0x2(B0)"},    {2, 17, "0x2"},
        {0x42, 0, "0x42(B2)"}, {0x50, 27, "0x50(A0)"}, {0x54, 1, "0x54(B0)"}, {0x55, 1, "0x55(B1)"},
        {0x58, 1, "0x58(C0)"}, {0x5C, 1, "0x5c(D0)"},  {0x898, 25, "0x898"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(GetChipRevisionText(c.chip, c.type), c.text) << c.chip << "/" << c.type;
}

TEST(DisplayHelpers, FecFirmware) {
    struct {
        const char *text;
        int expected;
    } cases[] = {{"8.02.00", 1}, {"7.99.00", 0}, {"10.00.00", 1}, {"", 0}, {" 9.1", 1}, {"..8", 1}, {"v8.1", 0}};
    for (const auto &c : cases)
        EXPECT_EQ(isFirmwareWithFECSupport(c.text), c.expected) << c.text;
    EXPECT_EQ(isFirmwareWithFECSupport(nullptr), 0);
}

TEST(DisplayHelpers, BiosVersionCheck) {
    struct {
        const char *text;
        const char *shown;
    } cases[] = {{"", "N/A"},      {"0.00", "N/A"}, {" 0 .\t0\r\n", "N/A"}, {"3.21", "3.21"},
                 {"0.01", "0.01"}, {"abc", "N/A"},  {"2.02 ", "2.02 "}};
    for (const auto &c : cases)
        EXPECT_EQ(CheckedBiosVersionText(c.text, 40), c.shown) << c.text;
    char area[40];
    std::memset(area, '1', sizeof(area)); // no terminator inside the area
    EXPECT_EQ(CheckedBiosVersionText(area, sizeof(area)).size(), 40u);
}

TEST(DisplayHelpers, ModelText) {
    EXPECT_EQ(DisplayModelText("QLE 2562\t", false), "QLE2562");
    EXPECT_EQ(DisplayModelText("QLE2562", true), "QLE2562-S");
    EXPECT_EQ(DisplayModelText("SG-XPCIE2FC-S", true), "SG-XPCIE2FC-S");
    EXPECT_EQ(DisplayModelText("Mod\x01\x7F"
                               "el",
                               false),
              "Model");
    EXPECT_EQ(DisplayModelText(std::string(40, 'A').c_str(), true).size(), 31u);
}

TEST(DisplayHelpers, BootImageFamily) {
    struct {
        uint16_t pciId;
        int family;
    } cases[] = {{0x8001, 5}, {0x8021, 6}, {0x8031, 7}, {0x8831, 7}, {0x2031, 8}, {0x2261, 9}, {0x8044, 10},
                 {0x2422, 1}, {0x2432, 1}, {0x5422, 2}, {0x5432, 2}, {0x8432, 3}, {0x2312, 0}, {0x2081, 0}};
    for (const auto &c : cases) {
        TVXDevice d = Device(c.pciId);
        EXPECT_EQ(GetBootImageFamily(&d), c.family) << std::hex << c.pciId;
    }
    EXPECT_EQ(GetBootImageFamily(nullptr), 0);
}

} // namespace
