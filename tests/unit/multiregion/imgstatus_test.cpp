// Image status records: checksum, validity, the active-set and auxiliary
// area rules, generations and the region maps between the two sets.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "multiregion/imgstatus.h"

namespace {

std::array<uint8_t, 16> Record(uint8_t mask, uint16_t generation, uint32_t signature, uint8_t bitmap = 0) {
    std::array<uint8_t, 16> r{};
    r[0] = mask;
    r[1] = uint8_t(generation);
    r[2] = uint8_t(generation >> 8);
    r[3] = 1;
    r[5] = bitmap;
    r[6] = 0x5A;
    for (int i = 0; i < 4; ++i)
        r[12 + i] = uint8_t(signature >> (8 * i));
    CoreCalculateChecksum32(r, 16, 8);
    return r;
}

ImageStatusView View(bool valid, uint8_t mask, uint16_t generation, uint8_t bitmap = 0, uint8_t tool = 0) {
    return ImageStatusView{valid, valid ? mask : uint8_t(0), valid ? generation : uint16_t(0), bitmap, tool};
}

TEST(ImageStatusRecord, ChecksumAndValidity) {
    auto r = Record(1, 0x1234, IMAGE_STATUS_SIGNATURE_ZULT, 0x0B);
    EXPECT_EQ(CoreValidateChecksum32(r, 16), 0);
    EXPECT_EQ(CoreIsImageStatusRegionValid(r, IMAGE_STATUS_SIGNATURE_ZULT), 1);
    EXPECT_EQ(CoreGetImageStatusGenerationNumber(r), 0x1234);
    EXPECT_EQ(CoreGetImageStatusComponentsBitMap(r), 0x0B);
    EXPECT_EQ(CoreGetImageStatusSignature(r), IMAGE_STATUS_SIGNATURE_ZULT);
    // Another family's signature, a flipped byte, a short record.
    EXPECT_EQ(CoreIsImageStatusRegionValid(r, IMAGE_STATUS_SIGNATURE_FENWAR), 0);
    auto bad = r;
    bad[6] ^= 1;
    EXPECT_EQ(CoreIsImageStatusRegionValid(bad, IMAGE_STATUS_SIGNATURE_ZULT), 0);
    EXPECT_EQ(CoreIsImageStatusRegionValid(std::span<const uint8_t>(r).first(15), IMAGE_STATUS_SIGNATURE_ZULT), 0);
    EXPECT_EQ(CoreGetImageStatusGenerationNumber(std::span<const uint8_t>()), 0);
    EXPECT_EQ(CoreValidateChecksum32(r, 20), -1); // more bytes than given

    // The reset header is a valid Fenwar record that keeps the other fields.
    resetImageStatusHeader(bad);
    EXPECT_EQ(CoreIsImageStatusRegionValid(bad, IMAGE_STATUS_SIGNATURE_FENWAR), 1);
    EXPECT_EQ(CoreGetImageStatusGenerationNumber(bad), 0x1234);
    EXPECT_EQ(bad[12], 0xDE);
    EXPECT_EQ(bad[15], 0xFA);
}

TEST(ImageStatusRecord, ActiveSetRule) {
    struct Case {
        const char *name;
        ImageStatusView p, s;
        uint8_t set;
        uint16_t generation;
    } cases[] = {
        {"both active, secondary newer (5/7)", View(true, 1, 5), View(true, 1, 7), 2, 7},
        {"both active, primary newer", View(true, 1, 9), View(true, 1, 7), 1, 9},
        {"primary active, secondary newer but inactive", View(true, 1, 3), View(true, 0, 8), 1, 3},
        {"secondary active, primary newer", View(true, 0, 9), View(true, 1, 2), 2, 2},
        {"neither active, secondary newer", View(true, 0, 2), View(true, 0, 3), 2, 3},
        {"neither active, same generation", View(true, 0, 4), View(true, 0, 4), 1, 4},
        {"secondary with a wrong signature", View(true, 0, 4), View(false, 1, 7), 1, 4},
        {"both invalid", View(false, 1, 4), View(false, 1, 7), 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        uint16_t generation = 0xFFFF;
        EXPECT_EQ(CoreDecideActiveSet(c.p, c.s, &generation), c.set);
        EXPECT_EQ(generation, c.generation);
    }
    // A record that fails its check reads as inactive with generation 0.
    auto wrong = Record(1, 7, 0x12345678);
    ImageStatusView v = CoreViewImageStatus(wrong, IMAGE_STATUS_SIGNATURE_ZULT);
    EXPECT_FALSE(v.valid);
    EXPECT_EQ(v.mask, 0);
    EXPECT_EQ(v.generation, 0);
}

TEST(ImageStatusRecord, Generations) {
    EXPECT_EQ(CoreNextImageStatusGeneration(5, 7), 8);
    EXPECT_EQ(CoreNextImageStatusGeneration(65533, 2), 65534);
    EXPECT_EQ(CoreNextImageStatusGeneration(65534, 3), 1);
    EXPECT_EQ(CoreNextImageStatusGeneration(0, 0), 1);
    EXPECT_EQ(CoreNextImageStatusGeneration(0xFFFF, 0), 1);
}

TEST(ImageStatusRecord, AuxiliaryAreas) {
    struct Case {
        const char *name;
        ImageStatusView ap, as, p, s;
        uint8_t areas[4];
        uint8_t tool;
        uint8_t setToUpdate;
    } cases[] = {
        {"secondary aux active",
         View(true, 0, 1, 0, 3),
         View(true, 1, 2, 0x5, 4),
         View(true, 1, 5),
         View(true, 0, 3),
         {2, 1, 2, 1},
         4,
         1},
        {"primary aux active",
         View(true, 1, 2, 0x9, 3),
         View(true, 0, 1, 0, 4),
         View(true, 1, 5),
         View(true, 0, 3),
         {2, 1, 1, 2},
         3,
         2},
        {"both aux active, main both active secondary newer",
         View(true, 1, 2, 0, 3),
         View(true, 1, 2, 0, 4),
         View(true, 1, 5),
         View(true, 1, 7),
         {2, 2, 2, 2},
         4,
         2},
        {"both aux active, main records differ",
         View(true, 1, 1, 0, 3),
         View(true, 1, 2, 0, 4),
         View(true, 1, 5),
         View(true, 0, 7),
         {1, 1, 1, 1},
         3,
         1},
        {"no valid aux record",
         View(false, 0, 0),
         View(false, 0, 0),
         View(true, 1, 5),
         View(true, 0, 3),
         {1, 1, 1, 1},
         0,
         2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t areas[4] = {};
        uint8_t tool = 0xEE;
        CoreDecideAuxAreas(c.ap, c.as, c.p, c.s, areas, &tool);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(areas[i], c.areas[i]) << "area " << i;
        EXPECT_EQ(tool, c.tool);
        EXPECT_EQ(CoreChooseAuxSetToUpdate(c.ap, c.as), c.setToUpdate);
    }
}

TEST(ImageStatusRecord, AlternateRegions) {
    TVX_ACTIVE_REGIONS primary{1, 1, 1, 1, 1, {}};
    TVX_ACTIVE_REGIONS secondary{2, 2, 1, 1, 1, {}};
    TVX_ACTIVE_REGIONS mixed{2, 1, 1, 1, 1, {}}; // board configuration on its first copy
    TVX_ACTIVE_REGIONS unknown{0, 0, 0, 0, 0, {}};
    struct Case {
        uint32_t region;
        const TVX_ACTIVE_REGIONS &active;
        uint32_t want;
    } cases[] = {
        {0x07, primary, 0x09},
        {0x07, secondary, 0x07},
        {0x07, unknown, 0x07},
        {0x01, primary, 0x02},
        {0x11, primary, 0x0A},
        {0x13, primary, 0x107},
        {0x95, primary, 0x96},
        {0x96, primary, 0x95},
        {0xDF, primary, 0x124},
        {0x124, primary, 0xDF},
        {0x125, primary, 0x126},
        {0x103, primary, 0x10A},
        {0xD3, primary, 0xF0},
        {0x14, primary, 0x14},
        {0xFF, primary, 0xFF},
        // The FC board configuration follows ActiveBoardConfig alone.
        {0xBA, primary, 0x10B},
        {0xBA, secondary, 0xBA},
        {0xBA, mixed, 0x10B},
        {0xCF, mixed, 0xCF},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CoreGetAlternateRegion(c.region, c.active), c.want) << std::hex << c.region;

    const uint32_t fenwar[][2] = {{0x01, 0x02}, {0x07, 0x09}, {0x66, 0x67}, {0x9E, 0x9F},
                                  {0xE1, 0xE5}, {0xD3, 0xD3}, {0x14, 0x14}};
    for (const auto &row : fenwar) {
        EXPECT_EQ(GetActualRegionToUpdate(row[0], 2), row[1]) << std::hex << row[0];
        EXPECT_EQ(GetActualRegionToUpdate(row[0], 1), row[0]) << std::hex << row[0];
    }
}

} // namespace
