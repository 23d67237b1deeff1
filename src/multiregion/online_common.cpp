#include "multiregion/online_common.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "app/output.h"
#include "image/components.h"
#include "image/flt.h"
#include "image/ilt.h"
#include "inventory/cxrtype.h"
#include "multiregion/activate.h"
#include "multiregion/capabilities.h"
#include "multiregion/online_sets.h"
#include "multiregion/update_common.h"
#include "oss/oss.h"
#include "update/flashregion.h"
#include "update/imagefile.h"
#include "vpd/vpdrefresh.h"

namespace {

constexpr uint32_t kFltRegion = 0x1C;

void ShowImageStatus(const OnlineJob &job, int status) {
    switch (status) {
    case ILT_STATUS_SIGNATURE:
        OutputMessage(
            "File signature or layout does not match with current adapter (Instance=%d ssdid=0x%x ssvid=0x%x)!",
            job.inst, job.ssdid, job.ssvid);
        break;
    case ONLINE_NO_CARD_TYPE:
    case ONLINE_NOT_VERIFIED:
    case ILT_STATUS_NO_CARD_TYPE:
        OutputMessage(
            "Selected flash image file does not match with current adapter (Instance=%d ssdid=0x%x ssvid=0x%x)!",
            job.inst, job.ssdid, job.ssvid);
        break;
    case ONLINE_NOT_COMBINED: OutputMessage("Failed to modify multiboot image file '%s'!", job.file); break;
    case ILT_STATUS_CHIP_REVISION:
        OutputMessage("Incorrect flash image (Adapter chip revision does not match with image chip revision)!");
        break;
    case ILT_STATUS_TABLE_VERSION:
        OutputMessage("Incompatible flash image (Unknown flash layout table version)!");
        break;
    case ILT_STATUS_UNREADABLE: OutputMessage("Invalid flash image (Wrong flash component)!"); break;
    case ONLINE_REGION_TOO_LONG: OutputMessage("Incompatible flash image (Region size mismatched)!"); break;
    case ONLINE_NO_MEMORY: OutputMessage("Memory allocation error!"); break;
    case ONLINE_BIOS_DEFAULTS:
        OutputMessage("Unable to preserve BIOS default area of HBA (Instance %d)!", job.inst);
        break;
    case ONLINE_FC_BRDCFG_FAILED:
        OutputMessage("Flash update failed with HBA (Instance %d - %s). Checksum mismached!", job.inst,
                      job.model.c_str());
        break;
    default: OutputMessage("Incorrect flash file for HBA %d (Invalid SSDID/SSVID)!", job.inst); break;
    }
}

} // namespace

int StartOnlineJob(OnlineJob &job, const OnlineDriver &driver, TVXDevice *device, const char *imageFile) {
    OutputLevelMessage(LEVEL_DEBUG, "%s: Enter", driver.table->driverName);
    int st = CheckOnlineAdapter(job, device, imageFile);
    if (st != 0) return st;
    if (uint32_t caps = 0;
        driver.askCapabilities && TvxGetFlashUpdateCapabilities(device->handle, 0, &caps) != TVX_STATUS_OK) {
        OutputMessage("Option is unsupported with this HBA (instance %lu - %s)!", static_cast<unsigned long>(job.inst),
                      job.model.c_str());
        return ONLINE_CAPS_UNSUPPORTED;
    }
    return ReadOnlineImageAndLayout(job);
}

int CheckOnlineAdapter(OnlineJob &job, TVXDevice *device, const char *imageFile) {
    if (const int st = CheckRegionUpdateAdapter(device); st != 0) return st;
    job.device = device;
    job.file = imageFile != nullptr ? imageFile : "";
    job.inst = static_cast<int>(device->instance);
    job.model = UpdateModelText(device);
    job.chipRev = device->chipProperty.ChipType;
    job.fcDeviceId = device->chipProperty.PciDeviceId;

    // The IDs the adapter shows on PCI must be those its NVRAM carries: an
    // image stamped with the wrong IDs would change what the host sees.
    const uint16_t pciSsvid = device->chipProperty.SubsysVendorId;
    const uint16_t pciSsdid = device->chipProperty.SubsysDeviceId;
    uint32_t nvSsvid = 0;
    uint32_t nvSsdid = 0;
    const uint32_t stV = TvxGetVariableValue(device->handle, device->nvram1, TVX_NVRAM_PARAM_SSVID, &nvSsvid);
    const uint32_t stD = TvxGetVariableValue(device->handle, device->nvram1, TVX_NVRAM_PARAM_SSDID, &nvSsdid);
    char text[16];
    if (stV != TVX_STATUS_OK || nvSsvid != pciSsvid) {
        std::snprintf(text, sizeof text, stV == TVX_STATUS_OK ? "%x" : "????", nvSsvid);
        OutputMessage("Adapter subsystem vendor Id mismatched (pci ssvid=0x%x nvram ssvid=0x%s", pciSsvid, text);
        return ONLINE_ID_MISMATCH;
    }
    if (stD != TVX_STATUS_OK || nvSsdid != pciSsdid) {
        std::snprintf(text, sizeof text, stD == TVX_STATUS_OK ? "%x" : "????", nvSsdid);
        OutputMessage("Adapter subsystem device Id mismatched (pci ssdid=0x%x nvram ssdid=0x%s", pciSsdid, text);
        return ONLINE_ID_MISMATCH;
    }
    job.ssvid = static_cast<uint16_t>(nvSsvid);
    job.ssdid = static_cast<uint16_t>(nvSsdid);
    return 0;
}

