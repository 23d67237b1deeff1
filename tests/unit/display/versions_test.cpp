#include <gtest/gtest.h>

#include <vector>

#include "image/image_versions.h"
#include "image/mbi_version.h"
#include "update/installed_versions.h"

namespace {

TEST(MultibootBlock, SignatureAndShortBlocks) {
    std::vector<uint8_t> block(64, 0);
    const uint8_t sig[] = {'O', 'M', 'B', 'V'};
    std::copy(std::begin(sig), std::end(sig), block.begin());
    block[4] = 3;
    block[5] = 21;
    block[6] = 4;
    MultibootVersion v{9, 9, 9};
    EXPECT_EQ(getMBImageVersionInFirmware(block, &v), 0);
    EXPECT_EQ(v.ExistingMultibootVersionMajor, 3);
    EXPECT_EQ(v.ExistingMultibootVersionMinor, 21);
    EXPECT_EQ(v.ExistingMultibootVersionSubMinor, 4);

    block[0] = 'V'; // the letters reversed are no signature
    block[1] = 'B';
    block[2] = 'M';
    block[3] = 'O';
    EXPECT_EQ(getMBImageVersionInFirmware(block, &v), 0);
    EXPECT_EQ(v.ExistingMultibootVersionMajor, 0);
    EXPECT_EQ(v.ExistingMultibootVersionSubMinor, 0);

    std::vector<uint8_t> shortBlock(sig, sig + 4); // signature but no version bytes
    v = {7, 7, 7};
    EXPECT_EQ(getMBImageVersionInFirmware(shortBlock, &v), 0);
    EXPECT_EQ(v.ExistingMultibootVersionMajor, 0);
}

TEST(MultibootBlock, AdapterReadRejectsMissingAndVirtual) {
    MultibootVersion v{1, 2, 3};
    EXPECT_EQ(getMBImageVersionInFirmwareFromAdapter(nullptr, &v), 8);
    TVXDevice d{};
    d.chipProperty.PciDeviceId = 0x2432;
    d.nodeProperty.InterfaceKind = TVX_INTERFACE_VIRTUAL;
    EXPECT_EQ(getMBImageVersionInFirmwareFromAdapter(&d, &v), 286);
    d.nodeProperty.InterfaceKind = TVX_INTERFACE_PHYSICAL;
    d.chipProperty.PciDeviceId = 0x2312; // no version block on this family
    EXPECT_EQ(getMBImageVersionInFirmwareFromAdapter(&d, &v), 0);
    EXPECT_EQ(v.ExistingMultibootVersionMajor, 1);
    EXPECT_EQ(v.ExistingMultibootVersionSubMinor, 3);
}

TEST(VpdVersions, Parsers) {
    struct {
        const char *text;
        uint8_t fw[3];
    } fw[] = {{"8.07.12", {8, 7, 12}}, {"08.07.12", {8, 7, 12}}, {"008.007.012", {8, 7, 12}}, {"10.2", {10, 2, 0}},
              {"", {0, 0, 0}},         {"1.2.3.4.5", {1, 2, 3}}, {"abcdefgh", {0, 0, 0}},     {"9", {9, 0, 0}}};
    for (const auto &c : fw) {
        uint8_t out[3] = {0xEE, 0xEE, 0xEE};
        ParseVpdFirmwareVersion(c.text, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 3), std::vector<uint8_t>(c.fw, c.fw + 3)) << c.text;
    }
    struct {
        const char *text;
        uint8_t v[2];
    } two[] = {{"03.21", {3, 21}}, {"3.21", {3, 1}}, {"", {0, 0}}, {"12", {12, 0}}};
    for (const auto &c : two) {
        uint8_t out[2] = {0xEE, 0xEE};
        ParseVpdTwoPartVersion(c.text, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 2), std::vector<uint8_t>(c.v, c.v + 2)) << c.text;
    }
    struct {
        const char *text;
        uint8_t v[3];
    } digits[] = {{"03.10.05", {3, 10, 5}}, {"v3.1", {31, 0, 0}}, {"", {0, 0, 0}}, {"1234567", {12, 34, 56}}};
    for (const auto &c : digits) {
        uint8_t out[3] = {0xEE, 0xEE, 0xEE};
        ParseVpdDigitVersion(c.text, out, 3);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 3), std::vector<uint8_t>(c.v, c.v + 3)) << c.text;
    }
}

TEST(VpdVersions, NullAdapter) {
    InstalledImageVersions v{};
    EXPECT_EQ(GetExistingCNAFlashImageVersions(nullptr, &v), 8);
}

} // namespace
