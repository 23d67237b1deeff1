// Component checks and the per-family dispatchers over kit-built
// components: checksum windows, signatures, supported values, boot-code
// chains and the failure code of every broken component kind.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "components_image.h"
#include "image/components.h"
#include "image/helpers.h"
#include "image/pcirom.h"

namespace ik = imagekit;
using compimg::Make;
using compimg::Part;

namespace {

// The entry of the only part of a one-part image.
IltRegionEntry EntryOf(const ik::Bytes &img, int index = 0) {
    auto e = ILT_Region_GetRegionByIndex(img, index);
    EXPECT_TRUE(e.has_value());
    return e.value_or(IltRegionEntry{});
}

enum class Fam { FirstGen, Lark, Tesk, Fenwar, Zult };

constexpr uint16_t kFenwarDevice = 0x2071;
constexpr uint16_t kZultDevice = 0x2281;

int DispatchOne(Fam fam, const ik::Bytes &img, uint16_t chipRev = 0x54) {
    IltRegionEntry e = EntryOf(img);
    ImageVersionRecord r{};
    ZultImageVersionRecord z{};
    switch (fam) {
    case Fam::FirstGen: return ValidateImages(&e, img, &r);
    case Fam::Lark: return ValidateLarkImages(&e, img, &r, chipRev);
    case Fam::Tesk: return ValidateTeskImages(&e, img, &r);
    case Fam::Fenwar: return ValidateFenwarImages(&e, img, &r, kFenwarDevice);
    case Fam::Zult: return ValidateGenericImages(&e, img, &z, kZultDevice);
    }
    return 1;
}

ik::Bytes Boot(uint16_t dev, bool locator = true) {
    return ik::BuildBootCodeRegion(ik::FunctionBootSpecs(dev), locator);
}
ik::Bytes NicBoot(uint16_t dev) { return ik::BuildBootCodeRegion(ik::NicBootSpecs(dev)); }
ik::Bytes BrokenChain(uint16_t dev) {
    auto specs = ik::FunctionBootSpecs(dev);
    specs[1].faults.badRomSignature = true;
    return ik::BuildBootCodeRegion(specs);
}
ik::Bytes NoLast(uint16_t dev) {
    auto specs = ik::FunctionBootSpecs(dev);
    specs.back().last = 0;
    return ik::BuildBootCodeRegion(specs, false);
}
ik::Bytes Risc(ik::Version3 v, uint32_t supported) {
    ik::RiscFirmwareSpec s;
    s.version = v;
    s.supported = supported;
    return ik::BuildRiscFirmware(s);
}
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
ik::Bytes SigRegion(bool bad) {
    ik::SignatureRegionSpec s;
    s.badChecksum = bad;
    return ik::BuildSignatureRegion(s);
}

constexpr ik::Version3 kV{9, 1, 2};

} // namespace

