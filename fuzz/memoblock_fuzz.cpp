// Flash memo block and flash descriptor table on arbitrary bytes: the
// checks, the block rewrite (only the first 48 bytes change, and the result
// carries the signature and a right checksum), the table repair.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "app/settings.h"
#include "multiregion/fdt.h"
#include "multiregion/memoblock.h"

#define MEMO_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) std::abort();                                                                                     \
    } while (0)

namespace {

bool FixedClock(std::tm &t) {
    t = std::tm{};
    t.tm_year = 126;
    t.tm_mon = 0;
    t.tm_mday = 2;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    g_bSilent = 1;
    g_bDebug = 0;
    SetFlashMemoBlockClock(FixedClock);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const bool withVersions = (data[0] & 1) != 0;
    std::vector<uint8_t> bytes(data + 1, data + size);

    int sig = isCorrectFlashMemoBlockSignature(bytes);
    MEMO_CHECK(sig == 0 || sig == 1);
    int sum = VerifyChecksum32Bit(bytes, FLASH_MEMO_BLOCK_DWORDS);
    MEMO_CHECK(sum == 0 || sum == FMB_BAD_CHECKSUM || sum == FMB_TOO_SHORT || sum == FMB_NO_BUFFER);
    MEMO_CHECK(VerifyChecksum32Bit(bytes, bytes.size() / 4 + 1) != 0);

    FlashMemoVersions versions{};
    if (withVersions && bytes.size() >= 12) {
        std::memcpy(versions.mbi, bytes.data(), 3);
        std::memcpy(versions.ffv, bytes.data() + 3, 4);
        versions.buildMonth = bytes[7];
        versions.buildDay = bytes[8];
        versions.buildYear = uint16_t(bytes[9] | (bytes[10] << 8));
    }
    std::vector<uint8_t> copy = bytes;
    int st = UpdateFlashMemoBlockData(nullptr, copy, withVersions ? &versions : nullptr);
    if (bytes.size() < FLASH_MEMO_BLOCK_SIZE) {
        MEMO_CHECK(st == FMB_NO_MEMORY && copy == bytes);
    } else {
        MEMO_CHECK(st == FMB_OK);
        MEMO_CHECK(isCorrectFlashMemoBlockSignature(copy) == 1);
        MEMO_CHECK(VerifyChecksum32Bit(copy, FLASH_MEMO_BLOCK_DWORDS) == 0);
        MEMO_CHECK(std::equal(copy.begin() + FLASH_MEMO_BLOCK_SIZE, copy.end(), bytes.begin() + FLASH_MEMO_BLOCK_SIZE));
        if (withVersions) MEMO_CHECK(std::memcmp(copy.data() + FMB_OFF_MBI, versions.mbi, 3) == 0);
    }

    // The descriptor table: the input lies at the table's place of a
    // region buffer; a repaired table needs no second repair.
    static std::vector<uint8_t> region(FDT_TABLE_OFFSET + 0x80);
    std::fill(region.begin() + FDT_TABLE_OFFSET, region.end(), 0xFF);
    if (!bytes.empty())
        std::memcpy(region.data() + FDT_TABLE_OFFSET, bytes.data(), std::min<size_t>(bytes.size(), 0x80));
    FdtRepair before = CheckFlashDescriptorTable(region);
    MEMO_CHECK(PatchFlashDescriptorTable(region));
    FdtRepair after = CheckFlashDescriptorTable(region);
    MEMO_CHECK(before == FdtRepair::NotApplicable ? after == FdtRepair::NotApplicable
                                                  : after == FdtRepair::AlreadyCorrect);
    MEMO_CHECK(CheckFlashDescriptorTable(std::span<const uint8_t>(bytes)) == FdtRepair::NotApplicable ||
               bytes.size() >= FDT_TABLE_OFFSET);
    return 0;
}