int ReadOnlineImageAndLayout(OnlineJob &job) {
    if (!CopyRunImageFile(job.file, job.image)) {
        OutputMessage("Unable to open boot/multi-boot image file (%s)!", job.file);
        return ONLINE_CANNOT_OPEN;
    }
    if (const uint32_t lib = QueryOptionRomLayout(job.device, job.layout); lib != TVX_STATUS_OK || job.layout.empty()) {
        OutputMessage("Flash update is not supported with HBA %d (0x%x %s)!", job.inst, lib,
                      LibraryErrorText(lib).c_str());
        return ONLINE_LAYOUT_UNREADABLE;
    }
    try {
        job.flash.assign(job.image.size(), 0);
    } catch (const std::bad_alloc &) {
        OutputMessage("Memory allocation error!");
        return ONLINE_NO_MEMORY;
    }
    return 0;
}

int ReadOnlineRegion(OnlineJob &job, uint32_t region, std::vector<uint8_t> &out) {
    const uint32_t size = LayoutRegionSize(job.layout, region);
    if (size == 0) return OPTROM_NO_REGION;
    try {
        out.assign(size, 0);
    } catch (const std::bad_alloc &) {
        return ONLINE_NO_MEMORY;
    }
    uint32_t got = 0;
    return GetOptionROMRegionData(job.device, out, region, &got);
}

void LogAdapterFlashLayoutVersion(OnlineJob &job) {
    std::vector<uint8_t> flt;
    if (ReadOnlineRegion(job, kFltRegion, flt) != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "GetAdapterFlashLayoutVersion: Unable to read region 0x%x", kFltRegion);
        return;
    }
    OutputLevelMessage(LEVEL_DEBUG, "GetAdapterFlashLayoutVersion: FLT version 0x%x", GetFlashLayoutVersion(flt));
}

int ReadRunningBootCode(OnlineJob &job, int runningSet, std::vector<BootBackup> &backups) {
    backups.assign(1, BootBackup{0x07, {}});
    if (ReadOnlineRegion(job, runningSet == 1 ? 0x07 : 0x09, backups[0].data) != 0) {
        OutputMessage("Unable to read FC boot code region of adapter %d (%s)!", job.inst, job.model.c_str());
        return ONLINE_BOOT_UNREADABLE;
    }
    return 0;
}

int PrepareOnlineImage(OnlineJob &job, const OnlineImageFamily &family, std::span<const uint32_t> sequence,
                       const std::function<int(std::span<const uint8_t>, int, int)> &walker,
                       const std::function<uint32_t(uint32_t)> &target, std::span<const BootBackup> backups,
                       const std::function<int(const PlannedWrite &, std::span<uint8_t>)> &precheck) {
    const char *name = family.driverName;
    OutputText("Validating Flash Image File... ");
    int st = family.reporter(job.image, sequence, job.chipRev);
    if (st == 0) st = family.validator(job.ssdid, job.ssvid, job.image, job.chipRev);
    // No card type for the adapter, found by the validator or below.
    if (st == ILT_STATUS_NO_CARD_TYPE) st = ONLINE_NO_CARD_TYPE;
    if (st == 0) {
        job.cardType = ILT_TeskCardTypeList_GetMyCardTypeFromCardList(job.image, job.ssdid, job.ssvid);
        if (job.cardType < 0) {
            OutputLevelMessage(LEVEL_DEBUG,
                               "%s: Unable to find card type that matches current adapter (ssdid=0x%x ssvid=0x%x)!",
                               name, job.ssdid, job.ssvid);
            st = ONLINE_NO_CARD_TYPE;
        }
    }
    int validated = 0;
    if (st == 0) {
        const int expected = HowManyImagesForCardTypeGeneric(job.image, job.cardType, job.chipRev);
        validated = walker(job.image, expected, job.cardType);
        if (validated != expected || expected <= 0) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Failed to verify all images!", name);
            st = ONLINE_NOT_VERIFIED;
        }
    }
    if (st == 0) {
        const CombineAdapter adapter{job.ssvid, job.ssdid, job.chipRev, job.fcDeviceId, job.model};
        const int combined = family.combiner(job.flash, job.image, validated, job.cardType, &adapter);
        if (combined != validated) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Failed to modify all images!", name);
            st = ONLINE_NOT_COMBINED;
        }
    }
    if (st == 0) {
        const uint32_t request = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
        std::vector<PlannedWrite> plan =
            PlanRegionWrites(*family.table, sequence, job.flash, job.layout, job.cardType, job.chipRev, request);
        for (PlannedWrite &w : plan) {
            w.target = target(w.step->code);
            if (w.target == 0) continue;
            // The region buffer is the size of the region actually written.
            w.regionSize = LayoutRegionSize(job.layout, w.target);
            job.plan.push_back(w);
        }
        st = CheckPlannedWritesFit(name, job.plan, job.flash.size());
    }
    if (st == 0) st = CheckBiosDefaultAreas(job.device, job.plan, job.flash, backups);
    for (size_t i = 0; st == 0 && precheck && i < job.plan.size(); ++i) {
        std::vector<uint8_t> region;
        st = BuildRegionBuffer(job.device, job.plan[i], job.flash, backups, region);
        if (st == 0) st = precheck(job.plan[i], region);
    }
    if (st != 0) {
        OutputMessage("%s", "Failed");
        ShowImageStatus(job, st);
        return st;
    }
    OutputMessage("%s", "Success");
    return 0;
}

