// Image layout table: header checks, chip revision rules, card-type lists
// and the header validators, over tables built by the image kit.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../tools/imagekit/ilt.h"
#include "app/settings.h"
#include "image/helpers.h"
#include "image/ilt.h"

namespace ik = imagekit;

namespace {

constexpr uint16_t kSsdid = 0x0240;
constexpr uint16_t kSsvid = 0x1077;

ik::IltRegion Region(uint16_t code, uint16_t chipRev = 0, uint16_t mask = 0, size_t size = 0x40) {
    ik::IltRegion r;
    r.code = code;
    r.major = 1;
    r.minor = 2;
    r.subMinor = 3;
    r.chipRev = chipRev;
    r.cardTypeMask = mask;
    r.data.assign(size, static_cast<uint8_t>(code));
    return r;
}

// Default list admitting the adapter and one card-type list naming it.
std::vector<ik::IltCardList> AdapterLists(uint16_t deviceId = 0x2031, uint16_t cardType = 0x0002) {
    ik::IltCardEntry e{0x1077, deviceId, kSsvid, kSsdid};
    return {{0, {e}, -1}, {cardType, {e}, -1}};
}

ik::IltSpec Spec(std::vector<ik::IltRegion> regions) {
    ik::IltSpec s;
    s.regions = std::move(regions);
    s.cardLists = AdapterLists();
    return s;
}

using HeaderValidator = int (*)(uint16_t, uint16_t, std::span<const uint8_t>, uint16_t);

struct Family {
    const char *name;
    HeaderValidator validate;
};

const Family kFamilies[] = {
    {"first-generation/Lark", ValidateILTImageHeader},
    {"Tesk", ValidateTeskILTImageHeader},
    {"Fenwar", ValidateFenwarILTImageHeader},
    {"Zult", ValidateZultILTImageHeader},
};

} // namespace

TEST(IltHeader, SignatureAndTableVersion) {
    struct Case {
        const char *signature;
        uint16_t version;
        int expected; // every family, adapter chip revision 0x58
    };
    const Case cases[] = {
        {"OFIM", 4, 0},       {"OILT", 4, 0},   {"OILT", 0, 0},        {"OFIX", 4, 450},      {"oilt", 4, 450},
        {"\0\0\0\0", 4, 450}, {"OILT", 5, 506}, {"OFIM", 0xFFFF, 506}, {"OILT", 0x8000, 506},
    };
    for (const Case &c : cases) {
        ik::IltSpec s = Spec({Region(0x07)});
        s.signature.assign(c.signature, 4);
        s.tableVersion = c.version;
        ik::Bytes img = ik::BuildIltImage(s);
        EXPECT_EQ(ILT_Header_CompareSignature(img), c.expected != 450) << c.signature;
        for (const Family &f : kFamilies)
            EXPECT_EQ(f.validate(kSsdid, kSsvid, img, 0x58), c.expected) << f.name << " " << c.version;
    }
}

TEST(IltHeader, FirstGenerationSkipsVersionAndRegionChecksForRevisionZero) {
    ik::IltSpec s = Spec({Region(0x97, 0x58)});
    s.tableVersion = 5;
    ik::Bytes img = ik::BuildIltImage(s);
    EXPECT_EQ(ValidateILTImageHeader(kSsdid, kSsvid, img, 0), 0);
    EXPECT_EQ(ValidateILTImageHeader(kSsdid, kSsvid, img, 0x58), 506);
    // The other families test with revision 0 as well.
    EXPECT_EQ(ValidateTeskILTImageHeader(kSsdid, kSsvid, img, 0), 506);
}

