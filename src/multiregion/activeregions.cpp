#include "multiregion/activeregions.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/output.h"
#include "image/helpers.h"
#include "inventory/cxrtype.h"
#include "multiregion/imgstatus.h"
#include "multiregion/regionio.h"
#include "oss/oss.h"
#include "update/flashregion.h"
#include "update/regions.h"

namespace {

constexpr int kFenwarType = 25;
constexpr int kZultType = 27;

// Reads a 64 KiB status region; traces a failure under the caller's name.
int ReadStatusRegion(const char *who, TVXDevice *device, uint32_t region, std::vector<uint8_t> &buf) {
    int st = ReadWholeRegion(device, region, buf, IMAGE_STATUS_REGION_SIZE);
    if (st != 0)
        OutputLevelMessage(LEVEL_DEBUG, "%s: Flash Region 0x%x Error 0x%x (%s)", who, region, static_cast<unsigned>(st),
                           RegionStatusText(st));
    return st;
}

int ReadFailureResult(int st) { return st == OPTROM_NO_MEMORY ? ACTIVE_NO_MEMORY : ACTIVE_FAILED; }

// The primary and secondary regions of a pair of status records, their
// contents and their views.
struct RecordPair {
    uint32_t regions[2];
    std::vector<uint8_t> pri, sec;
    ImageStatusView p{}, s{};
};

// Reads both regions of the pair: ACTIVE_OK or the read's failure result.
int ReadRecordPair(const char *who, TVXDevice *device, uint32_t signature, RecordPair &r) {
    int st = ReadStatusRegion(who, device, r.regions[0], r.pri);
    if (st == 0) st = ReadStatusRegion(who, device, r.regions[1], r.sec);
    if (st != 0) return ReadFailureResult(st);
    r.p = CoreViewImageStatus(r.pri, signature);
    r.s = CoreViewImageStatus(r.sec, signature);
    return ACTIVE_OK;
}

// Writes the record of the given set (1 primary, 2 secondary) first, then
// the other one: whatever happens to the second write, the records
// designate either the old set or the new one.
int WriteRecordPair(TVXDevice *device, int set, const RecordPair &r) {
    uint16_t disableReset = 0;
    const int first = set == 1 ? 0 : 1;
    if (CoreUpdateOptionRomEx(device, first == 0 ? r.pri : r.sec, r.regions[first], &disableReset) != 0)
        return ACTIVE_FAILED;
    if (CoreUpdateOptionRomEx(device, first == 0 ? r.sec : r.pri, r.regions[1 - first], &disableReset) != 0)
        return ACTIVE_FAILED;
    return ACTIVE_OK;
}

// A record that does not carry the family's signature is started afresh
// before it is made active: a flip that only set its mask bit would leave
// it invalid, and the adapter would keep running the old set.
void StartRecordIfInvalid(std::span<uint8_t> record, uint32_t signature, std::span<const uint8_t> other) {
    if (CoreIsImageStatusRegionValid(record, signature) != 0) return;
    std::memset(record.data(), 0, IMAGE_STATUS_RECORD_SIZE);
    WriteLE16(record, IMAGE_STATUS_OFF_VERSION, CoreGetImageStatusVersion(other));
    WriteLE32(record, IMAGE_STATUS_OFF_SIGNATURE, signature);
}

// Recomputes a record's checksum and checks it.
bool SealRecord(std::span<uint8_t> record) {
    CoreCalculateChecksum32(record, IMAGE_STATUS_RECORD_SIZE, IMAGE_STATUS_OFF_CHECKSUM);
    return CoreValidateChecksum32(record, IMAGE_STATUS_RECORD_SIZE) == 0;
}

} // namespace

uint32_t CoreImageStatusSignature(const TVXDevice *device) {
    int type = GetCxrType(device);
    if (device == nullptr || type < kFenwarType) return 0;
    return type >= kZultType ? IMAGE_STATUS_SIGNATURE_ZULT : IMAGE_STATUS_SIGNATURE_FENWAR;
}

