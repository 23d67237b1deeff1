// Boot code version readers, RISC firmware header versions and the time
// stamp of a combined image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "../tools/imagekit/ilt.h"
#include "../tools/imagekit/optionrom.h"
#include "image/helpers.h"
#include "image/ilt.h"
#include "image/imgversion.h"
#include "oss/oss.h"

namespace ik = imagekit;

namespace {

ik::PciImageSpec Img(uint8_t codeType, uint16_t deviceId, uint8_t major, uint8_t minor) {
    return ik::CodeImage(codeType, deviceId, major, minor, 4);
}

// Chain of BIOS, FCode and EFI images of one device with distinct versions.
ik::Bytes ThreeImages(uint16_t deviceId) {
    return ik::BuildChain(
        {Img(ik::kBios, deviceId, 1, 2), Img(ik::kFCode, deviceId, 3, 4), Img(ik::kEfi, deviceId, 5, 6)});
}

using Reader = int (*)(std::span<const uint8_t>, ImageVersionRecord *, uint16_t);
using Field = BootCodeVersion ImageVersionRecord::*;

bool SameVersion(const BootCodeVersion &v, uint8_t major, uint8_t minor) {
    return v.major == major && v.minor == minor;
}

} // namespace

TEST(BootCodeVersions, FieldsByProtocolAndCodeType) {
    struct Case {
        const char *name;
        Reader read;
        uint16_t deviceId;
        Field bios, fcode, efi;
    };
    using R = ImageVersionRecord;
    const Case cases[] = {
        {"first-gen NIC", GetImageVersions, 0x8000, &R::nicBios, &R::nicFcode, &R::nicEfi},
        {"first-gen FCoE", GetImageVersions, 0x8001, &R::fcBios, &R::fcFcode, &R::fcEfi},
        {"Lark NIC", GetLarkImageVersions, 0x8020, &R::nicBios, &R::nicFcode, &R::nicEfi},
        {"Lark FCoE", GetLarkImageVersions, 0x8021, &R::fcBios, &R::fcFcode, &R::fcEfi},
        {"Lark iSCSI", GetLarkImageVersions, 0x8022, &R::iscsiBios, &R::iscsiFcode, &R::iscsiEfi},
        {"Tesk NIC", GetTeskImageVersions, 0x8030, &R::nicBios, &R::nicFcode, &R::nicEfi},
        {"Tesk FCoE", GetTeskImageVersions, 0x8031, &R::fcoeBios, &R::fcoeFcode, &R::fcoeEfi},
        {"Tesk iSCSI", GetTeskImageVersions, 0x8032, &R::iscsiBios, &R::iscsiFcode, &R::iscsiEfi},
        {"Tesk FC", GetTeskImageVersions, 0x2031, &R::fcBios, &R::fcFcode, &R::fcEfi},
        {"Fenwar 2261", GetFenwarImageVersions, 0x2261, &R::fcBios, &R::fcFcode, &R::fcEfi},
        {"Fenwar 2081", GetFenwarImageVersions, 0x2081, &R::fcBios, &R::fcFcode, &R::fcEfi},
    };
    for (const Case &c : cases) {
        ik::Bytes chain = ThreeImages(c.deviceId);
        ImageVersionRecord rec{};
        ASSERT_EQ(c.read(chain, &rec, c.deviceId), 0) << c.name;
        EXPECT_TRUE(SameVersion(rec.*c.bios, 1, 2)) << c.name;
        EXPECT_TRUE(SameVersion(rec.*c.fcode, 3, 4)) << c.name;
        EXPECT_TRUE(SameVersion(rec.*c.efi, 5, 6)) << c.name;
        // Nothing else was written.
        ImageVersionRecord expected{};
        expected.*c.bios = {1, 2};
        expected.*c.fcode = {3, 4};
        expected.*c.efi = {5, 6};
        EXPECT_EQ(std::memcmp(&rec, &expected, sizeof rec), 0) << c.name;
    }
}

TEST(BootCodeVersions, PxeImagesAndDeviceIds) {
    struct Case {
        const char *name;
        Reader read;
        uint16_t deviceId;
        int expected;
    };
    ik::Bytes pxe = ik::BuildChain({Img(ik::kPxe, 0x8000, 7, 8)});
    const Case cases[] = {
        {"first-gen NIC PXE", GetImageVersions, 0x8000, 0},
        {"first-gen FCoE has no PXE", GetImageVersions, 0x8001, 4},
        {"Lark FCoE PXE as BIOS", GetLarkImageVersions, 0x8021, 0},
        {"Fenwar PXE as BIOS", GetFenwarImageVersions, 0x2971, 0},
        {"Lark reader, Tesk ID", GetLarkImageVersions, 0x8030, 4},
        {"Tesk reader, unknown ID", GetTeskImageVersions, 0x2532, 4},
        {"Fenwar reader, Zult-only ID", GetFenwarImageVersions, 0x2281, 4},
    };
    for (const Case &c : cases) {
        ImageVersionRecord rec{};
        EXPECT_EQ(c.read(pxe, &rec, c.deviceId), c.expected) << c.name;
    }
    ImageVersionRecord rec{};
    ASSERT_EQ(GetLarkImageVersions(pxe, &rec, 0x8021), 0);
    EXPECT_TRUE(SameVersion(rec.fcBios, 7, 8));
}

