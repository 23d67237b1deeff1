// Firmware preload table (region 0x13): rebuilt from FWA83xxB.DAT when the
// file's table version is newer than the adapter's.

#include <cstdio>
#include <cstring>
#include <optional>

#include "app/output.h"
#include "datafiles/datafiles.h"
#include "datafiles/datbuild.h"
#include "image/helpers.h"
#include "inventory/adapters_table.h"
#include "inventory/cxrtype.h"
#include "oss/oss.h"
#include "update/flashregion.h"
#include "update/policy.h"

using namespace datfile;

FwPreloadVersionRecord g_FwPreloadVersion = {};

namespace {

enum PreloadRole : int {
    ROLE_CHECKSUM = 1,
    ROLE_SERIAL,
    ROLE_LENGTH,
    ROLE_SSVID,
    ROLE_SSDID,
    ROLE_SIGNATURE,
    ROLE_FV_MINOR,
    ROLE_FV_MINOR_SUBMIN,
    ROLE_FV_MAJOR,
    ROLE_FV_SUBMINOR,
    ROLE_SERDES,
    ROLE_OPTICAL_FEC,
    ROLE_HOST_FEC,
    ROLE_BBSCN_ENABLE,
    ROLE_BBSCN,
};

constexpr Keyword kPreloadKeywords[] = {
    {"checksum", ROLE_CHECKSUM},
    {"serial number", ROLE_SERIAL},
    {"length (dwords)", ROLE_LENGTH},
    {"subsystem vendor id", ROLE_SSVID},
    {"subsystem device id", ROLE_SSDID},
    {"signature", ROLE_SIGNATURE},
    {"file version minor", ROLE_FV_MINOR},
    {"file version minor_submin", ROLE_FV_MINOR_SUBMIN},
    {"file version major", ROLE_FV_MAJOR},
    {"file version subminor", ROLE_FV_SUBMINOR},
    {"No of Serdes Entries", ROLE_SERDES},
    {"Training Optical Local FEC Enable", ROLE_OPTICAL_FEC},
    {"HostFECsupport", ROLE_HOST_FEC},
    {"BB_SC_N enable", ROLE_BBSCN_ENABLE},
    {"BB_SC_N", ROLE_BBSCN},
};

constexpr uint32_t kPreloadRegion = TVX_OPT_ROM_REGION_FW_PRELOAD;
constexpr size_t kDefaultScratch = 0x10000;

struct PreloadFamily {
    int cxrType;
    uint32_t signature;
    size_t majorAt, minorAt, subMinorAt;
};

constexpr PreloadFamily kFamilies[] = {
    {12, 0xCABA3821u, 26, 25, 24}, {15, 0xCABA4821u, 50, 49, 48}, {21, 0xCABA8030u, 7, 6, 5},
    {24, 0xCABA8030u, 7, 6, 5},    {25, 0x5041554Cu, 7, 6, 5},
};

const PreloadFamily *FindFamily(int cxrType) {
    for (const auto &f : kFamilies)
        if (f.cxrType == cxrType) return &f;
    return nullptr;
}

bool TakesPreloadTable(int cxrType) {
    return cxrType == 12 || cxrType == 15 || cxrType == 21 || cxrType == 24 || cxrType == 25 || cxrType == 27;
}

struct LaidPreload {
    size_t laid = 0;
    std::optional<size_t> checksumAt;
    uint32_t fileChecksum = 0;
    bool signatureMatched = false;
};

uint16_t FieldId(std::span<const uint8_t> image, const LaidField &laid) {
    return static_cast<uint16_t>(FieldWord(image, laid) & (laid.count >= 2 ? 0xFFFFu : 0xFFu));
}

// Lays the file down with the preload rules. checkAdapter applies the
// adapter's subsystem IDs, signature and chip revision; stamp puts the
// adapter's IDs into wildcard ID fields.
int LayPreload(std::span<const uint8_t> file, const AdapterFacts &facts, std::span<uint8_t> image, bool checkAdapter,
               bool stamp, LaidPreload &out, const char *trace) {
    out = LaidPreload{};
    uint32_t signature = 0;
    const bool hasSignature = PreloadSignature(facts.cxrType, signature);
    auto onField = [&](const FieldLine &f, const LaidField &laid, std::span<uint8_t> img) -> int {
        switch (f.role) {
        case ROLE_CHECKSUM:
            if (laid.count != 4 || laid.offset % 4 != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: checksum field at 0x%zx is no aligned 32-bit field", trace,
                                   laid.offset);
                return DAT_INVALID_FIELD;
            }
            out.checksumAt = laid.offset;
            out.fileChecksum = FieldWord(img, laid);
            return DAT_OK;
        case ROLE_SSVID:
        case ROLE_SSDID: {
            if (!checkAdapter) return DAT_OK;
            if (!facts.idsRead) return UnreadableIds(trace);
            const uint16_t mine = f.role == ROLE_SSVID ? facts.ssvid : facts.ssdid;
            const uint16_t id = FieldId(img, laid);
            if (id == mine) return DAT_OK;
            if (id != 0 && id != 0xFFFF) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: %s 0x%04x of the file, 0x%04x of the adapter", trace,
                                   f.role == ROLE_SSVID ? "ssvid" : "ssdid", id, mine);
                return DAT_SSID_MISMATCH;
            }
            if (stamp)
                for (size_t i = 0; i < laid.count; ++i)
                    img[laid.offset + i] = static_cast<uint8_t>(i == 0 ? mine : mine >> 8);
            return DAT_OK;
        }
        case ROLE_SIGNATURE:
            if (!checkAdapter || out.signatureMatched) return DAT_OK;
            if (!hasSignature || laid.count < 4 || FieldWord(img, laid) != signature) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: Incorrect file signature 0x%x!", trace, FieldWord(img, laid));
                return DAT_BAD_SIGNATURE;
            }
            out.signatureMatched = true;
            return DAT_OK;
        case ROLE_FV_MAJOR:
            if (checkAdapter && facts.cxrType == 15 &&
                ((facts.chipRevision == 1 && f.value > 3) || (facts.chipRevision == 2 && f.value == 3))) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: major version %u does not suit chip revision %u", trace, f.value,
                                   facts.chipRevision);
                return DAT_CHIP_REVISION;
            }
            OutputLevelMessage(LEVEL_DEBUG, "%s: %s=0x%x", trace, f.description.c_str(), f.value);
            return DAT_OK;
        case 0: return DAT_OK;
        default: OutputLevelMessage(LEVEL_DEBUG, "%s: %s=0x%x", trace, f.description.c_str(), f.value); return DAT_OK;
        }
    };
    int st = LayDownFile(file, kPreloadKeywords, kPreloadStringMax, image, onField, &out.laid, trace);
    if (st != DAT_OK) return st;
    if (!out.checksumAt) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: data file has no checksum field", trace);
        return DAT_INVALID_FIELD;
    }
    return DAT_OK;
}

