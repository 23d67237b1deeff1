// PEP board configuration (region 0xCF of 27xx adapters): built from
// PEP27BC.dat when the file's version is newer (or with --force), and the
// version display of /pbc.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "app/output.h"
#include "app/settings.h"
#include "datafiles/datafiles.h"
#include "datafiles/datbuild.h"
#include "image/helpers.h"
#include "inventory/adapters_table.h"
#include "inventory/cxrtype.h"
#include "update/flashregion.h"

using namespace datfile;

namespace {

enum PepRole : int { ROLE_CHECKSUM = 1, ROLE_VERSION, ROLE_FEATURE, ROLE_SSVID, ROLE_SSDID, ROLE_SIGNATURE };

constexpr Keyword kPepKeywords[] = {
    {"checksum", ROLE_CHECKSUM},         {"version", ROLE_VERSION},           {"feature_exclusive", ROLE_FEATURE},
    {"subsystem vendor ID", ROLE_SSVID}, {"subsystem device id", ROLE_SSDID}, {"Signature", ROLE_SIGNATURE},
};

constexpr uint32_t kPepRegion = TVX_OPT_ROM_REGION_PEP_BOARD_CONFIG;

// The file's 16-bit ID: the field's first two bytes, little-endian.
uint16_t FieldId(std::span<const uint8_t> image, const LaidField &laid) {
    return static_cast<uint16_t>(FieldWord(image, laid) & (laid.count >= 2 ? 0xFFFFu : 0xFFu));
}

// Puts the adapter's ID into the field: low byte first, the high byte in
// every further byte.
void StampId(std::span<uint8_t> image, const LaidField &laid, uint16_t id) {
    for (size_t i = 0; i < laid.count; ++i)
        image[laid.offset + i] = static_cast<uint8_t>(i == 0 ? id : id >> 8);
}

bool IsPepType(int cxrType) { return cxrType == 25 || cxrType == 27; }

bool IsPepAdapter(const TVXDevice *device) { return IsPepType(GetCxrType(device)); }

// Status messages of UpdatePEPBrdCfgFromDatFile's build.
void BuildFailureMessage(const TVXDevice *device, const char *path, int status) {
    const int inst = static_cast<int>(device->instance);
    const unsigned long linst = device->instance;
    const std::string model = ModelText(device);
    switch (status) {
    case 1: OutputMessage("%s", "Cannot open default/template file!"); break;
    case 5:
    case 35: OutputMessage("Incorrect PEP board config file for HBA instance %lu - %s!", linst, model.c_str()); break;
    case 6: OutputMessage("Input file (%s) has incorrect size!", path); break;
    case 7: OutputMessage("Current command is not supported with HBA instance %d - %s!", inst, model.c_str()); break;
    case 11: OutputMessage("Incorrect file for HBA instance %lu - %s (ssvid or ssvid)!", linst, model.c_str()); break;
    case 13: OutputMessage("File %s appears to be corrupted!", path); break;
    case 14: OutputMessage("Selected file has incorrect checksum (%s)!", path); break;
    case 15: OutputMessage("Selected file has invalid data (%s)!", path); break;
    case 73:
        OutputMessage("Unable to find matching PEP board config template of HBA instance %lu - %s!", linst,
                      model.c_str());
        break;
    case 115: OutputMessage("%s", "Memory allocation error!"); break;
    default: OutputMessage("Unable to read file %s (Read error) !", path); break;
    }
}

// Messages of UpdateAdapterPEPBoardConfigFromFile's own results.
void AdapterResultMessage(const TVXDevice *device, const char *path, int status) {
    const int inst = static_cast<int>(device->instance);
    const std::string model = ModelText(device);
    switch (status) {
    case 0: break;
    case 8: OutputMessage("%s", "No compatible HBA(s) found in current system !"); break;
    case 213:
        OutputMessage("Update not needed. The PEP board config version of HBA %d (%s) is newer than the version of "
                      "this file.",
                      inst, model.c_str());
        break;
    case 214:
        OutputMessage("Update not needed. The PEP board config version of HBA %d (%s) is the same as version of this "
                      "file.",
                      inst, model.c_str());
        break;
    default: OutputMessage("Unable to continue. File validation failed (%s)!", path); break;
    }
}

// The build of updatePEPBoardConfigBuffer and GetPEPBoardConfigBufferFromFile.
int BuildFromPath(TVXDevice *device, const char *path, std::span<uint8_t> image, const char *trace) {
    if (device == nullptr) return DAT_NO_ADAPTER;
    const AdapterFacts facts = GetAdapterFacts(device);
    std::vector<uint8_t> file;
    int st = ReadDataFile(path != nullptr ? path : "", file);
    if (st == DAT_CANNOT_OPEN) OutputLevelMessage(LEVEL_DEBUG, "%s: Input dat file not found!", trace);
    if (st != DAT_OK) return st;
    return BuildPEPBoardConfig(file, facts, image, path, trace);
}

// Region 0xCF of the adapter into buf.
int ReadPepRegion(TVXDevice *device, std::vector<uint8_t> &buf, uint32_t &size) {
    size = static_cast<uint32_t>(kPEPImageSize);
    int st = GetOptionROMRegionSize(device, kPepRegion, &size);
    if (st != 0) return st;
    if (!AllocBuffer(buf, size)) return DAT_NO_MEMORY;
    return GetOptionROMRegionData(device, buf, kPepRegion, &size);
}

} // namespace