// Each listed component kind of each family: the kit's good component
// passes with 0, a broken one fails with the family's code for it.
TEST(ComponentDispatch, GoodPassesBrokenFailsWithItsCode) {
    struct Case {
        const char *name;
        Fam fam;
        uint16_t code;
        std::function<ik::Bytes()> good, broken;
        int expected;
    };
    ik::MpiConfigSpec badMpiCfg;
    badMpiCfg.badChecksum = true;
    ik::EdcFirmwareSpec badEdc;
    badEdc.cookie = 0x5555AAAA;
    ik::MpiFirmwareSpec badMpi;
    badMpi.supported = 0x10000009;
    const Case cases[] = {
        {"1st RISC", Fam::FirstGen, 0x01, [] { return Risc(kV, 8); }, [] { return Risc(kV, 0x20); }, -9},
        {"1st FCoE boot", Fam::FirstGen, 0x07, [] { return Boot(0x8001); }, [] { return BrokenChain(0x8001); }, -8},
        {"1st FCoE boot, no locator", Fam::FirstGen, 0x07, [] { return Boot(0x8001); },
         [] { return Boot(0x8001, false); }, -8},
        {"1st NIC boot", Fam::FirstGen, 0x2E, [] { return NicBoot(0x8000); }, [] { return NicBoot(0x8020); }, -5},
        {"1st MPI fw", Fam::FirstGen, 0x40, [] { return ik::BuildMpiFirmware({kV}); },
         [&] {
             return ik::BuildMpiFirmware({kV, badMpi.supported});
         },
         -6},
        {"1st MPI cfg", Fam::FirstGen, 0x41, [] { return ik::BuildMpiConfig({}); },
         [&] { return ik::BuildMpiConfig(badMpiCfg); }, -6},
        {"1st EDC", Fam::FirstGen, 0x45, [] { return ik::BuildEdcFirmware({kV}); },
         [&] {
             ik::EdcFirmwareSpec s = badEdc;
             s.version = kV;
             return ik::BuildEdcFirmware(s);
         },
         -7},
        {"Lark FCoE boot", Fam::Lark, 0x07, [] { return Boot(0x8021); }, [] { return BrokenChain(0x8021); }, -8},
        {"Lark NIC boot", Fam::Lark, 0x2E, [] { return NicBoot(0x8020); }, [] { return NicBoot(0x8030); }, -5},
        {"Lark iSCSI boot", Fam::Lark, 0x4F, [] { return Boot(0x8022); }, [] { return Boot(0x8022, false); }, -8},
        {"Lark CRB init", Fam::Lark, 0x70, [] { return Trailer(ik::kCrbInitSignature, 0x4000); },
         [] { return Trailer(ik::kCrbInitSignature, 0x4000, true); }, -12},
        {"Lark bootloader", Fam::Lark, 0x72, [] { return Trailer(ik::kBootloaderSignature, 0x20000); },
         [] { return Trailer(ik::kPegTuneSignature, 0x20000); }, -10},
        {"Lark PEG tune", Fam::Lark, 0x73, [] { return Trailer(ik::kPegTuneSignature, 0x20000); },
         [] { return Trailer(ik::kPegTuneSignature, 0x20000, true); }, -11},
        {"Lark firmware 0x97", Fam::Lark, 0x97, [] { return NicFw(); }, [] { return NicFw(true); }, -13},
        {"Tesk FC RISC", Fam::Tesk, 0x01, [] { return Risc(kV, 0x20); }, [] { return Risc(kV, 0x10); }, -9},
        {"Tesk FC boot", Fam::Tesk, 0x07, [] { return Boot(0x2031, false); }, [] { return BrokenChain(0x2031); }, -5},
        {"Tesk NIC boot", Fam::Tesk, 0x2E, [] { return NicBoot(0x8030); }, [] { return BrokenChain(0x8030); }, -5},
        {"Tesk iSCSI boot", Fam::Tesk, 0x4F, [] { return Boot(0x8032, false); }, [] { return BrokenChain(0x8032); },
         -8},
        {"Tesk CRB init", Fam::Tesk, 0x70, [] { return Trailer(ik::kCrbInitSignature, 0x1000); },
         [] { return Trailer(ik::kCrbInitSignature, 0x1000, true); }, -12},
        {"Tesk bootloader", Fam::Tesk, 0x72, [] { return Trailer(ik::kBootloaderSignature, 0x800); },
         [] { return Trailer(ik::kBootloaderSignature, 0x800, true); }, -10},
        {"Tesk PEG tune", Fam::Tesk, 0x73, [] { return Trailer(ik::kPegTuneSignature, 0x800); },
         [] { return Trailer(ik::kCrbInitSignature, 0x800); }, -11},
        {"Tesk NIC fw", Fam::Tesk, 0x97, [] { return NicFw(); }, [] { return NicFw(true); }, -13},
        {"Tesk FCoE boot", Fam::Tesk, 0xA2, [] { return Boot(0x8031, false); }, [] { return BrokenChain(0x8031); }, -8},
        {"Tesk FCoE RISC", Fam::Tesk, 0xA4, [] { return Risc(kV, 0x10); }, [] { return Risc(kV, 0x20); }, -9},
        {"Fenwar RISC", Fam::Fenwar, 0x01, [] { return Risc(kV, 0x40); }, [] { return Risc(kV, 0x80); }, -9},
        {"Fenwar boot", Fam::Fenwar, 0x07, [] { return Boot(kFenwarDevice, false); },
         [] { return BrokenChain(kFenwarDevice); }, -8},
        {"Fenwar MPI fw too short", Fam::Fenwar, 0xD3, [] { return Risc(kV, 0); }, [] { return ik::Bytes(100, 0); },
         -8},
        {"Zult RISC", Fam::Zult, 0x01, [] { return Risc(kV, 0x80); }, [] { return Risc(kV, 0x08); }, -9},
        {"Zult boot", Fam::Zult, 0x07, [] { return Boot(kZultDevice, false); }, [] { return BrokenChain(kZultDevice); },
         -8},
        {"Zult boot expansion", Fam::Zult, 0x11, [] { return Boot(kZultDevice, false); },
         [] { return NoLast(kZultDevice); }, -8},
        {"Zult signature", Fam::Zult, 0x9E, [] { return SigRegion(false); }, [] { return SigRegion(true); }, -36},
        {"Zult MPI fw too short", Fam::Zult, 0xD3, [] { return Risc(kV, 0); }, [] { return ik::Bytes(119, 0); }, -37},
        {"Zult preload too short", Fam::Zult, 0x13, [] { return ik::BuildPreloadBlock(); },
         [] { return ik::Bytes(7, 0); }, -38},
        {"Zult FC board config too short", Fam::Zult, 0xBA, [] { return ik::BuildFcBoardConfig(); },
         [] { return ik::Bytes(4, 0); }, -39},
        {"Zult PEP board config too short", Fam::Zult, 0xCF, [] { return ik::BuildPepBoardConfig(); },
         [] { return ik::Bytes(6, 0); }, -40},
        {"Zult MPI SoftROM too short", Fam::Zult, 0x101, [] { return Risc(kV, 0); }, [] { return ik::Bytes(8, 0); },
         -41},
        {"Zult Serdes too short", Fam::Zult, 0x102,
         [] {
             return ik::BuildVersionBlockComponent({1, 2, 3, 4});
         },
         [] { return ik::Bytes(3, 0); }, -42},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(DispatchOne(c.fam, compimg::Build({Make(c.code, c.good(), kV)})), 0) << c.name << " (good)";
        EXPECT_EQ(DispatchOne(c.fam, compimg::Build({Make(c.code, c.broken(), kV)})), c.expected)
            << c.name << " (broken)";
    }
}

