// Versions installed on a converged or newer adapter (the record the
// installed-version readers fill) and the parsers of their VPD texts.
#pragma once

#include <cstdint>

#include "image/mbi_version.h"

struct InstalledImageVersions {
    uint8_t fcBiosVer[2];  // major, minor
    uint8_t fcFcodeVer[2]; // major, minor
    uint8_t fcEfiVer[2];   // major, minor
    uint8_t riscFwVer[3];  // major, minor, sub-minor
    MultibootVersion mbi;  // multi-boot image version
    uint8_t ffvVer[4];     // major, minor, unfilled, build
};

// VPD value parsers.
// Major from characters 0-1, minor from 3-4 (decimal).
void ParseVpdTwoPartVersion(const char *text, uint8_t out[2]);
// Firmware version: 8-character, 11-character or dotted variable form.
void ParseVpdFirmwareVersion(const char *text, uint8_t out[3]);
// Only the decimal digits remain; pairs 0-1, 2-3, 4-5 give count bytes.
void ParseVpdDigitVersion(const char *text, uint8_t *out, int count);
