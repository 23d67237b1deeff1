// Version refresh of the VPD regions: reads through the region primitives
// (and the library for the newer families' retried reads), edits through
// the pure record functions, writes through the region write.
#include "vpd/vpdrefresh.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "app/output.h"
#include "inventory/cxrtype.h"
#include "oss/oss.h"
#include "update/flashregion.h"
#include "vpd/vpd.h"

namespace {

constexpr uint8_t kStartTag = 0x82;
constexpr uint8_t kEndTag = 0x78;

constexpr uint32_t kLarkFamilyRegions[] = {0x81, 0x14, 0x16,  0xD4,  0xD6,  0x50, 0x52,
                                           0xD8, 0xDA, 0x10C, 0x10E, 0x110, 0x112};

bool LarkFamilyRegion(uint32_t region) {
    return std::find(std::begin(kLarkFamilyRegions), std::end(kLarkFamilyRegions), region) !=
           std::end(kLarkFamilyRegions);
}

bool HasByte(const std::vector<uint8_t> &buf, uint8_t value) {
    return std::find(buf.begin(), buf.end(), value) != buf.end();
}

bool Allocate(std::vector<uint8_t> &buf, size_t size) {
    try {
        buf.assign(size, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

// A field rewrite whose walk leaves the buffer means a damaged record.
int Edit(std::vector<uint8_t> &buf, const char *keyword, const VpdText &text) {
    int st = UpdateVpdField(buf.data(), buf.size(), keyword, text.bytes, sizeof(text.bytes));
    return st == VPD_MALFORMED ? VPD_REGION_DAMAGED : st;
}

// Blank, start-tag and end-tag tests of a region image, with the caller's
// trace lines. 0 when the image may be edited.
int CheckTags(const char *name, const std::vector<uint8_t> &buf) {
    if (IsBlankVpd(buf.data(), buf.size())) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Detected a blank VPD!", name);
        return VPD_REGION_BLANK;
    }
    if (!HasByte(buf, kStartTag)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: No start tag found", name);
        return VPD_REGION_DAMAGED;
    }
    if (!HasByte(buf, kEndTag)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: No end tag found", name);
        return VPD_REGION_DAMAGED;
    }
    return 0;
}

// Multi-boot version into "RM", else "V9". 0, 164 when neither exists, or
// the failure of "V9".
int EditMultiboot(std::vector<uint8_t> &buf, const VpdText &text) {
    int st = Edit(buf, "RM", text);
    if (st != 0) st = Edit(buf, "V9", text);
    return st;
}

struct FcField {
    const char *keyword;
    const char *what;
};

// The four FC version fields of an FC (or FCoE) function.
int EditFcFields(const char *name, std::vector<uint8_t> &buf, const ImageVersionRecord &v) {
    static constexpr FcField kFields[] = {
        {"V1", "FC EFI Version"},
        {"V3", "FC Firmware Version"},
        {"V4", "FC BIOS Version"},
        {"V5", "FC BIOS Version"},
    };
    const VpdText texts[] = {
        VpdTwoPartText(v.fcEfi.major, v.fcEfi.minor),
        VpdFirmwareText(v.riscFw.major, v.riscFw.minor, v.riscFw.subMinor),
        VpdTwoPartText(v.fcBios.major, v.fcBios.minor),
        VpdTwoPartText(v.fcFcode.major, v.fcFcode.minor),
    };
    for (size_t i = 0; i < std::size(kFields); ++i) {
        int st = Edit(buf, kFields[i].keyword, texts[i]);
        if (st == VPD_FIELD_NOT_FOUND) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: %s field does not exist and not updated", name, kFields[i].what);
        } else if (st != 0) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Failed to update %s, status=%d", name, kFields[i].what, st);
            return st;
        }
    }
    return 0;
}

// Writes the edited image; 0, or the library's answer.
int WriteVpd(const char *name, TVXDevice *device, const std::vector<uint8_t> &buf, uint32_t region,
             uint16_t disableReset, const char *doneLine, uint8_t *save, size_t vpdSize) {
    const uint32_t lib =
        AppUpdateOptionRomEx2(device, buf.data(), region, static_cast<uint32_t>(buf.size()), disableReset);
    if (lib != TVX_STATUS_OK && lib != TVX_RESULT_RESET_DISABLED) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to flash VPD (0x%X - %s).\n", name, lib,
                           LibraryErrorText(lib).c_str());
        return static_cast<int>(lib);
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s", doneLine);
    if (save != nullptr) {
        std::memcpy(save, buf.data(), std::min(vpdSize, buf.size()));
        OutputLevelMessage(LEVEL_DEBUG, "%s: VPD data was saved for restore!", name);
    }
    return 0;
}

