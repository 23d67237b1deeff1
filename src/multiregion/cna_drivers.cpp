#include "multiregion/cna_drivers.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/output.h"
#include "image/components.h"
#include "image/ilt.h"
#include "inventory/cxrtype.h"
#include "multiregion/memoblock.h"
#include "multiregion/update_common.h"
#include "oss/oss.h"
#include "update/flashregion.h"
#include "update/imagefile.h"
#include "update/optionrom.h"
#include "vpd/vpdrefresh.h"

namespace {

constexpr int kInvalidIds = 9;

// The message of a status of the image checks (the status table of the
// converged drivers).
void ShowImageStatus(int status, int inst, uint16_t ssdid, uint16_t ssvid, const char *file, const std::string &model) {
    switch (status) {
    case 450:
        OutputMessage(
            "File signature or layout does not match with current adapter (Instance=%d ssdid=0x%x ssvid=0x%x)!", inst,
            ssdid, ssvid);
        break;
    case 451:
    case 452:
        OutputMessage(
            "Selected flash image file does not match with current adapter (Instance=%d ssdid=0x%x ssvid=0x%x)!", inst,
            ssdid, ssvid);
        break;
    case 453: OutputMessage("Failed to modify multiboot image file '%s'!", file); break;
    case 505:
        OutputMessage("Incorrect flash image (Adapter chip revision does not match with image chip revision)!");
        break;
    case 506: OutputMessage("Incompatible flash image (Unknown flash layout table version)!"); break;
    case 507: OutputMessage("Invalid flash image (Wrong flash component)!"); break;
    case CNA_REGION_TOO_LONG: OutputMessage("Incompatible flash image (Region size mismatched)!"); break;
    case CNA_BIOS_DEFAULTS: OutputMessage("Unable to preserve BIOS default area of HBA (Instance %d)!", inst); break;
    case CNA_NO_MEMORY: OutputMessage("Memory allocation error!"); break;
    case 12:
    case 25:
    case 29: OutputMessage("Incorrect flash file, invalid checksum!"); break;
    case 22: OutputMessage("File %s does not have valid signature header!", file); break;
    case 23: OutputMessage("File %s does not have valid signature data!", file); break;
    case 27:
    case 30:
        OutputMessage("%s is not an acceptable flash FW file for this HBA (Instance %d - %s), wrong size!", file, inst,
                      model.c_str());
        break;
    case 31:
        OutputMessage("%s is not an acceptable flash boot code file for this HBA (Instance %d - %s), wrong size!", file,
                      inst, model.c_str());
        break;
    case 32:
        OutputMessage("%s is not an acceptable flash data file for this HBA (Instance %d - %s), wrong size!", file,
                      inst, model.c_str());
        break;
    default: OutputMessage("Incorrect flash file for HBA %d (Invalid SSDID/SSVID)!", inst); break;
    }
}

// Validation, counting, combining and the fit of every region write, in
// this order: 0 when the adapter may be written.
int CheckAndCombine(const FamilyTable &family, TVXDevice *device, std::span<uint8_t> image, std::span<uint8_t> flash,
                    std::span<const uint32_t> sequence, const std::vector<TVX_REGION_ENTRY> &layout,
                    const CombineAdapter &adapter, ImageVersionRecord &record, std::vector<PlannedWrite> &plan) {
    const char *name = family.driverName;
    const uint16_t chipRev = adapter.chipRev;
    const uint16_t rev = family.passChipRev ? chipRev : 0;
    const auto ssdid = static_cast<uint16_t>(adapter.ssdid);
    const auto ssvid = static_cast<uint16_t>(adapter.ssvid);
    (void)device;
    int st = family.reporter != nullptr ? family.reporter(image, sequence, rev) : 0;
    if (st == 0) st = family.validator(ssdid, ssvid, image, rev);
    if (st != 0) return st;
    const int cardType = family.cardType(image, ssdid, ssvid);
    if (cardType < 0) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "%s: Unable to find card type that matches current adapter (ssdid=0x%x ssvid=0x%x)!", name,
                           ssdid, ssvid);
        return 451;
    }
    const int expected = family.countByChipRev ? HowManyImagesForCardTypeGeneric(image, cardType, chipRev)
                                               : HowManyImagesForCardType(image, cardType);
    const int validated = family.walker(image, expected, cardType, &record, chipRev);
    if (validated != expected) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Failed to verify all images!", name);
        return CNA_NOT_VERIFIED;
    }
    const int combined = family.combiner(flash, image, validated, cardType, &adapter);
    if (combined != validated) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Failed to modify all images!", name);
        return CNA_NOT_COMBINED;
    }
    const uint32_t request = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
    plan = PlanRegionWrites(family, sequence, flash, layout, cardType, chipRev, request);
    return CheckPlannedWritesFit(name, plan, flash.size());
}

