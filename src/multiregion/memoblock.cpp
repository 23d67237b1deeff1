#include "multiregion/memoblock.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/output.h"
#include "image/helpers.h"
#include "inventory/cxrtype.h"
#include "multiregion/activeregions.h"
#include "multiregion/imgstatus.h"
#include "multiregion/regionio.h"
#include "update/flashregion.h"
#include "update/regions.h"

namespace {

constexpr int kTeskFcType = 24;
constexpr int kZultType = 27;
constexpr char kToolId[4] = {'Z', 'V', 'F', 'L'};
constexpr uint8_t kToolVersion[4] = {2, 2, 0, 3};

bool SystemClock(std::tm &now) {
    std::time_t t = std::time(nullptr);
    if (t == static_cast<std::time_t>(-1)) return false;
    const std::tm *local = std::localtime(&t);
    if (local == nullptr) return false;
    now = *local;
    return true;
}

FlashMemoClock g_memoClock = SystemClock;

uint32_t LE32(std::span<const uint8_t> b, size_t off) {
    uint32_t v = 0;
    ReadLE32(b, off, v);
    return v;
}

// Stores the checksum that makes the twelve dwords sum to zero.
void SealMemoBlock(std::span<uint8_t> block) {
    WriteLE32(block, FMB_OFF_CHECKSUM, 0);
    WriteLE32(block, FMB_OFF_CHECKSUM, 0u - HLPR_Sum32(block, FLASH_MEMO_BLOCK_DWORDS));
}

void TraceHeader(std::span<const uint8_t> b) {
    uint16_t year = 0;
    ReadLE16(b, FMB_OFF_UPDATE_YEAR, year);
    OutputLevelMessage(LEVEL_DEBUG,
                       "UpdateFlashMemoBlockData: Version=%u Length=%u MBI=%d.%02d.%02d FFV=%d.%d.%d.%d "
                       "Checksum=0x%08x BuildDate=%.8s ToolId=%.4s Updated=%02d:%02d:%02d %02d/%02d/%04d",
                       LE32(b, FMB_OFF_VERSION), LE32(b, FMB_OFF_LENGTH), b[FMB_OFF_MBI], b[FMB_OFF_MBI + 1],
                       b[FMB_OFF_MBI + 2], b[FMB_OFF_FFV], b[FMB_OFF_FFV + 1], b[FMB_OFF_FFV + 2], b[FMB_OFF_FFV + 3],
                       LE32(b, FMB_OFF_CHECKSUM), reinterpret_cast<const char *>(b.data() + FMB_OFF_BUILD_DATE),
                       reinterpret_cast<const char *>(b.data() + FMB_OFF_TOOL_ID), b[40], b[41], b[42], b[38], b[39],
                       year);
}

// Reads the memo region, rewrites its block and writes it back, with the
// progress line. 0 or 526.
int RewriteMemoRegion(TVXDevice *device, uint32_t region, const FlashMemoVersions *versions) {
    OutputText("Updating Adapter Flash Memo Block... ");
    std::vector<uint8_t> buf;
    uint32_t size = 0;
    int st = ReadWholeRegion(device, region, buf, FLASH_MEMO_BLOCK_SIZE, &size);
    uint32_t result = TVX_ERR_FLASH_READ;
    if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateFlashMemoBlockRegion: Unable to read region 0x%x (%d - %s)", region, st,
                           RegionStatusText(st));
    } else if (size < FLASH_MEMO_BLOCK_SIZE || size > buf.size()) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateFlashMemoBlockRegion: Region 0x%x of %u bytes can't hold the block",
                           region, size);
    } else if (UpdateFlashMemoBlockData(device, std::span<uint8_t>(buf).first(size), versions) == FMB_OK) {
        uint16_t options = 0;
        result = AppUpdateOptionRomEx3(device, buf.data(), region, size, &options);
    }
    if (result == TVX_STATUS_OK || result == TVX_RESULT_RESET_DISABLED) {
        OutputMessage("%s", "Success");
        return FMB_OK;
    }
    OutputMessage("%s", "Failed");
    return FMB_UPDATE_FAILED;
}

} // namespace