namespace datfile {

int BuildPEPBoardConfig(std::span<const uint8_t> file, const AdapterFacts &facts, std::span<uint8_t> image,
                        const char *path, const char *trace) {
    std::optional<size_t> checksumAt;
    auto onField = [&](const FieldLine &f, const LaidField &laid, std::span<uint8_t> img) -> int {
        switch (f.role) {
        case ROLE_SIGNATURE:
            if (FieldWord(img, laid) != kPEPSignature || laid.count < 4) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: Incorrect signature 0x%x", trace, FieldWord(img, laid));
                return DAT_BAD_SIGNATURE;
            }
            return DAT_OK;
        case ROLE_CHECKSUM:
            // The stored checksum takes four bytes on a word boundary.
            if (laid.count != 4 || laid.offset % 4 != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: checksum field at 0x%zx is no aligned 32-bit field", trace,
                                   laid.offset);
                return DAT_INVALID_FIELD;
            }
            checksumAt = laid.offset;
            OutputLevelMessage(LEVEL_DEBUG, "%s: File checksum=0x%x", trace, FieldWord(img, laid));
            return DAT_OK;
        case ROLE_VERSION:
            OutputLevelMessage(LEVEL_DEBUG, "%s: %s=0x%x", trace, f.description.c_str(), f.value);
            return DAT_OK;
        case ROLE_SSVID: {
            if (!facts.idsRead) return UnreadableIds(trace);
            uint16_t id = FieldId(img, laid);
            if (id == 0) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: detected special case.", trace);
                StampId(img, laid, facts.ssvid);
            } else if (id != facts.ssvid) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: ssvid 0x%04x of the file, 0x%04x of the adapter", trace, id,
                                   facts.ssvid);
                return DAT_SSID_MISMATCH;
            }
            return DAT_OK;
        }
        case ROLE_SSDID: {
            if (!facts.idsRead) return UnreadableIds(trace);
            uint16_t id = FieldId(img, laid);
            if (id == facts.ssdid) return DAT_OK;
            if (id == 0 || id == 0xFFFF) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: detected special case.", trace);
                StampId(img, laid, facts.ssdid);
                return DAT_OK;
            }
            OutputLevelMessage(LEVEL_DEBUG, "%s: ssdid 0x%04x of the file, 0x%04x of the adapter", trace, id,
                               facts.ssdid);
            return DAT_SSID_MISMATCH;
        }
        default: return DAT_OK;
        }
    };
    size_t laid = 0;
    int st = LayDownFile(file, kPepKeywords, kPEPStringMax, image, onField, &laid, trace);
    if (st == DAT_CORRUPTED)
        OutputLevelMessage(LEVEL_DEBUG, "%s: dat file %s is corrupted!", trace, path != nullptr ? path : "");
    if (st != DAT_OK) return st;
    if (!checksumAt) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: data file has no checksum field", trace);
        return DAT_INVALID_FIELD;
    }
    // The checksum covers every word the image is validated over, not only
    // the words the file laid down: bytes of the adapter's region beyond
    // the file's fields (kept as they were) would otherwise leave a region
    // that no longer validates. Where they sum to zero, as a region built
    // from a data file does, both give the same value.
    const size_t covered = std::max(laid, std::min(image.size(), kPEPImageSize)) & ~static_cast<size_t>(3);
    WriteLE32(image, *checksumAt, 0);
    uint32_t sum = Compute32BitsChecksum(image, covered);
    WriteLE32(image, *checksumAt, sum);
    OutputLevelMessage(LEVEL_DEBUG, "%s: Calculated checksum=0x%x", trace, sum);
    return DAT_OK;
}

