// Walkers over whole multi-region images of every family: counts against
// the counters, card-type and chip-revision filters, the first failure's
// code, tables that run past the buffer, and the header versions copied
// into the records.
#include <gtest/gtest.h>

#include <string>

#include "components_image.h"
#include "image/components.h"

namespace ik = imagekit;
using compimg::Make;
using compimg::Part;

namespace {

enum class Fam { FirstGen, Lark, Tesk, Fenwar, Zult };

constexpr uint16_t kFenwarDevice = 0x2071;
constexpr uint16_t kZultDevice = 0x2281;
constexpr ik::Version3 kV{9, 1, 2};

struct Records {
    ImageVersionRecord r{};
    ZultImageVersionRecord z{};
};

int Walk(Fam fam, const ik::Bytes &img, int cardType, uint16_t chipRev, Records &rec, int expected = 0) {
    switch (fam) {
    case Fam::FirstGen: return ValidateImageComponents(img, expected, cardType, &rec.r);
    case Fam::Lark: return ValidateLarkImageComponents(img, expected, cardType, &rec.r, chipRev);
    case Fam::Tesk: return ValidateTeskImageComponents(img, expected, cardType, &rec.r, chipRev);
    case Fam::Fenwar: return ValidateFenwarImageComponents(img, expected, cardType, &rec.r, chipRev, kFenwarDevice);
    case Fam::Zult: return ValidateZultImageComponents(img, expected, cardType, &rec.z, chipRev, kZultDevice);
    }
    return 1000;
}

int Count(Fam fam, const ik::Bytes &img, int cardType, uint16_t chipRev) {
    if (fam == Fam::FirstGen || fam == Fam::Lark) return HowManyImagesForCardType(img, cardType);
    return HowManyImagesForCardTypeGeneric(img, cardType, chipRev);
}

ik::Bytes Risc(uint32_t supported) {
    ik::RiscFirmwareSpec s;
    s.version = kV;
    s.supported = supported;
    return ik::BuildRiscFirmware(s);
}
ik::Bytes Boot(uint16_t dev, bool locator) { return ik::BuildBootCodeRegion(ik::FunctionBootSpecs(dev), locator); }
ik::Bytes NicBoot(uint16_t dev) { return ik::BuildBootCodeRegion(ik::NicBootSpecs(dev)); }
ik::Bytes Trailer(uint32_t sig, size_t len, bool bad = false) {
    ik::TrailerSpec s;
    s.signature = sig;
    s.length = len;
    s.badSum = bad;
    return ik::BuildTrailerBlock(s);
}
ik::Bytes NicFw(bool bad = false) {
    ik::NicFirmwareSpec s;
    s.badSum = bad;
    return ik::BuildNicFirmware(s);
}

std::vector<Part> FamilyParts(Fam fam) {
    switch (fam) {
    case Fam::FirstGen:
        return {Make(0x2E, NicBoot(0x8000)),
                Make(0x41, ik::BuildMpiConfig({})),
                Make(0x45, ik::BuildEdcFirmware({kV}), kV),
                Make(0x40, ik::BuildMpiFirmware({kV}), kV),
                Make(0x07, Boot(0x8001, true)),
                Make(0x01, Risc(RISC_SUPPORTED_FCOE_FIRST_GEN), kV)};
    case Fam::Lark:
        return {Make(0x07, Boot(0x8021, true)),
                Make(0x4F, Boot(0x8022, true)),
                Make(0x2E, NicBoot(0x8020)),
                Make(0x70, Trailer(ik::kCrbInitSignature, 0x4000)),
                Make(0x71, ik::BuildVersionBlockComponent({1, 2, 3, 4})),
                Make(0x72, Trailer(ik::kBootloaderSignature, 0x20000)),
                Make(0x73, Trailer(ik::kPegTuneSignature, 0x20000)),
                Make(0x74, NicFw(), {}, 0, 0x54),
                Make(0x81, ik::Bytes(0x200, 0)),
                Make(0x97, NicFw(), {}, 0, 0x58)};
    case Fam::Tesk:
        return {Make(0x07, Boot(0x2031, false)),
                Make(0x2E, NicBoot(0x8030)),
                Make(0xA2, Boot(0x8031, false)),
                Make(0x4F, Boot(0x8032, false)),
                Make(0x70, Trailer(ik::kCrbInitSignature, 0x1000)),
                Make(0x72, Trailer(ik::kBootloaderSignature, 0x2000)),
                Make(0x73, Trailer(ik::kPegTuneSignature, 0x2000)),
                Make(0xA4, Risc(RISC_SUPPORTED_TESK_FCOE), kV),
                Make(0x01, Risc(RISC_SUPPORTED_TESK_FC), kV),
                Make(0x97, NicFw())};
    case Fam::Fenwar:
        return {Make(0x9E, ik::BuildSignatureRegion({})),
                Make(0x07, Boot(kFenwarDevice, false)),
                Make(0xD3, Risc(0), kV),
                Make(0xD1, ik::BuildPepFirmware({1, 2, 3, 4})),
                Make(0x66, ik::BuildPepFirmware({5, 6, 7, 8})),
                Make(0x01, Risc(RISC_SUPPORTED_FENWAR), kV)};
    case Fam::Zult:
        return {Make(0x9E, ik::BuildSignatureRegion({})),
                Make(0x07, Boot(kZultDevice, false)),
                Make(0x11, Boot(kZultDevice, false)),
                Make(0x13, ik::BuildPreloadBlock()),
                Make(0xBA, ik::BuildFcBoardConfig()),
                Make(0xCF, ik::BuildPepBoardConfig()),
                Make(0xD1, ik::BuildPepFirmware({1, 2, 3, 4})),
                Make(0xD2, ik::BuildPepFirmware({2, 3, 4, 5})),
                Make(0xD3, Risc(0), kV),
                Make(0x101, Risc(0), kV),
                Make(0x102, ik::BuildVersionBlockComponent({1, 0, 0, 9})),
                Make(0x103, ik::Bytes(0x100, 0)),
                Make(0x01, Risc(RISC_SUPPORTED_ZULT), kV)};
    }
    return {};
}

const Fam kAll[] = {Fam::FirstGen, Fam::Lark, Fam::Tesk, Fam::Fenwar, Fam::Zult};

} // namespace