int CoreGetAdapterFlashActiveRegions(TVXDevice *device, CoreActiveRegions *out) {
    static const char kWho[] = "CoreGetAdapterFlashActiveRegions";
    if (device == nullptr || out == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Invalid parameters", kWho);
        return ACTIVE_FAILED;
    }
    int type = GetCxrType(device);
    if (type < kFenwarType) {
        char model[33];
        OutputLevelMessage(LEVEL_DEBUG, "%s: Command not supported with HBA %d (%s)", kWho,
                           static_cast<int>(device->instance), DeviceModelText(device, model));
        return ACTIVE_FAILED;
    }
    uint32_t signature = CoreImageStatusSignature(device);
    std::vector<uint8_t> pri, sec;
    for (auto [region, buf] :
         {std::pair{TVX_OPT_ROM_REGION_IMAGE_STATUS_PRI, &pri}, std::pair{TVX_OPT_ROM_REGION_IMAGE_STATUS_SEC, &sec}}) {
        int st = ReadStatusRegion(kWho, device, region, *buf);
        if (st != 0) return st == OPTROM_NO_MEMORY ? ACTIVE_NO_MEMORY : ACTIVE_REGION_UNREADABLE;
    }
    ImageStatusView p = CoreViewImageStatus(pri, signature);
    ImageStatusView s = CoreViewImageStatus(sec, signature);
    uint16_t generation = 0;
    out->regions.ActiveGlobalRegions = CoreDecideActiveSet(p, s, &generation);
    out->generation = generation;
    if (type >= kZultType) {
        std::vector<uint8_t> auxPri, auxSec;
        for (auto [region, buf] : {std::pair{TVX_OPT_ROM_REGION_AUX_IMAGE_STATUS_1, &auxPri},
                                   std::pair{TVX_OPT_ROM_REGION_AUX_IMAGE_STATUS_2, &auxSec}}) {
            int st = ReadStatusRegion(kWho, device, region, *buf);
            if (st != 0) return st == OPTROM_NO_MEMORY ? ACTIVE_NO_MEMORY : ACTIVE_REGION_UNREADABLE;
        }
        uint8_t areas[4] = {1, 1, 1, 1};
        CoreDecideAuxAreas(CoreViewImageStatus(auxPri, IMAGE_STATUS_SIGNATURE_AUX),
                           CoreViewImageStatus(auxSec, IMAGE_STATUS_SIGNATURE_AUX), p, s, areas, &out->toolId);
        out->regions.ActiveBoardConfig = areas[0];
        out->regions.ActiveVpdNvram = areas[1];
        out->regions.ActiveNpivConfig01 = areas[2];
        out->regions.ActiveNpivConfig23 = areas[3];
    }
    const TVX_ACTIVE_REGIONS &r = out->regions;
    OutputLevelMessage(LEVEL_DEBUG,
                       "%s: Active region=%d Generation=%d BoardConfig=%d VpdNvram=%d Npiv01=%d Npiv23=%d ToolId=%d",
                       kWho, r.ActiveGlobalRegions, out->generation, r.ActiveBoardConfig, r.ActiveVpdNvram,
                       r.ActiveNpivConfig01, r.ActiveNpivConfig23, out->toolId);
    return ACTIVE_OK;
}

int CoreGetActiveRegions(TVXDevice *device, TVX_ACTIVE_REGIONS *out) {
    static const char kWho[] = "CoreGetActiveRegions";
    if (out == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Invalid parameter!", kWho);
        return ACTIVE_FAILED;
    }
    if (device == nullptr || GetCxrType(device) < kFenwarType) return ACTIVE_FAILED;
    TVX_ACTIVE_REGIONS answer{};
    for (int tries = 1;; ++tries) {
        uint32_t st = TvxGetActiveRegions(device->handle, 0, &answer);
        if (st == TVX_STATUS_OK) break;
        OutputLevelMessage(LEVEL_DEBUG, "%s: Waiting for CXR reset (0x%x - %s)", kWho, st,
                           LibraryErrorText(st).c_str());
        if (tries >= ACTIVE_REGIONS_MAX_TRIES) return ACTIVE_FAILED;
        OSSSleep(ACTIVE_REGIONS_WAIT_MS);
    }
    // Only sets 1 and 2 exist; any other answer is as good as "unknown".
    if (answer.ActiveGlobalRegions != 1 && answer.ActiveGlobalRegions != 2) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Detected invalid active image status", kWho);
        CoreActiveRegions worked{};
        worked.regions = answer;
        if (CoreGetAdapterFlashActiveRegions(device, &worked) != ACTIVE_OK) return ACTIVE_FAILED;
        answer = worked.regions;
    }
    std::memset(out, 0, sizeof(*out));
    out->ActiveGlobalRegions = answer.ActiveGlobalRegions;
    out->ActiveBoardConfig = answer.ActiveBoardConfig;
    out->ActiveVpdNvram = answer.ActiveVpdNvram;
    out->ActiveNpivConfig01 = answer.ActiveNpivConfig01;
    out->ActiveNpivConfig23 = answer.ActiveNpivConfig23;
    return ACTIVE_OK;
}