TEST(IltHeader, ShortBuffersAndTablesPastTheBuffer) {
    ik::Bytes img = ik::BuildIltImage(Spec({Region(0x07), Region(0x01)}));
    for (const Family &f : kFamilies) {
        EXPECT_EQ(f.validate(kSsdid, kSsvid, std::span<const uint8_t>(img.data(), 31), 0x58), 451) << f.name;
        EXPECT_EQ(f.validate(kSsdid, kSsvid, {}, 0x58), 451) << f.name;
        // Header fine, entries cut off.
        EXPECT_EQ(f.validate(kSsdid, kSsvid, std::span<const uint8_t>(img.data(), 64), 0x58), 507) << f.name;
    }
    ik::IltSpec s = Spec({Region(0x07)});
    s.faults.entryCountOverride = 0xFFFF;
    ik::Bytes huge = ik::BuildIltImage(s);
    for (const Family &f : kFamilies)
        EXPECT_EQ(f.validate(kSsdid, kSsvid, huge, 0x58), 507) << f.name;
    EXPECT_FALSE(ILT_Header_EntriesInBuffer(huge));
    EXPECT_FALSE(ILT_Region_GetRegionByIndex(huge, 1000).has_value());
}

TEST(IltHeader, AccessorsAndVersionString) {
    ik::IltSpec s = Spec({Region(0x07, 0, 3), Region(0x2E, 0x54)});
    s.imageMajor = 3;
    s.imageMinor = 10;
    s.imageSubMinor = 5;
    ik::Bytes img = ik::BuildIltImage(s);
    std::vector<size_t> offsets = ik::IltComponentOffsets(s);
    EXPECT_EQ(ILT_Header_GetNumOfRegionEntries(img), 3);
    char text[16];
    EXPECT_STREQ(ILT_Header_GetImageVersionString(img, text, sizeof text), "03.10.05");
    char cut[4];
    EXPECT_STREQ(ILT_Header_GetImageVersionString(img, cut, sizeof cut), "03.");

    auto e1 = ILT_Region_GetRegionByIndex(img, 1);
    ASSERT_TRUE(e1.has_value());
    EXPECT_EQ(e1->regionCode, 0x2E);
    EXPECT_EQ(e1->chipRev, 0x54);
    EXPECT_EQ(e1->offset, offsets[1]);
    EXPECT_EQ(e1->length, 0x40u);
    EXPECT_EQ(e1->version[0], 1);
    EXPECT_EQ(e1->version[2], 3);
    // The time-stamp entry and indexes out of range are refused.
    EXPECT_FALSE(ILT_Region_GetRegionByIndex(img, 2).has_value());
    EXPECT_FALSE(ILT_Region_GetRegionByIndex(img, -1).has_value());

    auto comp = ILT_Region_GetComponent(img, *e1);
    ASSERT_TRUE(comp.has_value());
    EXPECT_EQ(comp->size(), 0x40u);
    EXPECT_EQ((*comp)[0], 0x2E);
    IltRegionEntry past = *e1;
    past.length = static_cast<uint32_t>(img.size() - past.offset + 1);
    EXPECT_FALSE(ILT_Region_GetComponent(img, past).has_value());
    past.offset = 0xFFFFFFF0u;
    past.length = 0x20;
    EXPECT_FALSE(ILT_Region_GetComponent(img, past).has_value());
}

