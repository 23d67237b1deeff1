// Configuration data-file updates of the default run (PEP board config,
// converged board config, firmware preload table) and the PEP board-config
// version display of /pbc.
#pragma once

#include <cstdint>

#include "inventory/tvxdevice.h"

// Results of the data-file runs that the default run accepts.
constexpr int DATAFILE_STATUS_SAME_VERSION = 214;
constexpr int DATAFILE_STATUS_NOT_APPLIED = 215;
// Failure status of the board-config runs and of the preload run.
constexpr int DATAFILE_STATUS_BOARD_CONFIG_FAILED = 211;
constexpr int DATAFILE_STATUS_PRELOAD_FAILED = 350;

// The runs over all adapters; each returns 0, 1 (a data file can't be
// opened), 215 (no adapter) or its failure status.
int UpdatePEPBoardConfigFromFileToAllHBAs(const char *fileName);
int UpdateCNABoardConfigFromFileToAllHBAs(const char *fileName);
int UpdateFWPreloadTableToAllHBAs(const char *fileName);

// ---- PEP board configuration ----
// Comparison results: the file is newer, the same, or the adapter is newer
// (or a version can't be read).
constexpr int PEP_VERSION_ADAPTER_NEWER = 0x8000;
constexpr int PEP_VERSION_SAME = 0x8001;
constexpr int PEP_VERSION_FILE_NEWER = 0x8002;

int UpdateAdapterPEPBoardConfigFromFile(TVXDevice *device, const char *path);
int ComparePEPBoardConfigVersion(TVXDevice *device, const char *path);
int ZMFGUpdatePEPBoardConfigFromFileToHBAPort(TVXDevice *device, const char *path);
int UpdatePEPBrdCfgFromDatFile(TVXDevice *device, const char *path);
// Builds the region image in place from the data file.
int updatePEPBoardConfigBuffer(TVXDevice *device, const char *path, uint8_t *image, uint32_t size);
// The same build into image, which the caller zero-fills (0x20000 bytes).
int GetPEPBoardConfigBufferFromFile(TVXDevice *device, const char *path, uint8_t *image, uint32_t size);
// Version major.minor.sub-minor.build held by the adapter / the file.
int getPEPBrdCfgVersionFromAdapter(TVXDevice *device, uint8_t version[4]);
int ReadPEPBoardConfigBufferFromFile(TVXDevice *device, const char *path, uint8_t version[4]);
// "%d.%d.%d.%d" of the adapter's version into text (64 characters).
int RetrievePEPBrdCfgVersionFromAdapter(TVXDevice *device, char *text, size_t size);
// /pbc block of one HBA list record.
int DisplayPEPBrdCfgVersionFromAdapter(TVXDevice *device);

// ---- Firmware preload table ----
// Version record of the adapter being handled.
struct FwPreloadVersionRecord {
    uint32_t signature;
    uint8_t adapter[3]; // major, minor, sub-minor
    uint8_t file[3];
};
extern FwPreloadVersionRecord g_FwPreloadVersion;

int GetFwPreloadVersionFromAdapter(TVXDevice *device);
int GetFwPreloadVersionFromFile(TVXDevice *device, const char *path);
// -1 the adapter's version is older than the file's, 0 equal, 1 newer.
int CompareFwPreloadVersion();
int UpdateAdapterFirmwareTableFromFile(TVXDevice *device, const char *path);
int ValidateFirmwareDataFile(TVXDevice *device, uint32_t region, const char *path, uint8_t *scratch, uint32_t size);
int updateFwAreaBuffer(TVXDevice *device, const char *path, uint8_t *image, uint32_t size);

// ---- Converged board configuration ----
int UpdateTeskAdapterBrdCfgFromDatFile(TVXDevice *device, const char *path);
int updateTeskBoardConfigBuffer(TVXDevice *device, const char *path, uint8_t *image, uint32_t size);
