// Common boot image stamping and the chip checks.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>

#include "../tools/imagekit/imagekit.h"
#include "image/bootpatch.h"
#include "image/pcirom.h"

namespace ik = imagekit;

namespace {

ik::Bytes Common(const std::string &chip, int typeCode) {
    ik::PciImageSpec s = ik::CommonBios(chip, 0x2532, 1, 0);
    s.typeCode = typeCode;
    return ik::BuildPciImage(s, true);
}

ik::Bytes CodeImg(uint8_t type, uint16_t dev) { return ik::BuildPciImage(ik::CodeImage(type, dev, 1, 0), true); }

uint16_t ImageDevice(const ik::Bytes &b) { return ik::GetLE16(b, ik::GetLE16(b, 0x18) + 6); }

} // namespace

TEST(UpdateImage, StampsTheCommonBiosFields) {
    struct Case {
        const char *hwType;
        int result;
        uint8_t code;
        uint16_t device;
        const char *chipText;
    };
    const Case cases[] = {
        {"CXR2532", 0, 0x2F, 0x2532, "2532"},  {"CXR2322S", 0, 0x21, 0x2322, "2322"},
        {"CXR2322", 0, 0x1D, 0x2322, "2322"},  {"CXR2A61", 0, 0x40, 0x2A61, "2A61"},
        {"CXR8044", 0, 0x44, 0x8044, "8044"},  {"CXR2300", 0, 0x15, 0x2300, "2300"},
        {"CXR2310", 9, 0x77, 0x7777, "2310"},  {"cxr2532", 9, 0x77, 0x7777, "cxr2"},
        {"CXR2532 ", 9, 0x77, 0x7777, "2532"}, {"2432", 9, 0x77, 0x7777, "2432"},
    };
    for (const auto &c : cases) {
        ik::Bytes img = Common("2432", 0x25);
        img[0x14] = 0x77;
        ik::PutLE16(img, 0x2A, 0x7777);
        EXPECT_EQ(UpdateImage(0x1234, 0x103C, img, "QLE2562", c.hwType, 0), c.result) << c.hwType;
        EXPECT_EQ(img[0x14], c.code) << c.hwType;
        EXPECT_EQ(ik::GetLE16(img, 0x2A), c.device) << c.hwType;
        EXPECT_EQ(ik::GetLE16(img, 0x20), 0x103C) << c.hwType;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(&img[0x09]), 4), c.chipText) << c.hwType;
    }
}

TEST(UpdateImage, ModelIsCutAtEighteenAndFollowedByABlank) {
    struct Case {
        const char *model;
        std::string field; // 0x44-0x56, 19 bytes
    };
    const Case cases[] = {
        {"ABCDEFGHIJKLMNOPQRST", std::string("ABCDEFGHIJKLMNOPQR") + " "},
        {"QLE2562", std::string("QLE2562 ") + std::string(11, '\0')},
        {"", std::string(" ") + std::string(18, '\0')},
        {nullptr, std::string(" ") + std::string(18, '\0')},
    };
    for (const auto &c : cases) {
        ik::PciImageSpec s = ik::CommonBios("2532", 0x2532, 1, 0);
        s.model = "OLDMODELNAME-LONGER";
        ik::Bytes img = ik::BuildPciImage(s, true);
        ASSERT_EQ(UpdateImage(0, 0x1077, img, c.model, "CXR2532", 0), 0);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(&img[0x44]), 19), c.field) << (c.model ? c.model : "null");
        EXPECT_EQ(img[0x57], 0) << "byte after the field untouched (header area is zero)";
    }
}

TEST(UpdateImage, AtAnOffsetAndBounded) {
    ik::Bytes two = Common("2432", 0x25);
    ik::Append(two, Common("2432", 0x25));
    size_t at = 64 * 512;
    EXPECT_EQ(UpdateImage(0, 0x1077, two, "M", "CXR2532", at), 0);
    EXPECT_EQ(two[at + 0x14], 0x2F);
    EXPECT_EQ(two[0x14], 0x25);
    ik::Bytes small(0x50, 0);
    ik::Bytes before = small;
    EXPECT_EQ(UpdateImage(0, 0x1077, small, "M", "CXR2532", 0), IMG_BAD_HEADER);
    EXPECT_EQ(small, before);
}