// Reads a region of the newer families: up to 18 attempts 5 seconds apart;
// after the last failure the buffer stays zero-filled. True when a read
// succeeded.
bool ReadRetried(const char *name, TVXDevice *device, std::vector<uint8_t> &buf, uint32_t region, bool traceEach) {
    uint32_t lib = TVX_STATUS_OK;
    for (int i = 0; i < VPD_READ_ATTEMPTS; ++i) {
        if (i > 0) OSSSleep(VPD_READ_WAIT_MS);
        std::fill(buf.begin(), buf.end(), 0);
        lib = TvxGetOptionRomEx(device->handle, 0, buf.data(), static_cast<uint32_t>(buf.size()), region);
        if (lib == TVX_STATUS_OK) return true;
        if (traceEach)
            OutputLevelMessage(LEVEL_DEBUG, "%s: i=%d TvxGetOptionRomEx() failed with error 0x%x - %s!", name, i, lib,
                               LibraryErrorText(lib).c_str());
    }
    std::fill(buf.begin(), buf.end(), 0);
    if (!traceEach)
        OutputLevelMessage(LEVEL_DEBUG, "%s: TvxGetOptionRomEx() failed, returns 0x%x (%s)", name, lib,
                           LibraryErrorText(lib).c_str());
    return false;
}

using PairUpdate = int (*)(TVXDevice *, const void *, uint32_t, size_t, uint8_t *, uint16_t);

int FcPairUpdate(TVXDevice *d, const void *src, uint32_t region, size_t size, uint8_t *save, uint16_t reset) {
    return UpdateFCVpdRegion(d, static_cast<const ImageVersionRecord *>(src), region, size, save, reset);
}

int NicPairUpdate(TVXDevice *d, const void *src, uint32_t region, size_t size, uint8_t *save, uint16_t reset) {
    const auto *ilt = static_cast<const std::span<const uint8_t> *>(src);
    return UpdateNicVpdRegion(d, *ilt, region, size, save, reset);
}

