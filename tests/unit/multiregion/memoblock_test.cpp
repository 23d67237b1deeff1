// Flash memo block: the block rewrite with a pinned clock, its checks, and
// the memo regions read and written on simulated adapters.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "update/installed_versions.h"
#include "multiregion/memoblock.h"
#include "simchip.h"

namespace {

using mrtest::Count;
using mrtest::Status;
using mrtest::ZultRegions;

// The progress line: its first half, then (after any Debug lines) the result.
bool Progress(const std::string &out, const char *result) {
    size_t at = out.find("Updating Adapter Flash Memo Block... ");
    return at != std::string::npos && out.find(std::string(result) + "\n", at) != std::string::npos;
}

bool PinnedClock(std::tm &t) {
    t = std::tm{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = 17;
    t.tm_min = 5;
    t.tm_sec = 9;
    return true;
}

class PinnedMemoClock {
  public:
    PinnedMemoClock() { SetFlashMemoBlockClock(PinnedClock); }
    ~PinnedMemoClock() { SetFlashMemoBlockClock(nullptr); }
};

uint32_t Le32(const std::vector<uint8_t> &b, size_t off) {
    return uint32_t(b[off]) | (uint32_t(b[off + 1]) << 8) | (uint32_t(b[off + 2]) << 16) | (uint32_t(b[off + 3]) << 24);
}

uint32_t Sum12(const std::vector<uint8_t> &b) {
    uint32_t sum = 0;
    for (size_t i = 0; i < 48; i += 4)
        sum += Le32(b, i);
    return sum;
}

// A block as an older tool left it: FMBS header, versions 1.2.3, bytes 23
// and 43 carrying marks, and a checksum that may be broken.
std::vector<uint8_t> OldBlock(bool goodChecksum) {
    std::vector<uint8_t> b(0x100, 0xFF);
    std::memcpy(b.data(), "FMBS", 4);
    b[4] = 12;
    std::memset(b.data() + 5, 0, 3);
    b[8] = 3;
    std::memset(b.data() + 9, 0, 3);
    const uint8_t ffv[4] = {1, 2, 0, 4}, mbi[3] = {1, 2, 3};
    std::memcpy(b.data() + 16, ffv, 4);
    std::memcpy(b.data() + 20, mbi, 3);
    b[23] = 0x77;
    std::memcpy(b.data() + 24, "20240101", 8);
    b[43] = 0x66;
    std::memset(b.data() + 12, 0, 4);
    uint32_t c = 0u - Sum12(b) + (goodChecksum ? 0 : 1);
    for (int i = 0; i < 4; ++i)
        b[12 + i] = uint8_t(c >> (8 * i));
    return b;
}

TEST(FlashMemoBlock, Rewrite) {
    PinnedMemoClock pin;
    const FlashMemoVersions fresh{{3, 1, 2}, {3, 1, 0, 7}, 11, 30, 2026};
    const FlashMemoVersions noFfv{{3, 1, 2}, {0, 0, 0, 0}, 1, 2, 2027};
    struct Case {
        const char *name;
        std::vector<uint8_t> region;
        const FlashMemoVersions *versions;
        uint8_t mbi[3];
        uint8_t ffv[4];
        const char *date;
        uint8_t byte23, byte43;
    } cases[] = {
        {"erased region: new header",
         std::vector<uint8_t>(0x100, 0xFF),
         &fresh,
         {3, 1, 2},
         {3, 1, 0, 7},
         "20261130",
         0xFF,
         0xFF},
        {"no signature: started from 0xFF",
         std::vector<uint8_t>(0x100, 0x00),
         &fresh,
         {3, 1, 2},
         {3, 1, 0, 7},
         "20261130",
         0xFF,
         0xFF},
        {"wrong checksum: kept and corrected",
         OldBlock(false),
         &fresh,
         {3, 1, 2},
         {3, 1, 0, 7},
         "20261130",
         0x77,
         0x66},
        {"FFV all zero still written", OldBlock(true), &noFfv, {3, 1, 2}, {0, 0, 0, 0}, "20270102", 0x77, 0x66},
        {"no version record: versions kept", OldBlock(true), nullptr, {1, 2, 3}, {1, 2, 0, 4}, "20240101", 0x77, 0x66},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> &b = c.region;
        ASSERT_EQ(UpdateFlashMemoBlockData(nullptr, b, c.versions), FMB_OK);
        EXPECT_EQ(std::memcmp(b.data(), "FMBS", 4), 0);
        EXPECT_EQ(Le32(b, 4), 12u);
        EXPECT_EQ(Le32(b, 8), 3u);
        EXPECT_EQ(Sum12(b), 0u);
        EXPECT_EQ(VerifyChecksum32Bit(b, 12), 0);
        EXPECT_EQ(std::memcmp(b.data() + 16, c.ffv, 4), 0);
        EXPECT_EQ(std::memcmp(b.data() + 20, c.mbi, 3), 0);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(b.data() + 24), 8), c.date);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(b.data() + 32), 4), "ZVFL");
        const uint8_t when[7] = {0xEA, 0x07, 12, 8, 17, 5, 9}; // 2026-12-08 17:05:09
        EXPECT_EQ(std::memcmp(b.data() + 36, when, 7), 0);
        const uint8_t tool[4] = {2, 2, 0, 3};
        EXPECT_EQ(std::memcmp(b.data() + 44, tool, 4), 0);
        EXPECT_EQ(b[23], c.byte23);
        EXPECT_EQ(b[43], c.byte43);
        EXPECT_EQ(b[48], c.region[48]); // only the block changes
    }
    std::vector<uint8_t> tiny(47, 0xFF);
    EXPECT_EQ(UpdateFlashMemoBlockData(nullptr, tiny, &fresh), FMB_NO_MEMORY);
}

