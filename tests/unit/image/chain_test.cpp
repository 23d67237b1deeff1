// PCI option-ROM chain: image test, chain end, checksum and the walkers,
// over kit-built chains and hand-made malformed buffers.
#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>

#include "../tools/imagekit/imagekit.h"
#include "image/bootpatch.h"
#include "image/pcirom.h"

namespace ik = imagekit;

namespace {

uint8_t ByteSum(const ik::Bytes &b, size_t from, size_t len) {
    return static_cast<uint8_t>(std::accumulate(b.begin() + from, b.begin() + from + len, 0u));
}

ik::Bytes StandardChain(uint16_t dev) {
    return ik::BuildChain(ik::BootChainSpecs(ik::Hex4(dev), dev, ik::BootVersions{}, true, true, true));
}

size_t PcirOf(const ik::Bytes &b, size_t image) { return image + ik::GetLE16(b, image + 0x18); }

} // namespace

TEST(PciImage, AcceptsKitImagesOfEveryCodeType) {
    for (uint8_t type : {ik::kBios, ik::kFCode, ik::kPxe, ik::kEfi}) {
        ik::Bytes img = ik::BuildPciImage(ik::CodeImage(type, 0x2532, 1, 0), true);
        EXPECT_EQ(IsThisPciImage(img), 1) << "code type " << int(type);
    }
}

TEST(PciImage, RefusesMalformedImages) {
    struct Case {
        const char *name;
        void (*spoil)(ik::PciImageSpec &);
    };
    const Case cases[] = {
        {"device id 1 (VPD)", [](ik::PciImageSpec &s) { s.deviceId = 1; }},
        {"device id 2", [](ik::PciImageSpec &s) { s.deviceId = 2; }},
        {"device id 3", [](ik::PciImageSpec &s) { s.deviceId = 3; }},
        {"code type 4", [](ik::PciImageSpec &s) { s.codeType = 4; }},
        {"code type 0xFF", [](ik::PciImageSpec &s) { s.codeType = 0xFF; }},
        {"ROM signature", [](ik::PciImageSpec &s) { s.faults.badRomSignature = true; }},
        {"PCIR signature", [](ik::PciImageSpec &s) { s.faults.badPcirSignature = true; }},
        {"zero length", [](ik::PciImageSpec &s) { s.faults.zeroLength = true; }},
        {"length past the buffer", [](ik::PciImageSpec &s) { s.faults.lengthPastEnd = true; }},
        {"data structure outside", [](ik::PciImageSpec &s) { s.faults.pcirOutside = true; }},
    };
    for (const auto &c : cases) {
        ik::PciImageSpec s = ik::CodeImage(ik::kFCode, 0x2532, 1, 0);
        c.spoil(s);
        ik::Bytes img = ik::BuildPciImage(s, true);
        EXPECT_EQ(IsThisPciImage(img), 0) << c.name;
        EXPECT_EQ(FindPciImageChainEnd(img), 0u) << c.name;
        EXPECT_EQ(ValidateFCoEPciHeaders(img, 0x2532), 0) << c.name;
        EXPECT_EQ(ValidateiSCSIPciHeaders(img, 0x2532), 0) << c.name;
        EXPECT_EQ(ValidateNICPciHeaders(img, 0x8030), 0) << c.name;
        EXPECT_EQ(UpdateAllPciHeaders(img, 0x1077, 0x100, 0x2532, "M"), IMG_BAD_HEADER) << c.name;
        EXPECT_EQ(UpdateiSCSIPciHeaders(img, 0x1077, 0x100, 0x8032, "M"), IMG_BAD_HEADER) << c.name;
    }
}

TEST(PciImage, RefusesTinyAndTruncatedBuffers) {
    ik::Bytes img = ik::BuildPciImage(ik::CodeImage(ik::kEfi, 0x2532, 1, 0, 4), true);
    for (size_t len : {size_t{0}, size_t{1}, size_t{0x19}, size_t{0x1C + 0x10}, img.size() - 1}) {
        std::span<const uint8_t> part(img.data(), len);
        EXPECT_EQ(IsThisPciImage(part), 0) << len;
        EXPECT_EQ(FindPciImageChainEnd(part), 0u) << len;
    }
    EXPECT_EQ(IsThisPciImage(img, img.size()), 0);
    EXPECT_EQ(IsThisPciImage(img, img.size() + 100), 0);
}