std::string VersionText(const uint8_t v[3]) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d", v[0], v[1], v[2]);
    return text;
}

uint32_t g_preloadRegionSize = 0;

// Messages of the statuses UpdateAdapterFirmwareTableFromFile reports.
void PreloadFailureMessage(const TVXDevice *device, const char *path, int status) {
    const unsigned long inst = device->instance;
    const std::string model = ModelText(device);
    switch (status) {
    case 1: OutputMessage("%s", "Cannot open default/template file!"); break;
    case 2: OutputMessage("Unable to read file %s (Read error) !", path); break;
    case 5: OutputMessage("Incorrect data file (HBA Instance %lu - %s)!", inst, model.c_str()); break;
    case 6: OutputMessage("Input file (%s) has incorrect size!", path); break;
    case 7:
        OutputMessage("Current command is not supported with HBA instance %d - %s!", static_cast<int>(inst),
                      model.c_str());
        break;
    case 11: OutputMessage("Incorrect file for HBA instance %lu - %s (ssvid or ssvid)!", inst, model.c_str()); break;
    case 12:
    case 15: OutputMessage("Selected file has invalid data (%s)!", path); break;
    case 13: OutputMessage("File %s appears to be corrupted!", path); break;
    case 14: OutputMessage("Selected file has incorrect checksum (%s)!", path); break;
    case 35:
    case 354: OutputMessage("Incorrect input data file for HBA instance %lu - %s !", inst, model.c_str()); break;
    case 73: OutputMessage("Unable to find template file for HBA instance %lu - %s!", inst, model.c_str()); break;
    case 80: OutputMessage("Specified HBA serial number is invalid (HBA instance %lu)!", inst); break;
    case 115: OutputMessage("%s", "Memory allocation error!"); break;
    default: OutputMessage("Unable to read file %s (Read error) !", path); break;
    }
}

