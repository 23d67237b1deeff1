// Region request sizes, firmware file checks and the multi-boot file
// validation of the classic region update.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../tools/imagekit/imagekit.h"
#include "image/pcirom.h"
#include "update/optionrom.h"
#include "update/targeted.h"
#include "update/updaterun.h"

namespace {

namespace fs = std::filesystem;

class TempFile {
  public:
    TempFile(const std::string &tag, const std::vector<uint8_t> &bytes) {
        path_ = fs::temp_directory_path() / ("tf_upd_" + tag + "_" + std::to_string(::getpid()));
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() {
        std::error_code ec;
        fs::remove(path_, ec);
    }
    std::string path() const { return path_.string(); }

  private:
    fs::path path_;
};

struct RequestCase {
    const char *word;
    size_t size;
    int result;
    uint32_t region;
};

class RequestTest : public ::testing::TestWithParam<RequestCase> {
  protected:
    void TearDown() override { freeUserOptionROMReq(); }
};

TEST_P(RequestTest, RegionFromWordAndSize) {
    const RequestCase &c = GetParam();
    TempFile f("req", std::vector<uint8_t>(c.size, 0xA5));
    // A previous region must not leak into "no change" words.
    ASSERT_EQ(addUserOptionROMRequest(nullptr, f.path().c_str()), 0);
    EXPECT_EQ(addUserOptionROMRequest(c.word, f.path().c_str()), c.result);
    ASSERT_NE(g_ptrOptionROMRequest, nullptr);
    EXPECT_EQ(g_ptrOptionROMRequest->Region, c.region);
    EXPECT_EQ(g_ptrOptionROMRequest->FileSize, c.size);
    EXPECT_STREQ(g_ptrOptionROMRequest->FileName, f.path().c_str());
}

INSTANTIATE_TEST_SUITE_P(Words, RequestTest,
                         ::testing::Values(RequestCase{"all", 0x100000, 0, 0xFF}, RequestCase{"ALL", 0x20000, 0, 0},
                                           RequestCase{"All", 0x10000, 0, 0}, RequestCase{"all", 0x10001, 0, 0xFF},
                                           RequestCase{"fw", 0x10000, 0, 1}, RequestCase{"FW", 0xFFFF, 2, 0},
                                           RequestCase{"boot", 0x40000, 0, 7}, RequestCase{"boot", 0x40001, 2, 0},
                                           RequestCase{"boot", 0x3FFFF, 0, 7}, RequestCase{"other", 0x1000, 0, 0}));

TEST(RequestMissingFile, CannotOpen) {
    EXPECT_EQ(addUserOptionROMRequest("all", "/nonexistent/dir/file.bin"), 1);
    freeUserOptionROMReq();
    EXPECT_EQ(g_ptrOptionROMRequest, nullptr);
}

struct FirmwareCase {
    const char *name;
    imagekit::FirmwareSpec spec;
    const char *hwType;
    int flag;
    int result;
};

imagekit::FirmwareSpec Fw(void (*tweak)(imagekit::FirmwareSpec &)) {
    imagekit::FirmwareSpec s;
    s.chip = "2532";
    if (tweak) tweak(s);
    return s;
}

TEST(ValidateFirmware, Table) {
    const FirmwareCase cases[] = {
        {"good", Fw(nullptr), "CXR2532", 1, 28},
        {"flag clear", Fw(nullptr), "CXR2532", 0, 27},
        {"chip without firmware files", Fw(nullptr), "CXR2312", 1, 27},
        {"marker of another chip", Fw([](imagekit::FirmwareSpec &s) { s.chip = "2432"; }), "CXR2532", 1, 27},
        {"2432 marker on 2432", Fw([](imagekit::FirmwareSpec &s) { s.chip = "2432"; }), "CXR2432", 1, 28},
        {"no marker", Fw([](imagekit::FirmwareSpec &s) { s.faults.noMarker = true; }), "CXR2532", 1, 27},
        {"first block sum", Fw([](imagekit::FirmwareSpec &s) { s.faults.badChecksum1 = true; }), "CXR2532", 1, 25},
        {"second block sum", Fw([](imagekit::FirmwareSpec &s) { s.faults.badChecksum2 = true; }), "CXR2532", 1, 25},
        {"zero length", Fw([](imagekit::FirmwareSpec &s) { s.faults.zeroLength = true; }), "CXR2532", 1, 25},
        {"length past end", Fw([](imagekit::FirmwareSpec &s) { s.faults.lengthPastEnd = true; }), "CXR2532", 1, 29},
        // Cut inside the second block: its length word is there, its words
        // are not.
        {"second block cut", Fw([](imagekit::FirmwareSpec &s) { s.faults.truncateTo = 0x10000 + 0x100; }), "CXR2532", 1,
         25},
        // Cut before the second block's length word.
        {"first block cut", Fw([](imagekit::FirmwareSpec &s) { s.faults.truncateTo = 0x8000; }), "CXR2532", 1, 29},
    };
    for (const auto &c : cases) {
        auto bytes = imagekit::BuildFirmware(c.spec);
        EXPECT_EQ(validateFirmware(bytes, c.hwType, c.flag), c.result) << c.name;
    }
}

TEST(ValidateFirmwareChecksum, ShortFiles) {
    for (size_t n : {0u, 4u, 15u}) {
        std::vector<uint8_t> b(n, 0);
        EXPECT_EQ(ValidateFirmwareChecksum(b), 29) << n;
    }
    EXPECT_EQ(isCorrectFirmwareImage({}, "CXR2532"), 27);
}

struct MbiCase {
    const char *name;
    uint32_t region;
    std::vector<uint8_t> file;
    int result;
};

std::vector<uint8_t> Mbi(void (*tweak)(imagekit::MultibootSpec &)) {
    imagekit::MultibootSpec s;
    if (tweak) tweak(s);
    return imagekit::BuildMultiboot(s);
}

std::vector<uint8_t> Chain(std::vector<imagekit::PciImageSpec> specs, size_t pad) {
    auto c = imagekit::BuildChain(specs);
    c.resize(pad, 0xFF);
    return c;
}

// A whole image with the firmware at 0x80000 replaced by one for chip
// (erased when chip is empty).
std::vector<uint8_t> WithFirmware(std::vector<uint8_t> image, const std::string &chip) {
    std::fill(image.begin() + 0x80000, image.begin() + 0x80000 + 0x20000, 0xFF);
    if (!chip.empty()) {
        imagekit::FirmwareSpec spec;
        spec.chip = chip;
        auto fw = imagekit::BuildFirmware(spec);
        std::copy(fw.begin(), fw.end(), image.begin() + 0x80000);
    }
    return image;
}

TEST(ValidateMultiboot, Table) {
    using namespace imagekit;
    PciImageSpec pxe = CodeImage(kPxe, 0x8020, 2, 0);
    PciImageSpec zeroLen = CodeImage(kFCode, 0x2532, 4, 3);
    zeroLen.last = 0;
    zeroLen.faults.zeroLength = true;
    PciImageSpec notLast = CodeImage(kFCode, 0x2532, 4, 3);
    notLast.last = 0;
    PciImageSpec badPcir = CommonBios("2532", 0x2532, 3, 28);
    badPcir.faults.badPcirSignature = true;
    const MbiCase cases[] = {
        {"good 25xx image", 0xFF, Mbi(nullptr), 0},
        {"request not decided", 0, Mbi(nullptr), 0},
        {"one byte short", 0xFF, Mbi([](MultibootSpec &s) { s.faults.truncateTo = 0xFFFFF; }), 32},
        {"0x10000 bytes", 0, std::vector<uint8_t>(0x10000, 0xFF), 32},
        {"boot region wrong size", 7, std::vector<uint8_t>(0x3FFFF, 0xFF), 31},
        {"firmware region too big", 1, std::vector<uint8_t>(0x40001, 0xFF), 30},
        {"image of another chip", 0xFF, Mbi([](MultibootSpec &s) {
             s.chip = "2432";
             s.deviceId = 0x2432;
         }),
         10},
        {"bad BIOS checksum", 0xFF, Mbi([](MultibootSpec &s) { s.faults.badBiosChecksum = true; }), 12},
        {"24xx firmware in a 25xx image", 0xFF, WithFirmware(Mbi(nullptr), "2432"), 27},
        {"25xx image without firmware", 0xFF, WithFirmware(Mbi(nullptr), ""), 27},
        {"broken chain", 0xFF, Mbi([](MultibootSpec &s) { s.faults.brokenChain = true; }), 22},
        {"no last image", 0xFF, Mbi([](MultibootSpec &s) { s.faults.noLastImage = true; }), 22},
        {"PXE images only", 0xFF, Chain({pxe}, 0x100000), 10},
        {"no PCIR", 0xFF, Chain({badPcir}, 0x100000), 23},
        {"zero image length", 0xFF, Chain({zeroLen}, 0x100000), 22},
        {"chain running to the end of the file", 0x20, Chain({notLast}, 0x2000), 22},
        {"last image cut by the end of the file", 0x20, Chain({CodeImage(kFCode, 0x2532, 4, 3)}, 0x2000), 22},
        {"empty file, other region", 0x20, {}, 22},
    };
    for (const auto &c : cases) {
        TempFile f("mbi", {0});
        ASSERT_EQ(addUserOptionROMRequest(nullptr, f.path().c_str()), 0);
        g_ptrOptionROMRequest->Region = c.region;
        std::vector<uint8_t> data = c.file;
        EXPECT_EQ(validateUpdateMultibootOptionROM(0x0170, 0x1077, data, "TestModel", 0x2532), c.result) << c.name;
        freeUserOptionROMReq();
    }
}

TEST(ValidateMultiboot, PatchesTheCommonBiosForTheBoard) {
    TempFile f("mbi", {0});
    ASSERT_EQ(addUserOptionROMRequest("all", f.path().c_str()), 0);
    g_ptrOptionROMRequest->Region = 0xFF;
    auto data = imagekit::BuildMultiboot({});
    ASSERT_EQ(validateUpdateMultibootOptionROM(0x0170, 0x1234, data, "BoardX", 0x2532), 0);
    // Subsystem vendor ID and model name stamped, checksum still good.
    EXPECT_EQ(data[0x20] | (data[0x21] << 8), 0x1234);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&data[0x44]), 6), "BoardX");
    EXPECT_EQ(ComputeChecksum(std::span<const uint8_t>(data), 0), 1);
    freeUserOptionROMReq();
}