TEST(BootCodeVersions, ZultReader) {
    const uint16_t ids[] = {0x2432, 0x2532, 0x8001, 0x8031, 0x2289, 0x2B61};
    for (uint16_t id : ids) {
        ik::Bytes chain = ThreeImages(id);
        ZultImageVersionRecord rec{};
        ASSERT_EQ(GetImageBootCodesVersion(chain, &rec, id), 0) << std::hex << id;
        EXPECT_TRUE(SameVersion(rec.fcBios, 1, 2));
        EXPECT_TRUE(SameVersion(rec.fcFcode, 3, 4));
        EXPECT_TRUE(SameVersion(rec.fcEfi, 5, 6));
    }
    ZultImageVersionRecord rec{};
    EXPECT_EQ(GetImageBootCodesVersion(ThreeImages(0x8030), &rec, 0x8030), 4);
}

TEST(BootCodeVersions, LaterImageOverwrites) {
    ik::Bytes chain = ik::BuildChain({Img(ik::kBios, 0x2031, 1, 0), Img(ik::kBios, 0x2031, 2, 9)});
    ImageVersionRecord rec{};
    ASSERT_EQ(GetTeskImageVersions(chain, &rec, 0x2031), 0);
    EXPECT_TRUE(SameVersion(rec.fcBios, 2, 9));
}

TEST(BootCodeVersions, BrokenChains) {
    auto faulty = [](auto change) {
        std::vector<ik::PciImageSpec> specs = {Img(ik::kBios, 0x8021, 1, 2), Img(ik::kFCode, 0x8021, 3, 4)};
        change(specs);
        return ik::BuildChain(specs);
    };
    struct Case {
        const char *name;
        ik::Bytes chain;
        int expected;
    };
    const Case cases[] = {
        {"valid", faulty([](auto &) {}), 0},
        {"no last image", faulty([](auto &s) { s[1].last = 0; }), 3},
        {"no ROM signature", faulty([](auto &s) { s[1].faults.badRomSignature = true; }), 3},
        {"no PCIR", faulty([](auto &s) { s[0].faults.badPcirSignature = true; }), 3},
        {"data structure outside", faulty([](auto &s) { s[1].faults.pcirOutside = true; }), 3},
        {"firmware data image", faulty([](auto &s) { s[1].deviceId = 2; }), 3},
        {"code type 4", faulty([](auto &s) { s[1].codeType = 4; }), 3},
        {"zero length, not last", faulty([](auto &s) { s[0].faults.zeroLength = true; }), 3},
        {"length past the end", faulty([](auto &s) { s[0].faults.lengthPastEnd = true; }), 3},
        {"empty", {}, 2},
    };
    for (const Case &c : cases) {
        ImageVersionRecord rec{};
        EXPECT_EQ(GetLarkImageVersions(c.chain, &rec, 0x8021), c.expected) << c.name;
    }
    // A chain cut before the last image's data structure fails inside the
    // buffer.
    ik::Bytes chain = faulty([](auto &) {});
    for (size_t len = 0; len < 4 * ik::kBlock + 0x1C + 0x16; len += 37) {
        ImageVersionRecord rec{};
        int rc = GetLarkImageVersions(std::span<const uint8_t>(chain.data(), len), &rec, 0x8021);
        EXPECT_NE(rc, 0) << len;
    }
}

TEST(RiscFirmwareHeader, VersionFromLowBytes) {
    ik::Bytes fw(200, 0);
    ik::PutBE32(fw, 16, 0x00000109); // major 9
    ik::PutBE32(fw, 20, 0x0000000A);
    ik::PutBE32(fw, 24, 0xFFFFFF03);
    ik::PutBE32(fw, 32, 0x20);
    ik::PutBE32(fw, 116, 0xCAFEF00D);
    RiscFirmwareHeader h{};
    ASSERT_EQ(GetFirmwareHeader(fw, &h), 0);
    EXPECT_EQ(h.versionMajor, 0x109u);
    EXPECT_EQ(h.supportedValue, 0x20u);
    EXPECT_EQ(h.postAmble, 0xCAFEF00Du);
    ComponentVersion v{};
    ASSERT_EQ(GetRiscFirmwareVersion(fw, &v), 0);
    EXPECT_EQ(v.major, 9);
    EXPECT_EQ(v.minor, 10);
    EXPECT_EQ(v.subMinor, 3);
    EXPECT_EQ(GetRiscFirmwareVersion(std::span<const uint8_t>(fw.data(), 119), &v), -1);
    EXPECT_EQ(GetFirmwareHeader(fw, nullptr), -1);
}