TEST(UpdateiSCSIImage, UsesItsOwnTables) {
    struct Case {
        const char *hwType;
        int result;
        uint8_t code;
        uint16_t device;
    };
    const Case cases[] = {
        {"CXR8021", 0, 0x33, 0x8021}, {"CXR8022", 0, 0x35, 0x8022}, {"CXR8032", 0, 0x40, 0x8032},
        {"CXR8042", 0, 0x42, 0x8042}, {"CXR8001", 9, 0x77, 0x8001}, {"CXR2532", 9, 0x77, 0x7777},
    };
    for (const auto &c : cases) {
        ik::Bytes img = Common("8032", 0x40);
        img[0x14] = 0x77;
        ik::PutLE16(img, 0x2A, 0x7777);
        EXPECT_EQ(UpdateiSCSIImage(0, 0x1077, img, "QLE8242", c.hwType), c.result) << c.hwType;
        EXPECT_EQ(img[0x14], c.code) << c.hwType;
        EXPECT_EQ(ik::GetLE16(img, 0x2A), c.device) << c.hwType;
    }
}

TEST(Validate, CommonBiosRulesInOrder) {
    struct Case {
        const char *device;
        uint8_t code;
        int expected;
    };
    const Case cases[] = {
        {"2322S", 0x21, 0}, {"2322s", 0x21, 0}, {"2322S", 0x1D, 10}, {"2322", 0x1F, 0},  {"2322", 0x1D, 0},
        {"2322", 0x21, 10}, {"2312", 0x1A, 0},  {"2312", 0x1F, 10},  {"2300", 0x20, 10}, {"2371", 0x40, 0},
        {"2432", 0x25, 0},  {"2432", 0x2F, 0},  {"2432", 0x31, 10},  {"5432", 0x28, 0},  {"5422", 0x1D, 10},
        {"6312", 0x1F, 0},  {"6322", 0x20, 0},  {"6322", 0x25, 10},  {"2532", 0x2F, 0},  {"2532", 0x25, 10},
        {"2532", 0x22, 10}, {"8432", 0x31, 0},  {"8432", 0x29, 10},  {"8001", 0x32, 0},  {"8001", 0x2F, 10},
        {"8021", 0x33, 0},  {"8022", 0x32, 10}, {"2031", 0x1F, 0},   {"8031", 0x15, 0},  {"8032", 0x99, 0},
        {"8041", 0x41, 0},  {"8044", 0x40, 10}, {"8042", 0x33, 10},  {"2071", 0x40, 0},  {"2A61", 0x40, 0},
        {"2261", 0x33, 10}, {"2089", 0x40, 0},  {"2289", 0x2F, 10},  {"2200", 0x15, 10}, {"9999", 0x40, 10},
        {"", 0x40, 10},     {"2381", 0x33, 0},  {"2389", 0x2F, 0}, // "23" rule comes before the 27xx/28xx rule
    };
    for (const auto &c : cases) {
        ik::Bytes img = Common("2532", c.code);
        EXPECT_EQ(Validate(img, c.device, 0), c.expected) << c.device << " code 0x" << std::hex << int(c.code);
    }
}

TEST(Validate, CommonBiosChecksumAfterTheTypeTest) {
    ik::Bytes img = Common("2532", 0x2F);
    img[img[2] * 512 - 1] ^= 1;
    EXPECT_EQ(Validate(img, "2532", 0), IMG_CHECKSUM_MISMATCH);
    EXPECT_EQ(Validate(img, "2432", 0), 0 + IMG_CHECKSUM_MISMATCH);
    EXPECT_EQ(Validate(img, "6322", 0), IMG_INVALID_SSID); // type refused before the checksum
}

