// Flash memo block of the Tesk FC, Fenwar and Zult adapters: a 48-byte
// record at the start of its own region that says which multi-boot image,
// FFV version and build date the flash holds, and which tool wrote it when.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>

#include "inventory/tvxdevice.h"

constexpr size_t FLASH_MEMO_BLOCK_SIZE = 48;
constexpr size_t FLASH_MEMO_BLOCK_DWORDS = 12;
constexpr uint32_t FLASH_MEMO_BLOCK_SIGNATURE = 0x53424D46u; // "FMBS"
constexpr uint32_t FLASH_MEMO_BLOCK_VERSION = 3;

// Field offsets.
constexpr size_t FMB_OFF_SIGNATURE = 0;
constexpr size_t FMB_OFF_LENGTH = 4;
constexpr size_t FMB_OFF_VERSION = 8;
constexpr size_t FMB_OFF_CHECKSUM = 12;
constexpr size_t FMB_OFF_FFV = 16;
constexpr size_t FMB_OFF_MBI = 20;
constexpr size_t FMB_OFF_BUILD_DATE = 24;
constexpr size_t FMB_OFF_TOOL_ID = 32;
constexpr size_t FMB_OFF_UPDATE_YEAR = 36;
constexpr size_t FMB_OFF_UPDATE_MONTH = 38;
constexpr size_t FMB_OFF_TOOL_VERSION = 44;

// Results.
enum : int {
    FMB_OK = 0,
    FMB_NOT_SUPPORTED = 7,
    FMB_NO_ADAPTER = 8,
    FMB_BAD_CHECKSUM = 25,
    FMB_TOO_SHORT = 29,
    FMB_NO_SIGNATURE = 35,
    FMB_UNREADABLE = 37,
    FMB_NO_BUFFER = 40,
    FMB_NO_MEMORY = 115,
    FMB_UPDATE_FAILED = 526,
};

// What the writers store from the image: the multi-boot image version
// (ILT header bytes 13-15), the FFV version in memo order (ILT header bytes
// 21, 22, 23, 24) and the build date.
struct FlashMemoVersions {
    uint8_t mbi[3];
    uint8_t ffv[4];
    uint8_t buildMonth;
    uint8_t buildDay;
    uint16_t buildYear;
};

// Local time of the "last update" fields; tests pin it. Returns false when
// no time can be had (the fields are then left as they were).
using FlashMemoClock = bool (*)(std::tm &now);
void SetFlashMemoBlockClock(FlashMemoClock clock); // null: the system's local time

// 1 when the buffer starts with "FMBS" (a wrong checksum is only traced),
// else 0.
int isCorrectFlashMemoBlockSignature(std::span<const uint8_t> buffer);
// 0 when the first 'dwords' little-endian dwords sum to 0; 25 when not, 29
// when the buffer is shorter than 48 bytes or than the dwords, 40 for none.
int VerifyChecksum32Bit(std::span<const uint8_t> buffer, size_t dwords);

// Memo block region read by the adapter's family (0 when it has none).
uint32_t GetFlashMemoBlockRegion(TVXDevice *device);

// Copies the adapter's memo block (48 bytes) to out. 0; 7 family without
// a memo block; 8 no adapter; 37 region unreadable; 35 no signature; 115
// no output.
int GetAdapterFlashMemoBlock(TVXDevice *device, std::span<uint8_t> out);

// Rewrites the memo block at the start of a region buffer: kept when it
// has the signature, else started afresh from 0xFF bytes; versions (when
// given), tool ID and version, time of update, checksum. 0 or 115.
int UpdateFlashMemoBlockData(TVXDevice *device, std::span<uint8_t> region, const FlashMemoVersions *versions);

// Rewrites the memo region of a Tesk FC or Fenwar adapter: 0, 8, 526.
int UpdateFlashMemoBlockRegion(TVXDevice *device, const FlashMemoVersions *versions);
// Rewrites the memo region of the set a Zult update is writing (the one not
// running): 0, 8, 526.
int UpdateZultFlashMemoBlockRegion(TVXDevice *device, const FlashMemoVersions *versions);