TEST(PciChain, EndIsPastTheLastImage) {
    ik::Bytes chain = StandardChain(0x2532);
    ik::Bytes withTail = chain;
    ik::Append(withTail, ik::BuildFltLocator());
    EXPECT_EQ(FindPciImageChainEnd(withTail), chain.size());
    // The last-image flag ends the chain even with images after it.
    auto specs = ik::BootChainSpecs("2532", 0x2532, ik::BootVersions{}, true, true, true);
    specs[0].last = 1;
    EXPECT_EQ(FindPciImageChainEnd(ik::BuildChain(specs)), 64u * 512u);
}

TEST(PciChain, BrokenLinksEndTheWalk) {
    struct Case {
        const char *name;
        void (*spoil)(std::vector<ik::PciImageSpec> &);
    };
    const Case cases[] = {
        {"no last image", [](std::vector<ik::PciImageSpec> &s) { s.back().last = 0; }},
        {"second image signature", [](std::vector<ik::PciImageSpec> &s) { s[1].faults.badRomSignature = true; }},
        {"second image zero length", [](std::vector<ik::PciImageSpec> &s) { s[1].faults.zeroLength = true; }},
        {"first image zero length", [](std::vector<ik::PciImageSpec> &s) { s[0].faults.zeroLength = true; }},
        {"last link past the buffer", [](std::vector<ik::PciImageSpec> &s) { s[2].faults.lengthPastEnd = true; }},
        {"second image is firmware data", [](std::vector<ik::PciImageSpec> &s) { s[1].deviceId = 3; }},
    };
    for (const auto &c : cases) {
        auto specs = ik::BootChainSpecs("2532", 0x2532, ik::BootVersions{}, true, true, true);
        c.spoil(specs);
        ik::Bytes chain = ik::BuildChain(specs);
        EXPECT_EQ(FindPciImageChainEnd(chain), 0u) << c.name;
        EXPECT_EQ(ValidateFCoEPciHeaders(chain, 0x2532), 0) << c.name;
        EXPECT_EQ(ValidateiSCSIPciHeaders(chain, 0x2532), 0) << c.name;
        EXPECT_EQ(ValidateNICPciHeaders(chain, 0x8030), 0) << c.name;
        EXPECT_EQ(UpdateAllPciHeaders(chain, 0x1077, 0x100, 0x2532, "M"), IMG_BAD_HEADER) << c.name;
    }
}

TEST(PciChain, ZeroLengthLinkDoesNotLoop) {
    // Two images; the first links nowhere (length 0) and lacks the last flag.
    ik::Bytes buf(1024, 0);
    for (size_t at : {size_t{0}, size_t{512}}) {
        buf[at] = 0x55;
        buf[at + 1] = 0xAA;
        buf[at + 2] = 1;
        ik::PutLE16(buf, at + 0x18, 0x1C);
        ik::PutText(buf, at + 0x1C, "PCIR", 4);
        ik::PutLE16(buf, at + 0x1C + 6, 0x2532);
        ik::PutLE16(buf, at + 0x1C + 0x10, 0);
        buf[at + 0x1C + 0x14] = 1;
    }
    EXPECT_EQ(FindPciImageChainEnd(buf), 0u);
    EXPECT_EQ(ValidateNICPciHeaders(buf, 0x8030), 0);
    EXPECT_EQ(UpdateiSCSIPciHeaders(buf, 1, 2, 0x8032, "M"), IMG_BAD_HEADER);
}

TEST(Checksum, UpdateMakesEveryImageSizeSumToZero) {
    // Size bytes 0x01-0xFF are unsigned block counts, so images over 64 KB work.
    for (size_t blocks : {size_t{1}, size_t{64}, size_t{0x7F}, size_t{0x80}, size_t{0x90}, size_t{0xFF}}) {
        ik::PciImageSpec s = ik::CommonBios("2532", 0x2532, 1, 0);
        s.blocks = blocks;
        s.fixChecksum = false;
        ik::Bytes img = ik::BuildPciImage(s, true);
        img[blocks * 512 - 1] ^= 0x5A;
        EXPECT_EQ(ComputeChecksum(1, img, 0), 1) << blocks;
        EXPECT_EQ(ByteSum(img, 0, blocks * 512), 0) << blocks;
        EXPECT_EQ(ComputeChecksum(std::span<const uint8_t>(img), 0), 1) << blocks;
        img[100] ^= 0x01;
        EXPECT_EQ(ComputeChecksum(std::span<const uint8_t>(img), 0), 0) << blocks;
    }
}