int GetPEPVersionFromImage(std::span<const uint8_t> image, uint8_t version[4], const char *trace) {
    uint32_t sig = 0;
    if (!ReadLE32(image, 0, sig) || sig != kPEPSignature || image.size() < 8 ||
        HLPR_Sum32(image, kPEPImageSize / 4) != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: validation failed!", trace);
        return DAT_PEP_INVALID;
    }
    version[0] = image[7];
    version[1] = image[6];
    version[2] = image[5];
    version[3] = image[4];
    OutputLevelMessage(LEVEL_DEBUG, "%s: version %d.%d.%d.%d", trace, version[0], version[1], version[2], version[3]);
    return DAT_OK;
}

} // namespace datfile

int updatePEPBoardConfigBuffer(TVXDevice *device, const char *path, uint8_t *image, uint32_t size) {
    if (image == nullptr) return DAT_NO_MEMORY;
    return BuildFromPath(device, path, std::span<uint8_t>(image, size), "updatePEPBoardConfigBuffer");
}

int GetPEPBoardConfigBufferFromFile(TVXDevice *device, const char *path, uint8_t *image, uint32_t size) {
    if (image == nullptr) return DAT_NO_MEMORY;
    return BuildFromPath(device, path, std::span<uint8_t>(image, size), "GetPEPBoardConfigBufferFromFile");
}

int getPEPBrdCfgVersionFromAdapter(TVXDevice *device, uint8_t version[4]) {
    if (device == nullptr) return DAT_NO_ADAPTER;
    if (IsVirtualPort(device)) return 286;
    if (GetCxrType(device) != 25) return DAT_NO_ADAPTER;
    std::vector<uint8_t> buf;
    uint32_t size = 0;
    int st = ReadPepRegion(device, buf, size);
    OutputLevelMessage(LEVEL_DEBUG, "getPEPBrdCfgVersionFromAdapter: tvxResult = %d (Region=0x%x, Size=0x%x)", st,
                       kPepRegion, size);
    if (st != 0) return st;
    return GetPEPVersionFromImage(buf, version, "GetAdapterPEPBrdCfgVersion");
}

int ReadPEPBoardConfigBufferFromFile(TVXDevice *device, const char *path, uint8_t version[4]) {
    if (device == nullptr) return DAT_NO_ADAPTER;
    if (GetCxrType(device) != 25) {
        NotSupportedMessage(device);
        return 121;
    }
    if (DataFileSize(path != nullptr ? path : "") < 0) {
        OutputMessage("Failed to open file %s for reading!", path != nullptr ? path : "");
        return DAT_CANNOT_OPEN;
    }
    std::vector<uint8_t> image;
    if (!AllocBuffer(image, kPEPImageSize)) return DAT_NO_MEMORY;
    int st = GetPEPBoardConfigBufferFromFile(device, path, image.data(), static_cast<uint32_t>(image.size()));
    if (st != DAT_OK) return st;
    return GetPEPVersionFromImage(image, version, "GetPEPBrdCfgVersionFromFile");
}

