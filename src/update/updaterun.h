// The default update run over all adapters, the per-adapter update shared
// with the targeted update, and the whole-option-ROM update of the oldest
// FC adapters.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "inventory/tvxdevice.h"

// Option-ROM kinds (which update path an adapter takes).
enum : int {
    OPTROM_KIND_REGION = 1,      // region update, request "all"
    OPTROM_KIND_STD_23XX = 2,    // whole option ROM
    OPTROM_KIND_STD_63XX = 3,    // whole option ROM
    OPTROM_KIND_STD_2200 = 4,    // whole option ROM
    OPTROM_KIND_NOT_ON_HOST = 5, // status 3
    OPTROM_KIND_UNKNOWN = 6,     // status 9
    OPTROM_KIND_UNSUPPORTED = 7, // status 4
    OPTROM_KIND_2322 = 8,        // region update, request "all"
    OPTROM_KIND_CNA = 9,
    OPTROM_KIND_LARK = 10,
    OPTROM_KIND_TESK = 11,
    OPTROM_KIND_NOT_SUPPORTED = 12, // status 7
    OPTROM_KIND_FENWAR = 13,
    OPTROM_KIND_ZULT = 14,
};

// Default update run. singleDevice is unused (no single adapter);
// bAllPorts is the update-all-ports option; iOption the caller's value 1.
// 0 all needed updates succeeded, 1 none needed, 2 none succeeded, 3 some
// succeeded, 8 no adapter, -1 no memory.
int updateOptionROMAllHBAs(TVXDevice *singleDevice, int bAllPorts, int iOption);
// Per-adapter update: 0, 201, 2, 3, 4, 7, 8, 9, 120, 286 or the family
// routine's status.
int updateOptionROMSingleHBA(TVXDevice *device, const char *imageFile, int bAllPorts);
int doCXRCheckForOptionROM(TVXDevice *device);
// Whole option ROM of at most 128 KB: 0, 201, -1, 1 or a validation code.
int DoStdBiosUpdate(TVXDevice *device, const char *imageFile);
// Reads the file into buffer; *size in: the maximum, out: the length.
// 0, 1 cannot open, 3 read error, 4 larger than the maximum.
int ValidateOptionROMFile(const char *fileName, std::span<uint8_t> buffer, uint32_t *size);
// Checks (and patches) an option-ROM chain for the adapter: 0 when it may
// be written, else a status code.
int ValidateUpdateOptionROM(std::FILE *file, uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> buffer, uint32_t size,
                            const char *model);