// A component that reaches past the image fails with its own code, or with
// -8 when its row has none; codes a family does not list pass unread.
TEST(ComponentDispatch, ComponentPastTheImage) {
    struct Case {
        Fam fam;
        uint16_t code;
        int expected;
    };
    const Case cases[] = {
        {Fam::FirstGen, 0x41, -6}, {Fam::Lark, 0x71, -8},   {Fam::Lark, 0x72, -10}, {Fam::Tesk, 0x97, -13},
        {Fam::Fenwar, 0x9E, -8},   {Fam::Fenwar, 0xD1, -8}, {Fam::Zult, 0x9E, -36}, {Fam::Zult, 0x103, -8},
        {Fam::Zult, 0x555, 0},     {Fam::Tesk, 0xA5, 0},    {Fam::FirstGen, 70, 0}, {Fam::Lark, 0x81, 0},
    };
    for (const auto &c : cases) {
        for (int64_t length : {int64_t{0x100000}, int64_t{0xFFFFFFFF}}) {
            Part p = Make(c.code, ik::Bytes(0x100, 0));
            p.length = length;
            EXPECT_EQ(DispatchOne(c.fam, compimg::Build({p})), c.expected)
                << "family " << int(c.fam) << " code 0x" << std::hex << c.code << " length 0x" << length;
        }
        Part p = Make(c.code, ik::Bytes(0x100, 0));
        p.offset = 0xFFFFFF00;
        EXPECT_EQ(DispatchOne(c.fam, compimg::Build({p})), c.expected) << "offset past the end";
    }
}

