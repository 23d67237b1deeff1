// FLT locator and header checks, word sums and the byte helpers.
#include <gtest/gtest.h>

#include "../tools/imagekit/imagekit.h"
#include "image/flt.h"
#include "image/helpers.h"

namespace ik = imagekit;

TEST(FltLocator, SignatureAndChecksum) {
    struct Case {
        const char *name;
        ik::FltLocatorFaults faults;
        int expected;
    };
    const Case cases[] = {
        {"valid", {}, 1},
        {"lower case", {false, false, true, false}, 1},
        {"bad checksum", {true, false, false, false}, 0},
        {"bad signature", {false, true, false, false}, 0},
        {"non-zero byte after the letters", {false, false, false, true}, 0},
    };
    for (const auto &c : cases) {
        ik::Bytes loc = ik::BuildFltLocator(0x3F000, 1, c.faults);
        EXPECT_EQ(ValidateFLTLocator(loc), c.expected) << c.name;
    }
}

TEST(FltLocator, AnyChangedByteIsRefused) {
    ik::Bytes loc = ik::BuildFltLocator(0x12345678, 2);
    ASSERT_EQ(HLPR_Sum16(loc, 8), 0);
    for (size_t i = 0; i < loc.size(); ++i) {
        ik::Bytes bad = loc;
        bad[i] ^= 0x10;
        EXPECT_EQ(ValidateFLTLocator(bad), 0) << "byte " << i;
    }
    EXPECT_EQ(ValidateFLTLocator(std::span<const uint8_t>(loc.data(), 15)), 0);
    EXPECT_EQ(ValidateFLTLocator({}), 0);
}

TEST(FlashLayoutVersion, ReturnsWordZeroWhateverTheSum) {
    std::vector<ik::FltRegion> regions{{0x07, 0x40000, 0}, {0x01, 0x80000, 0x80000}, {0x1C, 0x1000, 0x3F000}};
    ik::Bytes flt = ik::BuildFlt(2, regions);
    EXPECT_EQ(HLPR_Sum16(flt, (ik::GetLE16(flt, 2) + 24) / 2), 0);
    EXPECT_EQ(GetFlashLayoutVersion(flt), 2);
    EXPECT_EQ(GetFlashLayoutVersion(ik::BuildFlt(3, regions, true)), 3);
    // Length word claiming more than the buffer: still bounded.
    ik::PutLE16(flt, 2, 0xFFF0);
    EXPECT_EQ(GetFlashLayoutVersion(flt), 2);
    EXPECT_EQ(GetFlashLayoutVersion(std::span<const uint8_t>(flt.data(), 7)), 0);
    EXPECT_EQ(GetFlashLayoutVersion({}), 0);
}

TEST(WordSums, WrapAndStayInsideTheBuffer) {
    std::vector<uint8_t> b{0xFF, 0xFF, 0x02, 0x00, 0x01, 0x00, 0x00, 0x80};
    EXPECT_EQ(HLPR_Sum16(b, 2), 0x0001);
    EXPECT_EQ(HLPR_Sum16(b, 4), 0x8002);
    EXPECT_EQ(HLPR_Sum16(b, 1000), 0x8002); // count cut to the buffer
    EXPECT_EQ(HLPR_Sum16(b, 0), 0);
    EXPECT_EQ(HLPR_Sum32(b, 0), 0u);
    EXPECT_EQ(HLPR_Sum32(b, 2), 0x0002FFFFu + 0x80000001u);
    std::vector<uint8_t> wrap{0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00};
    EXPECT_EQ(HLPR_Sum32(wrap, 2), 1u);
    EXPECT_EQ(HLPR_Sum32(wrap, 3), 1u);
    EXPECT_EQ(HLPR_Sum16(std::span<const uint8_t>(b.data(), 3), 2), 0xFFFF);
}

TEST(ByteHelpers, RefuseFieldsOutsideTheBuffer) {
    std::vector<uint8_t> b{0x12, 0x34, 0x56, 0x78};
    uint16_t v16 = 0xAAAA;
    uint32_t v32 = 0xAAAAAAAA;
    EXPECT_TRUE(ReadLE16(b, 2, v16));
    EXPECT_EQ(v16, 0x7856);
    EXPECT_TRUE(ReadBE16(b, 0, v16));
    EXPECT_EQ(v16, 0x1234);
    EXPECT_TRUE(ReadLE32(b, 0, v32));
    EXPECT_EQ(v32, 0x78563412u);
    EXPECT_TRUE(ReadBE32(b, 0, v32));
    EXPECT_EQ(v32, 0x12345678u);
    v16 = 0xAAAA;
    EXPECT_FALSE(ReadLE16(b, 3, v16));
    EXPECT_FALSE(ReadLE16(b, SIZE_MAX, v16));
    EXPECT_EQ(v16, 0xAAAA);
    EXPECT_FALSE(ReadBE32(b, 1, v32));
    EXPECT_FALSE(WriteLE32(b, 1, 0));
    EXPECT_FALSE(WriteBE16(b, 3, 0));
    EXPECT_EQ(b, (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
    EXPECT_TRUE(WriteBE32(b, 0, 0xA1B2C3D4));
    EXPECT_EQ(b, (std::vector<uint8_t>{0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_TRUE(WriteLE16(b, 2, 0x0102));
    EXPECT_EQ(b[2], 0x02);
    EXPECT_EQ(b[3], 0x01);
}
