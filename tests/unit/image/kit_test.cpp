// The image kit's command-line builds, checked with the program's own
// parsers: valid images pass, each documented corruption is refused by the
// check it targets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../tools/imagekit/cli.h"
#include "image/bootpatch.h"
#include "image/flt.h"
#include "image/mbi_version.h"
#include "image/pcirom.h"
#include "update/optionrom.h"

namespace ik = imagekit;

namespace {

ik::Bytes Build(std::vector<std::string> words) {
    words.push_back("unused.bin");
    ik::Bytes out;
    EXPECT_EQ(ik::cli::BuildFromWords(words, out), 0) << words[0];
    return out;
}

std::span<const uint8_t> At(const ik::Bytes &b, size_t off, size_t len) { return {b.data() + off, len}; }

MultibootVersion VersionOf(const ik::Bytes &mb) {
    MultibootVersion v{9, 9, 9};
    getMBImageVersionInFirmware(At(mb, 0x80000 + 0x3FFC0, 64), &v);
    return v;
}

} // namespace

TEST(ImageKit, MultibootImageHasChainFirmwareAndVersionWhereTheyBelong) {
    ik::Bytes mb = Build({"multiboot", "--chip", "2432", "--mbi", "3.20.4", "--fw", "8.5.63", "--bios", "3.21"});
    ASSERT_EQ(mb.size(), 0x100000u);
    std::span<const uint8_t> boot = At(mb, 0, 0x40000);
    EXPECT_GT(FindPciImageChainEnd(boot), 0u);
    EXPECT_EQ(ValidateFCoEPciHeaders(boot, 0x2432), 1);
    EXPECT_EQ(Validate(boot, "2432", 0), 0);
    PciDataStructure d;
    ASSERT_TRUE(ReadPciDataStructure(boot, 0, d));
    EXPECT_EQ(d.revMajor, 3);
    EXPECT_EQ(d.revMinor, 21);
    EXPECT_EQ(validateFirmware(At(mb, 0x80000, 0x40000), "CXR2432", 1), 28);
    MultibootVersion v = VersionOf(mb);
    EXPECT_EQ(v.ExistingMultibootVersionMajor, 3);
    EXPECT_EQ(v.ExistingMultibootVersionMinor, 20);
    EXPECT_EQ(v.ExistingMultibootVersionSubMinor, 4);
}

TEST(ImageKit, MultibootCorruptionsAreRefused) {
    ik::Bytes bad = Build({"multiboot", "--corrupt", "bad-bios-checksum"});
    EXPECT_EQ(Validate(At(bad, 0, 0x40000), "2532", 0), IMG_CHECKSUM_MISMATCH);
    for (const char *c : {"no-last", "broken-chain"}) {
        ik::Bytes mb = Build({"multiboot", "--corrupt", c});
        EXPECT_EQ(FindPciImageChainEnd(At(mb, 0, 0x40000)), 0u) << c;
        EXPECT_EQ(ValidateFCoEPciHeaders(At(mb, 0, 0x40000), 0x2532), 0) << c;
    }
    EXPECT_EQ(VersionOf(Build({"multiboot", "--corrupt", "bad-mbv"})).ExistingMultibootVersionMajor, 0);
    ik::Bytes fw = Build({"multiboot", "--corrupt", "bad-fw-checksum"});
    EXPECT_EQ(validateFirmware(At(fw, 0x80000, 0x40000), "CXR2532", 1), 25);
    EXPECT_EQ(Build({"multiboot", "--size", "0x80000"}).size(), 0x80000u);
    EXPECT_EQ(Build({"multiboot", "--truncate", "0xFFFFF"}).size(), 0xFFFFFu);
    // A BIOS image over 64 KB still checks out.
    ik::Bytes big = Build({"multiboot", "--bios-blocks", "0xA0"});
    EXPECT_EQ(Validate(At(big, 0, 0x40000), "2532", 0), 0);
    EXPECT_EQ(ValidateFCoEPciHeaders(At(big, 0, 0x40000), 0x2532), 1);
}

TEST(ImageKit, FirmwareFilesAndTheirCorruptions) {
    struct Case {
        std::vector<std::string> words;
        const char *hwType;
        int expected;
    };
    const Case cases[] = {
        {{"firmware"}, "CXR2532", 28},
        {{"firmware", "--chip", "2432"}, "CXR2432", 28},
        {{"firmware", "--chip", "2432"}, "CXR2532", 27},
        {{"firmware", "--chip", "8001", "--pad", "0x40000"}, "CXR8001", 28},
        {{"firmware", "--corrupt", "bad-checksum"}, "CXR2532", 25},
        {{"firmware", "--corrupt", "bad-checksum2"}, "CXR2532", 25},
        {{"firmware", "--corrupt", "no-marker"}, "CXR2532", 27},
        {{"firmware", "--corrupt", "zero-length"}, "CXR2532", 25},
        {{"firmware", "--corrupt", "length-past-end"}, "CXR2532", 29},
        {{"firmware", "--truncate", "0x10008"}, "CXR2532", 29},
    };
    for (const auto &c : cases) {
        ik::Bytes fw = Build(c.words);
        EXPECT_EQ(validateFirmware(fw, c.hwType, 1), c.expected) << c.words.back() << " " << c.hwType;
    }
}