TEST(MpiConfig, ChecksumCoversExactlyTheFirst1280Bytes) {
    struct Case {
        size_t flip;
        bool passes;
    };
    const Case cases[] = {{0x10, false}, {3, false},   {31, false},  {0x200, false},
                          {1279, false}, {1280, true}, {1281, true}, {0x7FF, true}};
    for (const auto &c : cases) {
        ik::Bytes comp = ik::BuildMpiConfig({});
        comp.at(c.flip) ^= 0x5A;
        ik::Bytes img = compimg::Build({Make(0x41, comp)});
        IltRegionEntry e = EntryOf(img);
        EXPECT_EQ(ValidateMpiConfigParamImage(img, e, nullptr), c.passes) << "byte " << c.flip;
    }
}

TEST(MpiConfig, SignatureLengthAndVersion) {
    // Right checksum, wrong signature.
    ik::MpiConfigSpec wrongSig;
    wrongSig.signature = 0x5555BBBB;
    EXPECT_EQ(DispatchOne(Fam::FirstGen, compimg::Build({Make(0x41, ik::BuildMpiConfig(wrongSig))})), -6);

    // Shorter than the checksummed area: the rest counts as zeros.
    ik::MpiConfigSpec shortCfg;
    shortCfg.length = 600;
    EXPECT_EQ(DispatchOne(Fam::FirstGen, compimg::Build({Make(0x41, ik::BuildMpiConfig(shortCfg))})), 0);

    // A component that fills the working copy exactly passes; one byte more
    // is refused instead of being copied past it.
    for (size_t len : {size_t{0x10000}, size_t{0x10001}}) {
        ik::MpiConfigSpec s;
        s.length = len;
        int rc = DispatchOne(Fam::FirstGen, compimg::Build({Make(0x41, ik::BuildMpiConfig(s))}));
        EXPECT_EQ(rc, len <= 0x10000 ? 0 : -6) << len;
    }

    ik::MpiConfigSpec v;
    v.version = {5, 6, 7};
    ik::Bytes img = compimg::Build({Make(0x41, ik::BuildMpiConfig(v))});
    ImageVersionRecord r{};
    IltRegionEntry e = EntryOf(img);
    ASSERT_EQ(ValidateImages(&e, img, &r), 0);
    EXPECT_EQ(r.mpiConfig.major, 5);
    EXPECT_EQ(r.mpiConfig.minor, 6);
    EXPECT_EQ(r.mpiConfig.subMinor, 7);
}

TEST(SignatureRegion, TestedOnlyWithBothSignatures) {
    struct Case {
        const char *name;
        bool head, tail, badChecksum;
        int64_t covered;
        size_t length;
        bool passes, versionTaken;
    };
    const Case cases[] = {
        {"signed, good", true, true, false, -1, 0x1000, true, true},
        {"signed, bad checksum", true, true, true, -1, 0x1000, false, false},
        {"no head, bad checksum", false, true, true, -1, 0x1000, true, false},
        {"no tail, bad checksum", true, false, true, -1, 0x1000, true, false},
        {"signed, partial final dword", true, true, false, 390, 0x1000, true, true},
        {"signed, covers the whole region", true, true, false, 0x1000, 0x1000, true, true},
        {"signed, covered length past the region", true, true, false, 0x1004, 0x1000, false, false},
        {"signed, covered length 0", true, true, false, 0, 0x1000, false, false},
        {"region exactly its header", true, true, false, -1, 392, true, true},
    };
    for (const auto &c : cases) {
        ik::SignatureRegionSpec s;
        s.version = {4, 5, 6};
        s.headSignature = c.head;
        s.tailSignature = c.tail;
        s.badChecksum = c.badChecksum;
        s.covered = c.covered;
        s.length = c.length;
        ik::Bytes comp = ik::BuildSignatureRegion(s);
        ComponentVersion v{};
        bool taken = false;
        EXPECT_EQ(ValidateZultSignatureRegion(comp, &v, &taken), c.passes) << c.name;
        EXPECT_EQ(taken, c.versionTaken) << c.name;
        if (c.versionTaken) {
            EXPECT_EQ(v.major * 10000 + v.minor * 100 + v.subMinor, 40506) << c.name;
        }
    }
    ComponentVersion v{};
    bool taken = true;
    ik::Bytes cut = ik::BuildSignatureRegion({});
    cut.resize(391);
    EXPECT_FALSE(ValidateZultSignatureRegion(cut, &v, &taken));
    EXPECT_FALSE(taken);
}