TEST(IltChipRevision, Table) {
    struct Case {
        uint16_t code;
        uint16_t imgRev;
        uint16_t adapterRev;
        int expected;
    };
    const Case cases[] = {
        // Codes written on any revision.
        {0x00, 0x99, 0x54, 0},
        {0x07, 0x12, 0x58, 0},
        {0x4F, 0, 0, 0},
        {0x9E, 0x33, 0, 0},
        {0xE5, 0x10, 0x20, 0},
        {0xD1, 0x10, 0x20, 0},
        {0x101, 0x10, 0, 0},
        {0x112, 0x10, 0, 0},
        // CRB init.
        {0x70, 0, 0, 0},
        {0x70, 0x54, 0, -12},
        {0x70, 0x54, 0x54, 0},
        {0x70, 0x54, 0x58, -3},
        // Lark NIC firmware (revision 0x54 adapters only).
        {0x74, 0, 0x54, 0},
        {0x74, 0, 0x58, -13},
        {0x74, 0x54, 0x54, 0},
        {0x74, 0x58, 0x54, -13},
        {0x74, 0x54, 0x58, -3},
        // NIC firmware of revision 0x58 and later.
        {0x97, 0, 0, 0},
        {0x97, 0x58, 0x56, -13},
        {0x97, 0x58, 0x58, 0},
        {0x97, 0x58, 0x5A, -3},
        {0xA3, 0, 0x54, 0},
        {0xA3, 1, 0x54, -16},
        {0xB1, 0, 0x54, 0},
        {0xB1, 1, 0x54, -15},
        // Codes the table does not know.
        {0x67, 0, 0, -3},
        {0xE6, 0, 0, -3},
        {0x100, 0, 0, -3},
        {0x104, 0, 0, -3},
        {0xFFFF, 0, 0, -3},
    };
    for (const Case &c : cases) {
        IltRegionEntry e{};
        e.regionCode = c.code;
        e.chipRev = c.imgRev;
        EXPECT_EQ(ValidateImageChipRevision(&e, c.adapterRev), c.expected)
            << std::hex << "code 0x" << c.code << " img 0x" << c.imgRev << " adapter 0x" << c.adapterRev;
    }
    EXPECT_EQ(ValidateImageChipRevision(nullptr, 0x54), -3);
}

TEST(IltChipRevision, HeaderValidatorTakesFirstPassingEntry) {
    struct Case {
        const char *name;
        std::vector<ik::IltRegion> regions;
        HeaderValidator validate;
        uint16_t adapterRev;
        int expected;
    };
    const Case cases[] = {
        // Lark image carrying both NIC firmware variants: the list holds
        // 0x74 for revision 0x54 and 0x97 otherwise.
        {"Lark 0x54", {Region(0x74, 0x54), Region(0x97, 0x58)}, ValidateILTImageHeader, 0x54, 0},
        {"Lark 0x58", {Region(0x74, 0x54), Region(0x97, 0x58)}, ValidateILTImageHeader, 0x58, 0},
        {"Lark 0x56", {Region(0x74, 0x54), Region(0x97, 0x58)}, ValidateILTImageHeader, 0x56, 505},
        {"0x58 only on 0x54", {Region(0x74, 0x58)}, ValidateILTImageHeader, 0x54, 505},
        {"second CRB init fits", {Region(0x70, 0x54), Region(0x70, 0x58)}, ValidateTeskILTImageHeader, 0x58, 0},
        {"no CRB init fits", {Region(0x70, 0x54), Region(0x70, 0x56)}, ValidateTeskILTImageHeader, 0x58, 505},
        {"CRB init on revision 0", {Region(0x70, 0x54)}, ValidateTeskILTImageHeader, 0, 505},
        {"region absent from the image", {Region(0x07)}, ValidateTeskILTImageHeader, 0x58, 0},
        {"unknown code not in list", {Region(0x67), Region(0x07)}, ValidateTeskILTImageHeader, 0x58, 0},
        {"Fenwar list holds 0x67", {Region(0x67), Region(0x07)}, ValidateFenwarILTImageHeader, 0x10, 505},
        {"Zult list holds 0x67", {Region(0x67)}, ValidateZultILTImageHeader, 0, 505},
        {"Zult signature and firmware", {Region(0x9E, 3), Region(0x01, 7)}, ValidateZultILTImageHeader, 1, 0},
    };
    for (const Case &c : cases) {
        ik::Bytes img = ik::BuildIltImage(Spec(c.regions));
        EXPECT_EQ(c.validate(kSsdid, kSsvid, img, c.adapterRev), c.expected) << c.name;
    }
}

