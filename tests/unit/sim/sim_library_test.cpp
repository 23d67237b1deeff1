// The simulated library through its C interface: host files, properties,
// flash regions and their persistence, faults, power cut, journal, SCSI
// answers and argument checks.
#include "../../../sim/torvex_sim.h"
#include "sim_host_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

uint64_t Fnv(const std::vector<uint8_t> &d) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : d) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    return h;
}

// One card of two chips: chip 0 has the classic 1 MiB layout and two
// ports (the second with a target), chip 1 a single boot region.
const char *kHost = R"({
  "cards": [{"name": "c0", "device_id": "0x2432", "subsys_device": "0x0201", "model": "CXR2462", "serial": "SNX42",
    "chips": [
      {"regions": [{"code": 7, "size": "0x40000", "boot": {"bios": "3.20", "fcode": "4.00", "efi": "6.01"}},
                   {"code": "0x14", "size": 512, "vpd": {}},
                   {"code": 1, "size": "0x40000", "offset": "0x80000", "firmware": {"version": "8.1.0", "mbi": "3.0.1"}},
                   {"code": "0xFF", "size": "0x100000"}],
       "flash_size": "0x100000",
       "ports": [{"port": {"speed": 4, "wwn": "21:00:00:24:ff:01:02:03"}, "node": {"wwn": "20:00:00:24:ff:01:02:03"},
                  "driver": {"version": "9.1.17.21"}},
                 {"targets": [{"port_wwn": "50:06:0B:00:00:00:10:00",
                               "luns": [{"lun": 0, "vendor": "ACME", "product": "DISK",
                                         "tur": ["not_ready", "unit_attention"], "blocks": 1000, "block_size": 4096},
                                        {"lun": 5, "capacity": ["busy"]}]}]}]},
      {"regions": [{"code": 7, "size": "0x40000"}], "partial_writes": true, "ports": [{}]}]}]
})";

class SimTest : public SimHostFixture {
  protected:
    SimTest() : SimHostFixture("simtest") {}
    std::vector<uint8_t> Read(uint32_t h, uint32_t region, uint32_t size) {
        std::vector<uint8_t> b(size);
        EXPECT_EQ(TvxGetOptionRomEx(h, 0, b.data(), size, region), TVX_STATUS_OK);
        return b;
    }
};

// A boot region holding one BIOS image of the given version.
std::vector<uint8_t> BootImage(uint8_t major, uint8_t minor) {
    std::vector<uint8_t> b(0x40000, 0xFF);
    std::memset(b.data(), 0, 512);
    b[0] = 0x55;
    b[1] = 0xAA;
    b[2] = 1;
    b[0x18] = 0x1C;
    b[0x19] = 0;
    std::memcpy(b.data() + 0x1C, "PCIR", 4);
    b[0x1C + 0x10] = 1; // one block
    b[0x1C + 0x12] = minor;
    b[0x1C + 0x13] = major;
    b[0x1C + 0x14] = 0;    // BIOS
    b[0x1C + 0x15] = 0x80; // last image
    return b;
}

