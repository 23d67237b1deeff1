// Region update of the classic FC adapters: the checks a user file must
// pass and the update that writes it. The region primitives it uses come
// with flashregion.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "inventory/tvxdevice.h"
#include "update/flashregion.h"
#include "update/regions.h"

// Compact model text of the messages: leading blank dropped, only letters,
// digits and punctuation kept, "-S" appended for SUN-branded adapters.
std::string BuildCompactModelText(const TVXDevice *device);

// Writes the region when the queued request selects it, else 8.
uint32_t FCUpdateOptionRom(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size, uint16_t options);
uint32_t EthernetUpdateOptionRom(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                                 uint16_t options);

// Checks (and patches) a multi-boot file for the adapter: 0 or 28 when it
// may be written, else a status code.
int validateUpdateMultibootOptionROM(uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> file, const char *model,
                                     uint16_t deviceId);
// 28 valid, 25 bad checksum, 27 not a firmware file of this chip, 29 short.
int validateFirmware(std::span<const uint8_t> file, const char *hwType, int flag);
int isCorrectFirmwareImage(std::span<const uint8_t> file, const char *hwType);
int ValidateFirmwareChecksum(std::span<const uint8_t> file);

// Common boot image device lists: 1 when the FCode (device text starting
// with "2322" included) or EFI images of a chain are patched for the chip.
bool isCommonFCodeDevice(const char *deviceText);
bool isCommonEfiDevice(const char *deviceText);

// Reads the adapter's subsystem device and vendor IDs from its NVRAM:
// 0, else the library's status (the outputs are then not all set).
uint32_t ReadAdapterSubsysIds(const TVXDevice *device, uint16_t *ssdid, uint16_t *ssvid);

// Region update of a classic FC adapter from the file of the queued
// request: 0, 201 (last write answered 0x20000100), else a status code.
int OptionROMRegionUpdate(TVXDevice *device, const char *fileName);