TEST(FlashMemoBlock, Checks) {
    std::vector<uint8_t> good = OldBlock(true), bad = OldBlock(false);
    EXPECT_EQ(VerifyChecksum32Bit(good, 12), 0);
    EXPECT_EQ(VerifyChecksum32Bit(bad, 12), FMB_BAD_CHECKSUM);
    EXPECT_EQ(VerifyChecksum32Bit(std::span<const uint8_t>(good).first(47), 12), FMB_TOO_SHORT);
    EXPECT_EQ(VerifyChecksum32Bit(std::span<const uint8_t>(), 12), FMB_NO_BUFFER);
    EXPECT_EQ(isCorrectFlashMemoBlockSignature(bad), 1); // a bad checksum is only traced
    bad[0] = 'X';
    EXPECT_EQ(isCorrectFlashMemoBlockSignature(bad), 0);
    EXPECT_EQ(isCorrectFlashMemoBlockSignature(std::span<const uint8_t>(good).first(3)), 0);
}

class MemoRegions : public mrtest::SimChip {};

const char *const kDF = "0xFACEFADF";
const char *const kED = "0xFACEFAED";
const std::string kMemos = R"(, {"code": "0xDF", "size": "0x10000", "memo": {"mbi": "2.1.4"}})"
                           R"(, {"code": "0x124", "size": "0x10000", "memo": {"mbi": "2.0.9"}})";

