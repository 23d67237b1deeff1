// Converged (Tesk) board configuration: the first 0x5000 bytes of region
// 0x71 rebuilt from BC26xx.DAT, the adapter's MAC address table kept.

#include <cstdio>
#include <cstring>

#include "app/output.h"
#include "datafiles/datafiles.h"
#include "datafiles/datbuild.h"
#include "image/helpers.h"
#include "inventory/adapters_table.h"
#include "inventory/cxrtype.h"
#include "update/flashregion.h"

using namespace datfile;

namespace {

enum TeskRole : int { ROLE_CHECKSUM = 1, ROLE_VERSION, ROLE_FEATURE };

// Only traced: the converged file is checked by its SSID table instead.
constexpr Keyword kTeskKeywords[] = {
    {"checksum", ROLE_CHECKSUM},
    {"version", ROLE_VERSION},
    {"feature_exclusive", ROLE_FEATURE},
};

constexpr uint32_t kTeskRegion = LARK_BOARD_CONFIG;
constexpr int kSsidCount = 8;

bool IsTeskType(int cxrType) { return cxrType == 21 || cxrType == 24; }

bool IsTeskAdapter(const TVXDevice *device) { return IsTeskType(GetCxrType(device)); }

void ReadSsids(std::span<const uint8_t> area, uint32_t ssid[kSsidCount]) {
    for (int i = 0; i < kSsidCount; ++i)
        if (!ReadLE32(area, kTeskSsidTable + 4 * static_cast<size_t>(i), ssid[i])) ssid[i] = 0;
}

// The port's ENode MAC address from the table: entry 2 for odd-numbered
// ports, entry 3 for the others; entries hold the address last byte first.
void PrintENodeMacAddress(std::span<const uint8_t> area, int port) {
    const size_t entry = kTeskMacTable + 8 * static_cast<size_t>((port - 1) % 2 == 0 ? 2 : 3);
    uint8_t m[6] = {};
    for (size_t i = 0; i < 6; ++i)
        ReadU8(area, entry + 5 - i, m[i]);
    OutputLevelMessage(LEVEL_DEBUG, "PrintENodeMacAddress: Nvram ENode Mac Address: %02X:%02X:%02X:%02X:%02X:%02X",
                       m[0], m[1], m[2], m[3], m[4], m[5]);
}

void TeskFailureMessage(const TVXDevice *device, const char *path, int status) {
    const std::string model = ModelText(device);
    switch (status) {
    case DAT_TESK_SSID_MISMATCH:
        OutputMessage("Incorrect Board Config file for HBA instance %lu - %s!",
                      static_cast<unsigned long>(device->instance), model.c_str());
        break;
    case DAT_CHECKSUM_ZERO: OutputMessage("Selected file has incorrect checksum (%s)!", path); break;
    case DAT_NO_MEMORY: OutputMessage("%s", "Memory allocation error!"); break;
    case DAT_CANNOT_OPEN: OutputMessage("Failed to open file %s for reading!", path); break;
    case DAT_READ_ERROR: OutputMessage("Unable to read file %s (Read error) !", path); break;
    case DAT_BAD_SIZE: OutputMessage("Input file (%s) has incorrect size!", path); break;
    case DAT_CORRUPTED: OutputMessage("File %s appears to be corrupted!", path); break;
    default: OutputMessage("Selected file has invalid data (%s)!", path); break;
    }
}

int UpdateTeskRun(TVXDevice *device, const char *path) { return UpdateTeskAdapterBrdCfgFromDatFile(device, path); }

// The build of the board configuration update on the file's bytes. The
// file was chosen by the subsystem IDs already and the build checks it by
// the SSID table: it needs only the port, so the IDs are not read again (a
// failed second read would be ignored right before the write).
int BuildTeskRegion(TVXDevice *device, const char *, std::span<const uint8_t> file, std::span<uint8_t> region,
                    std::span<uint8_t>) {
    AdapterFacts facts;
    facts.port = AdapterPort(device);
    return BuildTeskBoardConfig(file, facts, region);
}

} // namespace

