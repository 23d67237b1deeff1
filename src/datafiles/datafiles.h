// Configuration data-file updates of the default run (PEP board config,
// converged board config, firmware preload table) and the PEP board-config
// version display of /pbc.
//
// Not built yet: the runs apply no data file and return
// DATAFILE_STATUS_NOT_APPLIED (accepted by the default run); the display
// reports that the command is not supported by this build.
#pragma once

#include "inventory/tvxdevice.h"

// No data file was applied (the empty-run status of the data-file runs).
constexpr int DATAFILE_STATUS_NOT_APPLIED = 215;
// A command that this build does not carry.
constexpr int DATAFILE_STATUS_NOT_SUPPORTED = 7;

int UpdatePEPBoardConfigFromFileToAllHBAs(const char *fileName);
int UpdateCNABoardConfigFromFileToAllHBAs(const char *fileName);
int UpdateFWPreloadTableToAllHBAs(const char *fileName);

// /pbc block of one HBA list record.
int DisplayPEPBrdCfgVersionFromAdapter(TVXDevice *device);