TEST(ComponentWalk, EveryFamilyImageValidatesAndMatchesItsCounter) {
    for (Fam fam : kAll) {
        std::vector<Part> parts = FamilyParts(fam);
        ik::Bytes img = compimg::Build(parts);
        Records rec;
        uint16_t chipRev = fam == Fam::Lark ? 0x58 : 0;
        int count = Count(fam, img, 1, chipRev);
        EXPECT_EQ(count, static_cast<int>(parts.size())) << int(fam);
        EXPECT_EQ(Walk(fam, img, 1, chipRev, rec, count), count) << int(fam);
    }
}

TEST(ComponentWalk, CardTypeMaskDecidesWhatIsValidatedAndCounted) {
    struct Case {
        const char *name;
        uint16_t mask;
        int cardType;
        bool applies;
    };
    const Case cases[] = {
        {"mask 0, any card", 0, 2, true},
        {"mask 0, no card type", 0, -1, true},
        {"mask 0x8000 counts as 0", 0x8000, 2, true},
        {"shared bit", 0x0006, 0x0004, true},
        {"other bit", 0x0004, 0x0002, false},
        {"no card type, mask set", 0x0002, -1, false},
        {"bit 15 only on the adapter", 0x0001, 0x8000, false},
    };
    for (Fam fam : kAll) {
        for (const auto &c : cases) {
            // A good component that always applies and a broken one carrying
            // the mask under test.
            bool lark = fam == Fam::Lark;
            std::vector<Part> parts = {lark ? Make(0x72, Trailer(ik::kBootloaderSignature, 0x20000, true), {}, c.mask)
                                            : Make(0x01, Risc(0x01), kV, c.mask)};
            parts.push_back(FamilyParts(fam).back());
            ik::Bytes img = compimg::Build(parts);
            Records rec;
            int walked = Walk(fam, img, c.cardType, 0, rec);
            EXPECT_EQ(Count(fam, img, c.cardType, 0), c.applies ? 2 : 1) << int(fam) << " " << c.name;
            EXPECT_EQ(walked, c.applies ? (lark ? -10 : -9) : 1) << int(fam) << " " << c.name;
        }
    }
}