TEST(RiscFirmware, SupportedValuesAndVersionWords) {
    struct Case {
        Fam fam;
        uint16_t code;
        uint32_t supported;
        ik::Version3 header;
        uint32_t wordHigh;
        int expected;
    };
    const Case cases[] = {
        {Fam::Zult, 0x01, 0x20, kV, 0, 0},         {Fam::Zult, 0x01, 0x10, kV, 0, 0},
        {Fam::Zult, 0x01, 0x40, kV, 0, 0},         {Fam::Zult, 0x01, 0x80, kV, 0, 0},
        {Fam::Zult, 0x01, 0x08, kV, 0, -9},        {Fam::Zult, 0x01, 0x00, kV, 0, -9},
        {Fam::Zult, 0x01, 0x80, {9, 1, 3}, 0, -9}, {Fam::Zult, 0x01, 0x80, kV, 0x100, -9},
        {Fam::FirstGen, 0x01, 0x08, kV, 0, 0},     {Fam::FirstGen, 0x01, 0x80, kV, 0, -9},
        {Fam::Tesk, 0xA4, 0x10, kV, 0, 0},         {Fam::Tesk, 0x01, 0x10, kV, 0, -9},
        {Fam::Fenwar, 0x01, 0x40, kV, 0, 0},       {Fam::Fenwar, 0x01, 0x40, {8, 1, 2}, 0, -9},
    };
    for (const auto &c : cases) {
        ik::RiscFirmwareSpec s;
        s.version = c.header;
        s.supported = c.supported;
        s.versionWordHigh = c.wordHigh;
        ik::Bytes img = compimg::Build({Make(c.code, ik::BuildRiscFirmware(s), kV)});
        EXPECT_EQ(DispatchOne(c.fam, img), c.expected)
            << "family " << int(c.fam) << " supported 0x" << std::hex << c.supported << " high 0x" << c.wordHigh;
    }
    // The header's version reaches the record even when the check fails.
    ik::Bytes img = compimg::Build({Make(0x01, Risc({7, 8, 9}, 0x08), kV)});
    ZultImageVersionRecord z{};
    IltRegionEntry e = EntryOf(img);
    EXPECT_EQ(ValidateGenericImages(&e, img, &z, kZultDevice), -9);
    EXPECT_EQ(z.riscFw.major * 10000 + z.riscFw.minor * 100 + z.riscFw.subMinor, 70809);
}

