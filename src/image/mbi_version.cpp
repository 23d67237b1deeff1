#include "image/mbi_version.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/output.h"
#include "image/helpers.h"
#include "inventory/cxrtype.h"
#include "update/optionrom.h"

int getMBImageVersionInFirmware(std::span<const uint8_t> block, MultibootVersion *version) {
    OutputLevelMessage(LEVEL_DEBUG, "isCorrectFirmwareMBImage: Enter...");
    uint16_t word0 = 0, word1 = 0;
    bool haveWords = ReadLE16(block, 0, word0) && ReadLE16(block, 2, word1);
    uint32_t signature = (static_cast<uint32_t>(word1) << 16) | word0;
    OutputLevelMessage(LEVEL_DEBUG, "isCorrectFirmwareMBImage: signatureid = 0x%x", signature);
    uint8_t major = 0, minor = 0, sub = 0;
    if (haveWords && signature == MBI_VERSION_SIGNATURE && ReadU8(block, 4, major) && ReadU8(block, 5, minor) &&
        ReadU8(block, 6, sub)) {
    } else {
        OutputLevelMessage(LEVEL_DEBUG, "isCorrectFirmwareMBImage: No signature found!");
        major = minor = sub = 0;
    }
    if (version != nullptr) {
        version->ExistingMultibootVersionMajor = major;
        version->ExistingMultibootVersionMinor = minor;
        version->ExistingMultibootVersionSubMinor = sub;
    }
    OutputLevelMessage(LEVEL_DEBUG, "getMBImageVersionInFirmware: pImageVer = %d.%02d.%02d", major, minor, sub);
    OutputLevelMessage(LEVEL_DEBUG, "getMBImageVersionInFirmware: return %d", 0);
    return 0;
}

int getMBImageVersionInFirmwareFromAdapter(TVXDevice *device, MultibootVersion *version) {
    if (device == nullptr) return 8;
    if (device->nodeProperty.InterfaceKind == TVX_INTERFACE_VIRTUAL) return 286;
    uint32_t size = 0;
    switch (GetCxrType(device)) {
    case 10:
    case 11: size = 0x40000; break;
    case 12: size = 0x80000; break;
    default: return 0;
    }

    std::vector<uint8_t> block;
    if (GetOptionROMRegionSize(device, TVX_OPT_ROM_REGION_FW, &size) == 0) {
        std::vector<uint8_t> region;
        try {
            region.assign(size, 0);
        } catch (...) {
            return 0;
        }
        uint32_t readSize = size;
        int st = GetOptionROMRegionData(device, region, TVX_OPT_ROM_REGION_FW, &readSize);
        OutputLevelMessage(LEVEL_DEBUG,
                           "getMBImageVersionInFirmwareFromAdapter: tvxResult = %d (Region=0x%x, Size=0x%x)", st,
                           TVX_OPT_ROM_REGION_FW, size);
        // A region too short to hold the block counts as one without the
        // signature: the block stays all zero.
        block.assign(MBI_VERSION_BLOCK_SIZE, 0);
        if (InBounds(region.size(), MBI_VERSION_BLOCK_OFFSET, MBI_VERSION_BLOCK_SIZE))
            std::copy_n(region.begin() + MBI_VERSION_BLOCK_OFFSET, MBI_VERSION_BLOCK_SIZE, block.begin());
    } else {
        OutputLevelMessage(LEVEL_DEBUG,
                           "getMBImageVersionInFirmwareFromAdapter: regionBeg=0x%x, regionEnd=0x%x size=0x%x",
                           MBI_VERSION_BLOCK_OFFSET, 0xCFFFFu, MBI_VERSION_BLOCK_SIZE);
        block.assign(MBI_VERSION_BLOCK_SIZE, 0);
        TVX_STATUS st =
            TvxGetOptionRomOffset(device->handle, 0, block.data(), MBI_VERSION_BLOCK_SIZE, MBI_VERSION_BLOCK_OFFSET);
        if (st != TVX_STATUS_OK) {
            char err[128] = {0};
            TvxGetErrorString(st, err, sizeof(err));
            err[sizeof(err) - 1] = '\0';
            OutputLevelMessage(
                LEVEL_DEBUG, "getMBImageVersionInFirmwareFromAdapter: TvxGetOptionRomOffset failed 0x%x (%s)", st, err);
            return 36;
        }
    }
    getMBImageVersionInFirmware(block, version);
    OutputLevelMessage(LEVEL_DEBUG, "getMBImageVersionInFirmwareFromAdapter: return %d", 0);
    return 0;
}