void BeginOnlineWrites(OnlineJob &job) {
    OutputLevelMessage(LEVEL_INFO, "Updating Flash on HBA port(s) - %8s. Please wait...", job.model.c_str());
    std::vector<uint8_t>().swap(job.image);
}

int HandOverFirmwareAttributes(OnlineJob &job, const OnlineDriver &driver, const PlannedWrite &w,
                               std::span<const uint8_t> region) {
    if (w.step->code != 0x01) return 0;
    uint64_t attributes = 0;
    GetFirmwareAttribute(region.first(std::min<size_t>(region.size(), w.entry.length)), driver.attributeSupport,
                         &attributes);
    const FirmwareAttributeBlock block = MakeFirmwareAttributeBlock(attributes);
    const uint32_t st = TvxSendFlashUpdateFWAttributes(job.device->handle, 0, block.data(), FW_ATTRIBUTE_BLOCK_SIZE);
    if (st == TVX_STATUS_OK) return 0;
    OutputLevelMessage(LEVEL_DEBUG, "%s: TvxSendFlashUpdateFWAttributes (0x%x - %s)", driver.table->driverName, st,
                       LibraryErrorText(st).c_str());
    if (driver.tellAttributeRefusal) ShowOnlineFailure(job, st, LibraryErrorText(st).c_str());
    return -1;
}

int CheckAllRegionsWritten(const OnlineJob &job, const OnlineDriver &driver, const LoopOutcome &loop) {
    if (loop.status != 0) return loop.status;
    const int planned = static_cast<int>(job.plan.size());
    if (loop.written == 0 || loop.written != planned || (driver.maxRegions > 0 && loop.written > driver.maxRegions)) {
        OutputMessage("Unable to complete flash update on HBA Instance %d. Not all regions updated (%d of %d).",
                      job.inst, loop.written, planned);
        return ONLINE_NOT_ALL_REGIONS;
    }
    return 0;
}

uint32_t WriteImageStatusRegion(OnlineJob &job, uint32_t region, std::span<const uint8_t> record,
                                uint16_t *disableReset) {
    const uint32_t size = LayoutRegionSize(job.layout, region);
    if (size < record.size()) return TVX_ERR_INVALID_REGION;
    std::vector<uint8_t> buf(size, 0xFF);
    std::memcpy(buf.data(), record.data(), record.size());
    return AppUpdateOptionRomEx3(job.device, buf.data(), region, size, disableReset);
}

int FlashUpdateSession::Start() {
    uint32_t id = 0;
    const uint32_t st = TvxStartFlashUpdate(job_.device->handle, 0, &id);
    if (st == TVX_ERR_SESSION_OPEN) {
        OutputMessage("Flash update session in progress, please wait %d minutes and try again.", SESSION_BUSY_MINUTES);
        return ONLINE_SESSION_OPEN;
    }
    if (st != TVX_STATUS_OK) {
        ShowOnlineFailure(job_, st, LibraryErrorText(st).c_str());
        return static_cast<int>(st);
    }
    OutputLevelMessage(LEVEL_DEBUG, "FlashUpdateSession: session %u started", id);
    session_ = id;
    open_ = true;
    return 0;
}

