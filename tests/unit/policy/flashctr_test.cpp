#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "update/flashctr.h"

namespace {

struct LineCase {
    const char *name;
    const char *line;
    int gives;
    const char *ssdid, *ssvid, *model, *image;
    uint8_t bios[2], efi[2], fcode[2], fw[3], mbi[3];
};

const LineCase kLines[] = {
    {"full line",
     "0x0112,0x1234,Model 2A,3.21,6.12,4.03,8.05.63,mbi2a.bin,3.20.04\n",
     1,
     "0x0112",
     "0x1234",
     "Model 2A",
     "mbi2a.bin",
     {3, 21},
     {6, 12},
     {4, 3},
     {8, 5, 63},
     {3, 20, 4}},
    {"tabs as commas",
     "0x0112\t0x1234\tM\t3.21\t6.12\t4.03\t8.5.3\tf.bin\t3.20.04",
     1,
     "0x0112",
     "0x1234",
     "M",
     "f.bin",
     {3, 21},
     {6, 12},
     {4, 3},
     {8, 5, 3},
     {3, 20, 4}},
    {"run of separators",
     "0x0112,,0x1234,\t,M,1.2,3.4,5.6,7.8.9,img,1.2.3",
     1,
     "0x0112",
     "0x1234",
     "M",
     "img",
     {1, 2},
     {3, 4},
     {5, 6},
     {7, 8, 9},
     {1, 2, 3}},
    {"comment hash", "  \t# 0x0112,0x1234", 0, "", "", "", "", {}, {}, {}, {}, {}},
    {"comment semicolon", ";0x0112,0x1234", 0, "", "", "", "", {}, {}, {}, {}, {}},
    {"empty line", "\n", 0, "", "", "", "", {}, {}, {}, {}, {}},
    {"blanks only", "  \t \r\n", 0, "", "", "", "", {}, {}, {}, {}, {}},
    {"separators only", ",,\t,,\n", 0, "", "", "", "", {}, {}, {}, {}, {}},
    {"image trimmed",
     "a,b,c,1.0,1.0,1.0,1.0.0,   my img.bin  ,2.0.0",
     1,
     "a",
     "b",
     "c",
     "my img.bin",
     {1, 0},
     {1, 0},
     {1, 0},
     {1, 0, 0},
     {2, 0, 0}},
    {"short line leaves rest empty", "0x0112,0x1234,M,3.21\n", 1, "0x0112", "0x1234", "M", "", {3, 21}, {}, {}, {}, {}},
    {"leading blank kept", " 0x0112,0x1234", 1, " 0x0112", "0x1234", "", "", {}, {}, {}, {}, {}},
    {"texts cut to fields",
     "0x0123456789,0xABCDEFGHIJ,0123456789012345678901234567890123456789,1.2",
     1,
     "0x0123456",
     "0xABCDEFG",
     "0123456789012345678901234567890",
     "",
     {1, 2},
     {},
     {},
     {},
     {}},
    {"version low bytes and extra parts",
     "a,b,c,300.4.5,x.7,.9,1.2.3.4,f,12345678901.2",
     1,
     "a",
     "b",
     "c",
     "f",
     {44, 4},
     {0, 7},
     {0, 9},
     {1, 2, 3},
     {0x35, 0, 0}},
    {"version cut at 11 characters",
     "a,b,c,1.2,1.2,1.2,1.02.00003456,f,1.2.3",
     1,
     "a",
     "b",
     "c",
     "f",
     {1, 2},
     {1, 2},
     {1, 2},
     {1, 2, 34},
     {1, 2, 3}},
    {"fields past the ninth ignored",
     "a,b,c,1.1,2.2,3.3,4.4.4,f,5.5.5,junk,more",
     1,
     "a",
     "b",
     "c",
     "f",
     {1, 1},
     {2, 2},
     {3, 3},
     {4, 4, 4},
     {5, 5, 5}},
    {"carriage return ends field",
     "a,b,c,1.1,2.2,3.3,4.4.4,img.bin\r\n",
     1,
     "a",
     "b",
     "c",
     "img.bin",
     {1, 1},
     {2, 2},
     {3, 3},
     {4, 4, 4},
     {}},
};

TEST(FlashCtrLine, Grammar) {
    for (const LineCase &c : kLines) {
        FlashCtrEntry e{};
        ASSERT_EQ(ParseFlashCtrLine(c.line, &e), c.gives) << c.name;
        if (c.gives == 0) continue;
        EXPECT_STREQ(e.ssdid, c.ssdid) << c.name;
        EXPECT_STREQ(e.ssvid, c.ssvid) << c.name;
        EXPECT_STREQ(e.model, c.model) << c.name;
        EXPECT_STREQ(e.imageFile, c.image) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(e.biosVer, e.biosVer + 2), std::vector<uint8_t>(c.bios, c.bios + 2)) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(e.efiVer, e.efiVer + 2), std::vector<uint8_t>(c.efi, c.efi + 2)) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(e.fcodeVer, e.fcodeVer + 2), std::vector<uint8_t>(c.fcode, c.fcode + 2))
            << c.name;
        EXPECT_EQ(std::vector<uint8_t>(e.fwVer, e.fwVer + 3), std::vector<uint8_t>(c.fw, c.fw + 3)) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(e.mbiVer, e.mbiVer + 3), std::vector<uint8_t>(c.mbi, c.mbi + 3)) << c.name;
    }
}

