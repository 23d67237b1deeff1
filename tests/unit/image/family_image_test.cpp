// Family images of the image kit against the program's layout-table checks,
// component walkers and version readers: every family's image fits its
// adapter, and each breakage fails with the status of the check it targets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../tools/imagekit/cli.h"
#include "image/components.h"
#include "image/ilt.h"
#include "image/imgversion.h"

namespace ik = imagekit;

namespace {

constexpr uint16_t kSsvid = 0x1077;
constexpr uint16_t kSsdid = 0x0240;

using HeaderValidator = int (*)(uint16_t, uint16_t, std::span<const uint8_t>, uint16_t);
using CardTypeOf = int16_t (*)(std::span<const uint8_t>, uint16_t, uint16_t);
// Walker and counter of a family, for an adapter of chip revision 'rev'.
using Walk = int (*)(std::span<const uint8_t>, int count, int cardType, uint16_t rev);
using Count = int (*)(std::span<const uint8_t>, int cardType, uint16_t rev);

int WalkFirstGen(std::span<const uint8_t> img, int count, int cardType, uint16_t) {
    ImageVersionRecord rec{};
    return ValidateImageComponents(img, count, cardType, &rec);
}
int WalkLark(std::span<const uint8_t> img, int count, int cardType, uint16_t rev) {
    ImageVersionRecord rec{};
    return ValidateLarkImageComponents(img, count, cardType, &rec, rev);
}
int WalkTesk(std::span<const uint8_t> img, int count, int cardType, uint16_t rev) {
    ImageVersionRecord rec{};
    return ValidateTeskImageComponents(img, count, cardType, &rec, rev);
}
int WalkFenwar(std::span<const uint8_t> img, int count, int cardType, uint16_t rev) {
    ImageVersionRecord rec{};
    return ValidateFenwarImageComponents(img, count, cardType, &rec, rev, 0x2261);
}
int WalkZult(std::span<const uint8_t> img, int count, int cardType, uint16_t rev) {
    ZultImageVersionRecord rec{};
    return ValidateZultImageComponents(img, count, cardType, &rec, rev, 0x2281);
}
int CountAny(std::span<const uint8_t> img, int cardType, uint16_t) { return HowManyImagesForCardType(img, cardType); }
int CountGeneric(std::span<const uint8_t> img, int cardType, uint16_t rev) {
    return HowManyImagesForCardTypeGeneric(img, cardType, rev);
}

struct FamilyCase {
    const char *name;
    std::vector<std::string> words; // subcommand and options
    uint16_t adapterRev;
    HeaderValidator header;
    CardTypeOf cardType;
    Walk walk;
    Count count;
    int regions;      // region entries the valid image carries
    int badChecksum;  // walker result of --corrupt bad-checksum (1: not offered)
    int entryPastEnd; // walker result of --corrupt entry-past-end
    int wrongChipRev; // header status of --corrupt wrong-chip-rev (1: not offered; 0: the counters see nothing)
};

// clang-format off
const FamilyCase kCases[] = {
    {"first-generation", {"firstgen"}, 0, ValidateILTImageHeader, ILT_CardTypeList_GetMyCardTypeFromCardList,
     WalkFirstGen, CountAny, 6, -6, -8, 1},
    {"first-generation rev 1", {"firstgen"}, 1, ValidateILTImageHeader, ILT_CardTypeList_GetMyCardTypeFromCardList,
     WalkFirstGen, CountAny, 6, -6, -8, 1},
    {"Lark 0x54", {"lark", "--chip-rev", "0x54"}, 0x54, ValidateILTImageHeader,
     ILT_LarkCardTypeList_GetMyCardTypeFromCardList, WalkLark, CountAny, 8, -10, -8, 505},
    {"Lark 0x58", {"lark", "--chip-rev", "0x58"}, 0x58, ValidateILTImageHeader,
     ILT_LarkCardTypeList_GetMyCardTypeFromCardList, WalkLark, CountAny, 8, -10, -8, 505},
    {"Lark both on 0x54", {"lark"}, 0x54, ValidateILTImageHeader, ILT_LarkCardTypeList_GetMyCardTypeFromCardList,
     WalkLark, CountAny, 9, -10, -8, 505},
    {"Lark both on 0x58", {"lark"}, 0x58, ValidateILTImageHeader, ILT_LarkCardTypeList_GetMyCardTypeFromCardList,
     WalkLark, CountAny, 9, -10, -8, 505},
    {"Tesk converged", {"tesk", "--chip-rev", "2"}, 2, ValidateTeskILTImageHeader,
     ILT_TeskCardTypeList_GetMyCardTypeFromCardList, WalkTesk, CountGeneric, 8, -10, -5, 505},
    {"Tesk FC", {"teskfc", "--chip-rev", "2"}, 2, ValidateTeskILTImageHeader,
     ILT_TeskCardTypeList_GetMyCardTypeFromCardList, WalkTesk, CountGeneric, 5, -10, -5, 505},
    {"Fenwar", {"fenwar", "--chip-rev", "3"}, 3, ValidateFenwarILTImageHeader,
     ILT_TeskCardTypeList_GetMyCardTypeFromCardList, WalkFenwar, CountGeneric, 7, 1, -8, 0},
    {"Zult", {"zult", "--chip-rev", "1"}, 1, ValidateZultILTImageHeader,
     ILT_TeskCardTypeList_GetMyCardTypeFromCardList, WalkZult, CountGeneric, 13, -36, -8, 0},
};
// clang-format on

int Build(std::vector<std::string> words, ik::Bytes &out) {
    words.push_back("unused.bin");
    return ik::cli::BuildFromWords(words, out);
}

ik::Bytes Must(std::vector<std::string> words) {
    ik::Bytes out;
    EXPECT_EQ(Build(words, out), 0) << words[0];
    return out;
}

std::vector<std::string> With(std::vector<std::string> words, std::initializer_list<const char *> more) {
    for (const char *w : more)
        words.emplace_back(w);
    return words;
}

} // namespace

