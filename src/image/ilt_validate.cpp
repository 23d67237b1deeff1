// Regions-to-update lists of the families, their reporters and the header
// validators that decide whether a multi-region image fits an adapter.
#include <optional>
#include <vector>

#include "app/output.h"
#include "image/helpers.h"
#include "image/ilt.h"

namespace {

void LogSlots(const char *name, const std::vector<uint32_t> &slots) {
    for (size_t i = 0; i < slots.size(); ++i)
        OutputLevelMessage(LEVEL_DEBUG, "%s: %zu: 0x%x", name, i, slots[i]);
}

// Region codes of the Fenwar and Zult secured online update, before their
// empty slots.
constexpr uint32_t kSecuredOnlineCodes[] = {0x9E, 0x07, 0xD3, 0xD1, 0x67, 0x01, 0x95, 0x96, 0x14, 0x16, 0xD4, 0xD6};

std::vector<uint32_t> SecuredOnlineList(size_t slots) {
    std::vector<uint32_t> list(slots, 0);
    for (size_t i = 0; i < std::size(kSecuredOnlineCodes) && i < slots; ++i)
        list[i] = kSecuredOnlineCodes[i];
    return list;
}

} // namespace

std::vector<uint32_t> ILT_InitLarkRegionsToUpdate(uint16_t adapterChipRev) {
    std::vector<uint32_t> list = {0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, adapterChipRev == 0x54 ? 0x74u : 0x97u, 0x81};
    LogSlots("ILT_InitLarkRegionsToUpdate", list);
    return list;
}

std::vector<uint32_t> ILT_InitTeskRegionsToUpdate() {
    std::vector<uint32_t> list = {0x07, 0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xA4, 0x01, 0x97, 0x81, 0x14, 0x16};
    LogSlots("ILT_InitTeskRegionsToUpdate", list);
    return list;
}

std::vector<uint32_t> ILT_InitFenwarSecuredOnlineRegionsToUpdate() {
    std::vector<uint32_t> list = SecuredOnlineList(14);
    LogSlots("ILT_InitFenwarSecuredOnlineRegionsToUpdate", list);
    return list;
}

std::vector<uint32_t> ILT_InitZultOnlineRegionsToUpdate() {
    std::vector<uint32_t> list = SecuredOnlineList(20);
    LogSlots("ILT_InitZultOnlineRegionsToUpdate", list);
    return list;
}

// ---- Regions-to-update reporters ----

namespace {

struct ReporterFamily {
    const char *name;
    int maxLogged;          // negative: the sequence length less one
    bool countNeedsChipRev; // count only for a non-zero adapter chip revision
};

constexpr ReporterFamily kLarkReporter{"ValidateILTImageRegionsToUpdate", 7, true};
constexpr ReporterFamily kTeskReporter{"ValidateTeskILTImageRegionsToUpdate", 10, false};
constexpr ReporterFamily kFenwarReporter{"ValidateFenwarILTImageRegionsToUpdate", -1, false};
constexpr ReporterFamily kZultReporter{"ValidateZultILTImageRegionsToUpdate", -1, false};

bool HasEntryFor(std::span<const uint8_t> ilt, uint16_t n, uint32_t code) {
    for (int i = 0; i + 2 <= n; ++i) {
        std::optional<IltRegionEntry> e = ILT_Region_GetRegionByIndex(ilt, i);
        if (!e) return false;
        if (e->regionCode == code) return true;
    }
    return false;
}

int ReportRegions(const ReporterFamily &fam, std::span<const uint8_t> ilt, std::span<const uint32_t> sequence,
                  uint16_t adapterChipRev) {
    if (!ILT_Header_CompareSignature(ilt)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: ILT signature not match!", fam.name);
        return ILT_STATUS_SIGNATURE;
    }
    if (!ILT_Header_IsTableVersionMatched(ilt, ILT_TABLE_VERSION_MAX)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: ILT table version not match!", fam.name);
        return ILT_STATUS_TABLE_VERSION;
    }
    if (fam.countNeedsChipRev && adapterChipRev == 0) return 0;
    uint16_t n = ILT_Header_GetNumOfRegionEntries(ilt);
    int matched = 0;
    for (uint32_t code : sequence)
        if (HasEntryFor(ilt, n, code)) ++matched;
    int maxLogged = fam.maxLogged >= 0 ? fam.maxLogged : static_cast<int>(sequence.size()) - 1;
    OutputLevelMessage(LEVEL_DEBUG, "%s: numberOfMatchedRegion=%d, max seq size=%d", fam.name, matched, maxLogged);
    return 0;
}

} // namespace

