#include "update/installed_versions.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/output.h"
#include "image/helpers.h"
#include "inventory/cxrtype.h"
#include "multiregion/memoblock.h"
#include "update/flashregion.h"
#include "update/scratch.h"
#include "vpd/vpd.h"

namespace {

constexpr size_t kVpdValueSize = 256;

int ReadVpd(TVXDevice *device, const char *keyword, std::string &value) {
    char buffer[kVpdValueSize] = {0};
    int st = RetrieveSpecificVPDField(device, keyword, buffer, sizeof(buffer));
    buffer[sizeof(buffer) - 1] = '\0';
    value = st == 0 ? buffer : "";
    return st;
}

} // namespace

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
        ScratchBytes scratch(size);
        if (!scratch.ok()) return 0;
        const std::span<uint8_t> region = scratch.span();
        // Only the version block is looked at: it reads as zeros when the
        // read does not reach it.
        if (InBounds(region.size(), MBI_VERSION_BLOCK_OFFSET, MBI_VERSION_BLOCK_SIZE))
            std::fill_n(region.begin() + MBI_VERSION_BLOCK_OFFSET, MBI_VERSION_BLOCK_SIZE, uint8_t{0});
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
        uint32_t st = ReadOptionRomAtOffset(device, block.data(), MBI_VERSION_BLOCK_SIZE, MBI_VERSION_BLOCK_OFFSET);
        if (st != TVX_STATUS_OK) {
            OutputLevelMessage(LEVEL_DEBUG,
                               "getMBImageVersionInFirmwareFromAdapter: TvxGetOptionRomOffset failed 0x%x (%s)", st,
                               LibraryErrorText(st).substr(0, 127).c_str());
            return 36;
        }
    }
    getMBImageVersionInFirmware(block, version);
    OutputLevelMessage(LEVEL_DEBUG, "getMBImageVersionInFirmwareFromAdapter: return %d", 0);
    return 0;
}

int GetExistingCNAFlashImageVersions(TVXDevice *device, InstalledImageVersions *versions) {
    if (device == nullptr || versions == nullptr) return 8;
    int type = GetCxrType(device);
    if (type >= 10 && type <= 12) return getMBImageVersionInFirmwareFromAdapter(device, &versions->mbi);
    if (type >= 25) {
        uint8_t memo[48] = {0};
        int st = GetAdapterFlashMemoBlock(device, memo);
        if (st == 0) {
            versions->mbi.ExistingMultibootVersionMajor = memo[20];
            versions->mbi.ExistingMultibootVersionMinor = memo[21];
            versions->mbi.ExistingMultibootVersionSubMinor = memo[22];
        }
        return st;
    }

    std::string value;
    int st = ReadVpd(device, "V1", value);
    if (st != 0)
        OutputLevelMessage(
            LEVEL_DEBUG, "GetExistingCNAFlashImageVersions: Unable to retrieve FC EFI Version from VPD, status=%d", st);
    ParseVpdTwoPartVersion(value.c_str(), versions->fcEfiVer);

    st = ReadVpd(device, "V3", value);
    if (st != 0)
        OutputLevelMessage(
            LEVEL_DEBUG, "GetExistingCNAFlashImageVersions: Unable to retrieve FC Firmware Version from VPD, status=%d",
            st);
    ParseVpdFirmwareVersion(value.c_str(), versions->riscFwVer);

    st = ReadVpd(device, "V4", value);
    if (st != 0)
        OutputLevelMessage(LEVEL_DEBUG,
                           "GetExistingCNAFlashImageVersions: Unable to retrieve FC BIOS Version from VPD, status=%d",
                           st);
    ParseVpdTwoPartVersion(value.c_str(), versions->fcBiosVer);

    st = ReadVpd(device, "V5", value);
    if (st != 0)
        OutputLevelMessage(LEVEL_DEBUG,
                           "GetExistingCNAFlashImageVersions: Unable to retrieve FC FCode Version from VPD, status=%d",
                           st);
    ParseVpdTwoPartVersion(value.c_str(), versions->fcFcodeVer);

    int mbiStatus = 0;
    for (const char *kw : {"VV", "RM", "V9"}) {
        mbiStatus = ReadVpd(device, kw, value);
        if (mbiStatus == 0) break;
        OutputLevelMessage(LEVEL_DEBUG,
                           "GetExistingCNAFlashImageVersions: Unable to retrieve %s (MBI Version) from VPD, status=%d",
                           kw, mbiStatus);
    }
    uint8_t mbi[3] = {0, 0, 0};
    ParseVpdDigitVersion(value.c_str(), mbi, 3);
    versions->mbi.ExistingMultibootVersionMajor = mbi[0];
    versions->mbi.ExistingMultibootVersionMinor = mbi[1];
    versions->mbi.ExistingMultibootVersionSubMinor = mbi[2];

    st = ReadVpd(device, "VA", value);
    if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "GetExistingCNAFlashImageVersions: Unable to retrieve FFV Version from VPD, status=%d", st);
        return mbiStatus;
    }
    uint8_t ffv[3] = {0, 0, 0};
    ParseVpdDigitVersion(value.c_str(), ffv, 3);
    versions->ffvVer[0] = ffv[0];
    versions->ffvVer[1] = ffv[1];
    versions->ffvVer[3] = ffv[2];
    return mbiStatus;
}