// Region write of the preload table: the oldest family takes the plain
// region write, the others the write with the retry rule.
uint32_t WritePreloadRegion(TVXDevice *device, std::span<const uint8_t> image, uint32_t region, int cxrType) {
    const uint32_t size = static_cast<uint32_t>(image.size());
    if (cxrType != 12) return AppUpdateOptionRomEx2(device, image.data(), region, size, 0);
    OSSBeginCriticalWrite();
    uint32_t st = TvxUpdateOptionRomEx(device->handle, 0, image.data(), size, region);
    OSSEndCriticalWrite();
    return st;
}

// One adapter of the preload run: 0 done, anything else failed.
int PreloadOneAdapter(TVXDevice *device, const char *path) {
    g_FwPreloadVersion = {};
    int st = GetFwPreloadVersionFromAdapter(device);
    if (st != 0) {
        // Without the adapter's version nothing says the table is older.
        OutputLevelMessage(LEVEL_DEBUG,
                           "UpdateFWPreloadTableToAllHBAs: HBA %d: preload version not readable (%d), not updated",
                           static_cast<int>(device->instance), st);
        return 0;
    }
    int cmp = -1;
    if (GetFwPreloadVersionFromFile(device, path) == 0)
        cmp = CompareFwPreloadVersion();
    else
        OutputLevelMessage(LEVEL_DEBUG,
                           "UpdateFWPreloadTableToAllHBAs: file version not readable, file checked in full");
    if (cmp >= 0) return 0;
    return UpdateAdapterFirmwareTableFromFile(device, path);
}

bool AcceptsPreload(const TVXDevice *device) { return GetCxrType(device) >= 12; }

datfile::Outcome CountPreloadResult(int status) { return status == 0 ? Outcome::Done : Outcome::Failed; }

} // namespace

namespace datfile {

bool PreloadSignature(int cxrType, uint32_t &signature) {
    const PreloadFamily *f = FindFamily(cxrType);
    if (f == nullptr) return false;
    signature = f->signature;
    return true;
}

bool PreloadVersionFromImage(std::span<const uint8_t> image, int cxrType, uint8_t version[3]) {
    const PreloadFamily *f = FindFamily(cxrType);
    if (f == nullptr) return false;
    return ReadU8(image, f->majorAt, version[0]) && ReadU8(image, f->minorAt, version[1]) &&
           ReadU8(image, f->subMinorAt, version[2]);
}

int ValidatePreloadFile(std::span<const uint8_t> file, const AdapterFacts &facts, std::span<uint8_t> scratch) {
    const char *trace = "ValidateFirmwareDataFile";
    LaidPreload lp;
    // The file's checksum covers the file's own values, wildcard IDs
    // included, so nothing is stamped here.
    int st = LayPreload(file, facts, scratch, true, false, lp, trace);
    if (st != DAT_OK) return st;
    WriteLE32(scratch, *lp.checksumAt, 0);
    uint32_t computed = Compute32BitsChecksum(scratch, lp.laid);
    OutputLevelMessage(LEVEL_DEBUG, "ValidateFirmwareDataFile: Computed checksum=0x%X", computed);
    if (!lp.signatureMatched) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateFirmwareDataFile: Incorrect file signature!");
        return DAT_BAD_SIGNATURE;
    }
    if (lp.fileChecksum == 0) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateFirmwareDataFile: Input file has check sum value 0!");
        return DAT_CHECKSUM_ZERO;
    }
    if (lp.fileChecksum != computed) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateFirmwareDataFile: Checksum is mismatched!");
        return DAT_CHECKSUM_MISMATCH;
    }
    return DAT_OK;
}