TEST(Validate, StandardBiosComparesTheChipText) {
    ik::Bytes img = ik::BuildPciImage(ik::StandardBios("2312", 0x2312, 1, 90), true);
    EXPECT_EQ(Validate(img, "2312", 0), 0);
    EXPECT_EQ(Validate(img, "2312S", 0), 0);
    EXPECT_EQ(Validate(img, "2300", 0), IMG_INVALID_SSID);
    EXPECT_EQ(Validate(img, "231", 0), IMG_INVALID_SSID);
    EXPECT_EQ(Validate(std::span<const uint8_t>(img.data(), 0x0B), "2312", 0), IMG_INVALID_SSID);
    // A damaged standard image is refused like a common one, after the chip
    // text matched.
    img[img[2] * 512 - 1] ^= 1;
    EXPECT_EQ(Validate(img, "2312", 0), IMG_CHECKSUM_MISMATCH);
    EXPECT_EQ(Validate(img, "2300", 0), IMG_INVALID_SSID);
}

TEST(FCodeAndEfiUpdate, WriteTheChipDeviceId) {
    struct Case {
        const char *hwType;
        uint16_t before;
        int fcodeResult;
        uint16_t fcodeAfter;
        int efiResult;
        uint16_t efiAfter;
    };
    const Case cases[] = {
        {"CXR2532", 0x2432, 0, 0x2532, 0, 0x2532}, {"CXR2322S", 0x2532, 0, 0x2322, 0, 0x2322},
        {"CXR2031", 0x2431, 0, 0x2431, 0, 0x2031}, {"CXR2031", 0x2532, 0, 0x2031, 0, 0x2031},
        {"CXR2071", 0x2471, 0, 0x2471, 0, 0x2071}, {"CXR2261", 0x2661, 0, 0x2661, 0, 0x2261},
        {"CXR2171", 0x2471, 0, 0x2171, 0, 0x2171}, {"CXR2A61", 0x2532, 0, 0x2532, 0, 0x2A61},
        {"CXR8030", 0x2532, 0, 0x2532, 0, 0x8030}, {"CXR2389", 0x2532, 0, 0x2532, 0, 0x2389},
        {"CXR2310", 0x2532, 0, 0x2532, 9, 0x2532}, {"CXR2300", 0x2532, 0, 0x2532, 9, 0x2532},
    };
    for (const auto &c : cases) {
        ik::Bytes fcode = CodeImg(ik::kFCode, c.before);
        ik::Bytes efi = CodeImg(ik::kEfi, c.before);
        EXPECT_EQ(updateImageFCode(0, 0, fcode, c.hwType, 0), c.fcodeResult) << c.hwType;
        EXPECT_EQ(ImageDevice(fcode), c.fcodeAfter) << c.hwType;
        EXPECT_EQ(UpdateImageEFI(0, 0, efi, c.hwType, 0), c.efiResult) << c.hwType;
        EXPECT_EQ(ImageDevice(efi), c.efiAfter) << c.hwType;
    }
    ik::Bytes small(0x20, 0);
    small[0] = 0x55, small[1] = 0xAA, small[0x18] = 0x1C;
    EXPECT_EQ(updateImageFCode(0, 0, small, "CXR2532", 0), IMG_BAD_HEADER);
    EXPECT_EQ(UpdateImageEFI(0, 0, small, "CXR2532", 0), IMG_BAD_HEADER);
}