void SetFlashMemoBlockClock(FlashMemoClock clock) { g_memoClock = clock != nullptr ? clock : SystemClock; }

int isCorrectFlashMemoBlockSignature(std::span<const uint8_t> buffer) {
    if (LE32(buffer, FMB_OFF_SIGNATURE) != FLASH_MEMO_BLOCK_SIGNATURE) {
        OutputLevelMessage(LEVEL_DEBUG, "isCorrectFlashMemoBlockSignature: No signature found!");
        return 0;
    }
    if (VerifyChecksum32Bit(buffer, FLASH_MEMO_BLOCK_DWORDS) != 0)
        OutputLevelMessage(LEVEL_DEBUG, "isCorrectFlashMemoBlockSignature: Checksum mismatch!");
    return 1;
}

int VerifyChecksum32Bit(std::span<const uint8_t> buffer, size_t dwords) {
    if (buffer.data() == nullptr) return FMB_NO_BUFFER;
    if (buffer.size() < FLASH_MEMO_BLOCK_SIZE || dwords > buffer.size() / 4) return FMB_TOO_SHORT;
    return HLPR_Sum32(buffer, dwords) == 0 ? FMB_OK : FMB_BAD_CHECKSUM;
}

uint32_t GetFlashMemoBlockRegion(TVXDevice *device) {
    int type = GetCxrType(device);
    if (device == nullptr || type < kTeskFcType) return 0;
    if (type == kTeskFcType) return TVX_OPT_ROM_REGION_TESK_MEMO;
    if (type < kZultType) return TVX_OPT_ROM_REGION_MEMO;
    TVX_ACTIVE_REGIONS active{};
    CoreGetActiveRegions(device, &active);
    return active.ActiveGlobalRegions == 1 ? TVX_OPT_ROM_REGION_MEMO : TVX_OPT_ROM_REGION_MEMO_ALT;
}

int GetAdapterFlashMemoBlock(TVXDevice *device, std::span<uint8_t> out) {
    if (device == nullptr) return FMB_NO_ADAPTER;
    if (out.data() == nullptr || out.size() < FLASH_MEMO_BLOCK_SIZE) return FMB_NO_MEMORY;
    uint32_t region = GetFlashMemoBlockRegion(device);
    if (region == 0) return FMB_NOT_SUPPORTED;
    std::vector<uint8_t> buf;
    int st = ReadWholeRegion(device, region, buf, FLASH_MEMO_BLOCK_SIZE);
    if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "GetAdapterFlashMemoBlock: Unable to read region 0x%x (%d - %s)", region, st,
                           RegionStatusText(st));
        return FMB_UNREADABLE;
    }
    if (isCorrectFlashMemoBlockSignature(buf) == 0) return FMB_NO_SIGNATURE;
    std::copy_n(buf.begin(), FLASH_MEMO_BLOCK_SIZE, out.begin());
    return FMB_OK;
}

