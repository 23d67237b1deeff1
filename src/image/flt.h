// Flash layout table header and the FLT locator that follows a boot-code
// chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

constexpr size_t FLT_HEADER_SIZE = 8;   // four 16-bit words
constexpr size_t FLT_LOCATOR_SIZE = 16; // eight 16-bit words

// FLT version (header word 0), or 0 when the buffer holds no header. The
// checksum over the table is tested and only logged.
uint16_t GetFlashLayoutVersion(std::span<const uint8_t> flt);

// 1 when the locator carries "OFLT" (zero-terminated, any case) and its
// eight words sum to zero, else 0.
int ValidateFLTLocator(std::span<const uint8_t> locator);