TEST(ValidateFCode, DeviceRules) {
    struct Case {
        const char *device;
        uint16_t image;
        int expected;
    };
    const Case cases[] = {
        {"2200", 0x2200, 0},  {"2200", 0x2300, 11}, {"2261", 0x2261, 0},  {"2261", 0x2661, 11}, {"2312", 0x2312, 0},
        {"2312", 0x2322, 11}, {"2300", 0x2300, 0},  {"2310", 0x2310, 11}, {"2031", 0x2431, 0},  {"2071", 0x2471, 0},
        {"2081", 0x2481, 0},  {"2389", 0x2789, 0},  {"2031", 0x2031, 0},  {"2432", 0x2422, 0},  {"2532", 0x2432, 11},
        {"8001", 0x8021, 0},  {"8001", 0x2532, 11}, {"2A61", 0x2A61, 11}, {"2322S", 0x2322, 0},
    };
    for (const auto &c : cases) {
        ik::Bytes img = CodeImg(ik::kFCode, c.image);
        EXPECT_EQ(validateFCode(img, c.device, 0, 0), c.expected) << c.device << " image " << std::hex << c.image;
    }
}

TEST(ValidateEfi, SecondCharacterOfTheHighByte) {
    struct Case {
        const char *device;
        uint16_t image;
        int expected;
    };
    const Case cases[] = {
        {"2A61", 0x2A61, 0},  {"2a61", 0x2A61, 0}, {"2532", 0x2532, 0},  {"2432", 0x2532, 0},
        {"2432", 0x2032, 11}, {"8031", 0x8001, 0}, {"8031", 0x2131, 11}, {"2071", 0x2071, 0},
    };
    for (const auto &c : cases) {
        ik::Bytes img = CodeImg(ik::kEfi, c.image);
        EXPECT_EQ(validateEFI(img, c.device, 0), c.expected) << c.device << " image " << std::hex << c.image;
    }
}

TEST(FCodeAndEfiValidation, NeedTheRomSignature) {
    for (uint8_t type : {ik::kFCode, ik::kEfi}) {
        ik::Bytes img = CodeImg(type, 0x2532);
        img[0] = 0;
        EXPECT_EQ(validateFCode(img, "2532", 0, 0), IMG_BAD_SIGNATURE);
        EXPECT_EQ(validateEFI(img, "2532", 0), IMG_BAD_SIGNATURE);
        EXPECT_EQ(validateEFI(std::span<const uint8_t>(img.data(), 1), "2532", 0), IMG_BAD_SIGNATURE);
        ik::Bytes header(0x20, 0);
        header[0] = 0x55, header[1] = 0xAA, header[0x18] = 0xF0; // data structure outside
        EXPECT_EQ(validateFCode(header, "2532", 0, 0), IMG_BAD_SIGNATURE);
        EXPECT_EQ(validateEFI(header, "2532", 0), IMG_BAD_SIGNATURE);
    }
}

TEST(PatchThenValidate, EveryCommonChipRoundTrips) {
    // A chain built for one chip, patched for each chip of the tables, must
    // validate for that chip with all BIOS bytes summing to zero.
    const char *chips[] = {"2422", "2432", "2532", "5422", "5432", "8432", "8001", "8021", "8031",
                           "2031", "2071", "2171", "2271", "2371", "2081", "2089", "2189"};
    for (const char *chip : chips) {
        uint16_t dev = static_cast<uint16_t>(std::stoul(chip, nullptr, 16));
        ik::Bytes chain = ik::BuildChain(ik::BootChainSpecs("2432", 0x2432, ik::BootVersions{}, true, true, true));
        ASSERT_EQ(UpdateAllPciHeaders(chain, 0x1077, 0x0100, dev, "QLE"), 0) << chip;
        EXPECT_EQ(std::accumulate(chain.begin(), chain.begin() + chain[2] * 512, 0u) & 0xFF, 0u) << chip;
        EXPECT_EQ(Validate(chain, chip, 0), 0) << chip;
        // The 28xx chips have no common FCode: the 2432 FCode stays in the
        // chain and the chain check refuses an FCode of another chip.
        const bool fcodeKept =
            std::string(chip) == "2081" || std::string(chip) == "2089" || std::string(chip) == "2189";
        EXPECT_EQ(ValidateFCoEPciHeaders(chain, dev), fcodeKept ? 0 : 1) << chip;
    }
}