bool FlashUpdateSession::End() {
    if (!open_) return true;
    open_ = false;
    const uint32_t st = TvxEndFlashUpdate(job_.device->handle, 0, session_);
    if (st != TVX_STATUS_OK) {
        ShowOnlineFailure(job_, st, LibraryErrorText(st).c_str());
        return false;
    }
    OutputLevelMessage(LEVEL_DEBUG, "FlashUpdateSession: session %u ended", session_);
    return true;
}

int FinishOnlineSession(OnlineJob &job, FlashUpdateSession &session, int status, uint16_t disableReset) {
    if (!session.End() && status == 0) status = ONLINE_ACTIVATION_FAILED;
    if (status == 0) status = ActivateOnlineUpdate(job, disableReset);
    return status;
}

bool ShowOnlineCompletion(int status, int vpdStatus) {
    if ((status == ONLINE_OK || status == ONLINE_OK_RESET_NEEDED) && vpdStatus != 0) {
        OutputLevelMessage(LEVEL_INFO, "Flash update complete on this HBA with errors in version updates in VPD.");
    } else if (status == ONLINE_OK_RESET_NEEDED || status == ONLINE_ACTIVATION_FAILED_END) {
        OutputLevelMessage(LEVEL_INFO, "Flash update complete. Changes have been saved to all ports of this HBA.\nYou "
                                       "must reboot in order for the changes to become effective.");
    } else if (status == ONLINE_OK) {
        OutputLevelMessage(LEVEL_INFO, "Option ROM update complete. Changes have been saved to both ports of this "
                                       "HBA.\nYou must reboot in order for changes to take effect.");
    } else {
        return false;
    }
    return true;
}

void ShowOnlineFailure(const OnlineJob &job, uint32_t code, const char *text) {
    OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", job.inst, code, text);
}

int ActivateOnlineUpdate(OnlineJob &job, uint16_t disableReset) {
    if (disableReset != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "ActivateOnlineUpdate: Reset disabled, no activation");
        return ONLINE_OK_RESET_NEEDED;
    }
    const uint32_t st = AppActivateOnlineFlashUpdate(job.device);
    if (st == TVX_STATUS_OK) return ONLINE_OK;
    if (st == TVX_RESULT_RESET_DISABLED) return ONLINE_OK_RESET_NEEDED;
    if (st == TVX_ERR_ONLINE_UPDATE_FAILED) return ONLINE_ACTIVATION_FAILED_END;
    return ONLINE_ACTIVATION_FAILED;
}

int RefreshFenwarVpd(OnlineJob &job, const ImageVersionRecord &record, uint16_t disableReset) {
    uint32_t seq[4] = {};
    InitFenwarVpdUpdateSequence(seq, 4);
    int status = 0;
    bool ran = false;
    for (size_t i = 0; i < 4; ++i) {
        const uint32_t region = seq[i];
        const uint32_t size = LayoutRegionSize(job.layout, region);
        // Only the regions that hold a usable VPD are refreshed; FC VPD 2
        // and 3 exist on four-port cards only.
        const int valid = size == 0 ? VPD_REGION_BLANK : CheckNumberOfValidVpdRegion(job.device, region, size);
        if (valid == VPD_REGION_BLANK || valid == VPD_REGION_DAMAGED) {
            OutputLevelMessage(LEVEL_DEBUG, "RefreshFenwarVpd: Region 0x%x holds no usable VPD (%d)", region, valid);
            continue;
        }
        // A region that can't be read is not known to be absent: its
        // versions stay unrefreshed, which the summary tells.
        if (valid != 0) {
            OutputLevelMessage(LEVEL_DEBUG, "RefreshFenwarVpd: Region 0x%x unreadable (%d)", region, valid);
            OutputMessage("Unable to update versions in VPD of HBA instance %d - %s!", job.inst, job.model.c_str());
            status = ONLINE_VPD_FAILED;
            continue;
        }
        if (ran) OSSSleep(ONLINE_VPD_WAIT_MS);
        ran = true;
        char text[48];
        std::snprintf(text, sizeof text, "Updating Adapter FC VPD %zu... ", i);
        OutputText(text);
        if (UpdateAndRestoreTeskFcVPD(job.device, &record, region, size, disableReset) == 0) {
            OutputMessage("%s", "Success");
        } else {
            OutputMessage("%s", "Failed");
            OutputMessage("Unable to update versions in VPD of HBA instance %d - %s!", job.inst, job.model.c_str());
            status = ONLINE_VPD_FAILED;
        }
    }
    return status;
}

void OnlineMemoVersions(std::span<const uint8_t> flash, FlashMemoVersions &out) {
    IltHeader h{};
    ILT_Header_Read(flash, h);
    out = FlashMemoVersions{{h.imageVersion[0], h.imageVersion[1], h.imageVersion[2]},
                            {h.ffvVersion[0], h.ffvVersion[1], h.ffvVersion[2], h.ffvVersion[3]},
                            h.buildMonth,
                            h.buildDay,
                            h.buildYear};
}