TEST(ImageKit, ChainSpecFaultsHitTheirChecks) {
    struct Case {
        const char *spec;
        int pci;      // IsThisPciImage of the first image
        int validate; // Validate for 2532 (BIOS images)
    };
    const Case cases[] = {
        {"common", 1, 0},
        {"common,badsum", 1, IMG_CHECKSUM_MISMATCH},
        {"common,code=0x25", 1, IMG_INVALID_SSID},
        {"bios,chip=2432", 1, IMG_INVALID_SSID},
        {"bios", 1, 0},
        {"common,badsig", 0, -1},
        {"common,badpcir", 0, -1},
        {"common,zerolen", 0, -1},
        {"common,longlen", 0, -1},
        {"common,pciroutside", 0, -1},
        {"common,dev=2", 0, -1},
        {"fcode,type=4", 0, -1},
        {"common,blocks=0xFF", 1, 0},
    };
    for (const auto &c : cases) {
        ik::Bytes chain = Build({"chain", "--image", c.spec});
        EXPECT_EQ(IsThisPciImage(chain), c.pci) << c.spec;
        if (c.validate >= 0) {
            EXPECT_EQ(Validate(chain, "2532", 0), c.validate) << c.spec;
        }
    }
    ik::Bytes nic = Build({"chain", "--image", "pxe,dev=0x8020", "--image", "efi,dev=0x8020", "--flt-locator"});
    size_t end = FindPciImageChainEnd(nic);
    ASSERT_GT(end, 0u);
    EXPECT_EQ(ValidateFLTLocator(At(nic, end, nic.size() - end)), 1);
    EXPECT_EQ(ValidateNICPciHeaders(nic, 0x8020), 1);
    EXPECT_EQ(ValidateNICPciHeaders(nic, 0x8021), 0);
    EXPECT_EQ(ValidateNICPciHeaders(Build({"chain", "--image", "pxe", "--image", "efi,last=0"}), 0x8030), 0);
}

TEST(ImageKit, OptionRom23AndLocators) {
    ik::Bytes rom = Build({"optionrom23"});
    ASSERT_EQ(rom.size(), 0x20000u);
    EXPECT_EQ(Validate(rom, "2312", 0), 0);
    EXPECT_EQ(validateFCode(rom, "2312", 0, 64 * 512), 0);
    EXPECT_EQ(Build({"optionrom23", "--size", "0x20001"}).size(), 0x20001u);
    ik::Bytes common = Build({"optionrom23", "--chip", "2322", "--common-bios", "--with-efi"});
    EXPECT_EQ(Validate(common, "2322", 0), 0);
    EXPECT_EQ(Validate(Build({"optionrom23", "--corrupt", "bad-bios-checksum", "--common-bios"}), "2312", 0),
              IMG_CHECKSUM_MISMATCH);

    EXPECT_EQ(ValidateFLTLocator(Build({"fltlocator"})), 1);
    EXPECT_EQ(ValidateFLTLocator(Build({"fltlocator", "--corrupt", "lowercase"})), 1);
    for (const char *c : {"bad-checksum", "bad-signature", "nonzero-after"})
        EXPECT_EQ(ValidateFLTLocator(Build({"fltlocator", "--corrupt", c})), 0) << c;
    EXPECT_EQ(GetFlashLayoutVersion(Build({"flt", "--version", "5", "--region", "7:0x40000:0"})), 5);
    MultibootVersion v{};
    getMBImageVersionInFirmware(Build({"mbversion", "--mbi", "2.3.4"}), &v);
    EXPECT_EQ(v.ExistingMultibootVersionMinor, 3);
}

TEST(ImageKit, UsageErrorsBuildNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {"nosuch", "x"},
        {"chain", "--image", "floppy", "x"},
        {"chain", "--image", "common,dev=0x10000", "x"},
        {"chain", "--image", "common,rev=1", "x"},
        {"chain", "--image", "common,pcir=0xFFF0", "x"},
        {"multiboot", "--corrupt", "everything", "x"},
        {"multiboot", "--chip", "ZZZZ", "x"},
        {"firmware", "--version", "1.2", "x"},
        {"fltlocator", "--address"},
        {"flt", "--region", "7:1", "x"},
        {"chain"},
    };
    for (const auto &words : bad) {
        ik::Bytes out;
        EXPECT_EQ(ik::cli::BuildFromWords(words, out), 1) << words[0] << " " << (words.size() > 2 ? words[2] : "");
        EXPECT_TRUE(out.empty()) << words[0];
    }
}
