// Active flash sets of the dual-bank adapters (27xx Fenwar, 28xx Zult): the
// image status regions read from the adapter, the library's active-regions
// query with its waits, the flip of the status records that makes the
// freshly written set active, and the status-region write.
#pragma once

#include <cstdint>
#include <span>

#include "inventory/tvxdevice.h"
#include "torvex.h"

// Status results of this module.
enum : int {
    ACTIVE_OK = 0,
    ACTIVE_FAILED = -1,
    ACTIVE_NO_MEMORY = -17,
    ACTIVE_REGION_UNREADABLE = -20,
    ACTIVE_NOT_ZULT = -52,
    ACTIVE_NO_ADAPTER = -53,
};

// Region query results of GetAdapterFlashActiveRegionInfo.
enum : int {
    REGION_INFO_NO_ADAPTER = 8,
    REGION_INFO_INVALID_SIGNATURE = 35,
    REGION_INFO_BAD_REGION = 36,
};

// Waits and tries.
constexpr unsigned ACTIVE_REGIONS_WAIT_MS = 8000;
constexpr int ACTIVE_REGIONS_MAX_TRIES = 8;
constexpr unsigned STATUS_WRITE_WAIT_MS = 10000;
constexpr int STATUS_WRITE_MAX_TRIES = 30;

// Active regions worked out from the status records, with the generation
// of the active set and the tool ID of the deciding auxiliary record.
struct CoreActiveRegions {
    TVX_ACTIVE_REGIONS regions;
    uint16_t generation;
    uint8_t toolId;
};

// Image status signature of the adapter's family (0 below the Fenwar family).
uint32_t CoreImageStatusSignature(const TVXDevice *device);

// Works the active set out from regions 0x95/0x96 (and, for Zult, the four
// configuration areas from 0x125/0x126; Fenwar leaves the areas in *out as
// given). 0, -1 (not a dual-bank adapter, no output), -17, -20 (a status
// region could not be read).
int CoreGetAdapterFlashActiveRegions(TVXDevice *device, CoreActiveRegions *out);

// The library's active regions, asked up to 8 times 8000 ms apart; an
// answer of 0 ("invalid") is replaced by the records' view. 0 or -1.
int CoreGetActiveRegions(TVXDevice *device, TVX_ACTIVE_REGIONS *out);

// Makes the set that is not active now the active one (Zult): the record
// of that set is written first, with the next generation, then the other
// record loses its mask bit. 0, -1, -17, -52, -53.
int CoreUpdateImageStatus(TVXDevice *device, const TVX_ACTIVE_REGIONS *activeRegions);

// Flips the FC board configuration copy in the auxiliary records (Zult).
// 0, -1, -17, -52, -53.
int CoreUpdateAuxImageStatus(TVXDevice *device, const TVX_ACTIVE_REGIONS *activeRegions);

// Writes one 64 KiB status region: the adapter must answer the update
// capabilities query; reset answers are retried up to 30 times 10000 ms
// apart; 0x20000100 counts as written and sets *disableReset. 0 or -1.
int CoreUpdateOptionRomEx(TVXDevice *device, std::span<const uint8_t> buffer, uint32_t region, uint16_t *disableReset);

// Reads status region 0x95 or 0x96: *active 1 and *generation set when its
// valid record carries the mask bit. 0, 8, 36 (other region), 35 (invalid
// record), or the read status.
int GetAdapterFlashActiveRegionInfo(TVXDevice *device, uint32_t region, int *active, uint16_t *generation);
