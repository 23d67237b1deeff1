// The region loop's plan over a combined image (which entries are written,
// in which order, with what length), the fit check made before the first
// write, the family sequences, and the BIOS default area carried from the
// adapter's current boot region.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../tools/imagekit/families.h"
#include "image/components.h"
#include "image/ilt.h"
#include "multiregion/regionloop.h"

namespace {

namespace ik = imagekit;

// A combined flash buffer of a kit image (the combine step copies every
// applicable component to its offset and the table to the front).
std::vector<uint8_t> Combined(const ik::IltSpec &spec, const FamilyTable &family, uint16_t chipRev, int cardType) {
    ik::Bytes image = ik::BuildIltImage(spec);
    std::vector<uint8_t> flash(image.size(), 0);
    const CombineAdapter adapter{0x1D7A, 0x0821, chipRev, 0x8021, "CXR8242"};
    const int n = family.countByChipRev ? HowManyImagesForCardTypeGeneric(image, cardType, chipRev)
                                        : HowManyImagesForCardType(image, cardType);
    EXPECT_EQ(family.combiner(flash, image, n, cardType, &adapter), n);
    return flash;
}

std::vector<TVX_REGION_ENTRY> Layout(std::initializer_list<uint32_t> codes, uint32_t size) {
    std::vector<TVX_REGION_ENTRY> out;
    for (uint32_t c : codes)
        out.push_back({c, size});
    return out;
}

ik::IltSpec Spec(ik::Family f, int chipRev = -1) {
    ik::FamilySpec s;
    s.family = f;
    s.ssvid = 0x1D7A;
    s.ssdid = 0x0821;
    s.chipRev = chipRev;
    return ik::FamilyIltSpec(s);
}

std::vector<uint32_t> Codes(const std::vector<PlannedWrite> &plan) {
    std::vector<uint32_t> out;
    for (const PlannedWrite &w : plan)
        out.push_back(w.step->code);
    return out;
}

TEST(ConvergedLoop, Sequences) {
    EXPECT_EQ(LarkFlashUpdateSequence(0x54), (std::vector<uint32_t>{0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x74, 0x81}));
    EXPECT_EQ(LarkFlashUpdateSequence(0x58), (std::vector<uint32_t>{0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x97, 0x81}));
    EXPECT_EQ(LarkFlashUpdateSequence(0x55).at(6), 0x97u);
    EXPECT_EQ(TeskFlashUpdateSequence(0).size(), 13u);
    // A short table is filled as far as it goes.
    uint32_t three[3] = {};
    InitTeskPFlashUpdateSequence(three, 3);
    EXPECT_EQ(three[2], 0xA2u);
}

// What the loop writes, in order: the sequence's codes that the image
// carries for the card type and revision; VPD codes are left to the VPD
// refresh; nothing when the request does not name every region.
TEST(ConvergedLoop, PlanFollowsSequenceAndGates) {
    const auto all = Layout({0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x74, 0x97, 0x81, 0x2E, 0xA2, 0xA4, 0x01}, 0x80000);
    struct Row {
        const char *name;
        const FamilyTable *family;
        ik::IltSpec spec;
        uint16_t chipRev;
        int cardType;
        uint32_t request;
        std::vector<uint32_t> codes;
    };
    ik::IltSpec otherCard = Spec(ik::Family::Lark);
    for (auto &r : otherCard.regions)
        if (r.code == 0x4F) r.cardTypeMask = 0x4;
    ik::IltSpec crbOther = Spec(ik::Family::Tesk);
    for (auto &r : crbOther.regions)
        if (r.code == 0x70) r.chipRev = 0x60;
    const std::vector<Row> rows = {
        {"Lark 0x58", &kLarkFamily, Spec(ik::Family::Lark), 0x58, 1, 0xFF, {0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x97}},
        {"Lark 0x54", &kLarkFamily, Spec(ik::Family::Lark), 0x54, 1, 0xFF, {0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x74}},
        {"Lark 0x54 image for 0x58 only",
         &kLarkFamily,
         Spec(ik::Family::Lark, 0x58),
         0x54,
         1,
         0xFF,
         {0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73}},
        {"iSCSI boot for another card type",
         &kLarkFamily,
         otherCard,
         0x58,
         1,
         0xFF,
         {0x07, 0x2E, 0x70, 0x72, 0x73, 0x97}},
        {"Tesk", &kTeskFamily, Spec(ik::Family::Tesk), 0x58, 1, 0xFF, {0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xA4, 0x97}},
        {"Tesk CRB init of another revision",
         &kTeskFamily,
         crbOther,
         0x58,
         1,
         0xFF,
         {0x2E, 0xA2, 0x4F, 0x72, 0x73, 0xA4, 0x97}},
        {"request for one region", &kTeskFamily, Spec(ik::Family::Tesk), 0x58, 1, 0x97, {}},
        {"request not decided", &kLarkFamily, Spec(ik::Family::Lark), 0x58, 1, 0, {}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        auto flash = Combined(r.spec, *r.family, r.chipRev, r.cardType);
        auto seq = r.family->sequence(r.chipRev);
        auto plan = PlanRegionWrites(*r.family, seq, flash, all, r.cardType, r.chipRev, r.request);
        EXPECT_EQ(Codes(plan), r.codes);
    }
}

// Boot codes carry the table after the component; the fit check refuses a
// component (with its table) longer than the flash region, and a region
// the adapter lacks; exactly as long as the region fits.
TEST(ConvergedLoop, FitCheckedBeforeAnyWrite) {
    ik::IltSpec spec = Spec(ik::Family::Tesk);
    auto flash = Combined(spec, kTeskFamily, 0x58, 1);
    IltHeader h{};
    ASSERT_TRUE(ILT_Header_Read(flash, h));
    const auto seq = TeskFlashUpdateSequence(0x58);
    auto plan = PlanRegionWrites(kTeskFamily, seq, flash,
                                 Layout({0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xA4, 0x97}, 0x80000), 1, 0x58, 0xFF);
    ASSERT_EQ(plan.size(), 8u);
    size_t nicLength = 0, fwLength = 0;
    for (const PlannedWrite &w : plan) {
        if (w.step->code == 0x2E) {
            EXPECT_EQ(w.copyLength, w.entry.length + h.tableLength);
            nicLength = w.copyLength;
        }
        if (w.step->code == 0x97) {
            EXPECT_EQ(w.copyLength, w.entry.length);
            fwLength = w.copyLength;
        }
    }
    struct Row {
        const char *name;
        uint32_t region;
        int64_t size; // -1: region absent
        int status;
    };
    const Row rows[] = {
        {"NIC boot with its table exactly", 0x2E, static_cast<int64_t>(nicLength), 0},
        {"NIC boot one byte short", 0x2E, static_cast<int64_t>(nicLength) - 1, CNA_REGION_TOO_LONG},
        {"firmware exactly", 0x97, static_cast<int64_t>(fwLength), 0},
        {"firmware one byte short", 0x97, static_cast<int64_t>(fwLength) - 1, CNA_REGION_TOO_LONG},
        {"region not on the adapter", 0x97, -1, CNA_REGION_TOO_LONG},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        auto p = plan;
        for (PlannedWrite &w : p)
            if (w.step->code == r.region) w.regionSize = r.size < 0 ? 0 : static_cast<uint32_t>(r.size);
        EXPECT_EQ(CheckPlannedWritesFit("test", p, flash.size()), r.status);
    }
}

// ------------------------------------------------------- BIOS default area

constexpr size_t kBlock = 512;

// A chain of images: code types, lengths in blocks; x86 images get "SVID"
// and a "MECXR " marker when asked, and a valid checksum byte.
std::vector<uint8_t> Chain(const std::vector<std::pair<uint8_t, uint8_t>> &images, bool svid, bool marker,
                           uint8_t fill) {
    std::vector<uint8_t> b;
    for (size_t i = 0; i < images.size(); ++i) {
        const size_t base = b.size();
        const size_t len = images[i].second * kBlock;
        b.resize(base + len, fill);
        uint8_t *p = b.data() + base;
        p[0] = 0x55;
        p[1] = 0xAA;
        p[2] = images[i].second;
        p[0x18] = 0x60;
        p[0x19] = 0;
        std::copy_n("PCIR", 4, p + 0x60);
        p[0x60 + 0x10] = images[i].second;
        p[0x60 + 0x11] = 0;
        p[0x60 + 0x14] = images[i].first;
        p[0x60 + 0x15] = i + 1 == images.size() ? 0x80 : 0;
        if (images[i].first == 0) {
            if (svid) std::copy_n("SVID", 4, p + 28);
            if (marker) std::copy_n("MECXR ", 6, p + 0x100);
            uint8_t sum = 0;
            for (size_t k = 0; k + 1 < len; ++k)
                sum = static_cast<uint8_t>(sum + p[k]);
            p[len - 1] = static_cast<uint8_t>(0u - sum);
        }
    }
    return b;
}

uint8_t Sum(const std::vector<uint8_t> &b, size_t from, size_t len) {
    uint8_t s = 0;
    for (size_t i = from; i < from + len; ++i)
        s = static_cast<uint8_t>(s + b[i]);
    return s;
}

TEST(ConvergedLoop, BiosDefaultArea) {
    TVXDevice tesk{};
    tesk.chipProperty.PciDeviceId = 0x8031;
    TVXDevice older{};
    older.chipProperty.PciDeviceId = 0x2432;
    // The adapter's region: settings after the marker, IDs after "SVID".
    std::vector<uint8_t> current = Chain({{0, 4}}, true, true, 0x00);
    current[32] = 0x12;
    current[33] = 0x34;
    for (size_t i = 0; i < 508; ++i)
        current[0x106 + i] = static_cast<uint8_t>(i * 3 + 1);

    struct Row {
        const char *name;
        const TVXDevice *device;
        std::vector<uint8_t> current;
        std::vector<uint8_t> region;
        int status;
        bool svidCarried, settingsCarried, unchanged;
    };
    std::vector<uint8_t> noMarker = current;
    std::fill_n(noMarker.begin() + 0x100, 6, 0);
    std::vector<uint8_t> zeroLength = Chain({{0, 4}}, true, true, 0xEE);
    zeroLength[2] = 0;
    std::vector<uint8_t> tooLong = Chain({{0, 4}}, true, true, 0xEE);
    tooLong[2] = 0xFF;
    const std::vector<Row> rows = {
        {"both areas", &tesk, current, Chain({{0, 4}, {3, 2}}, true, true, 0xEE), 0, true, true, false},
        {"adapter without MECXR", &tesk, noMarker, Chain({{0, 4}}, true, true, 0xEE), 0, true, false, false},
        {"new image without SVID or MECXR", &tesk, current, Chain({{0, 4}}, false, false, 0xEE), 0, false, false, true},
        {"EFI image only", &tesk, current, Chain({{3, 4}}, true, true, 0xEE), 0, false, false, true},
        {"older adapter class", &older, current, Chain({{0, 4}}, true, true, 0xEE), -1, false, false, true},
        {"image length 0", &tesk, current, zeroLength, -1, false, false, true},
        {"image length past the region", &tesk, current, tooLong, -1, false, false, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<uint8_t> region = r.region;
        const std::vector<uint8_t> before = region;
        EXPECT_EQ(PreserveBiosDefaultArea(r.device, r.current, region), r.status);
        if (r.unchanged) {
            EXPECT_EQ(region, before);
            continue;
        }
        EXPECT_EQ(region[32] == 0x12 && region[33] == 0x34, r.svidCarried);
        EXPECT_EQ(std::equal(region.begin() + 0x102, region.begin() + 0x302, r.current.begin() + 0x102),
                  r.settingsCarried);
        EXPECT_EQ(Sum(region, 0, 4 * kBlock), 0) << "checksum byte of the changed BIOS image";
        // Images after the first are left as they are.
        EXPECT_TRUE(std::equal(region.begin() + 4 * kBlock, region.end(), before.begin() + 4 * kBlock));
    }
    // A chain whose last image has no last-image flag ends the walk at the
    // end of the region instead of reading past it.
    std::vector<uint8_t> open = Chain({{0, 4}, {0, 4}}, true, true, 0xEE);
    open[4 * kBlock + 0x60 + 0x15] = 0;
    EXPECT_EQ(PreserveBiosDefaultArea(&tesk, current, open), -1);
}

} // namespace