TEST(FamilyFilter, Table) {
    struct {
        int code;
        int cxr;
        int pass;
    } cases[] = {{0, 4, 1},  {0, 27, 1}, {1, 15, 1}, {1, 12, 0},  {2, 17, 1}, {3, 21, 1}, {3, 24, 1},
                 {3, 23, 0}, {4, 11, 1}, {4, 12, 0}, {5, 12, 1},  {5, 11, 0}, {6, 12, 0}, {7, 25, 1},
                 {8, 25, 1}, {9, 27, 1}, {9, 25, 0}, {10, 12, 0}, {-1, 12, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(isFamilyFilterMatch(c.code, c.cxr), c.pass) << c.code << " " << c.cxr;
}

TEST(ValidateOptionROMFile, Sizes) {
    std::vector<uint8_t> buffer(0x20000);
    {
        TempFile f("rom", std::vector<uint8_t>(0x20000, 0x11));
        uint32_t size = 0x20000;
        EXPECT_EQ(ValidateOptionROMFile(f.path().c_str(), buffer, &size), 0);
        EXPECT_EQ(size, 0x20000u);
        EXPECT_EQ(buffer[0x1FFFF], 0x11);
    }
    {
        TempFile f("rom", std::vector<uint8_t>(0x20001, 0x22));
        uint32_t size = 0x20000;
        EXPECT_EQ(ValidateOptionROMFile(f.path().c_str(), buffer, &size), 4);
    }
    {
        // A maximum above the buffer is bounded by the buffer.
        TempFile f("rom", std::vector<uint8_t>(0x20001, 0x22));
        uint32_t size = 0x30000;
        EXPECT_EQ(ValidateOptionROMFile(f.path().c_str(), buffer, &size), 4);
    }
    uint32_t size = 0x20000;
    EXPECT_EQ(ValidateOptionROMFile("/nonexistent/x.bin", buffer, &size), 1);
    EXPECT_EQ(size, 0u);
}

} // namespace