// Both copies of a VPD pair, restoring a blank or damaged copy from the
// other one's freshly written image.
int UpdatePair(const char *name, const char *kind, TVXDevice *device, PairUpdate update, const void *src, uint32_t vpd0,
               uint32_t vpd1, size_t vpdSize, uint16_t disableReset) {
    std::vector<uint8_t> saved;
    if (!Allocate(saved, vpdSize)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s:: Unable to allocate memory for VPD!", name);
        return VPD_NO_MEMORY;
    }
    int st = update(device, src, vpd0, vpdSize, saved.data(), disableReset);
    if (st == 0) {
        int st1 = update(device, src, vpd1, vpdSize, nullptr, disableReset);
        if (st1 == 0) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Successfully update and flash %s VPD 1!", name, kind);
        } else if (st1 == VPD_REGION_BLANK) {
            OutputLevelMessage(
                LEVEL_DEBUG, "%s: %s VPD 1 is blank and will not be updated.  This is a single port CNA!", name, kind);
        } else if (st1 == VPD_REGION_DAMAGED) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: %s VPD 1 appears to be corrupted. Now try to restore from %s VPD 0...",
                               name, kind, kind);
            const uint32_t lib =
                AppUpdateOptionRomEx2(device, saved.data(), vpd1, static_cast<uint32_t>(vpdSize), disableReset);
            if (lib == TVX_STATUS_OK || lib == TVX_RESULT_RESET_DISABLED) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: Restore %s VPD 1 completes successfully!", name, kind);
            } else {
                OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to flash %s VPD 1 (0x%X - %s).\n", name, kind, lib,
                                   LibraryErrorText(lib).c_str());
                st = VPD_REGION_DAMAGED;
            }
        } else {
            st = st1;
        }
    } else if (st == VPD_REGION_DAMAGED || st == VPD_REGION_BLANK) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Detected corrupted or blank %s VPD 0. Now try to restore from %s VPD 1...",
                           name, kind, kind);
        std::fill(saved.begin(), saved.end(), 0);
        if (update(device, src, vpd1, vpdSize, saved.data(), disableReset) == 0) {
            OutputLevelMessage(LEVEL_DEBUG,
                               "%s: Successfully update and flash %s VPD 1.  Now trying to restore %s VPD 0...", name,
                               kind, kind);
            const uint32_t lib =
                AppUpdateOptionRomEx2(device, saved.data(), vpd0, static_cast<uint32_t>(vpdSize), disableReset);
            if (lib == TVX_STATUS_OK || lib == TVX_RESULT_RESET_DISABLED) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: Restore %s VPD 0 completes successfully!", name, kind);
                st = 0;
            } else {
                // The region routine's name heads this line, as in its own failures.
                OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to flash %s VPD 0 (0x%X - %s).\n",
                                   update == FcPairUpdate ? "UpdateFCVpdRegion" : "UpdateNicVpdRegion", kind, lib,
                                   LibraryErrorText(lib).c_str());
            }
        } else {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to restore %s VPD 0...", name, kind);
        }
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: Exit, status=%d", name, st);
    return st;
}

} // namespace

VpdText VpdTwoPartText(uint8_t major, uint8_t minor) {
    VpdText t{};
    std::snprintf(reinterpret_cast<char *>(t.bytes), sizeof t.bytes, "%02d.%02d", major, minor);
    return t;
}

VpdText VpdFirmwareText(uint8_t major, uint8_t minor, uint8_t subMinor) {
    VpdText t{};
    if (major >= 100)
        std::snprintf(reinterpret_cast<char *>(t.bytes), sizeof t.bytes, "%03d.%03d.%03d", major, minor, subMinor);
    else
        std::snprintf(reinterpret_cast<char *>(t.bytes), sizeof t.bytes, "%02d.%02d.%02d", major, minor, subMinor);
    return t;
}

VpdText VpdMultibootText(uint8_t major, uint8_t minor, uint8_t subMinor) {
    VpdText t{};
    std::snprintf(reinterpret_cast<char *>(t.bytes), sizeof t.bytes, "%02d%02d%02d", major, minor, subMinor);
    return t;
}

VpdText VpdDellMultibootText(uint8_t major, uint8_t minor, uint8_t subMinor) {
    VpdText t{};
    std::snprintf(reinterpret_cast<char *>(t.bytes), sizeof t.bytes, "FFV%02d.%02d.%02d", major, minor, subMinor);
    return t;
}

int UpdateFCVpdRegion(TVXDevice *device, const ImageVersionRecord *versions, uint32_t region, size_t vpdSize,
                      uint8_t *save, uint16_t disableReset) {
    static const char kName[] = "UpdateFCVpdRegion";
    if (device == nullptr || versions == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateFCVpdRegion: pDevice is NULL");
        return VPD_NO_ADAPTER;
    }
    if (region != 0x14 && region != 0x16) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateFCVpdRegion: Detected invalid region number, iRegionNo=0x%X", region);
        return VPD_BAD_REGION;
    }
    std::vector<uint8_t> buf;
    if (!Allocate(buf, vpdSize)) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateFCVpdRegion:: Unable to allocate memory for VPD!");
        return VPD_NO_MEMORY;
    }
    int st = getHBAOptionROMInfos(device, buf, region);
    if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateFCVpdRegion: getHBAOptionROMInfos failed, returns %d", st);
        return st;
    }
    if ((st = CheckTags(kName, buf)) != 0) return st;
    if ((st = EditFcFields(kName, buf, *versions)) != 0) return st;
    const ComponentVersion &m = versions->image;
    st = EditMultiboot(buf, VpdMultibootText(m.major, m.minor, m.subMinor));
    if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateFCVpdRegion: Failed to update Flash Image Version, status=%d", st);
        return st;
    }
    return WriteVpd(kName, device, buf, region, disableReset, "UpdateFCVpdRegion: Flash VPD completes successfully!",
                    save, vpdSize);
}