TEST_F(SimTest, PropertiesReadBackAsTheHostDescribesThem) {
    Host(kHost);
    uint32_t h = Open(0);
    TVX_CHIP_PROPERTY cp{};
    TVX_NODE_PROPERTY np{};
    TVX_PORT_PROPERTY pp{};
    TVX_DRIVER_PROPERTY dp{};
    ASSERT_EQ(TvxGetHbaDeviceChipProperty(h, &cp), TVX_STATUS_OK);
    ASSERT_EQ(TvxGetHbaDeviceNodeProperty(h, &np), TVX_STATUS_OK);
    ASSERT_EQ(TvxGetHbaDevicePortProperty(h, 0, &pp), TVX_STATUS_OK);
    ASSERT_EQ(TvxGetHbaDeviceDriverProperty(h, &dp), TVX_STATUS_OK);
    const uint8_t wwpn[8] = {0x21, 0, 0, 0x24, 0xFF, 1, 2, 3}, wwnn[8] = {0x20, 0, 0, 0x24, 0xFF, 1, 2, 3};
    EXPECT_EQ(cp.PciVendorId, 0x1D7A);
    EXPECT_EQ(cp.PciDeviceId, 0x2432);
    EXPECT_EQ(cp.SubsysVendorId, 0x1D7A);
    EXPECT_EQ(cp.SubsysDeviceId, 0x0201);
    EXPECT_EQ(0, std::memcmp(pp.PortWWN, wwpn, 8));
    EXPECT_EQ(0, std::memcmp(np.NodeWWN, wwnn, 8));
    EXPECT_EQ(pp.PortSpeed, 4u);
    EXPECT_STREQ(np.Model, "CXR2462");
    EXPECT_STREQ(dp.DriverVersion, "9.1.17.21");
    EXPECT_STREQ(np.DriverVersion, "9.1.17.21");
    EXPECT_STREQ(np.OptRomVersion, "3.20");
    EXPECT_STREQ(np.FirmwareVersion, "8.01.00");
    EXPECT_EQ(np.FlashImageFlags, TVX_FLASH_IMAGE_FW | TVX_FLASH_IMAGE_EFI | TVX_FLASH_IMAGE_FCODE);
    EXPECT_EQ(np.FlashFwVersion[0], 8);
    EXPECT_EQ(np.FlashFwVersion[1], 1);
    EXPECT_EQ(np.FlashEfiVersion[0], 6);
    EXPECT_EQ(np.FlashEfiVersion[1], 1);
    // NVRAM subsystem IDs and the PCI function numbered across the card
    uint8_t nv[TVX_NVRAM_SIZE];
    uint32_t v = 0;
    ASSERT_EQ(TvxGetNVRam(h, 0, 1, nv, sizeof nv), TVX_STATUS_OK);
    ASSERT_EQ(TvxGetVariableValue(h, nv, TVX_NVRAM_PARAM_SSDID, &v), TVX_STATUS_OK);
    EXPECT_EQ(v, 0x0201u);
    ASSERT_EQ(TvxGetVariableValue(h, nv, TVX_NVRAM_PARAM_SSVID, &v), TVX_STATUS_OK);
    EXPECT_EQ(v, 0x1D7Au);
    uint32_t h2 = Open(2);
    ASSERT_EQ(TvxGetHbaDeviceChipProperty(h2, &cp), TVX_STATUS_OK);
    EXPECT_EQ((cp.PciSlotNumber >> 5) & 7, 2);
    // the VPD carries the card's serial number
    std::vector<uint8_t> vpd(512);
    uint32_t size = 512;
    ASSERT_EQ(TvxGetVpd(h, 0, vpd.data(), &size), TVX_STATUS_OK);
    std::string text(vpd.begin(), vpd.end());
    EXPECT_NE(text.find(std::string("SN\x05SNX42", 8)), std::string::npos);
    // the multi-boot version block sits at 0x3FFC0 of region 1
    std::vector<uint8_t> fw = Read(h, 1, 0x40000);
    EXPECT_EQ(0, std::memcmp(fw.data() + 0x3FFC0, "OMBV\x03\x00\x01", 7));
}

TEST_F(SimTest, RegionWritesPersistAndPortsOfAChipShareFlash) {
    Host(kHost);
    uint32_t h0 = Open(0);
    std::vector<uint8_t> img = BootImage(3, 41);
    ASSERT_EQ(TvxUpdateOptionRomEx(h0, 0, img.data(), uint32_t(img.size()), 7), TVX_STATUS_OK);
    EXPECT_TRUE(fs::exists(dir_ / "state" / "c0-0" / "region_07.bin"));
    uint32_t h1 = Open(1), h2 = Open(2);
    EXPECT_EQ(Read(h1, 7, 0x40000), img);
    EXPECT_EQ(Read(h2, 7, 0x40000), std::vector<uint8_t>(0x40000, 0xFF)); // the other chip
    // the whole-flash view shows the region at its offset
    std::vector<uint8_t> head(16);
    ASSERT_EQ(TvxGetOptionRomOffset(h1, 0, head.data(), 16, 0), TVX_STATUS_OK);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), img.begin()));
    TvxSimReset(); // a new process
    uint32_t again = Open(1);
    EXPECT_EQ(Read(again, 7, 0x40000), img);
    uint64_t off = 1;
    uint32_t size = 0, source = 0;
    ASSERT_EQ(TvxSimGetRegionInfo(1, 7, &off, &size, &source), TVX_STATUS_OK);
    EXPECT_EQ(off, 0u);
    EXPECT_EQ(size, 0x40000u);
    EXPECT_EQ(source, 3u); // the state file
    // read-only mode keeps writes in memory only
    setenv("TORVEX_SIM_READONLY", "1", 1);
    TvxSimReset();
    uint32_t ro = Open(0);
    std::vector<uint8_t> other = BootImage(9, 9);
    ASSERT_EQ(TvxUpdateOptionRomEx(ro, 0, other.data(), uint32_t(other.size()), 7), TVX_STATUS_OK);
    EXPECT_EQ(Read(ro, 7, 0x40000), other);
    unsetenv("TORVEX_SIM_READONLY");
    TvxSimReset();
    EXPECT_EQ(Read(Open(0), 7, 0x40000), img);
}