int ValidateILTImageRegionsToUpdate(std::span<const uint8_t> ilt, std::span<const uint32_t> sequence,
                                    uint16_t adapterChipRev) {
    return ReportRegions(kLarkReporter, ilt, sequence, adapterChipRev);
}

int ValidateTeskILTImageRegionsToUpdate(std::span<const uint8_t> ilt, std::span<const uint32_t> sequence,
                                        uint16_t adapterChipRev) {
    return ReportRegions(kTeskReporter, ilt, sequence, adapterChipRev);
}

int ValidateFenwarILTImageRegionsToUpdate(std::span<const uint8_t> ilt, std::span<const uint32_t> sequence,
                                          uint16_t adapterChipRev) {
    return ReportRegions(kFenwarReporter, ilt, sequence, adapterChipRev);
}

int ValidateZultILTImageRegionsToUpdate(std::span<const uint8_t> ilt, std::span<const uint32_t> sequence,
                                        uint16_t adapterChipRev) {
    return ReportRegions(kZultReporter, ilt, sequence, adapterChipRev);
}

// ---- Header validators ----

namespace {

struct HeaderFamily {
    const char *name;
    std::vector<uint32_t> (*regions)(uint16_t adapterChipRev);
    // First-generation and Lark: with chip revision 0 the table version and
    // the region checks are skipped.
    bool revZeroSkipsChecks;
    // Text of the chip revision failure line, before " with status=%d".
    const char *chipRevFailure;
};

const HeaderFamily kLarkHeader{"ValidateILTImageHeader", ILT_InitLarkRegionsToUpdate, true,
                               "ValidateImageChipRevision failed"};
const HeaderFamily kTeskHeader{"ValidateTeskILTImageHeader", [](uint16_t) { return ILT_InitTeskRegionsToUpdate(); },
                               false, "ValidateImageChipRevision failed"};
const HeaderFamily kFenwarHeader{"ValidateFenwarILTImageHeader",
                                 [](uint16_t) { return ILT_InitFenwarSecuredOnlineRegionsToUpdate(); }, false,
                                 "ValidateFenwarILTImageHeader failed"};
const HeaderFamily kZultHeader{"ValidateZultILTImageHeader",
                               [](uint16_t) { return ILT_InitZultOnlineRegionsToUpdate(); }, false, "Failed"};

// Result of the chip revision walk for one target code.
struct SlotResult {
    int status; // 0, 505 or 507
    int lastChipRevStatus;
    bool found;
};

SlotResult CheckSlot(const HeaderFamily &fam, std::span<const uint8_t> image, uint16_t n, uint32_t target,
                     uint16_t adapterChipRev) {
    SlotResult r{0, 0, false};
    bool seen = false;
    for (int i = 0; i + 2 <= n; ++i) {
        std::optional<IltRegionEntry> e = ILT_Region_GetRegionByIndex(image, i);
        if (!e) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to read ILT from MBI image file!", fam.name);
            r.status = ILT_STATUS_UNREADABLE;
            return r;
        }
        if (e->regionCode != target || r.found) continue;
        seen = true;
        int rev = ValidateImageChipRevision(&*e, adapterChipRev);
        if (rev == 0) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Found maching chip revision (ILT=0x%02x, HBA=0x%02x)", fam.name,
                               e->chipRev, adapterChipRev);
            r.found = true;
        } else {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Skipping region 0x%x with status=%d", fam.name, e->regionCode, rev);
            r.lastChipRevStatus = rev;
        }
    }
    if (seen && !r.found) r.status = ILT_STATUS_CHIP_REVISION;
    return r;
}