TEST(IltCardType, EntryCompare) {
    struct Case {
        const char *name;
        IltCardTypeEntry entry; // vendor, device, ssvid, ssdid
        uint16_t ssdid, ssvid;
        int generic, tesk;
    };
    const Case cases[] = {
        {"Lark wildcard admits any", {0x1077, 0x8021, 0xFFFF, 0xFFFF}, 0x1234, 0x5678, 1, 0},
        {"Drommel wildcard ssdid", {0x1077, 0x8000, 0x5678, 0xFFFF}, 0x1234, 0x5678, 1, 0},
        {"Drommel wildcard wrong ssvid", {0x1077, 0x8001, 0x5679, 0xFFFF}, 0x1234, 0x5678, 0, 0},
        {"Lark other vendor: no wildcard", {0x1234, 0x8021, 0xFFFF, 0xFFFF}, 0x1234, 0x5678, 0, 0},
        {"other vendor, adapter IDs 0xFFFF", {0x1234, 0x8021, 0xFFFF, 0xFFFF}, 0xFFFF, 0xFFFF, 1, 1},
        {"Tesk FC exact", {0x1077, 0x2031, 0x5678, 0x1234}, 0x1234, 0x5678, 1, 1},
        {"Tesk FC swapped IDs", {0x1077, 0x2031, 0x1234, 0x5678}, 0x1234, 0x5678, 0, 0},
        {"Tesk wildcard is literal", {0x1077, 0x8030, 0xFFFF, 0xFFFF}, 0x1234, 0x5678, 0, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ILT_CardTypeList_CompareSignature(&c.entry, c.ssdid, c.ssvid), c.generic) << c.name;
        EXPECT_EQ(ILT_TeskCardTypeList_CompareSignature(&c.entry, c.ssdid, c.ssvid), c.tesk) << c.name;
    }
    EXPECT_EQ(ILT_CardTypeList_CompareSignature(nullptr, 0, 0), 0);
    EXPECT_EQ(ILT_TeskCardTypeList_CompareSignature(nullptr, 0, 0), 0);
}

TEST(IltCardType, ListWalks) {
    ik::IltCardEntry adapter{0x1077, 0x2031, kSsvid, kSsdid};
    ik::IltCardEntry other{0x1077, 0x2031, kSsvid, 0x9999};
    struct Case {
        const char *name;
        std::vector<ik::IltCardList> lists;
        int inDefault;
        int cardType;
        int header; // Tesk validator
    };
    const Case cases[] = {
        {"default and typed list", {{0, {other, adapter}, -1}, {4, {adapter}, -1}}, 1, 4, 0},
        {"only the default list yields 0", {{0, {adapter}, -1}}, 1, 0, 0},
        {"default list never yields a type", {{0, {adapter}, -1}, {4, {other}, -1}}, 1, -1, 451},
        {"first typed list wins", {{0, {adapter}, -1}, {8, {adapter}, -1}, {2, {adapter}, -1}}, 1, 8, 0},
        {"typed list before default", {{2, {adapter}, -1}, {0, {adapter}, -1}}, 1, 2, 0},
        {"not in the default list", {{0, {other}, -1}, {4, {adapter}, -1}}, 0, 4, 451},
        {"no lists", {}, 0, -1, 451},
        {"bit 15 card type read signed", {{0, {adapter}, -1}, {0x8001, {adapter}, -1}}, 1, -32767, 0},
    };
    for (const Case &c : cases) {
        ik::IltSpec s = Spec({Region(0x07)});
        s.cardLists = c.lists;
        ik::Bytes img = ik::BuildIltImage(s);
        EXPECT_EQ(SearchSignatureInDefaultCardList(img, kSsdid, kSsvid), c.inDefault) << c.name;
        EXPECT_EQ(ILT_CardTypeList_GetMyCardTypeFromCardList(img, kSsdid, kSsvid), c.cardType) << c.name;
        EXPECT_EQ(ILT_LarkCardTypeList_GetMyCardTypeFromCardList(img, kSsdid, kSsvid), c.cardType) << c.name;
        EXPECT_EQ(ILT_TeskCardTypeList_GetMyCardTypeFromCardList(img, kSsdid, kSsvid), c.cardType) << c.name;
        EXPECT_EQ(ValidateTeskILTImageHeader(kSsdid, kSsvid, img, 0x58), c.header) << c.name;
    }
}