TEST(Checksum, RefusesSizeZeroAndImagesPastTheBuffer) {
    ik::Bytes img = ik::BuildPciImage(ik::CommonBios("2532", 0x2532, 1, 0), true);
    ik::Bytes zero = img;
    zero[2] = 0;
    ik::Bytes zeroBefore = zero;
    EXPECT_EQ(ComputeChecksum(1, zero, 0), 0);
    EXPECT_EQ(zero, zeroBefore);
    // Size byte larger than the buffer: nothing written, no match.
    ik::Bytes big = img;
    big[2] = 0xC0;
    ik::Bytes before = big;
    EXPECT_EQ(ComputeChecksum(1, big, 0), 0);
    EXPECT_EQ(big, before);
    // Offset near the end.
    EXPECT_EQ(ComputeChecksum(1, img, img.size() - 1), 0);
    EXPECT_EQ(ComputeChecksum(1, img, img.size() + 10), 0);
}

TEST(CommonBios, MarkerIsCaseSensitiveAndBounded) {
    ik::Bytes img = ik::BuildPciImage(ik::CommonBios("2532", 0x2532, 1, 0), true);
    EXPECT_EQ(isCommonBIOSImage(img, 0), 1);
    ik::Bytes lower = img;
    ik::PutText(lower, 0x40, "modl", 4);
    EXPECT_EQ(isCommonBIOSImage(lower, 0), 0);
    EXPECT_EQ(isCommonBIOSImage(std::span<const uint8_t>(img.data(), 0x43), 0), 0);
    EXPECT_EQ(isCommonBIOSImage(img, img.size()), 0);
    ik::Bytes two = img;
    ik::Append(two, img);
    EXPECT_EQ(isCommonBIOSImage(two, img.size()), 1);
}

TEST(UpdateAllPciHeaders, PatchesEveryImageForTheAdapter) {
    // Images built for 2432 patched for a 2532 adapter.
    ik::Bytes chain = StandardChain(0x2432);
    ASSERT_EQ(UpdateAllPciHeaders(chain, 0x103C, 0x3262, 0x2532, "HPAK344A"), 0);
    EXPECT_EQ(chain[0x14], 0x2F);
    EXPECT_EQ(ik::GetLE16(chain, 0x20), 0x103C);
    EXPECT_EQ(ik::GetLE16(chain, 0x2A), 0x2532);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&chain[0x44]), 9), "HPAK344A ");
    EXPECT_EQ(ByteSum(chain, 0, chain[2] * 512u), 0);
    size_t fcode = 64 * 512, efi = 128 * 512;
    EXPECT_EQ(ik::GetLE16(chain, PcirOf(chain, fcode) + 6), 0x2532);
    EXPECT_EQ(ik::GetLE16(chain, PcirOf(chain, efi) + 6), 0x2532);
    EXPECT_EQ(ValidateFCoEPciHeaders(chain, 0x2532), 1);
}

TEST(UpdateAllPciHeaders, SingleBiosImage) {
    std::vector<ik::PciImageSpec> one{ik::CommonBios("8001", 0x8001, 2, 1)};
    ik::Bytes chain = ik::BuildChain(one);
    EXPECT_EQ(UpdateAllPciHeaders(chain, 0x1077, 0x17E, 0x8001, "QLE8152"), 0);
    ik::Bytes iscsi = ik::BuildChain(one);
    EXPECT_EQ(UpdateiSCSIPciHeaders(iscsi, 0x1077, 0x17E, 0x8032, "QLE8242"), 0);
    EXPECT_EQ(iscsi[0x14], 0x40);
    EXPECT_EQ(ValidateFCoEPciHeaders(chain, 0x8001), 1);
    EXPECT_EQ(ValidateiSCSIPciHeaders(chain, 0x8001), 1);
}

TEST(UpdateAllPciHeaders, PerTypeFailuresStopTheWalk) {
    ik::Bytes chain = StandardChain(0x2532);
    // No type code for this chip: the BIOS update fails with 9.
    EXPECT_EQ(UpdateAllPciHeaders(chain, 1, 2, 0x2310, "M"), IMG_UNKNOWN_HW_TYPE);
    // BIOS size byte reaching past its image: the checksum cannot be written.
    ik::Bytes bad = StandardChain(0x2532);
    bad[2] = 0xFF;
    EXPECT_EQ(UpdateAllPciHeaders(bad, 1, 2, 0x2532, "M"), IMG_CHECKSUM_MISMATCH);
    // EFI for a type only the EFI table lacks: FCode passes, EFI fails with 9.
    auto specs = ik::BootChainSpecs("2532", 0x2532, ik::BootVersions{}, false, false, true);
    specs.erase(specs.begin());
    ik::Bytes efiOnly = ik::BuildChain(specs);
    EXPECT_EQ(UpdateAllPciHeaders(efiOnly, 1, 2, 0x2310, "M"), IMG_UNKNOWN_HW_TYPE);
}