// The boot-code chain checks: a reader that refuses the chain (status 3 or
// 4) fails the component even when the chain validator passed it.
TEST(BootCode, ReaderStatusFailsTheComponent) {
    // First-generation FCoE chain with a PXE image: the FCoE validator
    // passes code type 2, the reader refuses it (status 4).
    auto specs = ik::FunctionBootSpecs(0x8001);
    specs.push_back(ik::CodeImage(ik::kPxe, 0x8001, 1, 1, 8));
    ik::Bytes withPxe = ik::BuildBootCodeRegion(specs);
    ImageVersionRecord scratch{};
    ASSERT_EQ(ValidateFCoEPciHeaders(std::span<const uint8_t>(withPxe), 0x8001), 1);
    EXPECT_EQ(GetImageVersions(withPxe, &scratch, 0x8001), BOOTVER_BAD_DEVICE);
    EXPECT_EQ(DispatchOne(Fam::FirstGen, compimg::Build({Make(0x07, withPxe)})), -8);

    // An adapter device ID the Fenwar and Zult readers do not know: status 4.
    ik::Bytes fc = compimg::Build({Make(0x07, Boot(0x2532, false))});
    IltRegionEntry fcEntry = EntryOf(fc);
    ZultImageVersionRecord z{};
    EXPECT_EQ(ValidateFenwarImages(&fcEntry, fc, &scratch, 0x2532), -8);
    EXPECT_EQ(ValidateGenericImages(&fcEntry, fc, &z, 0x2532), 0);
    EXPECT_EQ(ValidateGenericImages(&fcEntry, fc, &z, 0x2A71), -8);

    // A chain without the last-image flag runs into the filler: status 3
    // from the reader, refused by the validator first.
    auto noLast = ik::FunctionBootSpecs(0x8021);
    noLast.back().last = 0;
    ik::Bytes open = ik::BuildChain(noLast);
    EXPECT_EQ(GetLarkImageVersions(open, &scratch, 0x8021), BOOTVER_BAD_HEADER);
    EXPECT_EQ(DispatchOne(Fam::Lark, compimg::Build({Make(0x07, open)})), -8);

    // Lark locator: lower-case letters are fine, a bad checksum is not, and
    // a locator cut off by the entry's length does not count.
    ik::FltLocatorFaults lower;
    lower.lowerCase = true;
    ik::FltLocatorFaults bad;
    bad.badChecksum = true;
    EXPECT_EQ(
        DispatchOne(Fam::Lark,
                    compimg::Build({Make(0x07, ik::BuildBootCodeRegion(ik::FunctionBootSpecs(0x8021), true, lower))})),
        0);
    EXPECT_EQ(
        DispatchOne(Fam::Lark,
                    compimg::Build({Make(0x07, ik::BuildBootCodeRegion(ik::FunctionBootSpecs(0x8021), true, bad))})),
        -8);
    Part cut = Make(0x07, Boot(0x8021));
    cut.length = static_cast<int64_t>(cut.data.size()) - 1;
    EXPECT_EQ(DispatchOne(Fam::Lark, compimg::Build({cut})), -8);
}

TEST(BootCode, VersionsLandInTheRecordByProtocol) {
    ik::BootVersions v;
    v.biosMajor = 2;
    v.biosMinor = 10;
    v.fcodeMajor = 3;
    v.fcodeMinor = 20;
    v.efiMajor = 4;
    v.efiMinor = 30;
    ik::Bytes img = compimg::Build({Make(0xA2, ik::BuildBootCodeRegion(ik::FunctionBootSpecs(0x8031, v), false))});
    ImageVersionRecord r{};
    IltRegionEntry e = EntryOf(img);
    ASSERT_EQ(ValidateTeskImages(&e, img, &r), 0);
    EXPECT_EQ(r.fcoeBios.major * 100 + r.fcoeBios.minor, 210);
    EXPECT_EQ(r.fcoeFcode.major * 100 + r.fcoeFcode.minor, 320);
    EXPECT_EQ(r.fcoeEfi.major * 100 + r.fcoeEfi.minor, 430);
    EXPECT_EQ(r.fcBios.major, 0); // FC fields untouched

    img = compimg::Build({Make(0x07, ik::BuildBootCodeRegion(ik::FunctionBootSpecs(kZultDevice, v), false))});
    ZultImageVersionRecord z{};
    e = EntryOf(img);
    ASSERT_EQ(ValidateGenericImages(&e, img, &z, kZultDevice), 0);
    EXPECT_EQ(z.fcBios.major * 100 + z.fcBios.minor, 210);
    EXPECT_EQ(z.fcEfi.major * 100 + z.fcEfi.minor, 430);
}