TEST_F(SimTest, VersionsAreReadAgainFromFlashAfterAWrite) {
    Host(kHost);
    uint32_t h = Open(0);
    TVX_NODE_PROPERTY np{};
    ASSERT_EQ(TvxGetHbaDeviceNodeProperty(h, &np), TVX_STATUS_OK);
    ASSERT_STREQ(np.OptRomVersion, "3.20");
    std::vector<uint8_t> img = BootImage(3, 41);
    ASSERT_EQ(TvxUpdateOptionRomEx(h, 0, img.data(), uint32_t(img.size()), 7), TVX_STATUS_OK);
    std::vector<uint8_t> fw = Read(h, 1, 0x40000);
    for (int i = 0; i < 3; ++i) {
        const uint8_t ver[3] = {9, 3, 7};
        std::memset(fw.data() + 16 + 4 * i, 0, 4);
        fw[19 + 4 * i] = ver[i];
    }
    ASSERT_EQ(TvxUpdateOptionRomEx(h, 0, fw.data(), uint32_t(fw.size()), 1), TVX_STATUS_OK);
    ASSERT_EQ(TvxGetHbaDeviceNodeProperty(h, &np), TVX_STATUS_OK);
    EXPECT_STREQ(np.OptRomVersion, "3.41");
    EXPECT_EQ(np.FlashImageFlags, TVX_FLASH_IMAGE_FW); // no FCode or EFI image any more
    EXPECT_EQ(np.FlashFwVersion[0], 9);
    EXPECT_EQ(np.FlashFwVersion[1], 3);
    EXPECT_EQ(np.FlashFwVersion[2], 7);
    EXPECT_STREQ(np.FirmwareVersion, "8.01.00"); // still running the old firmware
    // an erased firmware region gives no firmware version
    std::vector<uint8_t> erased(0x40000, 0xFF);
    ASSERT_EQ(TvxUpdateOptionRomEx(h, 0, erased.data(), uint32_t(erased.size()), 1), TVX_STATUS_OK);
    ASSERT_EQ(TvxGetHbaDeviceNodeProperty(h, &np), TVX_STATUS_OK);
    EXPECT_EQ(np.FlashImageFlags & TVX_FLASH_IMAGE_FW, 0u);
}

TEST_F(SimTest, WrongRegionOrSizeWritesFail) {
    Host(kHost);
    uint32_t h0 = Open(0), h2 = Open(2);
    std::vector<uint8_t> big(0x100001, 0);
    struct Case {
        uint32_t handle, region, size;
        bool nullBuffer;
        TVX_STATUS want;
    } cases[] = {
        {h0, 0x33, 0x40000, false, TVX_ERR_INVALID_REGION},
        {h0, 7, 0x3FFFF, false, TVX_ERR_INVALID_SIZE},
        {h0, 7, 0x40001, false, TVX_ERR_INVALID_SIZE},
        {h0, 7, 0, false, TVX_ERR_INVALID_SIZE},
        {h0, 7, 0x40000, true, TVX_ERR_INVALID_PARAMETER},
        {h0, 0xFF, 0x100000, false, TVX_STATUS_OK},
        {h2, 7, 0x100, false, TVX_STATUS_OK}, // partial writes allowed on chip 1
        {h2, 7, 0x40001, false, TVX_ERR_INVALID_SIZE},
        {0xDEAD, 7, 0x40000, false, TVX_ERR_INVALID_HANDLE},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(TvxUpdateOptionRomEx(c.handle, 0, c.nullBuffer ? nullptr : big.data(), c.size, c.region), c.want)
            << "region " << c.region << " size " << c.size;
    }
    // a refused write leaves the region as it was
    std::vector<uint8_t> boot = Read(h0, 7, 0x40000);
    EXPECT_EQ(boot, std::vector<uint8_t>(0x40000, 0)); // the whole-flash write above
    std::vector<uint8_t> b(0x40001);
    EXPECT_EQ(TvxGetOptionRomEx(h0, 0, b.data(), 0x40001, 7), TVX_ERR_INVALID_SIZE);
    EXPECT_EQ(TvxGetOptionRomEx(h0, 0, b.data(), 0x100, 0x33), TVX_ERR_INVALID_REGION);
    EXPECT_EQ(TvxGetOptionRomOffset(h0, 0, b.data(), 0x100, 0x100000 - 0xFF), TVX_ERR_INVALID_SIZE);
}

TEST_F(SimTest, ScriptedFaultsCountPerInstanceAndRegion) {
    std::string host = kHost;
    host.insert(host.find('{') + 1, R"("faults": [
        {"op": "write", "instance": 0, "region": 7, "statuses": ["0x20000075", "0x20000067"]},
        {"op": "TvxGetOptionRomEx", "region": 1, "skip": 1, "statuses": ["0x20000008"], "then": 0},
        {"op": "open", "instance": 2, "statuses": [0, "0x20000071"]}],)");
    Host(host);
    uint32_t h0 = Open(0), h1 = Open(1);
    std::vector<uint8_t> img = BootImage(1, 1);
    struct Step {
        uint32_t handle;
        bool write;
        uint32_t region;
        TVX_STATUS want;
    } steps[] = {
        {h1, true, 7, TVX_STATUS_OK},         // another instance: no fault
        {h0, true, 7, TVX_ERR_RESET_PENDING}, // first scripted status
        {h0, true, 7, TVX_ERR_BUSY},          // second
        {h0, true, 7, TVX_STATUS_OK},         // then none
        {h0, false, 1, TVX_STATUS_OK},        // skipped
        {h0, false, 1, TVX_ERR_FLASH_READ},   // scripted
        {h1, false, 1, TVX_STATUS_OK},        // then 0
        {h0, false, 7, TVX_STATUS_OK},        // other region
    };
    std::vector<uint8_t> buf(0x40000);
    int i = 0;
    for (const Step &s : steps) {
        TVX_STATUS st = s.write ? TvxUpdateOptionRomEx(s.handle, 0, img.data(), uint32_t(img.size()), s.region)
                                : TvxGetOptionRomEx(s.handle, 0, buf.data(), uint32_t(buf.size()), s.region);
        EXPECT_EQ(st, s.want) << "step " << i++;
    }
    uint32_t h = 0;
    EXPECT_EQ(TvxOpenDevice(2, &h), TVX_STATUS_OK);
    EXPECT_EQ(TvxOpenDevice(2, &h), TVX_ERR_NOT_READY);
    EXPECT_EQ(TvxOpenDevice(2, &h), TVX_STATUS_OK);
    // counters start again in a new process
    TvxSimReset();
    h0 = Open(0);
    EXPECT_EQ(TvxUpdateOptionRomEx(h0, 0, img.data(), uint32_t(img.size()), 7), TVX_ERR_RESET_PENDING);
}

