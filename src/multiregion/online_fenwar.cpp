// 27xx (Fenwar) updates: online into the flash set that is not running,
// with the status records flipped after every region is written and the
// new set activated; offline into the primary set for adapters whose
// library or firmware has no online update.
#include <array>
#include <cstring>
#include <functional>
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

const OnlineDriver kFenwarOnline = {&kFenwarTable, true, FW_ATTRIBUTE_SUPPORT_FENWAR, true, ONLINE_MAX_REGIONS};
const OnlineDriver kFenwarOffline = {&kFenwarOfflineTable, false, 0, false, 0};

using StatusRecord = std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE>;

// Reads the two image status records (16 bytes each, the start of 0x95
// and 0x96). 0 or the region primitives' status (message shown).
int ReadStatusRecords(OnlineJob &job, StatusRecord &primary, StatusRecord &secondary) {
    std::vector<uint8_t> buf;
    for (auto [region, out] : {std::pair{0x95u, &primary}, std::pair{0x96u, &secondary}}) {
        int st = ReadOnlineRegion(job, region, buf);
        if (st != 0 || buf.size() < IMAGE_STATUS_RECORD_SIZE) {
            OutputLevelMessage(LEVEL_DEBUG, "FenwarFlashUpdate: Flash Region 0x%x Error %d", region, st);
            st = st != 0 ? st : OPTROM_READ_FAILED;
            ShowOnlineFailure(job, static_cast<uint32_t>(st), RegionStatusText(st));
            return st;
        }
        std::memcpy(out->data(), buf.data(), IMAGE_STATUS_RECORD_SIZE);
    }
    return 0;
}

// The start of both paths: the drivers' shared start, then the two image
// status records. 0 or the status (message shown).
int StartFenwarJob(OnlineJob &job, const OnlineDriver &driver, TVXDevice *device, const char *imageFile,
                   StatusRecord &primary, StatusRecord &secondary) {
    int st = StartOnlineJob(job, driver, device, imageFile);
    if (st == 0) st = ReadStatusRecords(job, primary, secondary);
    return st;
}

// Everything up to the first write: the boot code of the given set as the
// backup whose BIOS default area the new code keeps, the validation up to
// the planned writes (each component written to the region 'target' maps
// its code to; the versions the VPD refresh writes land in record) and
// the line before the writes. 0 or the status (message shown).
int PrepareFenwarUpdate(OnlineJob &job, const FamilyTable &table, int bootSet,
                        const std::function<uint32_t(uint32_t)> &target, std::vector<BootBackup> &backups,
                        ImageVersionRecord &record) {
    int st = ReadRunningBootCode(job, bootSet, backups);
    if (st != 0) return st;
    LogAdapterFlashLayoutVersion(job);
    const std::vector<uint32_t> sequence = FenwarSequence(job.chipRev);
    auto walker = [&](std::span<const uint8_t> image, int expected, int cardType) {
        return ValidateFenwarImageComponents(image, expected, cardType, &record, job.chipRev, job.fcDeviceId);
    };
    const OnlineImageFamily family{table.driverName, &table, ValidateFenwarILTImageRegionsToUpdate,
                                   ValidateFenwarILTImageHeader, CombineFenwarImageComponentsInBuffer};
    if ((st = PrepareOnlineImage(job, family, sequence, walker, target, backups)) != 0) return st;
    BeginOnlineWrites(job);
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

// The summary of both paths; libStatus, when not 0, is the library answer
// that failed the loop.
void FenwarSummary(const OnlineJob &job, int status, int vpdStatus, uint32_t libStatus) {
    if (ShowOnlineCompletion(status, vpdStatus)) return;
    const uint32_t shown = libStatus != 0 ? libStatus : static_cast<uint32_t>(status);
    ShowOnlineFailure(job, shown, LibraryErrorText(shown).c_str());
}

} // namespace

int FenwarOnlineFlashUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset) {
    OnlineJob job;
    StatusRecord primary{};
    StatusRecord secondary{};
    int st = StartFenwarJob(job, kFenwarOnline, device, imageFile, primary, secondary);
    if (st != 0) return st;
    const FenwarSetChoice choice = ChooseFenwarSet(primary, secondary);
    const int set = choice.writeSet;
    std::vector<uint32_t> written(FENWAR_WRITTEN_SLOTS, 0);
    InitFenwarSecuredOnlineFlashUpdateSequence(written.data(), written.size(), set);

    // The running boot code keeps its BIOS default area in the new set.
    std::vector<BootBackup> backups;
    ImageVersionRecord record{};
    auto target = [set](uint32_t code) { return FenwarTargetRegion(code, set); };
    if ((st = PrepareFenwarUpdate(job, kFenwarTable, choice.runningSet, target, backups, record)) != 0) return st;

    OSSBeginCriticalWrite();
    FlashUpdateSession session(job);
    int status = session.Start();
    LoopOutcome loop;
    int vpdStatus = 0;
    if (status == 0) {
        // A refused hand-over stops the loop: a set without its new
        // firmware must not be activated. The failure is told once, in the
        // summary.
        RegionLoopHooks hooks;
        hooks.beforeWrite = [&job](const PlannedWrite &w, std::span<uint8_t> region) {
            return HandOverFirmwareAttributes(job, kFenwarOnline, w, region);
        };
        hooks.failed = [](const PlannedWrite &, uint32_t) {};
        loop = RunRegionLoop(job.device, kFenwarTable, job.plan, job.flash, backups, disableReset, &hooks);
        OSSSleep(ONLINE_REGION_WAIT_MS);
        OutputLevelMessage(LEVEL_INFO, "Begin updating image status regions...");
        // The records flip only after every planned region was written.
        status = CheckAllRegionsWritten(job, kFenwarOnline, loop);
        if (status == 0) {
            uint32_t order[IMAGE_STATUS_SLOTS] = {};
            InitImageStatusFlashUpdateSequence(order, IMAGE_STATUS_SLOTS, set);
            status = WriteStatusRecords(job, order, choice.primary, choice.secondary, disableReset);
        }
        if (status == 0) {
            OSSSleep(ONLINE_REGION_WAIT_MS);
            vpdStatus = AfterFenwarUpdate(job, record, disableReset);
        }
        status = FinishOnlineSession(job, session, status, disableReset);
    }
    OSSEndCriticalWrite();
    FenwarSummary(job, status, vpdStatus, status == loop.status ? loop.libStatus : 0);
    OutputLevelMessage(LEVEL_DEBUG, "%s: exit (FlashUpdStat=%d, VpdUpdStat=%d)", kFenwarTable.driverName, status,
                       vpdStatus);
    return status;
}

int FenwarFlashUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset) {
    OnlineJob job;
    StatusRecord primary{};
    StatusRecord secondary{};
    int st = StartFenwarJob(job, kFenwarOffline, device, imageFile, primary, secondary);
    if (st != 0) return st;
    const FenwarOfflineRecords records = FenwarOfflineStatusRecords(primary, secondary);

    // The primary set is rewritten in place: its own boot code carries the
    // BIOS default area over.
    std::vector<BootBackup> backups;
    ImageVersionRecord record{};
    auto target = [](uint32_t code) { return code; };
    if ((st = PrepareFenwarUpdate(job, kFenwarOfflineTable, 1, target, backups, record)) != 0) return st;

    OSSBeginCriticalWrite();
    RegionLoopHooks hooks;
    hooks.failed = [](const PlannedWrite &, uint32_t) {};
    const LoopOutcome loop =
        RunRegionLoop(job.device, kFenwarOfflineTable, job.plan, job.flash, backups, disableReset, &hooks);
    int status = CheckAllRegionsWritten(job, kFenwarOffline, loop);
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

    // Nothing is activated here: a good update with resets disabled is
    // summed up as one that waits for a reset.
    FenwarSummary(job, status == 0 && disableReset != 0 ? ONLINE_OK_RESET_NEEDED : status, vpdStatus,
                  status == loop.status ? loop.libStatus : 0);
    OutputLevelMessage(LEVEL_DEBUG, "%s: exit (FlashUpdStat=%d, VpdUpdStat=%d)", kFenwarOfflineTable.driverName, status,
                       vpdStatus);
    return status;
}

int FenwarUpdateByPath(TVXDevice *device, const char *imageFile, uint16_t disableReset) {
    if (ChooseFenwarOnlineUpdate(device)) return FenwarOnlineFlashUpdate(device, imageFile, disableReset);
    return FenwarFlashUpdate(device, imageFile, disableReset);
}