TEST(UpdateiSCSIPciHeaders, ResultFollowsHandledImages) {
    struct Case {
        std::vector<uint8_t> types;
        uint16_t device;
        int expected;
    };
    const Case cases[] = {
        {{ik::kPxe}, 0x8032, IMG_BAD_HEADER}, // nothing handled
        {{ik::kPxe, ik::kPxe}, 0x8032, IMG_BAD_HEADER},
        {{ik::kBios, ik::kPxe}, 0x8032, 0},
        {{ik::kPxe, ik::kEfi}, 0x8032, 0},
        {{ik::kBios}, 0x8001, IMG_UNKNOWN_HW_TYPE}, // device ID but no type code
        {{ik::kBios}, 0x2532, IMG_UNKNOWN_HW_TYPE},
        {{ik::kFCode, ik::kEfi}, 0x8042, 0},
    };
    for (const auto &c : cases) {
        std::vector<ik::PciImageSpec> specs;
        for (uint8_t t : c.types)
            specs.push_back(t == ik::kBios ? ik::CommonBios("8032", 0x8032, 1, 0) : ik::CodeImage(t, 0x8032, 1, 0));
        ik::Bytes chain = ik::BuildChain(specs);
        EXPECT_EQ(UpdateiSCSIPciHeaders(chain, 0x1077, 0x100, c.device, "M"), c.expected) << c.types.size();
    }
}

TEST(ValidateNICPciHeaders, DeviceIdsMustMatchUnlessAny) {
    struct Case {
        uint16_t imageDevice;
        uint16_t checked;
        int expected;
    };
    const Case cases[] = {
        {0x8020, 0x8020, 1}, {0x8020, 0x8030, 1}, {0x1234, 0x8030, 1}, {0x8021, 0x8020, 0}, {0x8000, 0x8020, 0},
    };
    for (const auto &c : cases) {
        for (uint8_t t : {ik::kBios, ik::kPxe, ik::kFCode}) {
            std::vector<ik::PciImageSpec> specs{ik::CodeImage(t, c.imageDevice, 1, 0)};
            EXPECT_EQ(ValidateNICPciHeaders(ik::BuildChain(specs), c.checked), c.expected)
                << std::hex << c.imageDevice << " " << c.checked << " type " << int(t);
        }
    }
    // EFI: only the second character of the high byte counts.
    std::vector<ik::PciImageSpec> efi{ik::CodeImage(ik::kEfi, 0x8021, 1, 0)};
    EXPECT_EQ(ValidateNICPciHeaders(ik::BuildChain(efi), 0x8020), 1);
    EXPECT_EQ(ValidateNICPciHeaders(ik::BuildChain(efi), 0x2120), 0);
}

TEST(ValidateNicFCode, ComparesAllFourDigits) {
    ik::Bytes img = ik::BuildPciImage(ik::CodeImage(ik::kFCode, 0x8A20, 1, 0), true);
    EXPECT_EQ(ValidateNicFCode(img, 0x8A20), 0);
    EXPECT_EQ(ValidateNicFCode(img, 0x8A21), 11);
    EXPECT_EQ(ValidateNicFCode(img, 0x8030), 0);
    EXPECT_EQ(ValidateNicFCode(std::span<const uint8_t>(img.data(), 8), 0x8A20), 11);
}

TEST(ReadPciHeaderAndData, ReadsEachImageOfAFileAndStopsOnFaults) {
    ik::Bytes chain = StandardChain(0x2532);
    std::FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fwrite(chain.data(), 1, chain.size(), f);
    std::array<uint8_t, 32> h{}, d{};
    std::fseek(f, 64 * 512, SEEK_SET);
    EXPECT_EQ(ReadPciHeaderAndData(f, h, d, 64 * 512), 1);
    EXPECT_EQ(d[0x14], ik::kFCode);
    std::fseek(f, 100, SEEK_SET); // not an image start
    EXPECT_EQ(ReadPciHeaderAndData(f, h, d, 100), 0);
    std::fseek(f, static_cast<long>(chain.size()) - 16, SEEK_SET); // too short for a header
    EXPECT_EQ(ReadPciHeaderAndData(f, h, d, static_cast<long>(chain.size()) - 16), 0);
    std::fclose(f);
    EXPECT_EQ(ReadPciHeaderAndData(nullptr, h, d, 0), 0);
}