int UpdateNicVpdRegion(TVXDevice *device, std::span<const uint8_t> iltHeader, uint32_t region, size_t vpdSize,
                       uint8_t *save, uint16_t disableReset) {
    static const char kName[] = "UpdateNicVpdRegion";
    if (device == nullptr || iltHeader.size() < 16) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateNicVpdRegion: pDevice is NULL");
        return VPD_NO_ADAPTER;
    }
    if (region != 0x2C && region != 0x2D) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateNicVpdRegion: Detected invalid region number, iRegionNo=0x%X", region);
        return VPD_BAD_NIC_REGION;
    }
    std::vector<uint8_t> buf;
    if (!Allocate(buf, vpdSize)) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateNicVpdRegion:: Unable to allocate memory for VPD!");
        return VPD_NO_MEMORY;
    }
    int st = getHBAOptionROMInfos(device, buf, region);
    if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateNicVpdRegion: getHBAOptionROMInfos failed, returns %d", st);
        return st;
    }
    if ((st = CheckTags(kName, buf)) != 0) return st;
    st = EditMultiboot(buf, VpdMultibootText(iltHeader[13], iltHeader[14], iltHeader[15]));
    if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateNicVpdRegion: UpdateVpdField failed, returns %d", st);
        return st;
    }
    return WriteVpd(kName, device, buf, region, disableReset, "UpdateNicVpdRegion: Flash VPD completes successfully!",
                    save, vpdSize);
}

int UpdateLarkVpdRegion(TVXDevice *device, const ImageVersionRecord *versions, uint32_t region, size_t vpdSize,
                        uint8_t *save, uint16_t disableReset) {
    static const char kName[] = "UpdateLarkVpdRegion";
    if (device == nullptr || versions == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateLarkVpdRegion: Unable to find adapter");
        return VPD_NO_ADAPTER;
    }
    if (!LarkFamilyRegion(region)) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateLarkVpdRegion: Detected invalid region number, iRegionNo=0x%X", region);
        return VPD_BAD_REGION;
    }
    std::vector<uint8_t> buf;
    if (!Allocate(buf, vpdSize)) return VPD_NO_MEMORY;
    ReadRetried(kName, device, buf, region, true);
    int st = CheckTags(kName, buf);
    if (st != 0) return st;
    if (GetCxrType(device) <= 12 && (st = EditFcFields(kName, buf, *versions)) != 0) return st;

    const ComponentVersion &m = versions->image;
    st = EditMultiboot(buf, VpdMultibootText(m.major, m.minor, m.subMinor));
    if (st == VPD_FIELD_NOT_FOUND) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "UpdateLarkVpdRegion: MBI Version (\"V9\") field does not exist and not updated");
    } else if (st != 0) {
        return st;
    }
    st = Edit(buf, "VV", VpdDellMultibootText(m.major, m.minor, m.subMinor));
    if (st == VPD_FIELD_NOT_FOUND) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "UpdateLarkVpdRegion: DELL MBI Version (\"VV\") field does not exist and not updated");
    } else if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateLarkVpdRegion: Failed to update DELL MBI Version, status=%d", st);
        return VPD_VV_FAILED;
    }
    return WriteVpd(kName, device, buf, region, disableReset, "UpdateLarkVpdRegion: VPD update completes successfully!",
                    save, vpdSize);
}