class TimeStamp : public ::testing::Test {
  protected:
    void TearDown() override { OSSUnpinLocalTime(); }

    static std::tm Pinned() {
        std::tm t{};
        t.tm_year = 2026 - 1900;
        t.tm_mon = 11; // December
        t.tm_mday = 8;
        t.tm_hour = 17;
        t.tm_min = 42;
        return t;
    }

    static ik::IltSpec Spec() {
        ik::IltSpec s;
        for (uint16_t code : {0x07, 0x01, 0x9E}) {
            ik::IltRegion r;
            r.code = code;
            r.data.assign(0x100, 0x5A);
            s.regions.push_back(r);
        }
        s.cardLists = {{0, {{0x1077, 0x2261, 0x1077, 0x0299}}, -1}};
        return s;
    }
};

TEST_F(TimeStamp, StampAndChecksum) {
    std::tm t = Pinned();
    OSSPinLocalTime(&t);
    ik::IltSpec spec = Spec();
    ik::Bytes src = ik::BuildIltImage(spec);
    size_t table = ik::IltTableLength(spec);
    ik::Bytes flash(src.size(), 0xFF);
    ASSERT_EQ(UdpateTimeStamp(flash, src), 1);

    size_t stamp = 32 * 4; // entry N-1, N = 4
    uint16_t year = 0;
    ReadLE16(flash, stamp + 6, year);
    EXPECT_EQ(year, 2026);
    EXPECT_EQ(flash[stamp + 8], 12);
    EXPECT_EQ(flash[stamp + 9], 8);
    EXPECT_EQ(flash[stamp + 10], 17);
    EXPECT_EQ(flash[stamp + 11], 42);
    EXPECT_EQ(flash[stamp + 12], 0);
    EXPECT_EQ(flash[stamp + 13], 4);
    // The table in flash sums to zero; the source carries the same checksum.
    EXPECT_EQ(HLPR_Sum16(std::span<const uint8_t>(flash.data(), table), table / 2), 0);
    EXPECT_EQ(std::memcmp(flash.data() + 8, src.data() + 8, 2), 0);
    // Everything else of the table is the source's; nothing past it changed.
    for (size_t i = 0; i < table; ++i)
        if ((i < stamp || i >= stamp + 32) && i != 8 && i != 9) {
            EXPECT_EQ(flash[i], src[i]) << i;
        }
    for (size_t i = table; i < flash.size(); ++i)
        ASSERT_EQ(flash[i], 0xFF) << i;
    // The flash copy validates like the source.
    EXPECT_EQ(ValidateZultILTImageHeader(0x0299, 0x1077, flash, 0), 0);
}

TEST_F(TimeStamp, NoLocalTimeStillChecksums) {
    OSSPinLocalTime(nullptr);
    ik::IltSpec spec = Spec();
    spec.stamp = {2001, 2, 3, 4, 5};
    ik::Bytes src = ik::BuildIltImage(spec);
    size_t table = ik::IltTableLength(spec);
    src[8] ^= 0xFF; // a stale checksum is replaced
    ik::Bytes flash(table, 0);
    ASSERT_EQ(UdpateTimeStamp(flash, src), 1);
    uint16_t year = 0;
    ReadLE16(flash, 32 * 4 + 6, year);
    EXPECT_EQ(year, 2001);
    EXPECT_EQ(HLPR_Sum16(flash, table / 2), 0);
}

TEST_F(TimeStamp, RefusesTablesThatDoNotFit) {
    std::tm t = Pinned();
    OSSPinLocalTime(&t);
    ik::IltSpec spec = Spec();
    ik::Bytes src = ik::BuildIltImage(spec);
    size_t table = ik::IltTableLength(spec);
    ik::Bytes small(table - 1, 0xEE);
    EXPECT_EQ(UdpateTimeStamp(small, src), 0);
    EXPECT_EQ(std::count(small.begin(), small.end(), 0xEE), static_cast<long>(small.size()));
    ik::Bytes flash(src.size(), 0);
    EXPECT_EQ(UdpateTimeStamp(flash, std::span<uint8_t>(src.data(), table - 2)), 0);
    EXPECT_EQ(UdpateTimeStamp(flash, {}), 0);

    // A table length that ends before the time-stamp entry: the stamp is
    // not written over what follows the table.
    spec.faults.tableLengthOverride = 64;
    ik::Bytes shortTable = ik::BuildIltImage(spec);
    ik::Bytes out(shortTable.size(), 0xCC);
    ASSERT_EQ(UdpateTimeStamp(out, shortTable), 1);
    for (size_t i = 64; i < out.size(); ++i)
        ASSERT_EQ(out[i], 0xCC) << i;
}