int BuildPreloadTable(std::span<const uint8_t> file, const AdapterFacts &facts, std::span<uint8_t> image) {
    const char *trace = "updateFwAreaBuffer";
    LaidPreload lp;
    int st = LayPreload(file, facts, image, true, true, lp, trace);
    if (st != DAT_OK) return st;
    uint32_t firstFour = 0;
    ReadLE32(image, 0, firstFour);
    WriteLE32(image, *lp.checksumAt, 0);
    uint32_t sum = Compute32BitsChecksum(image, lp.laid);
    WriteLE32(image, *lp.checksumAt, sum);
    OutputLevelMessage(LEVEL_DEBUG, "updateFwAreaBuffer: Compute32BitsChecksum=0x%X", sum);
    if (!lp.signatureMatched) {
        uint32_t signature = 0;
        if (lp.laid < 4 || !PreloadSignature(facts.cxrType, signature) || firstFour != signature) {
            OutputLevelMessage(LEVEL_DEBUG, "updateFwAreaBuffer: Incorrect file signature!");
            return DAT_BAD_SIGNATURE;
        }
        OutputLevelMessage(LEVEL_DEBUG, "updateFwAreaBuffer: Alternate file signature OK");
    }
    return DAT_OK;
}

} // namespace datfile

int GetFwPreloadVersionFromAdapter(TVXDevice *device) {
    if (device == nullptr) return DAT_NO_ADAPTER;
    const int cxr = GetCxrType(device);
    g_preloadRegionSize = 0;
    if (!PreloadSignature(cxr, g_FwPreloadVersion.signature)) return 121;
    uint32_t size = 0;
    int st = GetOptionROMRegionSize(device, kPreloadRegion, &size);
    if (st != 0) return st;
    std::vector<uint8_t> image;
    if (!AllocBuffer(image, size)) return DAT_NO_MEMORY;
    st = GetOptionROMRegionData(device, image, kPreloadRegion, &size);
    if (st != 0) return st;
    g_preloadRegionSize = size;
    if (!PreloadVersionFromImage(image, cxr, g_FwPreloadVersion.adapter)) return DAT_BAD_SIZE;
    return 0;
}

int GetFwPreloadVersionFromFile(TVXDevice *device, const char *path) {
    if (device == nullptr) return DAT_NO_ADAPTER;
    std::vector<uint8_t> file;
    int st = ReadDataFile(path != nullptr ? path : "", file);
    if (st != DAT_OK) return st;
    std::vector<uint8_t> scratch;
    if (!AllocBuffer(scratch, g_preloadRegionSize != 0 ? g_preloadRegionSize : kDefaultScratch, 0xFF))
        return DAT_NO_MEMORY;
    const AdapterFacts facts = GetAdapterFacts(device);
    LaidPreload lp;
    st = LayPreload(file, facts, scratch, false, false, lp, "GetFwPreloadVersionFromFile");
    if (st != DAT_OK) return st;
    return PreloadVersionFromImage(scratch, facts.cxrType, g_FwPreloadVersion.file) ? 0 : DAT_BAD_SIZE;
}

