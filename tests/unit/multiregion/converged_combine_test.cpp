// Combining multi-region images for an adapter: what lands in the flash
// buffer per family, the failure code of each kind of component, and the
// identity patches of the 28xx configuration blocks.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "../tools/imagekit/families.h"
#include "image/components.h"
#include "image/helpers.h"
#include "image/ilt.h"
#include "image/pcirom.h"
#include "multiregion/combine.h"

namespace {

namespace ik = imagekit;

const CombineAdapter kAdapter{0x1D7A, 0x0831, 0x58, 0x2281, "CXR8342"};

ik::FamilySpec Spec(ik::Family f) {
    ik::FamilySpec s;
    s.family = f;
    s.ssvid = 0x1D7A;
    s.ssdid = 0x0831;
    return s;
}

using CombineFn = int (*)(std::span<uint8_t>, std::span<uint8_t>, int, int, const CombineAdapter *);

struct FamilyRow {
    const char *name;
    ik::Family family;
    CombineFn combine;
    bool chipFilter;
};

const FamilyRow kFamilies[] = {
    {"first generation", ik::Family::FirstGen, CombineImageComponentsInBuffer, false},
    {"Lark", ik::Family::Lark, CombineLarkImageComponentsInBuffer, false},
    {"Tesk", ik::Family::Tesk, CombineTeskImageComponentsInBuffer, true},
    {"Fenwar", ik::Family::Fenwar, CombineFenwarImageComponentsInBuffer, true},
    {"Zult", ik::Family::Zult, CombineZultImageComponentsInBuffer, true},
};

// Every component of a kit image lands at its offset; header rows carry the
// row's (or the adapter's) device ID; the table sits at the front of the
// flash buffer with its time stamp, and its words sum to zero with the
// checksum the source table received.
TEST(ConvergedCombine, EveryFamilyCombinesItsImage) {
    for (const FamilyRow &f : kFamilies) {
        SCOPED_TRACE(f.name);
        ik::Bytes image = ik::BuildFamilyImage(Spec(f.family));
        std::vector<uint8_t> flash(image.size(), 0);
        const int cardType = 1;
        const int expected = f.chipFilter ? HowManyImagesForCardTypeGeneric(image, cardType, kAdapter.chipRev)
                                          : HowManyImagesForCardType(image, cardType);
        ASSERT_GT(expected, 3);
        EXPECT_EQ(f.combine(flash, image, expected, cardType, &kAdapter), expected);

        const CombineFamily fam = f.family == ik::Family::FirstGen ? CombineFamily::FirstGen
                                  : f.family == ik::Family::Lark   ? CombineFamily::Lark
                                  : f.family == ik::Family::Tesk   ? CombineFamily::Tesk
                                  : f.family == ik::Family::Fenwar ? CombineFamily::Fenwar
                                                                   : CombineFamily::Zult;
        const int n = ILT_Header_GetNumOfRegionEntries(image);
        for (int i = 0; i + 1 < n; ++i) {
            auto e = ILT_Region_GetRegionByIndex(image, i);
            ASSERT_TRUE(e);
            std::span<const uint8_t> got(flash.data() + e->offset, e->length);
            std::span<const uint8_t> src(image.data() + e->offset, e->length);
            const CombineRow *row = nullptr;
            for (const CombineRow &r : CombineTable(fam))
                if (r.code == e->regionCode) row = &r;
            if (row == nullptr) {
                EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](uint8_t b) { return b == 0; }))
                    << "unlisted region 0x" << std::hex << e->regionCode << " copied";
            } else if (row->action == CombineAction::Plain || row->action == CombineAction::LocatorOnly) {
                EXPECT_TRUE(std::equal(got.begin(), got.end(), src.begin())) << std::hex << e->regionCode;
            } else {
                // Header rows: the component as the header rewrite for the
                // row's device (or the adapter's FC device) makes it.
                std::vector<uint8_t> want(src.begin(), src.end());
                const uint16_t dev = row->action == CombineAction::PciHeadersOwn ? kAdapter.fcDeviceId : row->deviceId;
                if (row->action == CombineAction::IscsiHeaders)
                    UpdateiSCSIPciHeaders(want, 0x1D7A, 0x0831, dev, kAdapter.model.c_str());
                else
                    UpdateAllPciHeaders(want, 0x1D7A, 0x0831, dev, kAdapter.model.c_str());
                EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin())) << std::hex << e->regionCode;
            }
        }
        IltHeader h{}, src{};
        ASSERT_TRUE(ILT_Header_Read(flash, h));
        ASSERT_TRUE(ILT_Header_Read(image, src));
        EXPECT_EQ(h.tableLength, src.tableLength);
        EXPECT_EQ(h.numRegionEntries, src.numRegionEntries);
        uint16_t stampYear = 0;
        ReadLE16(flash, ILT_ENTRY_SIZE * n + ILT_TS_YEAR, stampYear);
        EXPECT_GE(stampYear, 2024);
        EXPECT_EQ(HLPR_Sum16(flash, h.tableLength / 2), 0);
        EXPECT_EQ(h.tableCheckSum, src.tableCheckSum);
    }
}