TEST(FamilyImage, ValidImagesFitTheirAdapter) {
    for (const FamilyCase &c : kCases) {
        ik::Bytes img = Must(c.words);
        ASSERT_EQ(c.header(kSsdid, kSsvid, img, c.adapterRev), 0) << c.name;
        int cardType = c.cardType(img, kSsdid, kSsvid);
        EXPECT_EQ(cardType, 1) << c.name;
        EXPECT_EQ(ILT_Header_GetNumOfRegionEntries(img), c.regions + 1) << c.name;
        int count = c.count(img, cardType, c.adapterRev);
        EXPECT_EQ(count, c.regions) << c.name;
        EXPECT_EQ(c.walk(img, count, cardType, c.adapterRev), count) << c.name;
        // Every entry lies inside the image and fits a flash region of its
        // own length.
        for (int i = 0; i + 1 < c.regions + 1; ++i) {
            auto e = ILT_Region_GetRegionByIndex(img, i);
            ASSERT_TRUE(e.has_value()) << c.name << " " << i;
            EXPECT_TRUE(ILT_Region_GetComponent(img, *e).has_value()) << c.name << " " << i;
            EXPECT_EQ(ValidateILTRegionLen(img, e->regionCode, e->length), 0);
        }
        // Another adapter is refused.
        EXPECT_EQ(c.header(kSsdid + 1, kSsvid, img, c.adapterRev), 451) << c.name;
    }
}