TEST_F(SimTest, PowerCutEndsTheProcessAfterTheNthWrite) {
    std::string host = kHost;
    host.insert(host.find('{') + 1, R"("power_cut_after_writes": 2,)");
    Host(host);
    std::vector<uint8_t> a = BootImage(1, 1), b = BootImage(2, 2);
    std::vector<uint8_t> fw(0x40000, 0x11);
    EXPECT_EXIT(
        {
            uint32_t h = 0;
            TvxOpenDevice(0, &h);
            TvxUpdateOptionRomEx(h, 0, a.data(), uint32_t(a.size()), 7);
            TvxUpdateOptionRomEx(h, 0, fw.data(), uint32_t(fw.size()), 1);
            TvxUpdateOptionRomEx(h, 0, b.data(), uint32_t(b.size()), 7); // never reached
            std::exit(0);
        },
        ::testing::ExitedWithCode(99), "");
    std::string journal = Slurp(dir_ / "journal.jsonl");
    TvxSimReset();
    uint32_t h = Open(0);
    EXPECT_EQ(Read(h, 7, 0x40000), a);
    EXPECT_EQ(Read(h, 1, 0x40000), fw);
    EXPECT_NE(journal.find("\"op\":\"power_cut\""), std::string::npos);
    size_t cut = journal.find("\"op\":\"power_cut\"");
    ASSERT_NE(cut, std::string::npos);
    EXPECT_EQ(journal.find('\n', cut) + 1, journal.size());         // the last line: nothing written after it
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 4); // open, two writes, power cut
}

TEST_F(SimTest, JournalRecordsChangesInOrderWithDigests) {
    Host(kHost);
    uint32_t h = Open(1);
    std::vector<uint8_t> img = BootImage(4, 2);
    ASSERT_EQ(TvxUpdateOptionRomEx2(h, 1, img.data(), uint32_t(img.size()), 7), TVX_ERR_RESET_DISABLED);
    EXPECT_EQ(TvxUpdateOptionRomEx(h, 0, img.data(), 5, 7), TVX_ERR_INVALID_SIZE);
    std::vector<uint8_t> buf(16);
    TvxGetOptionRomEx(h, 0, buf.data(), 16, 7); // reads are not journaled by default
    ASSERT_EQ(TvxCloseDevice(h), TVX_STATUS_OK);
    std::ifstream in(dir_ / "journal.jsonl");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    ASSERT_EQ(lines.size(), 4u);
    char digest[40];
    std::snprintf(digest, sizeof digest, "\"fnv1a64\":\"%016llx\"", (unsigned long long)Fnv(img));
    const char *want[4][4] = {
        {"\"seq\":1", "\"op\":\"open\"", "\"instance\":1", "\"status\":\"0x00000000\""},
        {"\"seq\":2", "\"op\":\"write\"", "\"options\":1", "\"status\":\"0x20000100\""},
        {"\"seq\":3", "\"fn\":\"TvxUpdateOptionRomEx\"", "\"size\":5", "\"status\":\"0x20000006\""},
        {"\"seq\":4", "\"op\":\"close\"", "\"card\":\"c0\"", "\"port\":1"},
    };
    for (size_t i = 0; i < 4; ++i)
        for (const char *w : want[i])
            EXPECT_NE(lines[i].find(w), std::string::npos) << lines[i] << " lacks " << w;
    EXPECT_NE(lines[1].find(digest), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\"region\":\"0x07\""), std::string::npos);
}