class FlashCtrFile : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteFlashCtrVersionList();
        path_ = std::filesystem::temp_directory_path() /
                ("tf_flashctr_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override {
        DeleteFlashCtrVersionList();
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    void Write(const std::string &bytes) {
        std::ofstream out(path_, std::ios::binary);
        out << bytes;
    }
    std::vector<const FlashCtrEntry *> Entries() const {
        std::vector<const FlashCtrEntry *> v;
        for (const FlashCtrEntry *e = g_pFlashCtrList; e != nullptr && v.size() < 1000; e = e->next)
            v.push_back(e);
        return v;
    }
    std::filesystem::path path_;
};

TEST_F(FlashCtrFile, MissingFileIsStatus4) {
    testing::internal::CaptureStdout();
    int st = BuildFlashCtrListFromFile(path_.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(st, 4);
    EXPECT_EQ(out, "Unable to open file " + path_.string() + "!\n");
    EXPECT_EQ(g_pFlashCtrList, nullptr);
}

TEST_F(FlashCtrFile, VersionsDoNotCarryOverBetweenLines) {
    Write("0x0112,0x1234,Full,3.21,6.12,4.03,8.05.63,full.bin,3.20.04\n"
          "0x0113,0x1234,Short\n"
          "# comment\n"
          "\n"
          "0x0114,0x1234,M,1.00\n");
    ASSERT_EQ(BuildFlashCtrListFromFile(path_.c_str()), 0);
    auto v = Entries();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_STREQ(v[0]->imageFile, "full.bin");
    EXPECT_EQ(v[0]->mbiVer[1], 20);
    for (const FlashCtrEntry *e : {v[1], v[2]}) {
        EXPECT_STREQ(e->imageFile, "");
        EXPECT_EQ(e->efiVer[0] | e->efiVer[1] | e->fcodeVer[0] | e->fwVer[0] | e->fwVer[2] | e->mbiVer[0] |
                      e->mbiVer[1] | e->mbiVer[2],
                  0);
    }
    EXPECT_EQ(v[1]->biosVer[0], 0);
    EXPECT_EQ(v[2]->biosVer[0], 1);
}

TEST_F(FlashCtrFile, LongLinesAreReadInPieces) {
    // 300 characters: the first 254 form one line, the rest a second one.
    std::string first = "0x0001,0x0002," + std::string(240, 'M');
    std::string rest = ",0x0003,0x0004,N,1.01";
    ASSERT_EQ(first.size(), 254u);
    Write(first + rest + "\n0x0005,0x0006,O\n");
    ASSERT_EQ(BuildFlashCtrListFromFile(path_.c_str()), 0);
    auto v = Entries();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_STREQ(v[0]->model, std::string(31, 'M').c_str());
    EXPECT_STREQ(v[1]->ssdid, "0x0003");
    EXPECT_EQ(v[1]->biosVer[1], 1);
    EXPECT_STREQ(v[2]->ssdid, "0x0005");
}

TEST_F(FlashCtrFile, BinaryBytesStayInsideTheFields) {
    std::string bytes;
    for (int i = 0; i < 2000; ++i)
        bytes.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    Write(bytes);
    ASSERT_EQ(BuildFlashCtrListFromFile(path_.c_str()), 0);
    for (const FlashCtrEntry *e : Entries()) {
        EXPECT_LT(strnlen(e->ssdid, sizeof(e->ssdid)), sizeof(e->ssdid));
        EXPECT_LT(strnlen(e->ssvid, sizeof(e->ssvid)), sizeof(e->ssvid));
        EXPECT_LT(strnlen(e->model, sizeof(e->model)), sizeof(e->model));
        EXPECT_LT(strnlen(e->imageFile, sizeof(e->imageFile)), sizeof(e->imageFile));
    }
    EXPECT_FALSE(Entries().empty());
}

TEST_F(FlashCtrFile, LookupMatchesWholeIdsIgnoringCase) {
    Write("0x112,0x1077,Short,1.0\n"
          "0X0112,0X1077,First,2.0\n"
          "0x0112,0x1077,Second,3.0\n"
          " 0x0113,0x1077,Blank,4.0\n");
    ASSERT_EQ(BuildFlashCtrListFromFile(path_.c_str()), 0);
    TVXDevice d{};
    d.chipProperty.SubsysDeviceId = 0x112;
    d.chipProperty.SubsysVendorId = 0x1077;
    FlashCtrEntry out{};
    ASSERT_EQ(GetVersionFromFlashCtrFile(&d, &out), &out);
    EXPECT_STREQ(out.model, "First");
    EXPECT_EQ(out.biosVer[0], 2);

    d.chipProperty.SubsysDeviceId = 0x113;
    FlashCtrEntry none{};
    GetVersionFromFlashCtrFile(&d, &none);
    EXPECT_STREQ(none.ssdid, "");
    EXPECT_EQ(GetVersionFromFlashCtrFile(nullptr, &none), nullptr);
}

// Versions read from an adapter: classic families take the version texts
// (cleaned), newer ones the flash bytes gated by their presence flags.
TEST(FlashCtrFromAdapter, VersionsByFamily) {
    struct {
        const char *name;
        uint16_t pciId;
        const char *biosText;
        const char *fwText;
        uint32_t flags;
        uint8_t bios[2], efi[2], fcode[2], fw[3];
    } cases[] = {
        {"23xx texts, flash bytes ignored",
         0x2312,
         " \x01"
         "1.90",
         "3.03.28",
         0x7,
         {1, 90},
         {},
         {},
         {3, 3, 28}},
        {"23xx second blank kept", 0x2312, "  2.10", "\t4.5.6", 0, {2, 10}, {}, {}, {4, 5, 6}},
        {"24xx firmware flag only", 0x2432, "2.10", "9.9.9", TVX_FLASH_IMAGE_FW, {2, 10}, {}, {4, 3}, {8, 2, 1}},
        {"24xx efi flag only", 0x2422, "2.10", "9.9.9", TVX_FLASH_IMAGE_EFI, {2, 10}, {6, 1}, {4, 3}, {}},
        {"54xx no flags", 0x5432, "", "9.9.9", 0, {}, {}, {4, 3}, {}},
    };
    for (const auto &c : cases) {
        TVXDevice d{};
        d.handle = 0xFFFFFF; // no such handle: NVRAM reads fail
        d.chipProperty.PciDeviceId = c.pciId;
        std::strncpy(d.nodeProperty.Model, "M", sizeof(d.nodeProperty.Model) - 1);
        std::strncpy(d.nodeProperty.OptRomVersion, c.biosText, sizeof(d.nodeProperty.OptRomVersion) - 1);
        std::strncpy(d.nodeProperty.FirmwareVersion, c.fwText, sizeof(d.nodeProperty.FirmwareVersion) - 1);
        d.nodeProperty.FlashImageFlags = c.flags;
        const uint8_t efi[] = {6, 1}, fcode[] = {4, 3, 9}, fw[] = {8, 2, 1};
        std::memcpy(d.nodeProperty.FlashEfiVersion, efi, sizeof(efi));
        std::memcpy(d.nodeProperty.FlashFcodeVersion, fcode, sizeof(fcode));
        std::memcpy(d.nodeProperty.FlashFwVersion, fw, sizeof(fw));
        FlashCtrEntry e{};
        ASSERT_EQ(BuildFlashCtrListFromHBA(&d, &e), &e) << c.name;
        EXPECT_STREQ(e.model, "M") << c.name;
        EXPECT_STREQ(e.imageFile, "") << c.name;
        EXPECT_EQ(std::vector<uint8_t>(e.biosVer, e.biosVer + 2), std::vector<uint8_t>(c.bios, c.bios + 2)) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(e.efiVer, e.efiVer + 2), std::vector<uint8_t>(c.efi, c.efi + 2)) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(e.fcodeVer, e.fcodeVer + 2), std::vector<uint8_t>(c.fcode, c.fcode + 2))
            << c.name;
        EXPECT_EQ(std::vector<uint8_t>(e.fwVer, e.fwVer + 3), std::vector<uint8_t>(c.fw, c.fw + 3)) << c.name;
        EXPECT_EQ(e.mbiVer[0] | e.mbiVer[1] | e.mbiVer[2], 0) << c.name;
    }
    FlashCtrEntry e{};
    EXPECT_EQ(BuildFlashCtrListFromHBA(nullptr, &e), nullptr);
}

} // namespace
