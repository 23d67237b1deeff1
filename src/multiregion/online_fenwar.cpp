// 27xx (Fenwar) updates: online into the flash set that is not running,
// with the status records flipped after every region is written and the
// new set activated; offline into the primary set for adapters whose
// library or firmware has no online update.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "app/output.h"
#include "image/components.h"
#include "image/ilt.h"
#include "multiregion/activeregions.h"
#include "multiregion/capabilities.h"
#include "multiregion/memoblock.h"
#include "multiregion/online.h"
#include "multiregion/online_common.h"
#include "multiregion/online_sets.h"
#include "multiregion/regionio.h"
#include "oss/oss.h"
#include "update/flashregion.h"

namespace {

using W = WriteWrapper;
constexpr unsigned kWait = ONLINE_REGION_WAIT_MS;

// code, progress, fail status, wrapper, ILT, BIOS defaults, revision 0 or
// the adapter's, chip revision check, VPD, wait
constexpr RegionStep kFenwarSteps[] = {
    {0x9E, "Updating Adapter Signature... ", 459, W::Direct, false, false, true, false, false, kWait},
    {0x07, "Updating Adapter FC Boot Code... ", 458, W::Direct, true, true, true, true, false, kWait},
    {0xE1, "Updating Adapter Extended MPI Fw ... ", 459, W::Direct, false, false, true, false, false, kWait},
    {0xD3, "Updating Adapter MPI Fw ... ", 459, W::Direct, false, false, true, true, false, kWait},
    {0xD1, "Updating Adapter PEP Fw... ", 459, W::Direct, false, false, true, true, false, kWait},
    {0x67, "Updating Adapter Trunking PEP Fw... ", 459, W::Direct, false, false, true, true, false, kWait},
    {0x01, "Updating Adapter FC RISC Fw... ", 459, W::Direct, false, false, true, true, false, kWait},
    {0x14, "", 0, W::Direct, false, false, false, false, true, 0},
    {0x16, "", 0, W::Direct, false, false, false, false, true, 0},
    {0xD4, "", 0, W::Direct, false, false, false, false, true, 0},
    {0xD6, "", 0, W::Direct, false, false, false, false, true, 0},
};

std::vector<uint32_t> FenwarSequence(uint16_t) {
    std::vector<uint32_t> seq(FENWAR_SEQUENCE_SLOTS, 0);
    InitFenwarFlashUpdateSequence(seq.data(), seq.size());
    return seq;
}

const FamilyTable kFenwarTable = {
    "FenwarOnlineFlashUpdate",
    FenwarSequence,
    kFenwarSteps,
    {},
    {},
    true,
    ValidateFenwarILTImageRegionsToUpdate,
    ValidateFenwarILTImageHeader,
    ILT_TeskCardTypeList_GetMyCardTypeFromCardList,
    true,
    nullptr,
    CombineFenwarImageComponentsInBuffer,
    CountRule::AtMost,
    ONLINE_MAX_REGIONS,
    kWait,
    true,
    {},
};

// The offline update: the same steps, traced under its own name.
const FamilyTable kFenwarOfflineTable = [] {
    FamilyTable t = kFenwarTable;
    t.driverName = "FenwarFlashUpdate";
    return t;
}();

OnlineImageFamily FenwarImageFamily(const char *name, const FamilyTable &table) {
    return {name, &table, ValidateFenwarILTImageRegionsToUpdate, ValidateFenwarILTImageHeader,
            CombineFenwarImageComponentsInBuffer};
}

// Reads the two image status records (16 bytes each, the start of 0x95
// and 0x96). 0 or the region primitives' status.
int ReadStatusRecords(OnlineJob &job, std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> &primary,
                      std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> &secondary) {
    std::vector<uint8_t> buf;
    for (auto [region, out] : {std::pair{0x95u, &primary}, std::pair{0x96u, &secondary}}) {
        int st = ReadOnlineRegion(job, region, buf);
        if (st != 0 || buf.size() < IMAGE_STATUS_RECORD_SIZE) {
            OutputLevelMessage(LEVEL_DEBUG, "FenwarFlashUpdate: Flash Region 0x%x Error %d", region, st);
            return st != 0 ? st : OPTROM_READ_FAILED;
        }
        std::memcpy(out->data(), buf.data(), IMAGE_STATUS_RECORD_SIZE);
    }
    return 0;
}

// Writes both status records in the given order, 2000 ms apart, each
// with its progress line. 0 or 514.
int WriteStatusRecords(OnlineJob &job, const uint32_t order[2], std::span<const uint8_t> primary,
                       std::span<const uint8_t> secondary, uint16_t &disableReset) {
    for (int i = 0; i < 2; ++i) {
        const uint32_t region = order[i];
        if (i > 0) OSSSleep(ONLINE_STATUS_REGION_WAIT_MS);
        OutputText(region == 0x95 ? "Updating Adapter Primary Image Status... "
                                  : "Updating Adapter Secondary Image Status... ");
        const uint32_t st = WriteImageStatusRegion(job, region, region == 0x95 ? primary : secondary, &disableReset);
        if (st != TVX_STATUS_OK && st != TVX_RESULT_RESET_DISABLED) {
            OutputMessage("%s", "Failed");
            OutputLevelMessage(LEVEL_DEBUG, "Image status region 0x%x write failed (0x%x - %s)", region, st,
                               LibraryErrorText(st).c_str());
            return ONLINE_STATUS_WRITE_FAILED;
        }
        OutputMessage("%s", "Success");
    }
    return 0;
}

// Memo block and the VPD refresh after a complete update: the VPD status.
int AfterFenwarUpdate(OnlineJob &job, const ImageVersionRecord &record, uint16_t disableReset) {
    FlashMemoVersions memo{};
    OnlineMemoVersions(job.flash, memo);
    if (int m = UpdateFlashMemoBlockRegion(job.device, &memo); m != 0)
        OutputLevelMessage(LEVEL_DEBUG, "FenwarFlashUpdate: Unable to update the flash memo block (%d)", m);
    return RefreshFenwarVpd(job, record, disableReset);
}

// The hand-over of the firmware attribute before the RISC firmware is
// written. A refused hand-over stops the loop: a set without its new
// firmware must not be activated.
RegionLoopHooks FenwarOnlineHooks(OnlineJob &job) {
    RegionLoopHooks h;
    h.beforeWrite = [&job](const PlannedWrite &w, std::span<uint8_t> region) {
        if (w.step->code != 0x01) return 0;
        uint64_t attributes = 0;
        GetFirmwareAttribute(region.first(std::min<size_t>(region.size(), w.entry.length)), FW_ATTRIBUTE_SUPPORT_FENWAR,
                             &attributes);
        const FirmwareAttributeBlock block = MakeFirmwareAttributeBlock(attributes);
        const uint32_t st =
            TvxSendFlashUpdateFWAttributes(job.device->handle, 0, block.data(), FW_ATTRIBUTE_BLOCK_SIZE);
        if (st != TVX_STATUS_OK) {
            OutputLevelMessage(LEVEL_DEBUG, "FenwarOnlineFlashUpdate: TvxSendFlashUpdateFWAttributes (0x%x - %s)", st,
                               LibraryErrorText(st).c_str());
            OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", job.inst, st,
                          LibraryErrorText(st).c_str());
            return -1;
        }
        return 0;
    };
    // The failure is told once, in the summary.
    h.failed = [](const PlannedWrite &, uint32_t) {};
    return h;
}