TEST_F(SimTest, JournalPlaceAndScopeFollowTheSettings) {
    struct Case {
        const char *name, *hostField, *envJournal, *envAll;
        const char *file; // relative to the host folder; null: no journal anywhere
        bool reads;       // the read shows up as a "call" line
    } cases[] = {
        {"default", "", nullptr, nullptr, "journal.jsonl", false},
        {"host file names it", R"("journal": "j2.jsonl",)", nullptr, nullptr, "j2.jsonl", false},
        {"host file turns it off", R"("journal": "off",)", nullptr, nullptr, nullptr, false},
        {"environment turns it off", "", "off", nullptr, nullptr, false},
        {"every call", "", nullptr, "1", "journal.jsonl", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const char *f : {"journal.jsonl", "j2.jsonl", "off"})
            fs::remove(dir_ / f);
        if (c.envJournal) setenv("TORVEX_SIM_JOURNAL", c.envJournal, 1);
        if (c.envAll) setenv("TORVEX_SIM_JOURNAL_ALL", c.envAll, 1);
        std::string host = kHost;
        host.insert(host.find('{') + 1, c.hostField);
        Host(host);
        uint32_t h = Open(0);
        std::vector<uint8_t> buf(16);
        EXPECT_EQ(TvxGetOptionRomEx(h, 0, buf.data(), 16, 7), TVX_STATUS_OK);
        TvxCloseDevice(h);
        EXPECT_EQ(TvxGetOptionRomEx(h, 0, buf.data(), 16, 7), TVX_ERR_INVALID_HANDLE);
        unsetenv("TORVEX_SIM_JOURNAL");
        unsetenv("TORVEX_SIM_JOURNAL_ALL");
        size_t files = 0;
        for (const auto &e : fs::directory_iterator(dir_))
            files += e.path().filename() != "host.json" && e.path().filename() != "state";
        if (!c.file) {
            EXPECT_EQ(files, 0u);
            continue;
        }
        EXPECT_EQ(files, 1u);
        std::string j = Slurp(dir_ / c.file);
        EXPECT_NE(j.find("\"op\":\"open\""), std::string::npos);
        EXPECT_EQ(j.find("\"fn\":\"TvxGetOptionRomEx\"") != std::string::npos, c.reads) << j;
        // with every call journaled, a call on a closed handle shows up too
        EXPECT_EQ(j.find("\"status\":\"0x20000002\"") != std::string::npos, c.reads) << j;
    }
}

TEST_F(SimTest, ScsiAnswersFollowTheTargetDescription) {
    Host(kHost);
    uint32_t h = Open(1);
    TVX_SCSI_ADDRESS a{};
    a.AddressType = 2;
    const uint8_t wwpn[8] = {0x50, 0x06, 0x0B, 0, 0, 0, 0x10, 0};
    std::memcpy(a.PortWWN, wwpn, 8);
    const uint8_t tur[6] = {0, 0, 0, 0, 0, 0};
    uint8_t sense[80];
    struct Expect {
        TVX_STATUS status;
        uint8_t key, asc;
    } seq[] = {{TVX_ERR_TARGET_NOT_READY, 0, 0}, {TVX_ERR_CHECK_CONDITION, 6, 0x29}, {0, 0, 0}, {0, 0, 0}};
    for (const Expect &e : seq) {
        std::memset(sense, 0, sizeof sense);
        EXPECT_EQ(TvxSendScsiPassThruFC(h, &a, tur, 6, 0, nullptr, 0, sense, sizeof sense), e.status);
        if (e.status == TVX_ERR_CHECK_CONDITION) {
            EXPECT_EQ(sense[2], e.key);
            EXPECT_EQ(sense[12], e.asc);
        }
    }
    uint8_t inq[36];
    ASSERT_EQ(TvxSendScsiInquiryCmdFC(h, &a, 0, 0, inq, 36, sense, 80), TVX_STATUS_OK);
    EXPECT_EQ(0, std::memcmp(inq + 8, "ACME    DISK", 12));
    uint8_t luns[64];
    ASSERT_EQ(TvxSendScsiReportLunsCmdFC(h, &a, luns, sizeof luns, sense, 80), TVX_STATUS_OK);
    EXPECT_EQ(luns[3], 16); // two LUNs of 8 bytes
    EXPECT_EQ(luns[8 + 8 + 1], 5);
    uint8_t cap[8];
    ASSERT_EQ(TvxSendScsiReadCapacityCmdFC(h, &a, cap, 8, sense, 80), TVX_STATUS_OK);
    EXPECT_EQ((cap[0] << 24 | cap[1] << 16 | cap[2] << 8 | cap[3]), 999);
    EXPECT_EQ((cap[4] << 24 | cap[5] << 16 | cap[6] << 8 | cap[7]), 4096);
    a.Lun = 5;
    EXPECT_EQ(TvxSendScsiReadCapacityCmdFC(h, &a, cap, 8, sense, 80), TVX_ERR_BUSY);
    EXPECT_EQ(TvxSendScsiReadCapacityCmdFC(h, &a, cap, 8, sense, 80), TVX_STATUS_OK);
    a.Lun = 3; // no such LUN
    EXPECT_EQ(TvxSendScsiPassThruFC(h, &a, tur, 6, 0, nullptr, 0, sense, sizeof sense), TVX_ERR_CHECK_CONDITION);
    EXPECT_EQ(sense[2], 5);
    EXPECT_EQ(sense[12], 0x25);
    a.PortWWN[7] = 9; // nobody there
    EXPECT_EQ(TvxSendScsiInquiryCmdFC(h, &a, 0, 0, inq, 36, sense, 80), TVX_ERR_SCSI_TRANSPORT);
}