TEST(IltCardType, CountsPastTheBufferStayInside) {
    ik::IltCardEntry adapter{0x1077, 0x2031, kSsvid, kSsdid};
    // A list claiming more entries than the table holds: only the entries
    // present are compared, and the lists after it are not reached.
    ik::IltSpec s = Spec({Region(0x07, 0, 0, 0)});
    s.cardLists = {{0, {adapter}, 0xFFFF}, {4, {adapter}, -1}};
    ik::Bytes img = ik::BuildIltImage(s);
    img.resize(ik::IltTableLength(s));
    EXPECT_EQ(SearchSignatureInDefaultCardList(img, kSsdid, kSsvid), 1);
    EXPECT_EQ(ILT_TeskCardTypeList_GetMyCardTypeFromCardList(img, kSsdid, kSsvid), -1);

    ik::IltSpec many = Spec({Region(0x07)});
    many.faults.listCountOverride = 0xFFFF;
    ik::Bytes manyImg = ik::BuildIltImage(many);
    manyImg.resize(ik::IltTableLength(many));
    EXPECT_EQ(ILT_CardTypeList_GetMyCardTypeFromCardList(manyImg, kSsdid, kSsvid), 2);
    EXPECT_EQ(ILT_CardTypeList_GetMyCardTypeFromCardList(manyImg, 0x1111, kSsvid), -1);
}