TEST(ComponentWalk, ChipRevisionFilterOfTheGenericWalkers) {
    struct Case {
        uint16_t entryRev, adapterRev;
        bool applies;
    };
    const Case cases[] = {{0x54, 0x58, false}, {0x58, 0x58, true}, {0, 0x58, true}, {0x54, 0, false}, {0, 0, true}};
    for (Fam fam : {Fam::Tesk, Fam::Fenwar, Fam::Zult}) {
        for (const auto &c : cases) {
            // Tesk bootloader; Fenwar and Zult RISC firmware; each broken.
            Part broken = fam == Fam::Tesk
                              ? Make(0x72, Trailer(ik::kBootloaderSignature, 0x800, true), {}, 0, c.entryRev)
                              : Make(0x01, Risc(0x01), kV, 0, c.entryRev);
            ik::Bytes img = compimg::Build({broken});
            Records rec;
            EXPECT_EQ(HowManyImagesForCardTypeGeneric(img, 0, c.adapterRev), c.applies ? 1 : 0);
            EXPECT_EQ(HowManyImagesForCardType(img, 0), 1); // no revision filter
            EXPECT_EQ(Walk(fam, img, 0, c.adapterRev, rec), c.applies ? (fam == Fam::Tesk ? -10 : -9) : 0)
                << int(fam) << " entry 0x" << std::hex << c.entryRev << " adapter 0x" << c.adapterRev;
        }
    }
}

TEST(ComponentWalk, FirstFailureEndsTheWalkWithItsCode) {
    struct Case {
        Fam fam;
        uint16_t code;
        int expected;
        ik::Bytes (*broken)();
    };
    const Case cases[] = {
        {Fam::FirstGen, 0x45, -7, [] { return ik::Bytes(40, 0); }},
        {Fam::FirstGen, 0x2E, -5, [] { return NicBoot(0x8001); }},
        {Fam::Lark, 0x73, -11, [] { return Trailer(ik::kPegTuneSignature, 0x20000, true); }},
        {Fam::Lark, 0x70, -12, [] { return Trailer(ik::kPegTuneSignature, 0x4000); }},
        {Fam::Tesk, 0x97, -13, [] { return NicFw(true); }},
        {Fam::Tesk, 0x2E, -5, [] { return ik::Bytes(0x800, 0); }},
        {Fam::Fenwar, 0x07, -8, [] { return ik::Bytes(0x800, 0); }},
        {Fam::Zult, 0x9E, -36,
         [] {
             ik::SignatureRegionSpec s;
             s.badChecksum = true;
             return ik::BuildSignatureRegion(s);
         }},
        {Fam::Zult, 0x01, -9, [] { return Risc(0x08); }},
    };
    for (const auto &c : cases) {
        std::vector<Part> parts = FamilyParts(c.fam);
        bool replaced = false;
        for (auto &p : parts)
            if (p.code == c.code && !replaced) {
                p.data = c.broken();
                replaced = true;
            }
        ASSERT_TRUE(replaced);
        // A second broken component after it (another code) is never reached.
        parts.push_back(Make(0x01, Risc(0x02), {1, 1, 1}));
        Records rec;
        EXPECT_EQ(Walk(c.fam, compimg::Build(parts), 0, c.fam == Fam::Lark ? 0x58 : 0, rec), c.expected)
            << int(c.fam) << " code 0x" << std::hex << c.code;
    }
}