TEST_F(SimTest, BadHostFilesGiveOneMessageAndNoAdapter) {
    struct Case {
        const char *name, *text, *mention;
    } cases[] = {
        {"invalid json", "{\"cards\": [", "not valid JSON"},
        {"unknown field", R"({"cards": [{"chips": [{"ports": [{}], "colour": 1}]}]})", "cards[0].chips[0].colour"},
        {"out of range", R"({"cards": [{"device_id": 70000, "chips": [{"ports": [{}]}]}]})", "cards[0].device_id"},
        {"too many ports", R"({"cards": [{"chips": [{"ports": [{},{},{},{},{}]}]}]})", "ports"},
        {"overlap", R"({"cards": [{"chips": [{"regions": [{"code": 1, "size": 16}, {"code": 2, "size": 16,
            "offset": 8}], "ports": [{}]}]}]})",
         "overlaps"},
        {"unknown stop event", R"({"interrupt_event": "ctrl_z", "cards": [{"chips": [{"ports": [{}]}]}]})",
         "interrupt_event"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ::testing::internal::CaptureStderr();
        Host(c.text);
        uint32_t h = 7;
        EXPECT_EQ(TvxOpenDevice(0, &h), TVX_ERR_NO_MORE_DEVICES);
        EXPECT_EQ(TvxOpenDevice(0, &h), TVX_ERR_NO_MORE_DEVICES);
        std::string err = ::testing::internal::GetCapturedStderr();
        char msg[512] = "";
        TvxSimGetLoadError(msg, sizeof msg);
        EXPECT_NE(std::string(msg).find(c.mention), std::string::npos) << msg;
        EXPECT_NE(std::string(msg).find((dir_ / "host.json").string()), std::string::npos) << msg;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(err, std::string("torvex-sim: ") + msg + "\n");
        EXPECT_FALSE(fs::exists(dir_ / "state"));
        EXPECT_FALSE(fs::exists(dir_ / "journal.jsonl"));
    }
}

TEST_F(SimTest, NullPointersAndShortBuffersGetErrorStatuses) {
    Host(kHost);
    uint32_t h = Open(0);
    uint8_t nv[TVX_NVRAM_SIZE];
    uint32_t v = 0;
    struct Case {
        const char *what;
        TVX_STATUS got, want;
    } cases[] = {
        {"open null", TvxOpenDevice(0, nullptr), TVX_ERR_INVALID_PARAMETER},
        {"open past end", TvxOpenDevice(3, &v), TVX_ERR_NO_MORE_DEVICES},
        {"chip null", TvxGetHbaDeviceChipProperty(h, nullptr), TVX_ERR_INVALID_PARAMETER},
        {"node null", TvxGetHbaDeviceNodeProperty(h, nullptr), TVX_ERR_INVALID_PARAMETER},
        {"port null", TvxGetHbaDevicePortProperty(h, 0, nullptr), TVX_ERR_INVALID_PARAMETER},
        {"nvram short", TvxGetNVRam(h, 0, 1, nv, 511), TVX_ERR_BUFFER_TOO_SMALL},
        {"nvram region 3", TvxGetNVRam(h, 0, 3, nv, 512), TVX_ERR_INVALID_PARAMETER},
        {"variable null", TvxGetVariableValue(h, nullptr, 127, &v), TVX_ERR_INVALID_PARAMETER},
        {"variable 0", TvxGetVariableValue(h, nv, 0, &v), TVX_ERR_INVALID_PARAMETER},
        {"layout null", TvxGetOptionRomLayout(h, 0, nullptr), TVX_ERR_INVALID_PARAMETER},
        {"read null", TvxGetOptionRomEx(h, 0, nullptr, 16, 7), TVX_ERR_INVALID_PARAMETER},
        {"offset null", TvxGetOptionRomOffset(h, 0, nullptr, 16, 0), TVX_ERR_INVALID_PARAMETER},
        {"vpd null", TvxGetVpd(h, 0, nullptr, &v), TVX_ERR_INVALID_PARAMETER},
        {"caps null", TvxGetFlashUpdateCapabilities(h, 0, nullptr), TVX_ERR_INVALID_PARAMETER},
        {"caps unsupported", TvxGetFlashUpdateCapabilities(h, 0, &v), TVX_ERR_NOT_SUPPORTED},
        {"scsi null address", TvxSendScsiInquiryCmdFC(h, nullptr, 0, 0, nv, 36, nv, 80), TVX_ERR_INVALID_PARAMETER},
        {"closed handle", TvxCloseDevice(0x12345), TVX_ERR_INVALID_HANDLE},
        {"version null", TvxGetVersion(nullptr, 10), TVX_ERR_INVALID_PARAMETER},
        {"fo count null", ITvxFoGetTargetData(h, nullptr, nullptr), TVX_ERR_INVALID_PARAMETER},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;

    // a layout buffer too small tells the count
    TVX_OPTION_ROM_LAYOUT head{};
    head.Size = sizeof head;
    EXPECT_EQ(TvxGetOptionRomLayout(h, 0, &head), TVX_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(head.Count, 4u);
    std::vector<uint32_t> buf(2 + 8, 0);
    auto *lay = reinterpret_cast<TVX_OPTION_ROM_LAYOUT *>(buf.data());
    lay->Size = uint32_t(buf.size() * 4);
    ASSERT_EQ(TvxGetOptionRomLayout(h, 0, lay), TVX_STATUS_OK);
    const uint32_t codes[4][2] = {{7, 0x40000}, {0x14, 512}, {1, 0x40000}, {0xFF, 0x100000}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(lay->Region[i].Region, codes[i][0]);
        EXPECT_EQ(lay->Region[i].Size, codes[i][1]);
    }
    uint8_t vpd[16];
    uint32_t size = sizeof vpd;
    EXPECT_EQ(TvxGetVpd(h, 0, vpd, &size), TVX_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 512u);
    char text[4] = "xxx";
    EXPECT_EQ(TvxGetVersion(text, sizeof text), TVX_ERR_BUFFER_TOO_SMALL);
    EXPECT_STREQ(text, "1.2");
    TVX_FEATURE_LIST fl{};
    fl.Count = 0;
    EXPECT_EQ(TvxGetHbaSupportedFeatureList(h, &fl), TVX_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(fl.Count, 2u);
    uint8_t db[TVX_PORTDB_HEADER_SIZE + TVX_PORTDB_ENTRY_SIZE - 1];
    uint32_t count = 0;
    EXPECT_EQ(TvxGetPortDatabase(h, TVX_PORTDB_MODE_KNOWN, db, sizeof db, &count), TVX_ERR_BUFFER_TOO_SMALL);
}

} // namespace

// A whole-flash write keeps the bytes that lie between the regions of the
// layout, so a flash with only the 0xFF view reads back what was written.
TEST_F(SimTest, WholeFlashWritesKeepBytesBetweenRegions) {
    Host(R"({"cards": [{"name": "g", "chips": [{"ports": [{}], "flash_size": "0x40000",
             "regions": [{"code": "0x07", "size": "0x10000", "offset": "0x10000"}, {"code": "0xFF", "size": "0x40000"}]}]}]})");
    uint32_t h = Open(0);
    std::vector<uint8_t> all(0x40000);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = uint8_t(i * 7 + (i >> 9));
    ASSERT_EQ(TvxUpdateOptionRomEx(h, 0, all.data(), uint32_t(all.size()), 0xFF), TVX_STATUS_OK);
    EXPECT_EQ(Read(h, 0xFF, 0x40000), all);
    std::vector<uint8_t> boot(all.begin() + 0x10000, all.begin() + 0x20000);
    EXPECT_EQ(Read(h, 7, 0x10000), boot);
    TvxSimReset(); // a new process sees the same flash
    EXPECT_EQ(Read(Open(0), 0xFF, 0x40000), all);
}