namespace {

// ComparePEPBoardConfigVersion; *fileStatus gets the status of the file's
// version read when the adapter's version was read (else 0).
int CompareVersions(TVXDevice *device, const char *path, int *fileStatus) {
    OutputLevelMessage(LEVEL_DEBUG, "ComparePEPBoardConfigVersion: Enter...");
    *fileStatus = 0;
    uint8_t adapter[4] = {}, file[4] = {};
    int result = PEP_VERSION_SAME;
    if (getPEPBrdCfgVersionFromAdapter(device, adapter) != 0) {
        result = PEP_VERSION_ADAPTER_NEWER;
    } else if ((*fileStatus = ReadPEPBoardConfigBufferFromFile(device, path, file)) != 0) {
        result = PEP_VERSION_ADAPTER_NEWER;
    } else {
        for (int i = 0; i < 4; ++i) {
            if (file[i] == adapter[i]) continue;
            result = file[i] > adapter[i] ? PEP_VERSION_FILE_NEWER : PEP_VERSION_ADAPTER_NEWER;
            break;
        }
    }
    OutputLevelMessage(LEVEL_DEBUG, "ComparePEPBoardConfigVersion: return 0x%x", static_cast<unsigned>(result));
    return result;
}

} // namespace

int ComparePEPBoardConfigVersion(TVXDevice *device, const char *path) {
    int fileStatus = 0;
    return CompareVersions(device, path, &fileStatus);
}

namespace {

int BuildPepRegion(TVXDevice *device, const char *path, std::span<const uint8_t>, std::span<uint8_t> region,
                   std::span<uint8_t>) {
    return updatePEPBoardConfigBuffer(device, path, region.data(), static_cast<uint32_t>(region.size()));
}

} // namespace

int UpdatePEPBrdCfgFromDatFile(TVXDevice *device, const char *path) {
    static const RegionRebuild spec = {
        "UpdatePEPBrdCfgFromDatFile",
        kPepRegion,
        IsPepType,
        false,
        false,
        true,
        false,
        false,
        false,
        ReadBoardConfigRegion,
        BuildPepRegion,
        BuildFailureMessage,
        "PEP Board Config",
        "PEP Board Config",
        "Successful, please reboot for the change to take effect.",
        WriteBoardConfigRegion,
        DATAFILE_STATUS_BOARD_CONFIG_FAILED,
        0,
    };
    return RebuildRegionFromDataFile(spec, device, path);
}

namespace {

// ZMFGUpdatePEPBoardConfigFromFileToHBAPort; *reported tells whether the
// update printed its own result.
int ZmfgUpdate(TVXDevice *device, const char *path, bool *reported) {
    *reported = false;
    OutputLevelMessage(LEVEL_DEBUG, "ZMFGUpdatePEPBoardConfigFromFileToHBAPort: Enter...");
    int st = DATAFILE_STATUS_BOARD_CONFIG_FAILED;
    if (device == nullptr) {
        OutputMessage("%s", "Unable to find the selected HBA!");
        *reported = true;
    } else if (!IsVirtualPort(device) && GetCxrType(device) == 25) {
        st = UpdatePEPBrdCfgFromDatFile(device, path);
        *reported = true;
    }
    OutputLevelMessage(LEVEL_DEBUG, "ZMFGUpdatePEPBoardConfigFromFileToHBAPort: returns %d..", st);
    return st;
}

} // namespace

int ZMFGUpdatePEPBoardConfigFromFileToHBAPort(TVXDevice *device, const char *path) {
    bool reported = false;
    return ZmfgUpdate(device, path, &reported);
}