int RefreshVpd(const FamilyTable &family, TVXDevice *device, const std::vector<TVX_REGION_ENTRY> &layout,
               const ImageVersionRecord &record, std::span<const uint8_t> flash, uint16_t disableReset,
               const std::string &model) {
    const int inst = static_cast<int>(device->instance);
    int vpdStatus = 0;
    bool ran = false;
    for (const VpdStep &step : family.vpdSteps) {
        const uint32_t size = LayoutRegionSize(layout, step.region);
        if (size == 0) {
            OutputMessage("Unable to validate flash layout tables of HBA instance %d - %s!", inst, model.c_str());
            if (vpdStatus == 0) vpdStatus = CNA_NO_VPD_REGION;
            continue;
        }
        if (ran && step.waitBeforeMs > 0) OSSSleep(step.waitBeforeMs);
        ran = true;
        OutputText(step.progress);
        int st = 0;
        switch (step.routine) {
        case VpdRefresh::FcPair: st = UpdateAndRestoreFCVpds(device, &record, size, disableReset); break;
        case VpdRefresh::NicPair:
            st = UpdateAndRestoreNicVpds(device, flash.first(ILT_HEADER_SIZE), size, disableReset);
            break;
        case VpdRefresh::Lark: st = UpdateAndRestoreLarkVPD(device, &record, size, disableReset); break;
        case VpdRefresh::TeskFc:
            st = UpdateAndRestoreTeskFcVPD(device, &record, step.region, size, disableReset);
            break;
        }
        if (st == 0) {
            OutputMessage("%s", "Success");
        } else {
            OutputMessage("%s", "Unsuccessful");
            OutputMessage("Unable to update versions in VPD of HBA instance %d - %s!", inst, model.c_str());
            if (vpdStatus == 0) vpdStatus = CNA_VPD_FAILED;
        }
    }
    return vpdStatus;
}

void ShowSummary(bool multiPort, int vpdStatus, uint16_t disableReset, int inst, const std::string &model) {
    if (vpdStatus != 0) {
        if (multiPort)
            OutputLevelMessage(LEVEL_INFO, "Flash update complete on this HBA with errors in version updates in VPD.");
        else
            OutputLevelMessage(LEVEL_INFO,
                               "Flash update complete on HBA instance %d - %s with errors in version updates in VPD.",
                               inst, model.c_str());
    } else if (disableReset == 1) {
        OutputLevelMessage(LEVEL_INFO, "Flash update complete. Changes have been saved to all ports of this HBA.\nYou "
                                       "must reboot in order for the changes to become effective.");
    } else if (multiPort) {
        OutputLevelMessage(LEVEL_INFO, "Option ROM update complete. Changes have been saved to both ports of this "
                                       "HBA.\nYou must reboot in order for changes to take effect.");
    } else {
        OutputLevelMessage(LEVEL_INFO, "Flash update complete. Changes have been saved to all ports of this HBA.");
    }
}

// The driver's last log line; returns the status.
int Exit(const char *name, int flashStatus, int vpdStatus) {
    OutputLevelMessage(LEVEL_DEBUG, "%s: exit (FlashUpdStat=%d, VpdUpdStat=%d)", name, flashStatus, vpdStatus);
    return flashStatus;
}

int WriteSteps(const FamilyTable &family, std::span<const uint32_t> sequence) {
    int n = 0;
    for (uint32_t code : sequence) {
        const RegionStep *s = FindRegionStep(family, code);
        if (s != nullptr && !s->vpd) ++n;
    }
    return n;
}

} // namespace

int RunConvergedUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset, const FamilyTable &family) {
    const char *name = family.driverName;
    OutputLevelMessage(LEVEL_DEBUG, "%s: Enter", name);
    if (const int st = CheckRegionUpdateAdapter(device); st != 0) return st;
    const int inst = static_cast<int>(device->instance);
    const std::string model = UpdateModelText(device);
    const char *file = imageFile != nullptr ? imageFile : "";
    const uint16_t chipRev = device->chipProperty.ChipType;
    const std::vector<uint32_t> sequence = family.sequence(chipRev);

    std::vector<uint8_t> image;
    if (!CopyRunImageFile(file, image)) {
        OutputMessage("Unable to open boot/multi-boot image file (%s)!", file);
        return Exit(name, CNA_CANNOT_OPEN, 0);
    }

    std::vector<TVX_REGION_ENTRY> layout;
    if (const uint32_t lib = QueryOptionRomLayout(device, layout); lib != TVX_STATUS_OK) {
        OutputMessage("Flash update is not supported with HBA %d (0x%x %s)!", inst, lib, LibraryErrorText(lib).c_str());
        return Exit(name, CNA_LAYOUT_UNREADABLE, 0);
    }
    if (layout.empty()) {
        OutputMessage("No valid flash update region found!");
        return Exit(name, CNA_EMPTY_LAYOUT, 0);
    }
    std::vector<uint8_t> flash;
    try {
        flash.assign(image.size(), 0);
    } catch (const std::bad_alloc &) {
        OutputMessage("Memory allocation error!");
        return Exit(name, CNA_NO_MEMORY, 0);
    }

    // Current contents of the boot regions whose BIOS default area the new
    // code must keep. A region the adapter does not have is not written
    // either, so it needs no copy.
    std::vector<BootBackup> backups;
    for (size_t i = 0; i < family.bootRegions.size(); ++i) {
        const uint32_t code = family.bootRegions[i];
        const uint32_t size = LayoutRegionSize(layout, code);
        if (size == 0) continue;
        BootBackup b{code, std::vector<uint8_t>(size, 0)};
        uint32_t got = 0;
        if (GetOptionROMRegionData(device, b.data, code, &got) != 0) {
            OutputMessage("Unable to read %sboot code region of adapter %d (%s)!", family.bootReadFailures[i], inst,
                          model.c_str());
            return Exit(name, CNA_BOOT_UNREADABLE, 0);
        }
        backups.push_back(std::move(b));
    }

    OutputText("Validating Flash Image File... ");
    CombineAdapter adapter{0, 0, chipRev, device->chipProperty.PciDeviceId, model};
    uint16_t ssdid = 0;
    uint16_t ssvid = 0;
    ImageVersionRecord record{};
    std::vector<PlannedWrite> plan;
    int st = kInvalidIds;
    // Without the adapter's own IDs nothing can be checked or stamped.
    if (ReadAdapterSubsysIds(device, &ssdid, &ssvid) == TVX_STATUS_OK) {
        adapter.ssvid = ssvid;
        adapter.ssdid = ssdid;
        st = CheckAndCombine(family, device, image, flash, sequence, layout, adapter, record, plan);
        if (st == 0) st = CheckBiosDefaultAreas(device, plan, flash, backups);
    }
    if (st != 0) {
        OutputMessage("%s", "Failed");
        ShowImageStatus(st, inst, ssdid, ssvid, file, model);
        return Exit(name, st, 0);
    }
    OutputMessage("%s", "Success");

    const bool multiPort = CountAdapterPorts(device) >= 2;
    if (multiPort)
        OutputLevelMessage(LEVEL_INFO, "Updating Flash on HBA port(s) - %8s. Please wait...", model.c_str());
    else
        OutputLevelMessage(LEVEL_INFO, "Updating Flash on HBA instance %d - %8s. Please wait...", inst, model.c_str());
    std::vector<uint8_t>().swap(image);

    // A stop request waits until the adapter's whole sequence, memo block
    // and VPD are written.
    OSSBeginCriticalWrite();
    const LoopOutcome loop = RunRegionLoop(device, family, plan, flash, backups, disableReset);
    OSSSleep(family.afterLoopWaitMs);
    const int shown = family.expectedCount > 0 ? family.expectedCount : WriteSteps(family, sequence);
    bool countFailed = false;
    switch (family.countRule) {
    case CountRule::Exact: countFailed = loop.status != 0 || loop.written != family.expectedCount; break;
    case CountRule::AtMost: countFailed = loop.status != 0 || loop.written > family.expectedCount; break;
    case CountRule::None: break;
    }
    // An update that wrote nothing is no update, whatever the family's
    // count rule.
    if (loop.status == 0 && loop.written == 0) countFailed = true;

    int flashStatus = 0;
    if (countFailed) {
        OutputMessage("Unable to complete flash update on HBA Instance %d. Not all regions updated (%d of %d).", inst,
                      loop.written, shown);
        flashStatus = CNA_NOT_ALL_REGIONS;
    } else if (loop.status != 0) {
        flashStatus = loop.status;
    }

    int vpdStatus = 0;
    if (flashStatus == 0) {
        if (family.memoBlock) {
            IltHeader h{};
            ILT_Header_Read(flash, h);
            FlashMemoVersions memo{{record.image.major, record.image.minor, record.image.subMinor},
                                   {h.ffvVersion[0], h.ffvVersion[1], h.ffvVersion[2], h.ffvVersion[3]},
                                   h.buildMonth,
                                   h.buildDay,
                                   h.buildYear};
            if (int m = UpdateFlashMemoBlockRegion(device, &memo); m != 0)
                OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to update the flash memo block (%d)", name, m);
        }
        vpdStatus = RefreshVpd(family, device, layout, record, flash, disableReset, model);
    }
    OSSEndCriticalWrite();

    if (flashStatus == 0) ShowSummary(multiPort, vpdStatus, disableReset, inst, model);
    if (flashStatus != 0) return Exit(name, flashStatus, vpdStatus);
    Exit(name, flashStatus, vpdStatus);
    return loop.resetDisabled ? CNA_OK_RESET_DISABLED : CNA_OK;
}

int CNAOptionROMRegionUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset) {
    return RunConvergedUpdate(device, imageFile, disableReset, kFirstGenFamily);
}

int CNALarkORevA0ptionROMRegionUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset) {
    return RunConvergedUpdate(device, imageFile, disableReset, kLarkFamily);
}

int CNATeskOptionROMRegionUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset) {
    return RunConvergedUpdate(device, imageFile, disableReset, kTeskFamily);
}