int UpdateAndRestoreFCVpds(TVXDevice *device, const ImageVersionRecord *versions, size_t vpdSize,
                           uint16_t disableReset) {
    return UpdatePair("UpdateAndRestoreFCVpds", "FC", device, FcPairUpdate, versions, 0x14, 0x16, vpdSize,
                      disableReset);
}

int UpdateAndRestoreNicVpds(TVXDevice *device, std::span<const uint8_t> iltHeader, size_t vpdSize,
                            uint16_t disableReset) {
    return UpdatePair("UpdateAndRestoreNicVpds", "NIC", device, NicPairUpdate, &iltHeader, 0x2C, 0x2D, vpdSize,
                      disableReset);
}

int UpdateAndRestoreLarkVPD(TVXDevice *device, const ImageVersionRecord *versions, size_t vpdSize,
                            uint16_t disableReset) {
    std::vector<uint8_t> scratch;
    if (!Allocate(scratch, vpdSize)) return VPD_NO_MEMORY;
    const uint32_t region = 0x81;
    int st = UpdateLarkVpdRegion(device, versions, region, vpdSize, scratch.data(), disableReset);
    if (st == VPD_REGION_DAMAGED)
        OutputLevelMessage(LEVEL_DEBUG, "UpdateLarkVpdRegion: VPD region is corrupted (0x%X).\n", region);
    else if (st == VPD_REGION_BLANK)
        OutputLevelMessage(LEVEL_DEBUG, "UpdateLarkVpdRegion: VPD region is blank VPD (0x%X).\n", region);
    else if (st != 0)
        OutputLevelMessage(LEVEL_DEBUG, "UpdateLarkVpdRegion: Unable to update VPD (0x%X).\n", region);
    else
        OutputLevelMessage(LEVEL_DEBUG, "UpdateAndRestoreLarkVPD: Lark VPD updated successfully");
    return st;
}

int UpdateAndRestoreTeskFcVPD(TVXDevice *device, const ImageVersionRecord *versions, uint32_t region, size_t vpdSize,
                              uint16_t disableReset) {
    std::vector<uint8_t> scratch;
    if (!Allocate(scratch, vpdSize)) return VPD_NO_MEMORY;
    int st = UpdateLarkVpdRegion(device, versions, region, vpdSize, scratch.data(), disableReset);
    if (st == VPD_REGION_BLANK)
        OutputLevelMessage(LEVEL_DEBUG, "UpdateAndRestoreTeskFcVPD: VPD is blank.\n");
    else if (st != 0)
        OutputLevelMessage(LEVEL_DEBUG, "UpdateAndRestoreTeskFcVPD: Unable to update VPD (0x%X).\n", region);
    else
        OutputLevelMessage(LEVEL_DEBUG, "UpdateAndRestoreTeskFcVPD: VPD updated successfully");
    return st;
}

int CheckNumberOfValidVpdRegion(TVXDevice *device, uint32_t region, size_t vpdSize) {
    static const char kName[] = "CheckNumberOfValidVpdRegion";
    if (device == nullptr || !LarkFamilyRegion(region)) return VPD_BAD_REGION;
    std::vector<uint8_t> buf;
    if (!Allocate(buf, vpdSize)) return VPD_NO_MEMORY;
    if (!ReadRetried(kName, device, buf, region, false)) return VPD_BAD_REGION;
    if (IsBlankVpd(buf.data(), buf.size())) {
        OutputLevelMessage(LEVEL_DEBUG, "CheckNumberOfValidVpdRegion: Detected blank VPD!");
        return VPD_REGION_BLANK;
    }
    if (!HasByte(buf, kStartTag)) {
        OutputLevelMessage(LEVEL_DEBUG, "CheckNumberOfValidVpdRegion: Missing Start tag!");
        return VPD_REGION_DAMAGED;
    }
    if (!HasByte(buf, kEndTag)) {
        OutputLevelMessage(LEVEL_DEBUG, "CheckNumberOfValidVpdRegion: Missing Eng tag!");
        return VPD_REGION_DAMAGED;
    }
    return 0;
}