// A 16-byte image status record (little-endian) whose dwords sum to zero.
std::vector<uint8_t> StatusRecord(uint8_t mask, uint16_t generation, uint32_t signature, uint8_t bitmap = 0) {
    std::vector<uint8_t> r(16, 0);
    r[0] = mask;
    r[1] = uint8_t(generation);
    r[2] = uint8_t(generation >> 8);
    r[5] = bitmap;
    for (int i = 0; i < 4; ++i)
        r[12 + i] = uint8_t(signature >> (8 * i));
    uint32_t sum = 0;
    for (int i = 0; i < 16; i += 4)
        sum += uint32_t(r[i]) | uint32_t(r[i + 1]) << 8 | uint32_t(r[i + 2]) << 16 | uint32_t(r[i + 3]) << 24;
    for (int i = 0; i < 4; ++i)
        r[8 + i] = uint8_t((0u - sum) >> (8 * i));
    return r;
}

TEST_F(SimTest, ActiveRegionsFollowTheImageStatusRecords) {
    struct Case {
        const char *name, *primary, *secondary, *aux; // "status" objects; aux: the two auxiliary regions
        uint8_t global, board, vpd, npiv01, npiv23;
    } cases[] = {
        {"both active, secondary newer", R"({"mask": 1, "generation": 5, "signature": "0xFACEFADF"})",
         R"({"mask": 1, "generation": 7, "signature": "0xFACEFADF"})", nullptr, 2, 1, 1, 1, 1},
        {"primary active and newer", R"({"mask": 1, "generation": 9})", R"({"mask": 0, "generation": 3})", nullptr, 1,
         1, 1, 1, 1},
        {"neither active, secondary newer", R"({"mask": 0, "generation": 2})", R"({"mask": 0, "generation": 3})",
         nullptr, 2, 1, 1, 1, 1},
        {"secondary with a wrong signature", R"({"mask": 0, "generation": 4})",
         R"({"mask": 1, "generation": 7, "signature": "0x12345678"})", nullptr, 1, 1, 1, 1, 1},
        {"auxiliary secondary active", R"({"mask": 1, "generation": 5})", R"({"mask": 0, "generation": 3})",
         R"({"mask": 0, "generation": 1, "signature": "0xFACEFAED"}, {"mask": 1, "generation": 2, "signature": "0xFACEFAED", "bitmap": 5})",
         1, 2, 1, 2, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_ / "state");
        std::string regions = std::string(R"({"code": "0x95", "size": "0x10000", "file": "st.bin", "status": )") +
                              c.primary + R"(}, {"code": "0x96", "size": "0x10000", "status": )" + c.secondary + "}";
        if (c.aux) {
            std::string aux = c.aux;
            size_t cut = aux.find("}, {") + 1;
            regions += R"(, {"code": "0x125", "size": "0x10000", "status": )" + aux.substr(0, cut) + "}";
            regions += R"(, {"code": "0x126", "size": "0x10000", "status": )" + aux.substr(cut + 2) + "}";
        }
        std::vector<uint8_t> file(64);
        for (size_t i = 0; i < file.size(); ++i)
            file[i] = uint8_t(0xA0 + i);
        std::ofstream(dir_ / "st.bin", std::ios::binary)
            .write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
        Host(R"({"cards": [{"name": "z", "chips": [{"update_caps": 4, "ports": [{}], "regions": [)" + regions +
             "]}]}]}");
        uint32_t h = Open(0);
        TVX_ACTIVE_REGIONS a{};
        ASSERT_EQ(TvxGetActiveRegions(h, 0, &a), TVX_STATUS_OK);
        EXPECT_EQ(a.ActiveGlobalRegions, c.global);
        EXPECT_EQ(a.ActiveBoardConfig, c.board);
        EXPECT_EQ(a.ActiveVpdNvram, c.vpd);
        EXPECT_EQ(a.ActiveNpivConfig01, c.npiv01);
        EXPECT_EQ(a.ActiveNpivConfig23, c.npiv23);
        // the host's file keeps its offsets under the record
        std::vector<uint8_t> st = Read(h, 0x95, 0x10000);
        EXPECT_TRUE(std::equal(file.begin() + 16, file.end(), st.begin() + 16));
        EXPECT_EQ(st[64], 0xFF);
        // flipping the records switches the active set, as an update does
        uint8_t now = a.ActiveGlobalRegions;
        std::vector<uint8_t> on(0x10000, 0xFF), off(0x10000, 0xFF);
        std::vector<uint8_t> ron = StatusRecord(1, 40, 0xFACEFADFu), roff = StatusRecord(0, 39, 0xFACEFADFu);
        std::copy(ron.begin(), ron.end(), on.begin());
        std::copy(roff.begin(), roff.end(), off.begin());
        ASSERT_EQ(TvxUpdateOptionRomEx(h, 0, on.data(), 0x10000, now == 1 ? 0x96 : 0x95), TVX_STATUS_OK);
        ASSERT_EQ(TvxUpdateOptionRomEx(h, 0, off.data(), 0x10000, now == 1 ? 0x95 : 0x96), TVX_STATUS_OK);
        ASSERT_EQ(TvxGetActiveRegions(h, 0, &a), TVX_STATUS_OK);
        EXPECT_EQ(a.ActiveGlobalRegions, now == 1 ? 2 : 1);
    }
}

