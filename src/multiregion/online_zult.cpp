// 28xx (Zult) online update: the set that is not running is written with
// the running board configuration's settings carried over, then the memo
// block of that set, the status records (and the auxiliary records when
// the board configuration was written) flip and the new set is activated.
#include <cstdio>
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
#include "oss/oss.h"
#include "update/flashregion.h"

namespace {

using W = WriteWrapper;
constexpr unsigned kWait = ONLINE_REGION_WAIT_MS;
constexpr uint32_t kFcBoardConfig = 0xBA;

// code, progress (versions are filled in by the driver), fail status,
// wrapper, ILT, BIOS defaults, revision 0 or the adapter's, chip revision
// check, VPD, wait
constexpr RegionStep kZultSteps[] = {
    {0x9E, "Updating Adapter Signature... ", 459, W::Direct, false, false, true, false, false, kWait},
    {0x07, "Updating Adapter FC Boot Code... ", 458, W::Direct, true, true, true, true, false, kWait},
    {0x11, "Updating Adapter FC Exp. Boot Code... ", 458, W::Direct, true, false, true, true, false, kWait},
    {0xD2, "Updating Adapter PEP softROM... ", 459, W::Direct, false, false, true, false, false, kWait},
    {0xD1, "Updating Adapter PEP FW... ", 459, W::Direct, false, false, true, true, false, kWait},
    {0xCF, "Updating Adapter PEP Board Configs... ", ONLINE_PEP_BRDCFG_FAILED, W::Direct, false, false, true, false,
     false, kWait},
    {0x13, "Updating Adapter Fw Preload Area... ", 459, W::Direct, false, false, true, false, false, kWait},
    {0x101, "Updating Adapter MPI softROM... ", 459, W::Direct, false, false, true, false, false, kWait},
    {0xD3, "Updating Adapter MPI Fw... ", 459, W::Direct, false, false, true, true, false, kWait},
    {0x102, "Updating Adapter PCIe Serdes... ", 459, W::Direct, false, false, true, false, false, kWait},
    {0x103, "Updating Adapter FC softROM... ", 459, W::Direct, false, false, true, false, false, kWait},
    {kFcBoardConfig, "Updating Adapter FC Board Configs... ", ONLINE_FC_BRDCFG_FAILED, W::Direct, false, false, true,
     false, false, kWait},
    {0x01, "Updating Adapter FC RISC Fw... ", 459, W::Direct, false, false, true, true, false, kWait},
};

std::vector<uint32_t> ZultSequence(uint16_t) {
    std::vector<uint32_t> seq(ZULT_SEQUENCE_SLOTS, 0);
    InitOnlineFlashUpdateSequenceForZultAdapter(seq.data(), seq.size(), 1);
    return seq;
}

const FamilyTable kZultTable = {
    "ZultOnlineFlashUpdate",
    ZultSequence,
    kZultSteps,
    {},
    {},
    true,
    ValidateZultILTImageRegionsToUpdate,
    ValidateZultILTImageHeader,
    ILT_TeskCardTypeList_GetMyCardTypeFromCardList,
    true,
    nullptr,
    CombineZultImageComponentsInBuffer,
    CountRule::AtMost,
    0,
    kWait,
    true,
    {},
};

const OnlineDriver kZultOnline = {&kZultTable, true, FW_ATTRIBUTE_SUPPORT_ZULT, false, 0};

std::string Format3(const char *fmt, unsigned a, unsigned b, unsigned c) {
    char text[96];
    std::snprintf(text, sizeof text, fmt, a, b, c);
    return text;
}

// Progress line of a Zult region, with the version the image carries.
std::string ZultProgress(const PlannedWrite &w, const ZultImageVersionRecord &v) {
    const uint8_t *e = w.entry.version;
    switch (w.step->code) {
    case 0x01:
        return Format3("Updating Adapter FC RISC Fw version %d.%d.%d... ", v.riscFw.major, v.riscFw.minor,
                       v.riscFw.subMinor);
    case 0x13:
        return Format3("Updating Adapter Fw Preload Area version %d.%d.%d... ", v.preload[0], v.preload[1],
                       v.preload[2]);
    case 0xBA:
        return Format3("Updating Adapter FC Board Configs version %02d.%02d.%02d... ", v.fcBoardConfig[0],
                       v.fcBoardConfig[1], v.fcBoardConfig[2]);
    case 0xCF:
        return Format3("Updating Adapter PEP Board Configs version %02d.%02d.%02d... ", v.pepBoardConfig[0],
                       v.pepBoardConfig[1], v.pepBoardConfig[2]);
    case 0x102:
        return Format3("Updating Adapter PCIe Serdes version %02d.%02d.%02d... ", v.pcieSerdes[0], v.pcieSerdes[1],
                       v.pcieSerdes[2]);
    case 0xD1: return Format3("Updating Adapter PEP FW version %02d.%02d.%02d... ", v.pepFw[0], v.pepFw[1], v.pepFw[2]);
    case 0xD2:
        return Format3("Updating Adapter PEP softROM version %02d.%02d.%02d... ", v.pepSoftRom[0], v.pepSoftRom[1],
                       v.pepSoftRom[2]);
    case 0xD3:
        return Format3("Updating Adapter MPI Fw version %02d.%02d.%02d... ", v.mpiFw.major, v.mpiFw.minor,
                       v.mpiFw.subMinor);
    case 0x101:
        return Format3("Updating Adapter MPI softROM version %02d.%02d.%02d... ", v.mpiSoftRom.major,
                       v.mpiSoftRom.minor, v.mpiSoftRom.subMinor);
    case 0x103: return Format3("Updating Adapter FC softROM version %d.%d.%d... ", e[0], e[1], e[2]);
    default: return std::string();
    }
}

constexpr uint32_t kMemoPrimary = 0xDF;
constexpr uint32_t kMemoSecondary = 0x124;

// Rewrites the memo block at the start of the given region: 0 or 526.
int WriteMemoOfSet(OnlineJob &job, uint32_t region, const FlashMemoVersions &versions) {
    OutputText("Updating Adapter Flash Memo Block... ");
    std::vector<uint8_t> buf;
    uint32_t lib = TVX_ERR_FLASH_READ;
    if (ReadOnlineRegion(job, region, buf) != 0 || buf.size() < FLASH_MEMO_BLOCK_SIZE) {
        OutputLevelMessage(LEVEL_DEBUG, "ZultOnlineFlashUpdate: Unable to read memo region 0x%x", region);
    } else if (UpdateFlashMemoBlockData(job.device, buf, &versions) == FMB_OK) {
        uint16_t options = 0;
        lib = AppUpdateOptionRomEx3(job.device, buf.data(), region, static_cast<uint32_t>(buf.size()), &options);
    }
    if (lib == TVX_STATUS_OK || lib == TVX_RESULT_RESET_DISABLED) {
        OutputMessage("%s", "Success");
        return 0;
    }
    OutputMessage("%s", "Failed");
    return FMB_UPDATE_FAILED;
}

// One status step after the region writes: its progress line, the
// library's update of the records and the wait after it. 0 or failStatus.
int UpdateStatusStep(OnlineJob &job, const char *progress, int (*update)(TVXDevice *, const TVX_ACTIVE_REGIONS *),
                     const TVX_ACTIVE_REGIONS &active, int failStatus) {
    OutputText(progress);
    int status = 0;
    if (update(job.device, &active) != 0) {
        OutputMessage("%s", "Failed");
        status = failStatus;
    } else {
        OutputMessage("%s", "Success");
    }
    OSSSleep(ONLINE_ZULT_STATUS_WAIT_MS);
    return status;
}

void ZultFailure(const OnlineJob &job, int status) {
    OutputMessage("Flash update failed with HBA (Instance %d - %s) with error (%d!", job.inst, job.model.c_str(),
                  status);
}

} // namespace

int ZultOnlineFlashUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset) {
    const char *name = kZultTable.driverName;
    OnlineJob job;
    int st = StartOnlineJob(job, kZultOnline, device, imageFile);
    if (st != 0) return st;

    TVX_ACTIVE_REGIONS active{};
    if (CoreGetActiveRegions(device, &active) != 0) {
        ZultFailure(job, ONLINE_STATUS_FAILED);
        return ONLINE_STATUS_FAILED;
    }
    const int runningSet = active.ActiveGlobalRegions == 1 ? 1 : 2;
    const int set = runningSet == 1 ? 2 : 1;
    OutputLevelMessage(LEVEL_DEBUG, "%s: Active regions %u (board config %u): writing set %d", name,
                       active.ActiveGlobalRegions, active.ActiveBoardConfig, set);
    std::vector<uint32_t> logged(ZULT_SEQUENCE_SLOTS, 0);
    InitOnlineFlashUpdateSequenceForZultAdapter(logged.data(), logged.size(), 2);

    // The running boot code (BIOS default area) and the running board
    // configuration (settings carried into the new one).
    std::vector<BootBackup> backups;
    if ((st = ReadRunningBootCode(job, runningSet, backups)) != 0) return st;
    const uint32_t fbcTarget = CoreGetAlternateRegion(kFcBoardConfig, active);
    std::vector<uint8_t> runningFbc;
    if (ReadOnlineRegion(job, fbcTarget == kFcBoardConfig ? 0x10B : kFcBoardConfig, runningFbc) != 0) {
        OutputMessage("Unable to read FC Brd config region of adapter %d (%s)!", job.inst, job.model.c_str());
        return ONLINE_BOOT_UNREADABLE;
    }
    LogAdapterFlashLayoutVersion(job);

    const std::vector<uint32_t> sequence = ZultSequence(job.chipRev);
    ZultImageVersionRecord record{};
    auto walker = [&](std::span<const uint8_t> image, int expected, int cardType) {
        return ValidateZultImageComponents(image, expected, cardType, &record, job.chipRev, job.fcDeviceId);
    };
    auto target = [&active, runningSet](uint32_t code) -> uint32_t {
        const uint32_t region = CoreGetAlternateRegion(code, active);
        // The board configuration copy follows its own record; every other
        // region of the running set stays untouched.
        if (code != kFcBoardConfig && ZultRegionSet(region) == runningSet) {
            OutputLevelMessage(LEVEL_DEBUG, "ZultOnlineFlashUpdate: Region 0x%x belongs to the running set", region);
            return 0;
        }
        return region;
    };
    OnlineImageFamily family{name, &kZultTable, ValidateZultILTImageRegionsToUpdate, ValidateZultILTImageHeader,
                             CombineZultImageComponentsInBuffer};
    // The running board settings must merge into the new block before
    // anything is written.
    auto precheck = [&](const PlannedWrite &w, std::span<uint8_t> region) {
        if (w.step->code != kFcBoardConfig) return 0;
        return CorePreserveFCBrdCfgData(job.device, runningFbc, region) == 0 ? 0 : int(ONLINE_FC_BRDCFG_FAILED);
    };
    if ((st = PrepareOnlineImage(job, family, sequence, walker, target, backups, precheck)) != 0) return st;

    BeginOnlineWrites(job);

    bool fbcWritten = false;
    auto boardConfigFailure = [&job] {
        OutputMessage("Flash update failed with HBA (Instance %d - %s). Checksum mismached!", job.inst,
                      job.model.c_str());
    };
    RegionLoopHooks hooks;
    hooks.progress = [&record](const PlannedWrite &w) { return ZultProgress(w, record); };
    hooks.beforeWrite = [&](const PlannedWrite &w, std::span<uint8_t> region) {
        if (w.step->code == kFcBoardConfig) {
            if (CorePreserveFCBrdCfgData(job.device, runningFbc, region) != 0) {
                boardConfigFailure();
                return -1;
            }
            return 0;
        }
        return HandOverFirmwareAttributes(job, kZultOnline, w, region);
    };
    hooks.afterWrite = [&](const PlannedWrite &w) {
        if (w.step->code == kFcBoardConfig) fbcWritten = true;
        if (w.step->code == 0x07 || w.step->code == 0x11) {
            OutputLevelMessage(LEVEL_INFO, "BIOS version: %02d.%02d.%02d", record.fcBios.major, record.fcBios.minor, 0);
            OutputLevelMessage(LEVEL_INFO, "FCode version: %02d.%02d.%02d", record.fcFcode.major, record.fcFcode.minor,
                               0);
            OutputLevelMessage(LEVEL_INFO, "EFI version: %02d.%02d.%02d", record.fcEfi.major, record.fcEfi.minor, 0);
        }
    };
    hooks.failed = [&](const PlannedWrite &w, uint32_t) {
        if (w.step->code == kFcBoardConfig) boardConfigFailure();
    };

    OSSBeginCriticalWrite();
    FlashUpdateSession session(job);
    int status = session.Start();
    if (status == 0) {
        const LoopOutcome loop =
            RunRegionLoop(job.device, kZultTable, job.plan, job.flash, backups, disableReset, &hooks);
        OSSSleep(ONLINE_ZULT_AFTER_LOOP_MS);
        // The records flip only after every planned region was written.
        status = CheckAllRegionsWritten(job, kZultOnline, loop);
        if (status == 0) {
            FlashMemoVersions memo{};
            OnlineMemoVersions(job.flash, memo);
            // The memo block of the set written, as chosen above: the
            // records are not weighed again, so a failed read of them can't
            // send the block to the running set. Its failure ends the run
            // before the records flip.
            if (int m = WriteMemoOfSet(job, set == 2 ? kMemoSecondary : kMemoPrimary, memo); m != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "ZultOnlineFlashUpdate: Failed to update FMB region (ret=0x%x (%d)!", m,
                                   m);
                status = FMB_UPDATE_FAILED;
            }
        }
        if (status == 0)
            status = UpdateStatusStep(job,
                                      set == 2 ? "Updating Adapter Secondary Image Status... "
                                               : "Updating Adapter Primary Image Status... ",
                                      CoreUpdateImageStatus, active, ONLINE_STATUS_FAILED);
        if (status == 0 && fbcWritten)
            status = UpdateStatusStep(job,
                                      fbcTarget == 0x10B ? "Updating Adapter Secondary Aux Image Status... "
                                                         : "Updating Adapter Primary Aux Image Status... ",
                                      CoreUpdateAuxImageStatus, active, ONLINE_AUX_STATUS_FAILED);
        if (status == 0) OSSSleep(ONLINE_REGION_WAIT_MS);
        status = FinishOnlineSession(job, session, status, disableReset);
    }
    OSSEndCriticalWrite();
    if (!ShowOnlineCompletion(status, 0)) ZultFailure(job, status);
    OutputLevelMessage(LEVEL_DEBUG, "%s: exit (FlashUpdStat=%d)", name, status);
    return status;
}