namespace datfile {

uint32_t ComputeFeatureConfigAreaChecksum(std::span<uint8_t> area, size_t size, size_t checksumOffset) {
    if (size > area.size()) size = area.size();
    WriteLE32(area, checksumOffset, 0);
    uint32_t sum = HLPR_Sum32(area.first(size), size / 4);
    uint32_t checksum = ~sum + 1u;
    WriteLE32(area, checksumOffset, checksum);
    return checksum;
}

uint32_t ValidateTeskBrdConfigChecksum(std::span<uint8_t> area, size_t size, size_t checksumOffset) {
    uint32_t stored = 0;
    ReadLE32(area, checksumOffset, stored);
    uint32_t computed = ComputeFeatureConfigAreaChecksum(area, size, checksumOffset);
    return stored == computed ? 0 : computed;
}

int LayTeskBoardConfig(std::span<const uint8_t> file, std::span<uint8_t> region, const char *trace) {
    if (region.size() < kTeskAreaSize) return DAT_BAD_SIZE;
    auto onField = [trace](const FieldLine &f, const LaidField &, std::span<uint8_t>) -> int {
        if (f.role != 0) OutputLevelMessage(LEVEL_DEBUG, "%s: %s=0x%x", trace, f.description.c_str(), f.value);
        return DAT_OK;
    };
    // The file reaches only the board configuration area.
    return LayDownFile(file, kTeskKeywords, kTeskStringMax, region.first(kTeskAreaSize), onField, nullptr, trace);
}

int BuildTeskBoardConfig(std::span<const uint8_t> file, const AdapterFacts &facts, std::span<uint8_t> region) {
    const char *who = "UpdateTeskAdapterBrdCfgFromDatFile";
    if (region.size() < kTeskAreaSize) return DAT_BAD_SIZE;
    // The area is built in a copy and put in place only when it is good.
    const std::vector<uint8_t> flash(region.begin(), region.begin() + kTeskAreaSize);
    std::vector<uint8_t> area = flash;
    int st = LayTeskBoardConfig(file, area, "updateTeskBoardConfigBuffer");
    // A file that does not build is not written, not even in part.
    if (st != DAT_OK) return st;
    std::vector<uint8_t> fromFile = area;
    uint32_t fileSsid[kSsidCount], flashSsid[kSsidCount];
    ReadSsids(fromFile, fileSsid);
    ReadSsids(flash, flashSsid);
    for (int i = 0; i < kSsidCount; ++i)
        OutputLevelMessage(LEVEL_DEBUG, "%s: pBrdConfigFile->SSID %d=0x%x", who, i, fileSsid[i]);
    for (int i = 0; i < kSsidCount; ++i)
        OutputLevelMessage(LEVEL_DEBUG, "%s: pBrdConfigFlash->SSID %d=0x%x", who, i, flashSsid[i]);
    bool allZero = true, same = true;
    for (int i = 0; i < kSsidCount; ++i) {
        allZero = allZero && fileSsid[i] == 0;
        same = same && fileSsid[i] == flashSsid[i];
    }
    if (allZero) {
        ComputeFeatureConfigAreaChecksum(area, kTeskAreaSize, kTeskChecksumOffset);
    } else if (!same) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: SSID mismatch. Incorrect Brd Config for this adapter.\n", who);
        return DAT_TESK_SSID_MISMATCH;
    } else {
        std::memcpy(fromFile.data() + kTeskMacTable, flash.data() + kTeskMacTable, kTeskMacTableSize);
        area = fromFile;
        ComputeFeatureConfigAreaChecksum(area, kTeskAreaSize, kTeskChecksumOffset);
        area = fromFile;
        if (ValidateTeskBrdConfigChecksum(area, kTeskAreaSize, kTeskChecksumOffset) != 0) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Checksum Calculation Error.\n", who);
            return DAT_CHECKSUM_ZERO;
        }
    }
    std::memcpy(region.data(), area.data(), kTeskAreaSize);
    PrintENodeMacAddress(area, facts.port);
    return DAT_OK;
}

} // namespace datfile

int updateTeskBoardConfigBuffer(TVXDevice *device, const char *path, uint8_t *image, uint32_t size) {
    if (device == nullptr) return DAT_NO_ADAPTER;
    if (image == nullptr) return DAT_NO_MEMORY;
    std::vector<uint8_t> file;
    int st = ReadDataFile(path != nullptr ? path : "", file);
    if (st == DAT_CANNOT_OPEN) OutputLevelMessage(LEVEL_DEBUG, "updateTeskBoardConfigBuffer: Template file not found!");
    if (st != DAT_OK) return st;
    return LayTeskBoardConfig(file, std::span<uint8_t>(image, size), "updateTeskBoardConfigBuffer");
}

int UpdateTeskAdapterBrdCfgFromDatFile(TVXDevice *device, const char *path) {
    static const RegionRebuild spec = {
        "UpdateTeskAdapterBrdCfgFromDatFile",
        kTeskRegion,
        IsTeskType,
        true,
        false,
        true,
        true,
        false,
        false,
        ReadBoardConfigRegion,
        BuildTeskRegion,
        TeskFailureMessage,
        "Board Config parameters",
        "Board Config Parameters",
        "Success",
        WriteBoardConfigRegion,
        1801,
        0,
    };
    return RebuildRegionFromDataFile(spec, device, path);
}

int UpdateCNABoardConfigFromFileToAllHBAs(const char *fileName) {
    static const RunSpec spec = {
        "UpdateCNABoardConfigFromFileToAllHBAs",
        "UpdateCNABoardConfigFromFileToAllHBAs: Skipping board config of HBA %d (%s). No payload file matched!",
        IsTeskAdapter,
        UpdateTeskRun,
        CountBoardConfigResult,
        DATAFILE_STATUS_BOARD_CONFIG_FAILED,
    };
    return RunDataFileUpdate(spec, fileName);
}
