// Region builders of the PEP board config, the firmware preload table and
// the converged board config, on data files written by the data-file kit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../tools/datakit/datakit.h"
#include "datafiles/datafiles.h"
#include "datafiles/datbuild.h"

namespace {

using datfile::AdapterFacts;

std::vector<uint8_t> FileBytes(const std::vector<datakit::Field> &fields, std::vector<std::string> extra = {}) {
    datakit::DataFile d;
    d.comments = {"test file"};
    d.fields = fields;
    d.extraLines = std::move(extra);
    std::string text = datakit::Text(d);
    return {text.begin(), text.end()};
}

AdapterFacts Facts(int cxrType, uint16_t ssvid = 0x1D7A, uint16_t ssdid = 0x0501, uint16_t chipRev = 0) {
    AdapterFacts f;
    f.cxrType = cxrType;
    f.ssvid = ssvid;
    f.ssdid = ssdid;
    f.chipRevision = chipRev;
    return f;
}

TEST(PepBuilder, ImageChecksIdsAndSignature) {
    datakit::PepOptions base;
    base.version[0] = 3, base.version[1] = 1, base.version[2] = 4, base.version[3] = 1;
    base.ssdid = 0x0501;
    {
        std::vector<uint8_t> image(datfile::kPEPImageSize, 0);
        auto fields = datakit::PepFields(base);
        ASSERT_EQ(datfile::BuildPEPBoardConfig(FileBytes(fields), Facts(25), image, "f", "t"), 0);
        EXPECT_EQ(image, datakit::ImageOver(fields, std::vector<uint8_t>(datfile::kPEPImageSize, 0)));
        uint8_t v[4] = {};
        ASSERT_EQ(datfile::GetPEPVersionFromImage(image, v, "t"), 0);
        EXPECT_EQ(std::vector<uint8_t>(v, v + 4), (std::vector<uint8_t>{3, 1, 4, 1}));
        image[100] ^= 1; // word sum broken
        EXPECT_EQ(datfile::GetPEPVersionFromImage(image, v, "t"), datfile::DAT_PEP_INVALID);
    }
    struct Row {
        const char *name;
        uint16_t ssvid, ssdid;
        uint32_t signature;
        bool checksumLine;
        int status;
        uint16_t stampedVendor, stampedDevice;
    };
    const Row rows[] = {
        {"wildcard vendor stamped", 0, 0x0501, 0x5F4C545F, true, 0, 0x1D7A, 0x0501},
        {"wildcard device 0 stamped", 0x1D7A, 0, 0x5F4C545F, true, 0, 0x1D7A, 0x0501},
        {"wildcard device FFFF stamped", 0x1D7A, 0xFFFF, 0x5F4C545F, true, 0, 0x1D7A, 0x0501},
        {"other device", 0x1D7A, 0x1234, 0x5F4C545F, true, datfile::DAT_SSID_MISMATCH, 0, 0},
        {"vendor FFFF is no wildcard", 0xFFFF, 0x0501, 0x5F4C545F, true, datfile::DAT_SSID_MISMATCH, 0, 0},
        {"other vendor", 0x1077, 0x0501, 0x5F4C545F, true, datfile::DAT_SSID_MISMATCH, 0, 0},
        {"wrong signature", 0x1D7A, 0x0501, 0x5F4C5450, true, datfile::DAT_BAD_SIGNATURE, 0, 0},
        {"no checksum line", 0x1D7A, 0x0501, 0x5F4C545F, false, datfile::DAT_INVALID_FIELD, 0, 0},
    };
    for (const auto &row : rows) {
        datakit::PepOptions o = base;
        o.ssvid = row.ssvid, o.ssdid = row.ssdid, o.signature = row.signature, o.checksumLine = row.checksumLine;
        std::vector<uint8_t> image(datfile::kPEPImageSize, 0);
        int st = datfile::BuildPEPBoardConfig(FileBytes(datakit::PepFields(o)), Facts(25), image, "f", "t");
        EXPECT_EQ(st, row.status) << row.name;
        if (st != 0) continue;
        EXPECT_EQ(image[8] | image[9] << 8, row.stampedVendor) << row.name;
        EXPECT_EQ(image[10] | image[11] << 8, row.stampedDevice) << row.name;
        uint8_t v[4];
        EXPECT_EQ(datfile::GetPEPVersionFromImage(image, v, "t"), 0) << row.name << ": checksum after stamping";
    }
}

// Bytes of the adapter's region beyond the file's fields stay, and the
// region still validates as a whole.
TEST(PepBuilder, RegionBytesBeyondTheFileStayValid) {
    std::vector<uint8_t> region(datfile::kPEPImageSize, 0);
    for (size_t i = 0x1000; i < 0x1100; ++i)
        region[i] = static_cast<uint8_t>(i * 13);
    const std::vector<uint8_t> before = region;
    ASSERT_EQ(datfile::BuildPEPBoardConfig(FileBytes(datakit::PepFields(datakit::PepOptions{})),
                                           Facts(25, 0x1D7A, 0x0301), region, "f", "t"),
              0);
    EXPECT_TRUE(std::equal(region.begin() + 64, region.end(), before.begin() + 64));
    uint8_t v[4];
    EXPECT_EQ(datfile::GetPEPVersionFromImage(region, v, "t"), 0);
}

TEST(PepBuilder, ChecksumFieldMustBeAnAlignedWord) {
    const std::vector<datakit::Field> misaligned = {datakit::Num("Signature", 32, 0x5F4C545F),
                                                    datakit::Num("Pad", 8, 0), datakit::Checksum(),
                                                    datakit::Num("Pad", 24, 0)};
    const std::vector<datakit::Field> narrow = {datakit::Num("Signature", 32, 0x5F4C545F),
                                                datakit::Num("Checksum", 16, 0), datakit::Num("Pad", 16, 0)};
    for (const auto &fields : {misaligned, narrow}) {
        std::vector<uint8_t> image(64, 0);
        EXPECT_EQ(datfile::BuildPEPBoardConfig(FileBytes(fields), Facts(25), image, "f", "t"),
                  datfile::DAT_INVALID_FIELD);
    }
}

TEST(PreloadBuilder, ValidationAndBuild) {
    struct Row {
        const char *name;
        int cxrType;
        uint16_t chipRev;
        uint8_t major;
        uint16_t ssvid, ssdid;
        std::optional<uint32_t> signature, checksum;
        bool checksumLine;
        int status;
    };
    const Row rows[] = {
        {"family 12", 12, 0, 1, 0x1D7A, 0x0501, {}, {}, true, 0},
        {"family 15", 15, 0, 5, 0x1D7A, 0x0501, {}, {}, true, 0},
        {"family 21", 21, 0, 1, 0x1D7A, 0x0501, {}, {}, true, 0},
        {"family 24", 24, 0, 1, 0x1D7A, 0x0501, {}, {}, true, 0},
        {"family 25", 25, 0, 1, 0x1D7A, 0x0501, {}, {}, true, 0},
        {"wildcard IDs", 25, 0, 1, 0, 0xFFFF, {}, {}, true, 0},
        {"other device", 25, 0, 1, 0x1D7A, 0x0112, {}, {}, true, datfile::DAT_SSID_MISMATCH},
        {"other vendor", 25, 0, 1, 0x1077, 0x0501, {}, {}, true, datfile::DAT_SSID_MISMATCH},
        {"signature of another family", 25, 0, 1, 0x1D7A, 0x0501, 0xCABA8030u, {}, true, datfile::DAT_BAD_SIGNATURE},
        {"family without a table", 27, 0, 1, 0x1D7A, 0x0501, 0x5041554Cu, {}, true, datfile::DAT_BAD_SIGNATURE},
        {"wrong checksum", 21, 0, 1, 0x1D7A, 0x0501, {}, 0x12345678u, true, datfile::DAT_CHECKSUM_MISMATCH},
        {"checksum 0", 21, 0, 1, 0x1D7A, 0x0501, {}, 0u, true, datfile::DAT_CHECKSUM_ZERO},
        {"no checksum line", 21, 0, 1, 0x1D7A, 0x0501, {}, {}, false, datfile::DAT_INVALID_FIELD},
        {"chip 15 rev 1 major 4", 15, 1, 4, 0x1D7A, 0x0501, {}, {}, true, datfile::DAT_CHIP_REVISION},
        {"chip 15 rev 1 major 3", 15, 1, 3, 0x1D7A, 0x0501, {}, {}, true, 0},
        {"chip 15 rev 2 major 3", 15, 2, 3, 0x1D7A, 0x0501, {}, {}, true, datfile::DAT_CHIP_REVISION},
        {"chip 15 rev 2 major 4", 15, 2, 4, 0x1D7A, 0x0501, {}, {}, true, 0},
        {"other family ignores the rule", 21, 1, 4, 0x1D7A, 0x0501, {}, {}, true, 0},
    };
    for (const auto &row : rows) {
        datakit::PreloadOptions o;
        o.cxrType = row.cxrType == 27 ? 25 : row.cxrType;
        o.version[0] = row.major, o.version[1] = 7, o.version[2] = 9;
        o.ssvid = row.ssvid, o.ssdid = row.ssdid, o.signature = row.signature, o.checksum = row.checksum;
        o.checksumLine = row.checksumLine;
        const auto fields = datakit::PreloadFields(o);
        const auto file = FileBytes(fields);
        const AdapterFacts facts = Facts(row.cxrType, 0x1D7A, 0x0501, row.chipRev);
        std::vector<uint8_t> scratch(0x400, 0xFF);
        int st = datfile::ValidatePreloadFile(file, facts, scratch);
        EXPECT_EQ(st, row.status) << row.name;
        if (st != 0) continue;
        std::vector<uint8_t> flash(0x400);
        for (size_t i = 0; i < flash.size(); ++i)
            flash[i] = static_cast<uint8_t>(i);
        std::vector<uint8_t> image = flash;
        ASSERT_EQ(datfile::BuildPreloadTable(file, facts, image), 0) << row.name;
        uint8_t v[3] = {};
        ASSERT_TRUE(datfile::PreloadVersionFromImage(image, row.cxrType, v)) << row.name;
        EXPECT_EQ(std::vector<uint8_t>(v, v + 3), (std::vector<uint8_t>{row.major, 7, 9})) << row.name;
        // The adapter's IDs in place of wildcards; the table then sums to 0.
        datakit::PreloadOptions stamped = o;
        stamped.ssvid = 0x1D7A, stamped.ssdid = 0x0501, stamped.checksum.reset();
        EXPECT_EQ(image, datakit::ImageOver(datakit::PreloadFields(stamped), flash)) << row.name;
    }
}

// Without the adapter's IDs (a failed NVRAM read) no file with ID fields
// builds, a wildcard one included: nothing would say its IDs belong to the
// adapter, and a stamp would write IDs of 0.
TEST(Builders, UnknownAdapterIdsRefuseTheFile) {
    datakit::PepOptions pep;
    pep.ssvid = 0;
    pep.ssdid = 0;
    datakit::PreloadOptions preload;
    preload.cxrType = 25;
    preload.ssvid = 0;
    preload.ssdid = 0xFFFF;
    AdapterFacts unknown = Facts(25, 0, 0);
    unknown.idsRead = false;
    const std::vector<uint8_t> pepFile = FileBytes(datakit::PepFields(pep));
    const std::vector<uint8_t> preloadFile = FileBytes(datakit::PreloadFields(preload));
    const std::vector<uint8_t> region(0x1000, 0xA5);
    std::vector<uint8_t> pepImage(datfile::kPEPImageSize, 0);
    EXPECT_EQ(datfile::BuildPEPBoardConfig(pepFile, unknown, pepImage, "f", "t"), datfile::DAT_SSID_MISMATCH);
    std::vector<uint8_t> scratch(region.size(), 0xFF);
    EXPECT_EQ(datfile::ValidatePreloadFile(preloadFile, unknown, scratch), datfile::DAT_SSID_MISMATCH);
    std::vector<uint8_t> table = region;
    EXPECT_EQ(datfile::BuildPreloadTable(preloadFile, unknown, table), datfile::DAT_SSID_MISMATCH);
    // The same files build once the IDs are known.
    std::vector<uint8_t> known = region;
    EXPECT_EQ(datfile::BuildPreloadTable(preloadFile, Facts(25), known), 0);
    std::vector<uint8_t> pepKnown(datfile::kPEPImageSize, 0);
    EXPECT_EQ(datfile::BuildPEPBoardConfig(pepFile, Facts(25), pepKnown, "f", "t"), 0);
}

TEST(PreloadBuilder, VersionsCompareAsNumbers) {
    struct Row {
        uint8_t adapter[3], file[3];
        int result;
    };
    const Row rows[] = {
        {{1, 2, 3}, {1, 2, 4}, -1}, {{1, 2, 3}, {1, 2, 3}, 0},   {{1, 2, 3}, {1, 2, 2}, 1},
        {{1, 10, 0}, {1, 9, 0}, 1}, {{1, 9, 0}, {1, 10, 0}, -1}, {{2, 0, 0}, {10, 0, 0}, -1},
    };
    for (const auto &row : rows) {
        std::copy(row.adapter, row.adapter + 3, g_FwPreloadVersion.adapter);
        std::copy(row.file, row.file + 3, g_FwPreloadVersion.file);
        EXPECT_EQ(CompareFwPreloadVersion(), row.result) << int(row.adapter[1]) << " against " << int(row.file[1]);
    }
}

// A region 0x71 of 0x8000 bytes with the given SSIDs and MAC table.
datakit::TeskOptions Adapter() {
    datakit::TeskOptions o;
    for (int i = 0; i < 8; ++i)
        o.ssid[i] = 0x06011D7Au + static_cast<uint32_t>(i);
    for (int i = 0; i < 16; ++i)
        o.mac[i] = 0x001D7A000000ull + static_cast<uint64_t>(i);
    return o;
}

TEST(TeskBuilder, SsidTablesAndMacTable) {
    const std::vector<uint8_t> flash = datakit::TeskInitialRegion(Adapter(), 0x8000);
    std::vector<uint8_t> copy = flash;
    ASSERT_EQ(datfile::ValidateTeskBrdConfigChecksum(copy, datfile::kTeskAreaSize, datfile::kTeskChecksumOffset), 0u);
    datakit::TeskOptions newer = Adapter();
    newer.version[0] = 3;
    for (int i = 0; i < 16; ++i)
        newer.mac[i] = 0xEEEEEE000000ull + static_cast<uint64_t>(i);
    struct Row {
        const char *name;
        datakit::TeskOptions file;
        bool keepMac;
        bool goodChecksum;
        int status;
    };
    datakit::TeskOptions zero = newer;
    std::fill(std::begin(zero.ssid), std::end(zero.ssid), 0u);
    datakit::TeskOptions other = newer;
    other.ssid[7] ^= 1;
    const Row rows[] = {
        {"matching SSIDs keep the adapter's MAC table", newer, true, true, 0},
        {"SSIDs all 0 take the file's MAC table", zero, false, false, 0},
        {"one SSID differs", other, true, true, datfile::DAT_TESK_SSID_MISMATCH},
        {"checksum without the adapter's MAC table", newer, false, true, datfile::DAT_CHECKSUM_ZERO},
    };
    for (const auto &row : rows) {
        std::vector<datakit::Field> fields;
        datakit::TeskOptions o = row.file;
        if (!row.goodChecksum) o.checksum = 0x0BADC0DEu;
        const std::vector<uint8_t> expected = datakit::TeskRegion(o, flash, row.keepMac, &fields);
        std::vector<uint8_t> region = flash;
        int st = datfile::BuildTeskBoardConfig(FileBytes(fields), Facts(21), region);
        EXPECT_EQ(st, row.status) << row.name;
        if (st != 0) continue;
        EXPECT_EQ(region, expected) << row.name;
        EXPECT_EQ(datfile::ValidateTeskBrdConfigChecksum(region, datfile::kTeskAreaSize, datfile::kTeskChecksumOffset),
                  0u)
            << row.name;
        // Beyond the area the region is as it was.
        EXPECT_TRUE(
            std::equal(region.begin() + datfile::kTeskAreaSize, region.end(), flash.begin() + datfile::kTeskAreaSize))
            << row.name;
    }
}

TEST(TeskBuilder, BadFilesLeaveTheRegionAlone) {
    const std::vector<uint8_t> flash = datakit::TeskInitialRegion(Adapter(), 0x8000);
    std::vector<datakit::Field> fields;
    datakit::TeskRegion(Adapter(), flash, true, &fields);
    struct Row {
        const char *name;
        int fillers; // 512-byte strings after the fields (the area ends within the 28th)
        std::vector<std::string> extra;
        int status;
    };
    const Row rows[] = {
        {"a field past the area", 28, {}, datfile::DAT_BAD_SIZE},
        {"value too wide", 0, {"Too wide [0-FFh] = 100"}, datfile::DAT_INVALID_FIELD},
        {"string too long", 0, {"Too long [\"513\"] = \"\""}, datfile::DAT_INVALID_FIELD},
        {"binary tail", 0, {std::string("\0\1\2", 3)}, datfile::DAT_CORRUPTED},
    };
    for (const auto &row : rows) {
        std::vector<datakit::Field> f = fields;
        for (int i = 0; i < row.fillers; ++i)
            f.push_back(datakit::Str("Filler", 512, ""));
        std::vector<uint8_t> region = flash;
        EXPECT_EQ(datfile::BuildTeskBoardConfig(FileBytes(f, row.extra), Facts(21), region), row.status) << row.name;
        EXPECT_EQ(region, flash) << row.name;
    }
}

} // namespace