TEST_F(SimTest, OneOnlineUpdateSessionPerChip) {
    Host(
        R"({"cards": [{"name": "s", "chips": [{"update_caps": 4, "ports": [{}, {}], "regions": [{"code": 1, "size": 4096}]},
                                                {"update_caps": 4, "ports": [{}], "regions": [{"code": 1, "size": 4096}]}]}]})");
    uint32_t h0 = Open(0), h1 = Open(1), h2 = Open(2);
    uint32_t s0 = 0, s1 = 0, s2 = 0;
    ASSERT_EQ(TvxStartFlashUpdate(h0, 0, &s0), TVX_STATUS_OK);
    EXPECT_EQ(TvxStartFlashUpdate(h1, 0, &s1), TVX_ERR_SESSION_OPEN); // the other port of the chip
    EXPECT_EQ(TvxStartFlashUpdate(h2, 0, &s2), TVX_STATUS_OK);        // another chip
    EXPECT_EQ(TvxOnlineActivateFlashUpdate(h0, 0), TVX_ERR_SESSION_OPEN);
    EXPECT_EQ(TvxEndFlashUpdate(h0, 0, s0 + 100), TVX_ERR_INVALID_PARAMETER);
    ASSERT_EQ(TvxEndFlashUpdate(h0, 0, s0), TVX_STATUS_OK);
    EXPECT_EQ(TvxOnlineActivateFlashUpdate(h0, 0), TVX_STATUS_OK);
    ASSERT_EQ(TvxStartFlashUpdate(h1, 0, &s1), TVX_STATUS_OK);
    EXPECT_NE(s1, s0);
    // a session left open ends with the handle that opened it
    ASSERT_EQ(TvxCloseDevice(h1), TVX_STATUS_OK);
    EXPECT_EQ(TvxStartFlashUpdate(h0, 0, &s0), TVX_STATUS_OK);
    std::string j = Slurp(dir_ / "journal.jsonl");
    for (const char *op :
         {"\"op\":\"session_start\"", "\"op\":\"session_end\"", "\"op\":\"activate\"", "\"session_dropped\""})
        EXPECT_NE(j.find(op), std::string::npos) << op;
}