TEST(NicFirmware, LengthFieldBoundsTheSum) {
    struct Case {
        const char *name;
        int64_t lengthField;
        bool badSum;
        uint32_t signature;
        bool passes;
    };
    const Case cases[] = {
        {"whole component", -1, false, ik::kNicFirmwareSignature, true},
        {"first half", 0x2000, false, ik::kNicFirmwareSignature, true},
        {"bad sum", -1, true, ik::kNicFirmwareSignature, false},
        {"length 0", 0, false, ik::kNicFirmwareSignature, false},
        {"length shorter than the header", 12, false, ik::kNicFirmwareSignature, false},
        {"length past the component", 0x4004, false, ik::kNicFirmwareSignature, false},
        {"wrong signature", -1, false, ik::kBootloaderSignature, false},
    };
    for (const auto &c : cases) {
        ik::NicFirmwareSpec s;
        s.version = {6, 7, 8};
        s.lengthField = c.lengthField;
        s.badSum = c.badSum;
        s.signature = c.signature;
        ComponentVersion v{};
        EXPECT_EQ(ValidateNicFirmwareImage(ik::BuildNicFirmware(s), &v), c.passes) << c.name;
        if (c.passes) {
            EXPECT_EQ(v.major * 10000 + v.minor * 100 + v.subMinor, 60708) << c.name;
        }
    }
}

TEST(Lark, RevisionGates) {
    struct Case {
        const char *name;
        uint16_t code;
        uint16_t entryRev, adapterRev;
        bool validated; // false: skipped and passed even though broken
    };
    const Case cases[] = {
        {"bootloader rev 0x50 on 0x50", 0x72, 0x50, 0x50, false},
        {"bootloader rev 0x50 on 0x54", 0x72, 0x50, 0x54, false},
        {"bootloader rev 0x58 on 0x54", 0x72, 0x58, 0x54, false},
        {"bootloader rev 0x54 on 0x54", 0x72, 0x54, 0x54, true},
        {"bootloader rev 0 on 0x50", 0x72, 0, 0x50, true},
        {"CRB init rev 0x58 on 0x58", 0x70, 0x58, 0x58, true},
        {"PEG tune rev 0x56 on 0x58", 0x73, 0x56, 0x58, false},
        {"firmware 0x97 rev 0x58 on 0x58", 0x97, 0x58, 0x58, true},
        {"firmware 0x97 rev 0x58 on 0x54", 0x97, 0x58, 0x54, false},
        {"firmware 0x74 rev 0x50 on 0x50", 0x74, 0x50, 0x50, false},
        {"firmware 0x74 rev 0 on 0x50", 0x74, 0, 0x50, true},
    };
    for (const auto &c : cases) {
        ik::Bytes broken = c.code == 0x97 || c.code == 0x74
                               ? NicFw(true)
                               : Trailer(ik::kBootloaderSignature, c.code == 0x70 ? 0x4000 : 0x20000, true);
        ik::Bytes img = compimg::Build({Make(c.code, broken, {}, 0, c.entryRev)});
        int rc = DispatchOne(Fam::Lark, img, c.adapterRev);
        if (c.validated)
            EXPECT_LT(rc, 0) << c.name;
        else
            EXPECT_EQ(rc, 0) << c.name;
    }
    // The fixed block length must lie inside the image even when the
    // entry's own length is short.
    Part p = Make(0x72, Trailer(ik::kBootloaderSignature, 0x1000));
    EXPECT_EQ(DispatchOne(Fam::Lark, compimg::Build({p})), -10);
}

TEST(ComponentCopy, BoundedByImageAndDestination) {
    ik::Bytes comp(0x300);
    for (size_t i = 0; i < comp.size(); ++i)
        comp[i] = static_cast<uint8_t>(i * 7);
    ik::Bytes img = compimg::Build({Make(0x13, comp)});
    IltRegionEntry e = EntryOf(img);
    std::vector<uint8_t> dst(0x300, 0);
    EXPECT_EQ(GetSpecificImageComponentInBuffer(dst, img, nullptr), -1);
    ASSERT_EQ(GetSpecificImageComponentInBuffer(dst, img, &e), 0);
    EXPECT_EQ(dst, comp);
    std::vector<uint8_t> small(0x2FF, 0);
    EXPECT_EQ(GetSpecificImageComponentInBuffer(small, img, &e), -1);
    EXPECT_EQ(small, std::vector<uint8_t>(0x2FF, 0));
    IltRegionEntry past = e;
    past.offset = static_cast<uint32_t>(img.size() - 0x2FF);
    EXPECT_EQ(GetSpecificImageComponentInBuffer(dst, img, &past), -1);
}