int UpdateFlashMemoBlockData(TVXDevice *device, std::span<uint8_t> region, const FlashMemoVersions *versions) {
    (void)device;
    if (region.data() == nullptr || region.size() < FLASH_MEMO_BLOCK_SIZE) return FMB_NO_MEMORY;
    std::array<uint8_t, FLASH_MEMO_BLOCK_SIZE> block{};
    std::copy_n(region.begin(), FLASH_MEMO_BLOCK_SIZE, block.begin());
    if (isCorrectFlashMemoBlockSignature(block) != 0) {
        TraceHeader(block);
    } else {
        block.fill(0xFF);
        WriteLE32(block, FMB_OFF_SIGNATURE, FLASH_MEMO_BLOCK_SIGNATURE);
        WriteLE32(block, FMB_OFF_LENGTH, FLASH_MEMO_BLOCK_DWORDS);
        WriteLE32(block, FMB_OFF_VERSION, FLASH_MEMO_BLOCK_VERSION);
    }
    if (versions != nullptr) {
        std::copy_n(versions->mbi, 3, block.begin() + FMB_OFF_MBI);
        if (versions->ffv[0] == 0 && versions->ffv[1] == 0 && versions->ffv[2] == 0 && versions->ffv[3] == 0)
            OutputLevelMessage(LEVEL_DEBUG, "UpdateFlashMemoBlockData: FFV version not found.");
        std::copy_n(versions->ffv, 4, block.begin() + FMB_OFF_FFV);
        char date[16];
        std::snprintf(date, sizeof(date), "%04d%02d%02d", versions->buildYear % 10000, versions->buildMonth % 100,
                      versions->buildDay % 100);
        std::memcpy(block.data() + FMB_OFF_BUILD_DATE, date, 8);
    }
    std::memcpy(block.data() + FMB_OFF_TOOL_ID, kToolId, sizeof(kToolId));
    std::copy_n(kToolVersion, sizeof(kToolVersion), block.begin() + FMB_OFF_TOOL_VERSION);
    std::tm now{};
    if (g_memoClock(now)) {
        int year = now.tm_year + 1900;
        WriteLE16(block, FMB_OFF_UPDATE_YEAR, static_cast<uint16_t>(year));
        const int parts[5] = {now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec};
        for (size_t i = 0; i < 5; ++i)
            block[FMB_OFF_UPDATE_MONTH + i] = static_cast<uint8_t>(parts[i]);
        OutputLevelMessage(LEVEL_DEBUG, "UpdateFlashMemoBlockData: %02d:%02d:%02d %02d/%02d/%04d", now.tm_hour,
                           now.tm_min, now.tm_sec, now.tm_mon + 1, now.tm_mday, year);
    }
    SealMemoBlock(block);
    std::copy(block.begin(), block.end(), region.begin());
    return FMB_OK;
}

int UpdateFlashMemoBlockRegion(TVXDevice *device, const FlashMemoVersions *versions) {
    if (device == nullptr) return FMB_NO_ADAPTER;
    uint32_t region = GetCxrType(device) == kTeskFcType ? TVX_OPT_ROM_REGION_TESK_MEMO : TVX_OPT_ROM_REGION_MEMO;
    return RewriteMemoRegion(device, region, versions);
}

int UpdateZultFlashMemoBlockRegion(TVXDevice *device, const FlashMemoVersions *versions) {
    static const char kWho[] = "UpdateZultFlashMemoBlockRegion";
    if (device == nullptr) return FMB_NO_ADAPTER;
    if (GetCxrType(device) < 25) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unsupported adapter", kWho);
        return FMB_UPDATE_FAILED;
    }
    // The block goes to the memo region of the set that is not running.
    // Both records are weighed with the rule the adapter itself applies, so
    // that a primary record whose mask bit survived an interrupted flip does
    // not send the block to the running set.
    uint32_t signature = CoreImageStatusSignature(device);
    ImageStatusView views[2] = {};
    bool anyValid = false;
    const uint32_t statusRegions[2] = {TVX_OPT_ROM_REGION_IMAGE_STATUS_PRI, TVX_OPT_ROM_REGION_IMAGE_STATUS_SEC};
    for (int i = 0; i < 2; ++i) {
        std::vector<uint8_t> buf;
        if (ReadWholeRegion(device, statusRegions[i], buf, IMAGE_STATUS_RECORD_SIZE) != 0) continue;
        views[i] = CoreViewImageStatus(buf, signature);
        anyValid = anyValid || views[i].valid;
    }
    uint32_t region = TVX_OPT_ROM_REGION_MEMO_ALT;
    if (!anyValid) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to determine which region is active!", kWho);
    } else {
        uint16_t generation = 0;
        if (CoreDecideActiveSet(views[0], views[1], &generation) == 1) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Primary region is active (Generation number=%d)", kWho, generation);
        } else {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Secondary region is active (Generation number=%d)", kWho, generation);
            region = TVX_OPT_ROM_REGION_MEMO;
        }
    }
    return RewriteMemoRegion(device, region, versions);
}
