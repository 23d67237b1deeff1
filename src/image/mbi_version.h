// Multi-boot image version block (64 bytes at 0x3FFC0 of flash region 1 of
// the 24xx/25xx-class adapters).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

constexpr uint32_t MBI_VERSION_BLOCK_OFFSET = 0x3FFC0u;
constexpr uint32_t MBI_VERSION_BLOCK_SIZE = 0x40u;
// Bytes "OMBV" read as a little-endian 32-bit word (word 1 in the high half).
constexpr uint32_t MBI_VERSION_SIGNATURE = 0x56424D4Fu;

struct MultibootVersion {
    uint8_t ExistingMultibootVersionMajor;
    uint8_t ExistingMultibootVersionMinor;
    uint8_t ExistingMultibootVersionSubMinor;
};

// Takes the version from a 64-byte block (0.00.00 without the signature,
// or when the block is shorter than its fields); always 0.
int getMBImageVersionInFirmware(std::span<const uint8_t> block, MultibootVersion *version);