TEST(ComponentWalk, TableRunningPastTheBufferIsRefused) {
    struct Fixture {
        Fam fam;
        uint16_t unlisted; // a code the family passes without reading
    };
    const Fixture fixtures[] = {
        {Fam::FirstGen, 70}, {Fam::Lark, 0x555}, {Fam::Tesk, 0xA5}, {Fam::Fenwar, 0xE2}, {Fam::Zult, 0x555}};
    for (const auto &f : fixtures) {
        // Entries 0 and 1 (the time-stamp entry) are readable and pass; the
        // header claims more, and entry 2 would start at the buffer's end.
        compimg::Header h;
        h.entryCount = 5;
        ik::Bytes img = compimg::Build({Make(f.unlisted, ik::Bytes(0x40, 0))}, h);
        img.resize(96);
        Records rec;
        EXPECT_EQ(Walk(f.fam, img, 0, 0x58, rec), -1) << int(f.fam);
        EXPECT_EQ(Count(f.fam, img, 0, 0x58), 2) << int(f.fam);
        h.entryCount = 0xFFFF;
        img = compimg::Build({Make(f.unlisted, ik::Bytes(0x40, 0))}, h);
        img.resize(96);
        EXPECT_EQ(Walk(f.fam, img, 0, 0x58, rec), -1) << int(f.fam);
        // With the table's own count the same bytes walk clean.
        h.entryCount = 2;
        img = compimg::Build({Make(f.unlisted, ik::Bytes(0x40, 0))}, h);
        img.resize(96);
        EXPECT_EQ(Walk(f.fam, img, 0, 0x58, rec), 1) << int(f.fam);

        // Whole images cut short: their components now lie past the end.
        ik::Bytes good = compimg::Build(FamilyParts(f.fam));
        for (size_t cut : {size_t{0}, size_t{11}, size_t{32}, size_t{32 * 3 + 16}, size_t{0x200}, good.size() - 1}) {
            ik::Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
            int rc = Walk(f.fam, part, 0, 0x58, rec);
            if (cut < 12)
                EXPECT_EQ(rc, 0) << int(f.fam) << " cut " << cut; // no entry count at all
            else
                EXPECT_LT(rc, 0) << int(f.fam) << " cut " << cut;
        }
    }
}

TEST(ComponentWalk, HeaderVersionsReachTheRecords) {
    compimg::Header h;
    h.image[0] = 4;
    h.image[1] = 5;
    h.image[2] = 6;
    h.month = 11;
    h.day = 30;
    h.year = 2026;
    h.ffv[0] = 21;
    h.ffv[1] = 22;
    h.ffv[2] = 23;
    h.ffv[3] = 24;
    for (Fam fam : kAll) {
        Records rec;
        ik::Bytes img = compimg::Build(FamilyParts(fam), h);
        ASSERT_GT(Walk(fam, img, 0, 0x58, rec), 0) << int(fam);
        if (fam == Fam::Zult) {
            EXPECT_EQ(rec.z.image.major * 10000 + rec.z.image.minor * 100 + rec.z.image.subMinor, 40506);
            EXPECT_EQ(std::string(rec.z.ffv, rec.z.ffv + 4), std::string("\x15\x16\x17\x18"));
            EXPECT_EQ(rec.z.buildMonth * 100 + rec.z.buildDay, 1130);
            EXPECT_EQ(rec.z.buildYear, 2026);
            EXPECT_EQ(rec.z.signatureRegion.major, 1);
            EXPECT_EQ(rec.z.pepFw[0] * 1000 + rec.z.pepFw[3], 1004);
            EXPECT_EQ(rec.z.pcieSerdes[3], 9);
            continue;
        }
        EXPECT_EQ(rec.r.image.major * 10000 + rec.r.image.minor * 100 + rec.r.image.subMinor, 40506) << int(fam);
        if (fam == Fam::FirstGen) {
            // The first-generation walker copies only the image version.
            EXPECT_EQ(rec.r.buildYear, 0);
            continue;
        }
        // The Lark walker fills the same header fields as the others.
        EXPECT_EQ(std::string(rec.r.ffv, rec.r.ffv + 4), std::string("\x15\x16\x18\x17")) << int(fam);
        EXPECT_EQ(rec.r.buildMonth * 100 + rec.r.buildDay, 1130) << int(fam);
        EXPECT_EQ(rec.r.buildYear, 2026) << int(fam);
    }
}