int CompareFwPreloadVersion() {
    const uint8_t *a = g_FwPreloadVersion.adapter;
    const uint8_t *f = g_FwPreloadVersion.file;
    OutputLevelMessage(LEVEL_DEBUG, "CompareFwPreloadVersion: Existing version=%s", VersionText(a).c_str());
    OutputLevelMessage(LEVEL_DEBUG, "CompareFwPreloadVersion: New version=%s", VersionText(f).c_str());
    // Part by part as numbers: 1.10.0 is newer than 1.9.0.
    int result = 0;
    for (int i = 0; i < 3 && result == 0; ++i)
        if (a[i] != f[i]) result = a[i] < f[i] ? -1 : 1;
    OutputLevelMessage(LEVEL_DEBUG, "CompareFwPreloadVersion: return %d", result);
    return result;
}

int ValidateFirmwareDataFile(TVXDevice *device, uint32_t, const char *path, uint8_t *scratch, uint32_t size) {
    if (device == nullptr) return DAT_NO_ADAPTER;
    if (scratch == nullptr) return DAT_NO_MEMORY;
    std::vector<uint8_t> file;
    int st = ReadDataFile(path != nullptr ? path : "", file);
    if (st == DAT_CANNOT_OPEN) OutputLevelMessage(LEVEL_DEBUG, "ValidateFirmwareDataFile: File not found!");
    if (st == DAT_OK && file.empty()) st = DAT_CORRUPTED;
    if (st == DAT_CORRUPTED)
        OutputLevelMessage(LEVEL_DEBUG, "ValidateFirmwareDataFile: input file is corrupted ('%s')!", path);
    if (st != DAT_OK) return st;
    return ValidatePreloadFile(file, GetAdapterFacts(device), std::span<uint8_t>(scratch, size));
}

int updateFwAreaBuffer(TVXDevice *device, const char *path, uint8_t *image, uint32_t size) {
    if (device == nullptr) return DAT_NO_ADAPTER;
    if (image == nullptr) return DAT_NO_MEMORY;
    std::vector<uint8_t> file;
    int st = ReadDataFile(path != nullptr ? path : "", file);
    if (st == DAT_CANNOT_OPEN) OutputLevelMessage(LEVEL_DEBUG, "updateFwAreaBuffer: Template file not found!");
    if (st != DAT_OK) return st;
    return BuildPreloadTable(file, GetAdapterFacts(device), std::span<uint8_t>(image, size));
}

namespace {

// The file checked in full on a scratch region, then built into the
// adapter's region.
int BuildPreloadRegion(TVXDevice *device, const char *path, std::span<const uint8_t>, std::span<uint8_t> region,
                       std::span<uint8_t> scratch) {
    const auto size = static_cast<uint32_t>(region.size());
    int st = ValidateFirmwareDataFile(device, kPreloadRegion, path, scratch.data(), size);
    if (st == DAT_OK) st = updateFwAreaBuffer(device, path, region.data(), size);
    return st;
}

} // namespace

int UpdateAdapterFirmwareTableFromFile(TVXDevice *device, const char *path) {
    static const RegionRebuild spec = {
        "UpdateAdapterFirmwareTableFromFile",
        kPreloadRegion,
        TakesPreloadTable,
        true,
        true,
        false,
        false,
        true,
        true,
        GetOptionROMRegionData,
        BuildPreloadRegion,
        PreloadFailureMessage,
        "firmware preload table",
        "Firmware Preload Table",
        "Successful, please reboot for the change to take effect.",
        WritePreloadRegion,
        DATAFILE_STATUS_PRELOAD_FAILED,
        OPTROM_OK_RESET_DISABLED,
    };
    return RebuildRegionFromDataFile(spec, device, path);
}

int UpdateFWPreloadTableToAllHBAs(const char *fileName) {
    static const RunSpec spec = {
        "UpdateFWPreloadTableToAllHBAs",
        "UpdateFWPreloadTableToAllHBAs: Skipping Fw preload table update of HBA %d (%s) - Found no matching file!",
        AcceptsPreload,
        PreloadOneAdapter,
        CountPreloadResult,
        DATAFILE_STATUS_PRELOAD_FAILED,
    };
    return RunDataFileUpdate(spec, fileName);
}
