// Chip patching and validation of common boot images: stamping a common
// BIOS, FCode or EFI image with the identity of the target chip and board,
// and the checks that decide whether an image may go to a given chip.
// Offsets are relative to the image start (its ROM header); every access is
// checked against the caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Results of the patch and validation operations.
enum : int {
    IMG_OK = 0,
    IMG_UNKNOWN_HW_TYPE = 9,    // hardware type not in the tables
    IMG_INVALID_SSID = 10,      // wrong adapter type
    IMG_SSID_MISMATCH = 11,     // device mismatch
    IMG_CHECKSUM_MISMATCH = 12, // BIOS checksum wrong
    IMG_BAD_HEADER = 22,        // no usable image / broken chain
    IMG_BAD_SIGNATURE = 23,     // no 0x55 0xAA at the image start
};

// Offsets inside a common BIOS image.
constexpr size_t BIOS_CHIP_TEXT = 0x09; // 4 characters of the chip number
constexpr size_t BIOS_SSVID = 0x20;
constexpr size_t BIOS_DEVICE_ID = 0x2A;
constexpr size_t BIOS_MODEL = 0x44;
constexpr size_t BIOS_MODEL_MAX = 18;
constexpr size_t BIOS_MODEL_END = 0x56; // last byte of the model field

// Adapter type code and device ID a common BIOS image gets for a hardware
// type ("CXR%04X", "CXR2322S"); false for a type not in the table.
bool LookupBiosTypeCode(const char *hwType, uint8_t &code, uint16_t &deviceId);

int UpdateImage(uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> buf, const char *model, const char *hwType,
                size_t offset);
int UpdateiSCSIImage(uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> image, const char *model, const char *hwType);
int Validate(std::span<const uint8_t> buf, const char *deviceText, size_t offset);
int updateImageFCode(uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> buf, const char *hwType, size_t offset);
int UpdateImageEFI(uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> buf, const char *hwType, size_t offset);
int validateFCode(std::span<const uint8_t> buf, const char *deviceText, int flag, size_t offset);
int validateEFI(std::span<const uint8_t> buf, const char *deviceText, size_t offset);