int UpdateAdapterPEPBoardConfigFromFile(TVXDevice *device, const char *path) {
    if (device == nullptr || path == nullptr || IsVirtualPort(device) || !IsPepAdapter(device)) return DAT_NO_ADAPTER;
    const int inst = static_cast<int>(device->instance);
    const std::string model = ModelText(device);
    int check = CheckAdapterFlashUpdateStatus(device);
    if (check != 1 && check != 3) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateAdapterPEPBoardConfigFromFile: Skipping PEP board config of HBA %d (%s)",
                           inst, model.c_str());
        return DATAFILE_STATUS_NOT_APPLIED;
    }
    int st = 0;
    bool reported = false;
    int fileStatus = 0;
    int reason = g_bForce ? PEP_VERSION_FILE_NEWER : CompareVersions(device, path, &fileStatus);
    if (fileStatus != 0 && fileStatus != DAT_CANNOT_OPEN && fileStatus != 121) {
        // The data file itself is at fault: say so rather than call the
        // adapter's version newer. An image that builds but does not check
        // out is the wrong kind of file.
        OutputLevelMessage(LEVEL_DEBUG, "UpdateAdapterPEPBoardConfigFromFile: data file refused (%d)", fileStatus);
        st = fileStatus == DAT_PEP_INVALID ? DAT_BAD_SIGNATURE : fileStatus;
        BuildFailureMessage(device, path, st);
        return st;
    }
    if (reason == PEP_VERSION_FILE_NEWER) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateAdapterPEPBoardConfigFromFile: Updating PEP board config of HBA %d (%s)",
                           inst, model.c_str());
        st = ZmfgUpdate(device, path, &reported);
    } else {
        OutputLevelMessage(LEVEL_DEBUG,
                           "UpdateAdapterPEPBoardConfigFromFile: Not updating PEP board config of HBA %d (%s) "
                           "(Reason=0x%x)",
                           inst, model.c_str(), static_cast<unsigned>(reason));
        st = reason == PEP_VERSION_ADAPTER_NEWER ? 213 : reason == PEP_VERSION_SAME ? 214 : DAT_NO_ADAPTER;
    }
    if (!reported) AdapterResultMessage(device, path, st);
    return st;
}

int UpdatePEPBoardConfigFromFileToAllHBAs(const char *fileName) {
    static const RunSpec spec = {
        "UpdatePEPBoardConfigFromFileToAllHBAs",
        "UpdatePEPBoardConfigFromFileToAllHBAs: Skipping PEP board config of HBA %d (%s). No payload file matched!",
        IsPepAdapter,
        UpdateAdapterPEPBoardConfigFromFile,
        CountBoardConfigResult,
        DATAFILE_STATUS_BOARD_CONFIG_FAILED,
    };
    return RunDataFileUpdate(spec, fileName);
}

int RetrievePEPBrdCfgVersionFromAdapter(TVXDevice *device, char *text, size_t size) {
    uint8_t v[4] = {};
    int st = getPEPBrdCfgVersionFromAdapter(device, v);
    if (text != nullptr && size > 0) {
        if (st == 0)
            std::snprintf(text, size, "%d.%d.%d.%d", v[0], v[1], v[2], v[3]);
        else
            text[0] = '\0';
    }
    return st;
}

int DisplayPEPBrdCfgVersionFromAdapter(TVXDevice *device) {
    if (device == nullptr || GetCxrType(device) != 25) return 0;
    char version[64];
    int st = RetrievePEPBrdCfgVersionFromAdapter(device, version, sizeof version);
    const int inst = static_cast<int>(device->instance);
    if (st == 0)
        OutputMessage("HBA %d (%s): PEP board cfg version=%s", inst, ModelText(device).c_str(), version);
    else
        OutputMessage("Unable to read PEP board cfg version of HBA instance %d %s", inst, ModelText(device).c_str());
    return st;
}