void FenwarSummary(const OnlineJob &job, int status, int vpdStatus, uint32_t libStatus) {
    if ((status == ONLINE_OK || status == ONLINE_OK_RESET_NEEDED) && vpdStatus != 0) {
        OutputLevelMessage(LEVEL_INFO, "Flash update complete on this HBA with errors in version updates in VPD.");
    } else if (status == ONLINE_OK_RESET_NEEDED || status == ONLINE_ACTIVATION_FAILED_END) {
        OutputLevelMessage(LEVEL_INFO, "Flash update complete. Changes have been saved to all ports of this HBA.\nYou "
                                       "must reboot in order for the changes to become effective.");
    } else if (status == ONLINE_OK) {
        OutputLevelMessage(LEVEL_INFO, "Option ROM update complete. Changes have been saved to both ports of this "
                                       "HBA.\nYou must reboot in order for changes to take effect.");
    } else {
        const uint32_t shown = libStatus != 0 ? libStatus : static_cast<uint32_t>(status);
        OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", job.inst, shown,
                      LibraryErrorText(shown).c_str());
    }
}

} // namespace

int FenwarOnlineFlashUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset) {
    const char *name = "FenwarOnlineFlashUpdate";
    OutputLevelMessage(LEVEL_DEBUG, "%s: Enter", name);
    OnlineJob job;
    int st = CheckOnlineAdapter(job, device, imageFile);
    if (st != 0) return st;
    if (uint32_t caps = 0; TvxGetFlashUpdateCapabilities(device->handle, 0, &caps) != TVX_STATUS_OK) {
        OutputMessage("Option is unsupported with this HBA (instance %lu - %s)!", static_cast<unsigned long>(job.inst),
                      job.model.c_str());
        return ONLINE_CAPS_UNSUPPORTED;
    }
    if ((st = ReadOnlineImageAndLayout(job)) != 0) return st;

    std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> primary{};
    std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> secondary{};
    if ((st = ReadStatusRecords(job, primary, secondary)) != 0) {
        OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", job.inst, st,
                      RegionStatusText(st));
        return st;
    }
    const FenwarSetChoice choice = ChooseFenwarSet(primary, secondary);
    const int set = choice.writeSet;
    std::vector<uint32_t> written(FENWAR_WRITTEN_SLOTS, 0);
    InitFenwarSecuredOnlineFlashUpdateSequence(written.data(), written.size(), set);

    // The running boot code keeps its BIOS default area in the new set.
    std::vector<BootBackup> backups(1);
    backups[0].region = 0x07;
    if (ReadOnlineRegion(job, choice.runningSet == 1 ? 0x07 : 0x09, backups[0].data) != 0) {
        OutputMessage("Unable to read FC boot code region of adapter %d (%s)!", job.inst, job.model.c_str());
        return ONLINE_BOOT_UNREADABLE;
    }
    LogAdapterFlashLayoutVersion(job);

    const std::vector<uint32_t> sequence = FenwarSequence(job.chipRev);
    ImageVersionRecord record{};
    auto walker = [&](std::span<const uint8_t> image, int expected, int cardType) {
        return ValidateFenwarImageComponents(image, expected, cardType, &record, job.chipRev, job.fcDeviceId);
    };
    auto target = [set](uint32_t code) { return FenwarTargetRegion(code, set); };
    if ((st = PrepareOnlineImage(job, FenwarImageFamily(name, kFenwarTable), sequence, walker, target, backups)) != 0)
        return st;

    OutputLevelMessage(LEVEL_INFO, "Updating Flash on HBA port(s) - %8s. Please wait...", job.model.c_str());
    std::vector<uint8_t>().swap(job.image);

    OSSBeginCriticalWrite();
    FlashUpdateSession session(job);
    int status = session.Start();
    LoopOutcome loop;
    int vpdStatus = 0;
    if (status == 0) {
        const RegionLoopHooks hooks = FenwarOnlineHooks(job);
        loop = RunRegionLoop(job.device, kFenwarTable, job.plan, job.flash, backups, disableReset, &hooks);
        status = loop.status;
        OSSSleep(ONLINE_REGION_WAIT_MS);
        OutputLevelMessage(LEVEL_INFO, "Begin updating image status regions...");
        // The records flip only after every planned region was written.
        if (status == 0 && (loop.written == 0 || loop.written > ONLINE_MAX_REGIONS ||
                            loop.written != static_cast<int>(job.plan.size()))) {
            OutputMessage("Unable to complete flash update on HBA Instance %d. Not all regions updated (%d of %d).",
                          job.inst, loop.written, static_cast<int>(job.plan.size()));
            status = ONLINE_NOT_ALL_REGIONS;
        }
        if (status == 0) {
            uint32_t order[IMAGE_STATUS_SLOTS] = {};
            InitImageStatusFlashUpdateSequence(order, IMAGE_STATUS_SLOTS, set);
            status = WriteStatusRecords(job, order, choice.primary, choice.secondary, disableReset);
        }
        if (status == 0) {
            OSSSleep(ONLINE_REGION_WAIT_MS);
            vpdStatus = AfterFenwarUpdate(job, record, disableReset);
        }
        if (!session.End() && status == 0) status = ONLINE_ACTIVATION_FAILED;
        if (status == 0) status = ActivateOnlineUpdate(job, disableReset);
    }
    OSSEndCriticalWrite();
    FenwarSummary(job, status, vpdStatus, status == loop.status ? loop.libStatus : 0);
    OutputLevelMessage(LEVEL_DEBUG, "%s: exit (FlashUpdStat=%d, VpdUpdStat=%d)", name, status, vpdStatus);
    return status;
}

int FenwarFlashUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset) {
    const char *name = "FenwarFlashUpdate";
    OutputLevelMessage(LEVEL_DEBUG, "%s: Enter", name);
    OnlineJob job;
    int st = CheckOnlineAdapter(job, device, imageFile);
    if (st != 0) return st;
    if ((st = ReadOnlineImageAndLayout(job)) != 0) return st;

    std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> primary{};
    std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> secondary{};
    if ((st = ReadStatusRecords(job, primary, secondary)) != 0) {
        OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", job.inst, st,
                      RegionStatusText(st));
        return st;
    }
    const FenwarOfflineRecords records = FenwarOfflineStatusRecords(primary, secondary);

    // The primary set is rewritten in place: its own boot code carries the
    // BIOS default area over.
    std::vector<BootBackup> backups(1);
    backups[0].region = 0x07;
    if (ReadOnlineRegion(job, 0x07, backups[0].data) != 0) {
        OutputMessage("Unable to read FC boot code region of adapter %d (%s)!", job.inst, job.model.c_str());
        return ONLINE_BOOT_UNREADABLE;
    }
    LogAdapterFlashLayoutVersion(job);

    const std::vector<uint32_t> sequence = FenwarSequence(job.chipRev);
    ImageVersionRecord record{};
    auto walker = [&](std::span<const uint8_t> image, int expected, int cardType) {
        return ValidateFenwarImageComponents(image, expected, cardType, &record, job.chipRev, job.fcDeviceId);
    };
    auto target = [](uint32_t code) { return code; };
    if ((st = PrepareOnlineImage(job, FenwarImageFamily(name, kFenwarOfflineTable), sequence, walker, target,
                                 backups)) != 0)
        return st;

    OutputLevelMessage(LEVEL_INFO, "Updating Flash on HBA port(s) - %8s. Please wait...", job.model.c_str());
    std::vector<uint8_t>().swap(job.image);

    OSSBeginCriticalWrite();
    RegionLoopHooks hooks;
    hooks.failed = [](const PlannedWrite &, uint32_t) {};
    const LoopOutcome loop =
        RunRegionLoop(job.device, kFenwarOfflineTable, job.plan, job.flash, backups, disableReset, &hooks);
    int status = loop.status;
    if (status == 0 && (loop.written == 0 || loop.written != static_cast<int>(job.plan.size()))) {
        OutputMessage("Unable to complete flash update on HBA Instance %d. Not all regions updated (%d of %d).",
                      job.inst, loop.written, static_cast<int>(job.plan.size()));
        status = ONLINE_NOT_ALL_REGIONS;
    }
    // The records make the primary set active only once it is whole: a
    // cut before this point leaves the adapter on the set it ran.
    if (status == 0 && records.change) {
        OutputLevelMessage(LEVEL_INFO, "Begin updating image status regions...");
        const uint32_t order[2] = {0x95, 0x96};
        status = WriteStatusRecords(job, order, records.primary, records.secondary, disableReset);
    }
    int vpdStatus = ONLINE_VPD_FAILED;
    if (status == 0) {
        OSSSleep(ONLINE_REGION_WAIT_MS);
        OSSSleep(OFFLINE_AFTER_LOOP_EXTRA_MS);
        vpdStatus = loop.written <= ONLINE_MAX_REGIONS ? AfterFenwarUpdate(job, record, disableReset) : 0;
    }
    OSSEndCriticalWrite();

    if (status != 0) {
        const uint32_t shown = loop.status != 0 && loop.libStatus != 0 ? loop.libStatus : static_cast<uint32_t>(status);
        OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", job.inst, shown,
                      LibraryErrorText(shown).c_str());
    } else if (vpdStatus == 0 && disableReset == 0) {
        OutputLevelMessage(LEVEL_INFO, "Option ROM update complete. Changes have been saved to both ports of this "
                                       "HBA.\nYou must reboot in order for changes to take effect.");
    } else if (vpdStatus == 0) {
        OutputLevelMessage(LEVEL_INFO, "Flash update complete. Changes have been saved to all ports of this HBA.\nYou "
                                       "must reboot in order for the changes to become effective.");
    } else {
        OutputLevelMessage(LEVEL_INFO, "Flash update complete on this HBA with errors in version updates in VPD.");
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: exit (FlashUpdStat=%d, VpdUpdStat=%d)", name, status, vpdStatus);
    return status;
}

int FenwarUpdateByPath(TVXDevice *device, const char *imageFile, uint16_t disableReset) {
    if (ChooseFenwarOnlineUpdate(device)) return FenwarOnlineFlashUpdate(device, imageFile, disableReset);
    return FenwarFlashUpdate(device, imageFile, disableReset);
}