int CoreUpdateImageStatus(TVXDevice *device, const TVX_ACTIVE_REGIONS *activeRegions) {
    static const char kWho[] = "CoreUpdateImageStatus";
    if (device == nullptr) return ACTIVE_NO_ADAPTER;
    if (GetCxrType(device) < kZultType) return ACTIVE_NOT_ZULT;
    if (activeRegions == nullptr) return ACTIVE_FAILED;
    RecordPair r{{TVX_OPT_ROM_REGION_IMAGE_STATUS_PRI, TVX_OPT_ROM_REGION_IMAGE_STATUS_SEC}, {}, {}, {}, {}};
    if (const int st = ReadRecordPair(kWho, device, IMAGE_STATUS_SIGNATURE_ZULT, r); st != ACTIVE_OK) return st;
    auto &[regions, pri, sec, p, s] = r;

    int set = activeRegions->ActiveGlobalRegions == 1 ? 2 : 1;
    OutputLevelMessage(LEVEL_DEBUG, "%s: Updating Region Set %d...", kWho, set);
    uint16_t generation = CoreNextImageStatusGeneration(p.generation, s.generation);
    std::vector<uint8_t> &on = set == 1 ? pri : sec;
    std::vector<uint8_t> &off = set == 1 ? sec : pri;
    StartRecordIfInvalid(on, IMAGE_STATUS_SIGNATURE_ZULT, off);
    CoreSetImageStatusMask(on, true);
    CoreSetImageStatusGenerationNumber(on, generation);
    CoreSetImageStatusMask(off, false);
    if (!SealRecord(on) || !SealRecord(off)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Checksum error!", kWho);
        return ACTIVE_FAILED;
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: Set %d becomes active with generation %d", kWho, set, generation);
    // The set made active is written first.
    return WriteRecordPair(device, set, r);
}

int CoreUpdateAuxImageStatus(TVXDevice *device, const TVX_ACTIVE_REGIONS *activeRegions) {
    static const char kWho[] = "CoreUpdateAuxImageStatus";
    if (device == nullptr) return ACTIVE_NO_ADAPTER;
    if (GetCxrType(device) < kZultType) return ACTIVE_NOT_ZULT;
    (void)activeRegions; // the auxiliary records alone decide which copy is written
    RecordPair r{{TVX_OPT_ROM_REGION_AUX_IMAGE_STATUS_1, TVX_OPT_ROM_REGION_AUX_IMAGE_STATUS_2}, {}, {}, {}, {}};
    if (const int st = ReadRecordPair(kWho, device, IMAGE_STATUS_SIGNATURE_AUX, r); st != ACTIVE_OK) return st;
    auto &[regions, pri, sec, p, s] = r;

    int set = CoreChooseAuxSetToUpdate(p, s);
    uint16_t generation = CoreNextImageStatusGeneration(p.generation, s.generation);
    OutputLevelMessage(LEVEL_DEBUG, "%s: Updating aux set %d with generation %d", kWho, set, generation);
    std::vector<uint8_t> &upd = set == 1 ? pri : sec;
    std::vector<uint8_t> &other = set == 1 ? sec : pri;
    const ImageStatusView &otherView = set == 1 ? s : p;
    StartRecordIfInvalid(upd, IMAGE_STATUS_SIGNATURE_AUX, other);
    // FC board configuration (bit 0) switches to the other copy; the other
    // areas stay where they are.
    CoreSetImageStatusComponentsBitMap(upd, static_cast<uint8_t>(otherView.bitmap ^ 1u));
    CoreSetImageStatusMask(upd, true);
    CoreSetImageStatusGenerationNumber(upd, generation);
    CoreSetImageStatusToolId(upd, 0);
    CoreSetImageStatusMask(other, false);
    if (!SealRecord(pri)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Primary aux image status checksum error!", kWho);
        return ACTIVE_FAILED;
    }
    if (!SealRecord(sec)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Secondary aux image status checksum error!", kWho);
        return ACTIVE_FAILED;
    }
    return WriteRecordPair(device, set, r);
}

int CoreUpdateOptionRomEx(TVXDevice *device, std::span<const uint8_t> buffer, uint32_t region, uint16_t *disableReset) {
    static const char kWho[] = "CoreUpdateOptionRomEx";
    if (device == nullptr || disableReset == nullptr || buffer.size() < IMAGE_STATUS_REGION_SIZE) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Invalid parameters", kWho);
        return ACTIVE_FAILED;
    }
    uint32_t capability = 0;
    uint32_t st = TvxGetFlashUpdateCapabilities(device->handle, 0, &capability);
    if (st != TVX_STATUS_OK) {
        OutputLevelMessage(LEVEL_DEBUG, "%s:TvxGetFlashUpdateCapabilities() return 0x%x (%s)", kWho, st,
                           LibraryErrorText(st).c_str());
        return ACTIVE_FAILED;
    }
    for (int tries = 1;; ++tries) {
        OSSBeginCriticalWrite();
        st = TvxUpdateOptionRomEx2(device->handle, *disableReset, buffer.data(), IMAGE_STATUS_REGION_SIZE, region);
        OSSEndCriticalWrite();
        if (st == TVX_STATUS_OK) return ACTIVE_OK;
        if (st == TVX_RESULT_RESET_DISABLED) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Reset disabled by API (0x%x - %s)", kWho, st,
                               LibraryErrorText(st).c_str());
            *disableReset = 1;
            return ACTIVE_OK;
        }
        if (st != TVX_RESULT_MPI_RESET && st != TVX_RESULT_CXR_RESET) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: TvxUpdateOptionRomEx2 region 0x%x returns (0x%x - %s)", kWho, region,
                               st, LibraryErrorText(st).c_str());
            return ACTIVE_FAILED;
        }
        OutputLevelMessage(LEVEL_DEBUG, "%s: Cnt=%d Waiting for %s reset (0x%x - %s)", kWho, tries,
                           st == TVX_RESULT_MPI_RESET ? "mpi" : "CXR", st, LibraryErrorText(st).c_str());
        if (tries >= STATUS_WRITE_MAX_TRIES) return ACTIVE_FAILED;
        OSSSleep(STATUS_WRITE_WAIT_MS);
    }
}

int GetAdapterFlashActiveRegionInfo(TVXDevice *device, uint32_t region, int *active, uint16_t *generation) {
    static const char kWho[] = "GetAdapterFlashActiveRegionInfo";
    if (device == nullptr) return REGION_INFO_NO_ADAPTER;
    if (region != TVX_OPT_ROM_REGION_IMAGE_STATUS_PRI && region != TVX_OPT_ROM_REGION_IMAGE_STATUS_SEC)
        return REGION_INFO_BAD_REGION;
    std::vector<uint8_t> buf;
    int st = ReadWholeRegion(device, region, buf, IMAGE_STATUS_RECORD_SIZE);
    if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Flash Region 0x%x Error 0x%x (%s)", kWho, region,
                           static_cast<unsigned>(st), RegionStatusText(st));
        return st;
    }
    if (CoreIsImageStatusRegionValid(buf, CoreImageStatusSignature(device)) == 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Region has invalid signature!", kWho);
        return REGION_INFO_INVALID_SIGNATURE;
    }
    if (CoreGetImageStatusMask(buf) != 0) {
        if (active != nullptr) *active = 1;
        if (generation != nullptr) *generation = CoreGetImageStatusGenerationNumber(buf);
    }
    return 0;
}