TEST(FamilyImage, EachBreakageFailsItsCheck) {
    for (const FamilyCase &c : kCases) {
        SCOPED_TRACE(c.name);
        ik::Bytes img = Must(With(c.words, {"--corrupt", "wrong-signature"}));
        EXPECT_EQ(c.header(kSsdid, kSsvid, img, c.adapterRev), 450);

        img = Must(With(c.words, {"--corrupt", "no-card-type"}));
        EXPECT_EQ(c.header(kSsdid, kSsvid, img, c.adapterRev), 451);
        EXPECT_EQ(c.cardType(img, kSsdid, kSsvid), -1);

        img = Must(With(c.words, {"--corrupt", "entry-past-end"}));
        ASSERT_EQ(c.header(kSsdid, kSsvid, img, c.adapterRev), 0);
        EXPECT_EQ(c.walk(img, c.regions, 1, c.adapterRev), c.entryPastEnd);
        auto first = ILT_Region_GetRegionByIndex(img, 0);
        ASSERT_TRUE(first.has_value());
        EXPECT_FALSE(ILT_Region_GetComponent(img, *first).has_value());
        EXPECT_EQ(ValidateILTRegionLen(img, first->regionCode, 0x100000), -4);

        ik::Bytes out;
        int rc = Build(With(c.words, {"--corrupt", "bad-checksum"}), out);
        if (c.badChecksum == 1) {
            EXPECT_EQ(rc, 1);
        } else {
            ASSERT_EQ(rc, 0);
            ASSERT_EQ(c.header(kSsdid, kSsvid, out, c.adapterRev), 0);
            EXPECT_EQ(c.walk(out, c.regions, 1, c.adapterRev), c.badChecksum);
        }

        rc = Build(With(c.words, {"--corrupt", "wrong-chip-rev"}), out);
        if (c.wrongChipRev == 1) {
            EXPECT_EQ(rc, 1);
        } else {
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(c.header(kSsdid, kSsvid, out, c.adapterRev), c.wrongChipRev);
            if (c.wrongChipRev == 0) {
                // Every entry is for another revision: nothing applies.
                EXPECT_EQ(c.count(out, 1, c.adapterRev), 0);
                EXPECT_EQ(c.walk(out, 0, 1, c.adapterRev), 0);
            }
        }
    }
}

TEST(FamilyImage, HeaderFormsAndTableVersions) {
    struct Case {
        std::vector<std::string> words;
        int expected;
    };
    const Case cases[] = {
        {{"tesk", "--signature", "OFIM"}, 0},    {{"tesk", "--signature", "OILT", "--table-version", "0"}, 0},
        {{"tesk", "--table-version", "5"}, 506}, {{"zult", "--table-version", "0xFFFF"}, 506},
        {{"zult", "--signature", "OFIL"}, 450},
    };
    for (const Case &c : cases) {
        ik::Bytes img = Must(c.words);
        HeaderValidator v = c.words[0] == "tesk" ? ValidateTeskILTImageHeader : ValidateZultILTImageHeader;
        EXPECT_EQ(v(kSsdid, kSsvid, img, 0), c.expected) << c.words.back();
    }
}

TEST(FamilyImage, CardTypesAndMasks) {
    struct Case {
        const char *name;
        std::vector<std::string> words;
        int cardType;
        int counted;
    };
    const Case cases[] = {
        {"typed list 2, mask 0", {"tesk", "--card-type", "2"}, 2, 8},
        {"mask shares a bit", {"tesk", "--card-type", "2", "--mask", "6"}, 2, 8},
        {"mask excludes the card", {"tesk", "--card-type", "2", "--mask", "4"}, 2, 0},
        {"mask 0x8000 counts as 0", {"tesk", "--card-type", "2", "--mask", "0x8000"}, 2, 8},
        {"only the default list", {"tesk", "--card-type", "0", "--mask", "1"}, 0, 0},
        {"only the default list, mask 0", {"teskfc", "--card-type", "0"}, 0, 5},
    };
    for (const Case &c : cases) {
        ik::Bytes img = Must(c.words);
        ASSERT_EQ(ValidateTeskILTImageHeader(kSsdid, kSsvid, img, 0), 0) << c.name;
        int cardType = ILT_TeskCardTypeList_GetMyCardTypeFromCardList(img, kSsdid, kSsvid);
        EXPECT_EQ(cardType, c.cardType) << c.name;
        int counted = HowManyImagesForCardTypeGeneric(img, cardType, 0);
        EXPECT_EQ(counted, c.counted) << c.name;
        ImageVersionRecord rec{};
        EXPECT_EQ(ValidateTeskImageComponents(img, counted, cardType, &rec, 0), counted) << c.name;
    }
    // Adapter IDs given on the command line.
    ik::Bytes img = Must({"fenwar", "--ssvid", "0x103C", "--ssdid", "0x8002", "--device-id", "0x2271"});
    EXPECT_EQ(ValidateFenwarILTImageHeader(0x8002, 0x103C, img, 0), 0);
    EXPECT_EQ(ValidateFenwarILTImageHeader(kSsdid, kSsvid, img, 0), 451);
    ImageVersionRecord rec{};
    int n = HowManyImagesForCardTypeGeneric(img, 1, 0);
    EXPECT_EQ(ValidateFenwarImageComponents(img, n, 1, &rec, 0, 0x2271), n);
}