// The configuration blocks the Zult combine step patches: every block's
// data and the whole region sum to zero, the Serdes block's own data too,
// and a re-summed Serdes patch keeps the board configuration's sum.
TEST(KitConfigBlocks, ChecksumsHoldAndSurviveASerdesPatch) {
    struct Case {
        const char *name;
        ik::Bytes block;
        const char *signature;
        bool good;
    };
    ik::ConfigBlockSpec bad;
    bad.badChecksum = true;
    ik::FcBoardConfigSpec badSerdes;
    badSerdes.badSerdesChecksum = true;
    const Case cases[] = {
        {"preload", ik::BuildPreloadBlock(), "JCAM", true},
        {"PEP board config", ik::BuildPepBoardConfig(), "ICAM", true},
        {"FC board config", ik::BuildFcBoardConfig(), "CBF(", true},
        {"preload, bad checksum", ik::BuildPreloadBlock(bad), "JCAM", false},
        {"PEP board config, bad checksum", ik::BuildPepBoardConfig(bad), "ICAM", false},
        {"FC board config, bad Serdes checksum", ik::BuildFcBoardConfig(badSerdes), "CBF(", false},
    };
    for (const auto &c : cases) {
        std::span<const uint8_t> b(c.block);
        EXPECT_EQ(std::string(c.block.begin(), c.block.begin() + 4), c.signature) << c.name;
        uint32_t dwords = 0;
        ASSERT_TRUE(ReadLE32(b, 12, dwords));
        EXPECT_EQ(HLPR_Sum32(b, dwords) == 0, c.good) << c.name;
        EXPECT_EQ(HLPR_Sum32(b, b.size() / 4) == 0, c.good) << c.name;
    }
    ik::Bytes fbc = ik::BuildFcBoardConfig();
    std::span<uint8_t> s(fbc);
    std::span<const uint8_t> serdes = std::span<const uint8_t>(fbc).subspan(ik::kSerdesBlockOffset);
    EXPECT_EQ(std::string(fbc.begin() + 0x1200, fbc.begin() + 0x1204), "ULS(");
    uint32_t serdesDwords = 0;
    ASSERT_TRUE(ReadLE32(serdes, 12, serdesDwords));
    EXPECT_EQ(HLPR_Sum32(serdes, serdesDwords), 0u);
    // Patch the Serdes IDs and recompute its checksum over its own data.
    WriteLE16(s, 0x1210, 0x1234);
    WriteLE16(s, 0x1212, 0x5678);
    WriteLE32(s, 0x1208, 0);
    WriteLE32(s, 0x1208, 0u - HLPR_Sum32(serdes, serdesDwords));
    EXPECT_EQ(HLPR_Sum32(fbc, fbc.size() / 4), 0u);
    // PEP board configuration keeps the IDs twice.
    ik::ConfigBlockSpec ids;
    ids.ssvid = 0x1590;
    ids.ssdid = 0x02B5;
    ik::Bytes pep = ik::BuildPepBoardConfig(ids);
    uint16_t v16 = 0, d16 = 0, d264 = 0, v266 = 0;
    ASSERT_TRUE(ReadLE16(pep, 16, v16) && ReadLE16(pep, 18, d16) && ReadLE16(pep, 264, d264) &&
                ReadLE16(pep, 266, v266));
    EXPECT_EQ(v16, 0x1590);
    EXPECT_EQ(v266, 0x1590);
    EXPECT_EQ(d16, 0x02B5);
    EXPECT_EQ(d264, 0x02B5);
}