TEST(IltCardType, CardTypeCompare) {
    struct Case {
        uint16_t region;
        int mine;
        bool expected;
    };
    const Case cases[] = {
        {0, 0, true},        {0, 5, true},           {0x8000, 0, true},
        {0x8000, 2, true},   {0x0002, 0x0003, true}, {0x0002, 0x0004, false},
        {0x0004, 0, false},  {0x8004, 0x8004, true}, {0x8004, 0x8000, false},
        {0x7FFF, -1, false}, {0, -1, true},          {0x4000, 0x4000, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CardTypeComapre(c.region, c.mine), c.expected) << std::hex << c.region << " vs " << c.mine;
}

TEST(IltRegionLen, Boundary) {
    ik::Bytes img =
        ik::BuildIltImage(Spec({Region(0x01, 0, 0, 0x1000), Region(0x07, 0, 0, 0x800), Region(0x07, 0, 0, 0x4000)}));
    struct Case {
        uint32_t code, size;
        int expected;
    };
    const Case cases[] = {
        {0x01, 0x1000, 0}, {0x01, 0xFFF, -4}, {0x01, 0x10000, 0}, {0x07, 0x800, 0}, // the first entry of a code decides
        {0x07, 0x7FF, -4}, {0x16, 0, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ValidateILTRegionLen(img, c.code, c.size), c.expected) << std::hex << c.code << " " << c.size;
    EXPECT_EQ(ValidateILTRegionLen({}, 0x01, 0), 0);
    ik::Bytes noRegions = ik::BuildIltImage(Spec({}));
    EXPECT_EQ(ValidateILTRegionLen(noRegions, 0x01, 0), 0);
}

TEST(IltRegionsToUpdate, ListsAndReporters) {
    EXPECT_EQ(ILT_InitLarkRegionsToUpdate(0x54),
              (std::vector<uint32_t>{0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x74, 0x81}));
    EXPECT_EQ(ILT_InitLarkRegionsToUpdate(0x58)[6], 0x97u);
    EXPECT_EQ(ILT_InitTeskRegionsToUpdate().size(), 13u);
    std::vector<uint32_t> fenwar = ILT_InitFenwarSecuredOnlineRegionsToUpdate();
    std::vector<uint32_t> zult = ILT_InitZultOnlineRegionsToUpdate();
    ASSERT_EQ(fenwar.size(), 14u);
    ASSERT_EQ(zult.size(), 20u);
    EXPECT_TRUE(std::equal(fenwar.begin(), fenwar.begin() + 12, zult.begin()));
    EXPECT_EQ(fenwar[12] | fenwar[13], 0u);
    EXPECT_EQ(std::count(zult.begin(), zult.end(), 0u), 8);

    using Reporter = int (*)(std::span<const uint8_t>, std::span<const uint32_t>, uint16_t);
    const Reporter reporters[] = {ValidateILTImageRegionsToUpdate, ValidateTeskILTImageRegionsToUpdate,
                                  ValidateFenwarILTImageRegionsToUpdate, ValidateZultILTImageRegionsToUpdate};
    ik::IltSpec s = Spec({Region(0x07), Region(0x01)});
    ik::Bytes good = ik::BuildIltImage(s);
    s.signature = "OFIX";
    ik::Bytes badSig = ik::BuildIltImage(s);
    s.signature = "OFIM";
    s.tableVersion = 5;
    ik::Bytes badVersion = ik::BuildIltImage(s);
    for (Reporter r : reporters) {
        EXPECT_EQ(r(good, zult, 0x58), 0);
        EXPECT_EQ(r(badSig, zult, 0x58), 450);
        EXPECT_EQ(r(badVersion, zult, 0), 506);
        EXPECT_EQ(r(std::span<const uint8_t>(good.data(), 3), zult, 0), 450);
    }
}

namespace {

// Debug lines written while 'fn' runs.
template <typename Fn> std::string DebugLines(Fn fn) {
    int saved = g_bDebug;
    g_bDebug = 1;
    testing::internal::CaptureStdout();
    fn();
    std::string out = testing::internal::GetCapturedStdout();
    g_bDebug = saved;
    return out;
}

} // namespace

TEST(IltDebugLines, FailureLinesAndCounts) {
    struct Case {
        const char *name;
        std::vector<ik::IltRegion> regions;
        HeaderValidator validate;
        uint16_t adapterRev;
        const char *line;
    };
    const Case cases[] = {
        {"Lark",
         {Region(0x70, 0x54)},
         ValidateILTImageHeader,
         0x58,
         "ValidateILTImageHeader: ValidateImageChipRevision failed with status=-3"},
        {"Tesk",
         {Region(0x70, 0x54)},
         ValidateTeskILTImageHeader,
         0,
         "ValidateTeskILTImageHeader: ValidateImageChipRevision failed with status=-12"},
        {"Fenwar",
         {Region(0x67)},
         ValidateFenwarILTImageHeader,
         0,
         "ValidateFenwarILTImageHeader: ValidateFenwarILTImageHeader failed with status=-3"},
        {"Zult", {Region(0x67)}, ValidateZultILTImageHeader, 0, "ValidateZultILTImageHeader: Failed with status=-3"},
        {"chip revision found",
         {Region(0x70, 0x58)},
         ValidateTeskILTImageHeader,
         0x58,
         "ValidateTeskILTImageHeader: Found maching chip revision (ILT=0x58, HBA=0x58)"},
    };
    for (const Case &c : cases) {
        ik::Bytes img = ik::BuildIltImage(Spec(c.regions));
        std::string log = DebugLines([&] { c.validate(kSsdid, kSsvid, img, c.adapterRev); });
        EXPECT_NE(log.find(c.line), std::string::npos) << c.name << "\n" << log;
    }

    // The reporters count the codes of the sequence that have an entry.
    ik::Bytes img = ik::BuildIltImage(Spec({Region(0x07), Region(0x2E), Region(0x07), Region(0x99)}));
    const uint32_t seq[] = {0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x97, 0x81};
    std::string log = DebugLines([&] { ValidateILTImageRegionsToUpdate(img, seq, 0x58); });
    EXPECT_NE(log.find("ValidateILTImageRegionsToUpdate: numberOfMatchedRegion=2, max seq size=7"), std::string::npos)
        << log;
    log = DebugLines([&] { ValidateILTImageRegionsToUpdate(img, seq, 0); });
    EXPECT_EQ(log.find("numberOfMatchedRegion"), std::string::npos) << log;
    log = DebugLines([&] { ValidateZultILTImageRegionsToUpdate(img, ILT_InitZultOnlineRegionsToUpdate(), 0); });
    EXPECT_NE(log.find("numberOfMatchedRegion=1, max seq size=19"), std::string::npos) << log;
}