// The card-type filter and (Tesk, Fenwar, Zult) the chip revision filter:
// entries for another card type or revision are not combined.
TEST(ConvergedCombine, FiltersByCardTypeAndRevision) {
    struct Row {
        const char *name;
        ik::Family family;
        CombineFn combine;
        uint16_t mask;
        int chipRev;
        int cardType;
        bool none;
    };
    const Row rows[] = {
        {"mask of another card type", ik::Family::Lark, CombineLarkImageComponentsInBuffer, 0x2, -1, 1, true},
        {"mask with bit 15 only", ik::Family::FirstGen, CombineImageComponentsInBuffer, 0x8000, -1, 1, false},
        {"other chip revision", ik::Family::Zult, CombineZultImageComponentsInBuffer, 0, 0x30, 1, true},
        {"Lark ignores revisions", ik::Family::Lark, CombineLarkImageComponentsInBuffer, 0, 0x30, 1, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        ik::FamilySpec s = Spec(r.family);
        s.mask = r.mask;
        s.chipRev = r.chipRev;
        ik::Bytes image = ik::BuildFamilyImage(s);
        std::vector<uint8_t> flash(image.size(), 0);
        const int got = r.combine(flash, image, 0, r.cardType, &kAdapter);
        if (r.none)
            EXPECT_EQ(got, 0);
        else
            EXPECT_GT(got, 0);
    }
}

// The first component that cannot be combined ends the walk with its row's
// code: a component reaching past the image, a chain without its locator,
// a configuration block that fails its check.
TEST(ConvergedCombine, FailureCodes) {
    struct Row {
        const char *name;
        ik::Family family;
        CombineFn combine;
        std::function<void(ik::IltSpec &)> edit;
        int code;
    };
    auto pastEnd = [](uint16_t code) {
        return [code](ik::IltSpec &s) {
            for (auto &r : s.regions)
                if (r.code == code) r.lengthOverride = 0x7FFFFFF0;
        };
    };
    auto replace = [](uint16_t code, ik::Bytes data) {
        return [code, data](ik::IltSpec &s) {
            for (auto &r : s.regions)
                if (r.code == code) r.data = data;
        };
    };
    ik::ConfigBlockSpec badSig;
    badSig.regionSize = 0x4000;
    badSig.badSignature = true;
    ik::ConfigBlockSpec badSum;
    badSum.regionSize = 0x4000;
    badSum.badChecksum = true;
    ik::FcBoardConfigSpec badSerdes;
    badSerdes.board.regionSize = 0x4000;
    badSerdes.badSerdesSignature = true;
    const Row rows[] = {
        {"first-gen FCoE firmware", ik::Family::FirstGen, CombineImageComponentsInBuffer, pastEnd(0x01), -21},
        {"first-gen MPI firmware", ik::Family::FirstGen, CombineImageComponentsInBuffer, pastEnd(0x40), -18},
        {"first-gen EDC firmware", ik::Family::FirstGen, CombineImageComponentsInBuffer, pastEnd(0x45), -19},
        {"first-gen MPI configuration", ik::Family::FirstGen, CombineImageComponentsInBuffer, pastEnd(0x41), -1},
        {"first-gen NIC boot without locator", ik::Family::FirstGen, CombineImageComponentsInBuffer,
         replace(0x2E, ik::BuildBootCodeRegion(ik::NicBootSpecs(0x8000), false)), -17},
        {"Lark FCoE boot without locator", ik::Family::Lark, CombineLarkImageComponentsInBuffer,
         replace(0x07, ik::BuildBootCodeRegion(ik::FunctionBootSpecs(0x8021), false)), -20},
        {"Lark iSCSI boot", ik::Family::Lark, CombineLarkImageComponentsInBuffer, pastEnd(0x4F), -23},
        {"Lark bootloader", ik::Family::Lark, CombineLarkImageComponentsInBuffer, pastEnd(0x72), -17},
        {"Lark firmware", ik::Family::Lark, CombineLarkImageComponentsInBuffer, pastEnd(0x97), -21},
        {"Tesk FCoE firmware", ik::Family::Tesk, CombineTeskImageComponentsInBuffer, pastEnd(0xA4), -21},
        {"Tesk iSCSI boot", ik::Family::Tesk, CombineTeskImageComponentsInBuffer, pastEnd(0x4F), -23},
        {"Fenwar boot", ik::Family::Fenwar, CombineFenwarImageComponentsInBuffer, pastEnd(0x07), -27},
        {"Fenwar signature", ik::Family::Fenwar, CombineFenwarImageComponentsInBuffer, pastEnd(0x9E), -26},
        {"Zult preload signature", ik::Family::Zult, CombineZultImageComponentsInBuffer,
         replace(0x13, ik::BuildPreloadBlock(badSig)), -38},
        {"Zult preload sum", ik::Family::Zult, CombineZultImageComponentsInBuffer,
         replace(0x13, ik::BuildPreloadBlock(badSum)), -38},
        {"Zult FC board Serdes", ik::Family::Zult, CombineZultImageComponentsInBuffer,
         replace(0xBA, ik::BuildFcBoardConfig(badSerdes)), -46},
        {"Zult PEP board", ik::Family::Zult, CombineZultImageComponentsInBuffer,
         replace(0xCF, ik::BuildPepBoardConfig(badSum)), -40},
        {"Zult PCIe Serdes", ik::Family::Zult, CombineZultImageComponentsInBuffer, pastEnd(0x102), -44},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        ik::IltSpec spec = ik::FamilyIltSpec(Spec(r.family));
        r.edit(spec);
        ik::Bytes image = ik::BuildIltImage(spec);
        std::vector<uint8_t> flash(image.size(), 0);
        EXPECT_EQ(r.combine(flash, image, 0, 1, &kAdapter), r.code);
    }
}

// The 28xx configuration blocks get the adapter's IDs and a new checksum;
// a block that fails its check, or no adapter, leaves it untouched.
TEST(ConvergedCombine, ZultConfigurationUpdaters) {
    using Updater = int (*)(std::span<uint8_t>, const CombineAdapter *);
    struct Row {
        const char *name;
        Updater update;
        ik::Bytes block;
        bool withAdapter;
        int status;
        std::vector<std::pair<size_t, uint16_t>> ids; // offset: value after the patch
        std::vector<std::pair<size_t, size_t>> sums;  // data start: offset of its dword count
    };
    ik::ConfigBlockSpec cfg;
    cfg.regionSize = 0x4000;
    ik::FcBoardConfigSpec fbc;
    fbc.board.regionSize = 0x4000;
    ik::ConfigBlockSpec bad = cfg;
    bad.badChecksum = true;
    const std::vector<Row> rows = {
        {"preload",
         UpdateFWAPreloadBuffer,
         ik::BuildPreloadBlock(cfg),
         true,
         0,
         {{16, 0x1D7A}, {18, 0x0831}},
         {{0, 12}}},
        {"FC board",
         UpdateFBCBuffer,
         ik::BuildFcBoardConfig(fbc),
         true,
         0,
         {{16, 0x1D7A}, {18, 0x0831}, {0x1210, 0x1D7A}, {0x1212, 0x0831}},
         {{0, 12}, {0x1200, 0x120C}}},
        {"PEP board",
         UpdatePEPBrdCfgBuffer,
         ik::BuildPepBoardConfig(cfg),
         true,
         0,
         {{16, 0x1D7A}, {18, 0x0831}, {264, 0x0831}, {266, 0x1D7A}},
         {{0, 12}}},
        {"preload without adapter", UpdateFWAPreloadBuffer, ik::BuildPreloadBlock(cfg), false, 9, {}, {}},
        {"FC board without adapter", UpdateFBCBuffer, ik::BuildFcBoardConfig(fbc), false, 9, {}, {}},
        {"PEP board without adapter", UpdatePEPBrdCfgBuffer, ik::BuildPepBoardConfig(cfg), false, 9, {}, {}},
        {"preload bad sum", UpdateFWAPreloadBuffer, ik::BuildPreloadBlock(bad), true, 22, {}, {}},
        {"PEP board bad sum", UpdatePEPBrdCfgBuffer, ik::BuildPepBoardConfig(bad), true, 22, {}, {}},
        {"preload given a PEP block", UpdateFWAPreloadBuffer, ik::BuildPepBoardConfig(cfg), true, 22, {}, {}},
        {"short block", UpdateFBCBuffer, ik::Bytes(12, 0), true, 22, {}, {}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<uint8_t> block(r.block.begin(), r.block.end());
        EXPECT_EQ(r.update(block, r.withAdapter ? &kAdapter : nullptr), r.status);
        if (r.status != 0) {
            EXPECT_EQ(block, std::vector<uint8_t>(r.block.begin(), r.block.end()));
            continue;
        }
        for (const auto &[off, value] : r.ids) {
            uint16_t got = 0;
            ReadLE16(block, off, got);
            EXPECT_EQ(got, value) << "offset " << off;
        }
        for (const auto &[start, countAt] : r.sums) {
            uint32_t dwords = 0;
            ASSERT_TRUE(ReadLE32(block, countAt, dwords));
            EXPECT_EQ(HLPR_Sum32(std::span<const uint8_t>(block).subspan(start), dwords), 0u) << "block at " << start;
        }
    }
}

} // namespace
