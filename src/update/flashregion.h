// Flash region primitives: the queued region request, the region layout
// query, region reads and region writes with the library's retry rule.
// Every driver reaches an adapter's flash through these; they know nothing
// of image formats or adapter families.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "devlib/device.h"
#include "torvex.h"
#include "update/regions.h"

// The queued region-write request of one adapter update.
struct OptionROMRequest {
    uint32_t Region;    // region code requested: 0 not yet decided, 0xFF all
    char FileName[256]; // image file path
    uint32_t FileSize;  // size of that file in bytes
};

// Null when there is no request.
extern OptionROMRequest *g_ptrOptionROMRequest;

// Library answers of a region operation.
constexpr uint32_t TVX_RESULT_MPI_RESET = 0x20000067u;      // wait and retry
constexpr uint32_t TVX_RESULT_CXR_RESET = 0x20000075u;      // wait and retry
constexpr uint32_t TVX_RESULT_RESET_DISABLED = 0x20000100u; // write done, no reset
// Retry rule while the chip resets: wait between calls, at most this many.
constexpr unsigned OPTROM_RESET_WAIT_MS = 1000;
constexpr int OPTROM_RESET_MAX_CALLS = 30;

// Status codes of the region primitives and the region update.
enum : int {
    OPTROM_OK = 0,
    OPTROM_CANNOT_OPEN = 1,
    OPTROM_BAD_SIZE = 2,
    OPTROM_CANNOT_WIND = 5,
    OPTROM_NO_ADAPTER = 8,
    OPTROM_NO_MEMORY = 10,
    OPTROM_NOT_A_FIRMWARE = 27,
    OPTROM_VALID = 28,
    OPTROM_FW_CHECKSUM = 25,
    OPTROM_FW_TOO_SHORT = 29,
    OPTROM_FW_WRONG_SIZE = 30,
    OPTROM_BOOT_WRONG_SIZE = 31,
    OPTROM_DATA_WRONG_SIZE = 32,
    OPTROM_FILE_CORRUPTED = 33,
    OPTROM_UPDATE_FAILED = 34,
    OPTROM_READ_FAILED = 36,
    OPTROM_NO_REGION = 37,
    OPTROM_LAYOUT_FAILED = 38,
    OPTROM_ALLOC_FAILED = 115,
    OPTROM_OK_RESET_DISABLED = 201,
};

// The library's error text of a status (cut to 255 characters).
std::string LibraryErrorText(uint32_t status);

// Queues (creating if needed) the request for the file and region word
// ("all", "fw", "boot", case ignored; null for none). 0, 1 cannot open,
// 2 size does not suit the word, 5 cannot measure, 10 no memory.
int addUserOptionROMRequest(const char *regionWord, const char *fileName);
// Frees the request and resets g_ptrOptionROMRequest.
void freeUserOptionROMReq();

// The library's region layout, fetched in two calls (count, then the whole
// block): 0 or the library's status; TVX_ERR_NO_MEMORY when the block
// cannot be allocated. No messages.
uint32_t QueryOptionRomLayout(const TVXDevice *device, std::vector<TVX_REGION_ENTRY> &layout);
// Region layout of the adapter: every entry in library order; *allSize
// (may be null) gets the size of the 0xFF entry, 0 when none. 0, 36 query
// failed, 115 no memory.
int GetOptionRomLayout(TVXDevice *device, std::vector<TVX_REGION_ENTRY> &layout, uint32_t *allSize);
// Size of a region that exists and reads: 0, 8, 115, 38, 37, 36.
int GetOptionROMRegionSize(TVXDevice *device, uint32_t region, uint32_t *size);
// Reads a region into buffer (which must hold the region): 0, 8, 115
// (no memory, buffer missing or too small), 38, 37, 36. *size is stored
// before the read is tried.
int GetOptionROMRegionData(TVXDevice *device, std::span<uint8_t> buffer, uint32_t region, uint32_t *size);
// Reads a region's current contents into buffer; 0 also when the region
// does not exist (nothing read); else 8, 10, 38, 37. At most the buffer is
// filled: a region larger than the buffer is refused with 37.
int getHBAOptionROMInfos(TVXDevice *device, std::span<uint8_t> buffer, uint32_t region);

// Reads size bytes at a flash offset (outside the region layout, for
// blocks at fixed places); the library's result. No retry, no messages.
uint32_t ReadOptionRomAtOffset(TVXDevice *device, uint8_t *buffer, uint32_t size, uint32_t offset);

// Region writes with the retry rule; the library's result. A missing
// buffer or a size of 0 is refused (0x20000003) without a library call.
uint32_t AppUpdateOptionRomEx2(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                               uint16_t options);
// Same; on the answer 0x20000100 *options becomes 1.
uint32_t AppUpdateOptionRomEx3(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                               uint16_t *options);