TEST_F(MemoRegions, ZultWritesTheSetNotRunning) {
    PinnedMemoClock pin;
    struct Case {
        const char *name;
        std::string pri, sec;
        const char *written;
        const char *trace;
    } cases[] = {
        {"primary running", Status(1, 5, kDF), Status(0, 4, kDF), "0x124",
         "Primary region is active (Generation number=5)"},
        {"secondary running", Status(0, 5, kDF), Status(1, 6, kDF), "0xDF", "Secondary region is active"},
        // After a flip cut short both masks are set; the newer set runs.
        {"both masks set, secondary newer", Status(1, 5, kDF), Status(1, 6, kDF), "0xDF",
         "Secondary region is active (Generation number=6)"},
        {"no valid record", Status(1, 5, "0x1"), Status(1, 6, "0x2"), "0x124", "Unable to determine which region"},
    };
    const FlashMemoVersions v{{2, 2, 0}, {2, 2, 0, 1}, 12, 1, 2026};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Open("0x2281", ZultRegions(c.pri, c.sec, Status(1, 1, kED), Status(0, 0, kED)) + kMemos);
        StartTrace();
        EXPECT_EQ(UpdateZultFlashMemoBlockRegion(&device_, &v), FMB_OK);
        std::string out = StopTrace();
        EXPECT_TRUE(Progress(out, "Success")) << out;
        EXPECT_NE(out.find(c.trace), std::string::npos);
        std::string j = Journal();
        EXPECT_EQ(Count(j, "\"op\":\"write\""), 1u);
        EXPECT_NE(j.find(std::string("\"region\":\"") + c.written + "\""), std::string::npos);
        std::vector<uint8_t> memo = Read(std::strcmp(c.written, "0xDF") == 0 ? 0xDF : 0x124, 48);
        EXPECT_EQ(memo[20], 2);
        EXPECT_EQ(memo[21], 2);
        EXPECT_EQ(memo[22], 0);
        TearDown();
    }
}

TEST_F(MemoRegions, ReadBackAndFailures) {
    PinnedMemoClock pin;
    const FlashMemoVersions v{{1, 4, 0}, {1, 4, 0, 0}, 6, 15, 2026};
    struct Case {
        const char *name;
        const char *device;
        std::string regions;
        std::string faults;
        int read;      // GetAdapterFlashMemoBlock before the update
        int update;    // UpdateFlashMemoBlockRegion
        uint8_t minor; // multi-boot minor read afterwards (0: not read)
    } cases[] = {
        {"fenwar", "0x2071", R"({"code": "0xDF", "size": "0x10000", "memo": {"mbi": "1.3.2"}})", "", 0, 0, 4},
        {"tesk fc", "0x2031", R"({"code": "0x89", "size": "0x10000", "memo": {"mbi": "4.2.1"}})", "", 0, 0, 4},
        {"erased memo region", "0x2071", R"({"code": "0xDF", "size": "0x10000"})", "", FMB_NO_SIGNATURE, 0, 4},
        {"no memo region", "0x2071", R"({"code": "0x01", "size": "0x10000"})", "", FMB_UNREADABLE, FMB_UPDATE_FAILED,
         0},
        {"write refused", "0x2071", R"({"code": "0xDF", "size": "0x10000", "memo": {"mbi": "1.3.2"}})",
         R"("faults": [{"op": "write", "statuses": ["0x20000007"]}], )", 0, FMB_UPDATE_FAILED, 3},
        {"classic chip", "0x2532", R"({"code": "0xDF", "size": "0x10000"})", "", FMB_NOT_SUPPORTED, FMB_UPDATE_FAILED,
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Open(c.device, c.regions, "", c.faults);
        uint8_t block[48] = {};
        EXPECT_EQ(GetAdapterFlashMemoBlock(&device_, block), c.read);
        if (std::strcmp(c.name, "classic chip") == 0) {
            TearDown();
            continue;
        }
        StartTrace();
        EXPECT_EQ(UpdateFlashMemoBlockRegion(&device_, &v), c.update);
        std::string out = StopTrace();
        EXPECT_TRUE(Progress(out, c.update == 0 ? "Success" : "Failed")) << out;
        if (c.minor != 0) {
            ASSERT_EQ(GetAdapterFlashMemoBlock(&device_, block), 0);
            EXPECT_EQ(block[21], c.minor);
            InstalledImageVersions installed{};
            if (std::strcmp(c.device, "0x2071") == 0) {
                EXPECT_EQ(GetExistingCNAFlashImageVersions(&device_, &installed), 0);
                EXPECT_EQ(installed.mbi.ExistingMultibootVersionMinor, c.minor);
            }
        }
        TearDown();
    }
    EXPECT_EQ(GetAdapterFlashMemoBlock(nullptr, {}), FMB_NO_ADAPTER);
    EXPECT_EQ(UpdateFlashMemoBlockRegion(nullptr, nullptr), FMB_NO_ADAPTER);
}

} // namespace