namespace {

// The kit packs bits on its own; it must agree with the documented
// examples, or the tests above would only check the parser against itself.
TEST(DataKit, PacksTheDocumentedExamples) {
    struct Row {
        std::vector<datakit::Field> fields;
        std::vector<uint8_t> bytes;
    };
    const Row rows[] = {
        {{datakit::Num("A", 8, 0x0A), datakit::Num("B", 4, 3), datakit::Num("C", 4, 0xC)}, {0x0A, 0xC3}},
        {{datakit::Num("A", 3, 5, true), datakit::Num("B", 5, 0x1F)}, {0xFD}},
        {{datakit::Str("S", 4, "AB")}, {0, 0, 0, 0}},
        {{datakit::Num("W", 16, 0x1234), datakit::Str("S", 2, "xy")}, {0x34, 0x12, 'x', 'y'}},
    };
    for (const auto &row : rows) {
        std::vector<uint8_t> image(8, 0xEE);
        EXPECT_EQ(datakit::Lay(row.fields, image).bytes, row.bytes.size());
        EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + row.bytes.size()), row.bytes);
    }
    EXPECT_EQ(datakit::Line(datakit::Num("Major Version Number", 8, 2)), "Major Version Number [0-FFh] = 02");
    EXPECT_EQ(datakit::Line(datakit::Str("Name", 16, "x")), "Name [\"16\"] = \"x\"");
}

} // namespace
