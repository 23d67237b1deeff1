// PCI expansion-ROM image chains: ROM header and PCI data structure
// readers, the chain walk, the BIOS byte checksum and the chain walkers
// that patch or validate every image of a chain by its code type.
//
// Every function takes the caller's buffer as a span and never reads or
// writes outside it: an image whose header, data structure or end lies
// outside the buffer is not a PCI image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

// ROM header fields (offsets from the image start).
constexpr size_t ROM_HDR_SIGNATURE = 0x00;   // 0x55 0xAA
constexpr size_t ROM_HDR_SIZE = 0x02;        // size in 512-byte blocks
constexpr size_t ROM_HDR_TYPE_CODE = 0x14;   // adapter type code (common BIOS)
constexpr size_t ROM_HDR_PCIR_OFFSET = 0x18; // offset of the PCI data structure
constexpr size_t ROM_HDR_MODL = 0x40;        // "MODL" in a common BIOS image
constexpr uint16_t ROM_SIGNATURE = 0xAA55;

// PCI data structure fields (offsets from the structure start).
constexpr size_t PCIR_SIGNATURE = 0x00;
constexpr size_t PCIR_VENDOR_ID = 0x04;
constexpr size_t PCIR_DEVICE_ID = 0x06;
constexpr size_t PCIR_IMAGE_LENGTH = 0x10; // in 512-byte blocks
constexpr size_t PCIR_REV_MINOR = 0x12;
constexpr size_t PCIR_REV_MAJOR = 0x13;
constexpr size_t PCIR_CODE_TYPE = 0x14;
constexpr size_t PCIR_INDICATOR = 0x15;
constexpr size_t PCIR_MIN_SIZE = 0x16;                // bytes needed to hold the fields above
constexpr uint32_t PCIR_SIGNATURE_VALUE = 0x52494350; // "PCIR"
constexpr uint8_t PCIR_LAST_IMAGE = 0x80;

// Code types.
constexpr uint8_t PCI_CODE_BIOS = 0;
constexpr uint8_t PCI_CODE_FCODE = 1;
constexpr uint8_t PCI_CODE_PXE = 2;
constexpr uint8_t PCI_CODE_EFI = 3;

constexpr size_t PCI_BLOCK = 512;
// Size of the header and the data structure when read from a file.
constexpr size_t PCI_FILE_RECORD = 32;

// Decoded ROM header.
struct PciRomHeader {
    uint16_t signature = 0;
    uint8_t sizeBlocks = 0;
    uint8_t typeCode = 0;
    uint16_t pcirOffset = 0;
};

// Decoded PCI data structure.
struct PciDataStructure {
    uint32_t signature = 0;
    uint16_t vendorId = 0;
    uint16_t deviceId = 0;
    uint16_t imageLength = 0; // blocks
    uint8_t revMinor = 0;
    uint8_t revMajor = 0;
    uint8_t codeType = 0;
    uint8_t indicator = 0;
};

// Reads the ROM header of the image at 'offset'; false when it lies outside.
bool ReadPciRomHeader(std::span<const uint8_t> buf, size_t offset, PciRomHeader &out);
// Reads the PCI data structure of the image at 'imageOffset' (through the
// header's data-structure offset); false when either lies outside the buffer.
bool ReadPciDataStructure(std::span<const uint8_t> buf, size_t imageOffset, PciDataStructure &out);

// 1 when the image at 'offset' is a usable PCI image: ROM signature, "PCIR",
// a code device ID (not 1, 2, 3), code type 0-3, a non-zero image length,
// and header, data structure and image end all inside the buffer.
int IsThisPciImage(std::span<const uint8_t> buf, size_t offset = 0);

// Offset (relative to the span start) just past the last image of the chain
// that starts at the span start, or 0 when a link is broken.
size_t FindPciImageChainEnd(std::span<const uint8_t> chain);

// Debug listing of one image from its 32-byte header and data structure.
void PrintDataStructure(std::span<const uint8_t> header, std::span<const uint8_t> data, int imageNumber);

// Reads the header at the file's current position and the data structure
// of the image that starts at 'imageStart' in the file. 1 on success.
int ReadPciHeaderAndData(std::FILE *file, std::array<uint8_t, PCI_FILE_RECORD> &header,
                         std::array<uint8_t, PCI_FILE_RECORD> &data, long imageStart);

// Byte checksum of the BIOS image at 'offset'. With bUpdate set the
// checksum byte is written first. 1 when the checksum byte matches. A size
// byte of 0 or an image reaching past the buffer gives 0 (nothing written).
int ComputeChecksum(int bUpdate, std::span<uint8_t> buf, size_t offset);
// Check only.
int ComputeChecksum(std::span<const uint8_t> buf, size_t offset);

// 1 when the image at 'offset' carries "MODL" at 0x40 (case-sensitive).
int isCommonBIOSImage(std::span<const uint8_t> buf, size_t offset);

// Chain walkers. The chain starts at the span start; the span bounds every
// link. Update walkers return 0 or a status (22: broken chain or no last
// image). Validators return 1 when every image passed and the last image
// was reached, else 0.
int UpdateAllPciHeaders(std::span<uint8_t> chain, uint16_t ssvid, uint16_t ssdid, uint16_t deviceId, const char *model);
int UpdateiSCSIPciHeaders(std::span<uint8_t> chain, uint16_t ssvid, uint16_t ssdid, uint16_t deviceId,
                          const char *model);
int ValidateFCoEPciHeaders(std::span<const uint8_t> chain, uint16_t deviceId);
int ValidateiSCSIPciHeaders(std::span<const uint8_t> chain, uint16_t deviceId);
int ValidateNICPciHeaders(std::span<const uint8_t> chain, uint16_t deviceId);

// 0 when the FCode image at the span start belongs to deviceId (0x8030
// matches any), 11 when not.
int ValidateNicFCode(std::span<const uint8_t> image, uint16_t deviceId);

// Device IDs of the converged functions handed to the walkers.
constexpr uint16_t PCI_DEVICE_ANY_NIC = 0x8030;