int ValidateHeader(const HeaderFamily &fam, uint16_t ssdid, uint16_t ssvid, std::span<const uint8_t> image,
                   uint16_t adapterChipRev) {
    if (image.size() < ILT_HEADER_SIZE) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Image buffer too small", fam.name);
        return ILT_STATUS_NO_CARD_TYPE;
    }
    if (!ILT_Header_CompareSignature(image)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: ILT signature not match!", fam.name);
        return ILT_STATUS_SIGNATURE;
    }
    IltHeader h{};
    ILT_Header_Read(image, h);
    char version[16];
    OutputLevelMessage(LEVEL_DEBUG, "%s: ILT tableVersion=%u tableLength=%u tableCheckSum=0x%04x version=%s", fam.name,
                       h.tableVersion, h.tableLength, h.tableCheckSum,
                       ILT_Header_GetImageVersionString(image, version, sizeof(version)));

    bool checks = !(fam.revZeroSkipsChecks && adapterChipRev == 0);
    if (checks && !ILT_Header_IsTableVersionMatched(image, ILT_TABLE_VERSION_MAX)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: ILT table version not match!", fam.name);
        return ILT_STATUS_TABLE_VERSION;
    }
    // A table whose entries run past the image is refused whatever the
    // revision: nothing of it can be trusted.
    if (!ILT_Header_EntriesInBuffer(image)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to read ILT from MBI image file!", fam.name);
        return ILT_STATUS_UNREADABLE;
    }

    std::vector<uint32_t> toUpdate;
    if (checks) {
        uint16_t n = ILT_Header_GetNumOfRegionEntries(image);
        for (uint32_t target : fam.regions(adapterChipRev)) {
            if (target == 0) continue; // empty slot
            SlotResult r = CheckSlot(fam, image, n, target, adapterChipRev);
            if (r.status == ILT_STATUS_CHIP_REVISION) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: %s with status=%d", fam.name, fam.chipRevFailure,
                                   r.lastChipRevStatus);
                return r.status;
            }
            if (r.status != 0) return r.status;
            if (r.found) toUpdate.push_back(target);
        }
    }
    for (uint32_t code : toUpdate)
        OutputLevelMessage(LEVEL_DEBUG, "%s: region to update 0x%x", fam.name, code);
    ILT_LogCardTypeLists(image, fam.name);

    if (!SearchSignatureInDefaultCardList(image, ssdid, ssvid)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: No matching card type (Signature not OK)", fam.name);
        return ILT_STATUS_NO_CARD_TYPE;
    }
    if (ILT_CardTypeList_GetMyCardTypeFromCardList(image, ssdid, ssvid) == ILT_NO_CARD_TYPE) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: No matching card type!", fam.name);
        return ILT_STATUS_NO_CARD_TYPE;
    }
    return 0;
}

} // namespace

int ValidateILTImageHeader(uint16_t ssdid, uint16_t ssvid, std::span<const uint8_t> image, uint16_t adapterChipRev) {
    return ValidateHeader(kLarkHeader, ssdid, ssvid, image, adapterChipRev);
}

int ValidateTeskILTImageHeader(uint16_t ssdid, uint16_t ssvid, std::span<const uint8_t> image,
                               uint16_t adapterChipRev) {
    return ValidateHeader(kTeskHeader, ssdid, ssvid, image, adapterChipRev);
}

int ValidateFenwarILTImageHeader(uint16_t ssdid, uint16_t ssvid, std::span<const uint8_t> image,
                                 uint16_t adapterChipRev) {
    return ValidateHeader(kFenwarHeader, ssdid, ssvid, image, adapterChipRev);
}

int ValidateZultILTImageHeader(uint16_t ssdid, uint16_t ssvid, std::span<const uint8_t> image,
                               uint16_t adapterChipRev) {
    return ValidateHeader(kZultHeader, ssdid, ssvid, image, adapterChipRev);
}