TEST(FamilyImage, VersionsReachTheRecords) {
    ik::Bytes zult = Must(
        {"zult", "--fw", "9.3.7", "--image-version", "4.5.6", "--ffv", "10.11.12.13", "--bios", "7.8", "--efi", "2.9"});
    ZultImageVersionRecord z{};
    int n = HowManyImagesForCardTypeGeneric(zult, 1, 0);
    ASSERT_EQ(ValidateZultImageComponents(zult, n, 1, &z, 0, 0x2281), n);
    EXPECT_EQ(z.riscFw.major, 9);
    EXPECT_EQ(z.riscFw.subMinor, 7);
    EXPECT_EQ(z.image.minor, 5);
    EXPECT_EQ(z.ffv[0], 10);
    EXPECT_EQ(z.ffv[3], 13);
    EXPECT_EQ(z.fcBios.major, 7);
    EXPECT_EQ(z.fcBios.minor, 8);
    EXPECT_EQ(z.fcEfi.minor, 9);

    ik::Bytes tesk = Must({"tesk", "--bios", "5.6", "--fw", "8.1.2", "--ffv", "1.2.3.4"});
    ImageVersionRecord t{};
    n = HowManyImagesForCardTypeGeneric(tesk, 1, 0);
    ASSERT_EQ(ValidateTeskImageComponents(tesk, n, 1, &t, 0), n);
    EXPECT_EQ(t.fcoeBios.major, 5);
    EXPECT_EQ(t.fcoeBios.minor, 6);
    EXPECT_EQ(t.riscFw.major, 8);
    // FFV bytes 21, 22, 24, 23.
    EXPECT_EQ(t.ffv[2], 4);
    EXPECT_EQ(t.ffv[3], 3);
}

TEST(FamilyImage, RefusedOptions) {
    const std::vector<std::vector<std::string>> bad = {
        {"zult", "--corrupt", "nonsense"},
        {"fenwar", "--corrupt", "bad-checksum"},
        {"firstgen", "--corrupt", "wrong-chip-rev"},
        {"lark", "--chip-rev", "0x10000"},
        {"tesk", "--signature", "OILTX"},
        {"tesk", "--ffv", "1.2.3"},
        {"zult", "--unknown", "1"},
    };
    for (const auto &words : bad) {
        ik::Bytes out;
        EXPECT_EQ(Build(words, out), 1) << words[0] << " " << words[1];
    }
}

TEST(FamilyImage, CutImagesStayInsideTheBuffer) {
    // Every cut of every family's image ends the table checks and the
    // component walk with a status; the sanitizer build watches the reads.
    for (const FamilyCase &c : kCases) {
        ik::Bytes img = Must(c.words);
        for (size_t len = 0; len < img.size(); len += len < 1024 ? 7 : 4093) {
            std::span<const uint8_t> cut(img.data(), len);
            int header = c.header(kSsdid, kSsvid, cut, c.adapterRev);
            EXPECT_TRUE(header == 0 || header == 450 || header == 451 || header == 505 || header == 506 ||
                        header == 507)
                << c.name << " " << len << " " << header;
            int cardType = c.cardType(cut, kSsdid, kSsvid);
            int count = c.count(cut, cardType, c.adapterRev);
            int walked = c.walk(cut, count, cardType, c.adapterRev);
            // Cut short, some component reaches past the end.
            if (len < img.size() && header == 0) {
                EXPECT_LT(walked, count) << c.name << " " << len;
            }
        }
    }
}
