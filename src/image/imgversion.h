// Versions carried by a multi-region image: the image version records that
// the component validators fill, the boot-code chain version readers, the
// RISC firmware header readers and the time-stamp update of the image
// layout table when a combined flash image is built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>

// Boot code version: PCI data structure code revision high byte (major)
// and low byte (minor).
struct BootCodeVersion {
    uint8_t major;
    uint8_t minor;
};

// Firmware and other component versions.
struct ComponentVersion {
    uint8_t major;
    uint8_t minor;
    uint8_t subMinor;
};

// Image version record of the converged adapters, Tesk and Fenwar; zero-
// filled before use. First-generation and Lark adapters keep their FCoE boot
// code versions in the FC fields.
struct ImageVersionRecord {
    BootCodeVersion nicBios; // PXE
    BootCodeVersion nicFcode;
    BootCodeVersion nicEfi;
    BootCodeVersion iscsiEfi;
    BootCodeVersion iscsiFcode;
    BootCodeVersion iscsiBios;
    BootCodeVersion fcBios;
    BootCodeVersion fcFcode;
    BootCodeVersion fcEfi;
    BootCodeVersion fcoeBios; // Tesk
    BootCodeVersion fcoeFcode;
    BootCodeVersion fcoeEfi;
    ComponentVersion riscFw;
    ComponentVersion mpiFw;
    ComponentVersion edcFw;
    ComponentVersion image; // ILT header bytes 13-15
    ComponentVersion mpiConfig;
    ComponentVersion bootloader;
    ComponentVersion crbInit;
    ComponentVersion pegTune;
    ComponentVersion nicFw;
    uint8_t buildMonth;
    uint8_t buildDay;
    uint16_t buildYear;
    uint8_t ffv[4]; // ILT header bytes 21, 22, 24, 23
};

// Image version record of Zult adapters; zero-filled before use.
struct ZultImageVersionRecord {
    ComponentVersion image; // ILT header bytes 13-15
    uint8_t ffv[4];         // ILT header bytes 21, 22, 23, 24
    uint8_t buildMonth;
    uint8_t buildDay;
    uint16_t buildYear;
    uint8_t pepFw[4];          // component bytes 79, 78, 77, 76
    uint8_t pepSoftRom[4];     // same order
    uint8_t pepBoardConfig[4]; // component bytes 7, 6, 5, 4
    uint8_t preload[4];        // same order
    uint8_t fcBoardConfig[4];  // same order
    ComponentVersion mpiFw;
    ComponentVersion mpiSoftRom;
    uint8_t pcieSerdes[4]; // component bytes 7, 6, 5, 4
    ComponentVersion riscFw;
    BootCodeVersion fcBios;
    BootCodeVersion fcFcode;
    BootCodeVersion fcEfi;
    ComponentVersion signatureRegion; // region bytes 7, 6, 5
};

// Status values of the boot-code version readers.
constexpr int BOOTVER_OK = 0;
constexpr int BOOTVER_UNKNOWN_IMAGE = 2; // no chain at all
constexpr int BOOTVER_BAD_HEADER = 3;
constexpr int BOOTVER_BAD_DEVICE = 4;

// Boot code version readers: walk the chain that starts at the span start
// (every link bounded by the span) and store each image's version by code
// type and the protocol the device ID names. 0, 2, 3 or 4.
int GetImageVersions(std::span<const uint8_t> chain, ImageVersionRecord *record, uint16_t deviceId);
int GetLarkImageVersions(std::span<const uint8_t> chain, ImageVersionRecord *record, uint16_t deviceId);
int GetTeskImageVersions(std::span<const uint8_t> chain, ImageVersionRecord *record, uint16_t deviceId);
int GetFenwarImageVersions(std::span<const uint8_t> chain, ImageVersionRecord *record, uint16_t deviceId);
int GetImageBootCodesVersion(std::span<const uint8_t> chain, ZultImageVersionRecord *record, uint16_t deviceId);

// RISC firmware header (first 120 bytes of a RISC firmware component; the
// same layout heads the MPI firmware and MPI SoftROM of Fenwar and Zult).
// All fields are big-endian words in the component.
constexpr size_t RISC_FW_HEADER_SIZE = 120;
struct RiscFirmwareHeader {
    uint32_t preamble0;
    uint32_t preamble1;
    uint32_t startAddress;
    uint32_t addressLength;
    uint32_t versionMajor;
    uint32_t versionMinor;
    uint32_t versionSubMinor;
    uint32_t attribute;
    uint32_t supportedValue;
    uint32_t extendedAttribute;
    uint32_t postAmble;
};

// Decodes the header from the first 120 bytes: 0, or -1 when the component
// is shorter.
int GetFirmwareHeader(std::span<const uint8_t> component, RiscFirmwareHeader *header);
// Low bytes of the three version words (logged).
void GetRiscVersion(const RiscFirmwareHeader &header, ComponentVersion *version);
// The same from the component bytes: 0, or -1 when it is too short.
int GetRiscFirmwareVersion(std::span<const uint8_t> component, ComponentVersion *version);

// Copies the ILT (checksum field 0) to the start of the flash buffer,
// stamps the local time into the copy's time-stamp entry and stores the
// copy's checksum into the source ILT's checksum field. 1 when done, 0 for
// no ILT or a table that does not fit the ILT or the flash buffer.
int UdpateTimeStamp(std::span<uint8_t> flashBuffer, std::span<uint8_t> ilt);
