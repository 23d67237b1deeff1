// Validation of the components of a multi-region image: boot-code chains,
// RISC/MPI/EDC firmware headers, MPI configuration parameters, trailer
// blocks (bootloader, CRB init, PEG tune), NIC firmware, PEP firmware and
// SoftROM, configuration and preload versions and the signature region;
// the per-family dispatchers by region code, the walkers over the image
// layout table and the counters the family drivers compare them with.
//
// Everything reads the image buffer only and never reaches past it: a
// component whose offset and length lie outside the image is a failure of
// that component.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/ilt.h"
#include "image/imgversion.h"

// Failure codes of the per-region dispatchers (0 = the component passed).
constexpr int COMP_FAIL_UNREADABLE_ENTRY = -1; // an entry of the table cannot be read
constexpr int COMP_FAIL_NIC_BOOT = -5;         // NIC boot code (Tesk: also FC boot code)
constexpr int COMP_FAIL_MPI = -6;              // MPI firmware or MPI configuration parameters
constexpr int COMP_FAIL_EDC = -7;              // EDC PHY firmware
constexpr int COMP_FAIL_BOOT = -8;             // FCoE, iSCSI, FC or other boot code; other components
constexpr int COMP_FAIL_RISC = -9;             // RISC firmware
constexpr int COMP_FAIL_BOOTLOADER = -10;
constexpr int COMP_FAIL_PEGTUNE = -11;
constexpr int COMP_FAIL_CRBINIT = -12;
constexpr int COMP_FAIL_NIC_FW = -13; // NIC firmware image
constexpr int COMP_FAIL_SIGNATURE = -36;
constexpr int COMP_FAIL_ZULT_MPI = -37;
constexpr int COMP_FAIL_PRELOAD = -38;
constexpr int COMP_FAIL_FC_BRDCFG = -39;
constexpr int COMP_FAIL_PEP_BRDCFG = -40;
constexpr int COMP_FAIL_MPI_SOFTROM = -41;
constexpr int COMP_FAIL_SERDES = -42;

// Supported values (device support words) of the RISC-style headers.
constexpr uint32_t RISC_SUPPORTED_FCOE_FIRST_GEN = 0x8;
constexpr uint32_t RISC_SUPPORTED_TESK_FCOE = 0x10;
constexpr uint32_t RISC_SUPPORTED_TESK_FC = 0x20;
constexpr uint32_t RISC_SUPPORTED_FENWAR = 0x40;
constexpr uint32_t RISC_SUPPORTED_ZULT = 0x80;
constexpr uint32_t MPI_FW_SUPPORTED = 0x10000008;
constexpr uint32_t EDC_FW_COOKIE = 0x5555BBBB;
constexpr uint32_t EDC_FW_SUPPORTED = 0x20000008;
constexpr size_t MPI_FW_HEADER_SIZE = 36;

// MPI configuration parameters.
constexpr uint32_t MPI_CFG_SIGNATURE = 0x5555AAAA;
constexpr size_t MPI_CFG_HEADER_SIZE = 32;
constexpr size_t MPI_CFG_BUFFER_SIZE = 0x10000; // working copy of the component
constexpr size_t MPI_CFG_CHECKSUM_DWORDS = 320; // the checksum covers 1280 bytes

// Trailer blocks: the last 32 bytes of the component.
constexpr size_t TRAILER_SIZE = 32;
constexpr uint32_t TRAILER_SIG_CRBINIT = 0x40400000;
constexpr uint32_t TRAILER_SIG_PEGTUNE = 0x40400001;
constexpr uint32_t TRAILER_SIG_BOOTLOADER = 0x40400002;
constexpr size_t LARK_CRBINIT_LENGTH = 0x4000;
constexpr size_t LARK_BOOTLOADER_LENGTH = 0x20000;
constexpr size_t LARK_PEGTUNE_LENGTH = 0x20000;
constexpr uint16_t LARK_MIN_CHIP_REV = 0x54;

// NIC firmware image.
constexpr uint32_t NIC_FW_SIGNATURE = 0x40400003;
constexpr size_t NIC_FW_HEADER_SIZE = 16;

// Zult signature region.
constexpr uint32_t SIGNATURE_REGION_MAGIC = 0x534B3830; // bytes "08KS"
constexpr size_t SIGNATURE_REGION_SIZE = 392;
constexpr size_t SIGNATURE_REGION_TAIL = 388;
// Covered data shorter than this would leave the checksum itself untested.
constexpr size_t SIGNATURE_REGION_MIN_COVERED = 16;

// PEP firmware and SoftROM keep their version at bytes 79, 78, 77, 76;
// configuration blocks, the preload area and the Serdes block at 7, 6, 5, 4.
constexpr size_t PEP_FW_VERSION_END = 80;
constexpr size_t BLOCK_VERSION_END = 8;

// Copies the entry's component into 'dst': 0, or -1 for a null entry, a
// component outside the image or one longer than 'dst'.
int GetSpecificImageComponentInBuffer(std::span<uint8_t> dst, std::span<const uint8_t> image,
                                      const IltRegionEntry *entry);

// Component checks over one component (the bytes the entry names). Each
// returns true when the component passed and stores the version it carries
// in 'version' (also when a later test fails, for the RISC header).

// RISC-style header: the entry's version must equal the three version words
// (each below 256) and the supported value must be 'supported'.
bool ValidateRiscFirmware(std::span<const uint8_t> component, const IltRegionEntry &entry, uint32_t supported,
                          ComponentVersion *version);
// First-generation MPI firmware header (entry version, 0x10000008).
bool ValidateMpiFirmwareImage(std::span<const uint8_t> component, const IltRegionEntry &entry,
                              ComponentVersion *version);
// EDC PHY firmware header (cookie, entry version, 0x20000008).
bool ValidateEdcFirmwareImage(std::span<const uint8_t> component, const IltRegionEntry &entry,
                              ComponentVersion *version);
// MPI configuration parameters: signature and the 1280-byte checksum,
// computed on a zeroed 64 KiB copy (a longer component is refused).
bool ValidateMpiConfigParamImage(std::span<const uint8_t> image, const IltRegionEntry &entry,
                                 ComponentVersion *version);
// Trailer block with 'signature'; the dwords of the whole block sum to 0.
bool ValidateTrailerBlock(const char *caller, std::span<const uint8_t> block, uint32_t signature,
                          ComponentVersion *version);
// NIC firmware image: signature, and the dwords of the length its header
// gives (at least the header, at most the component) sum to 0.
bool ValidateNicFirmwareImage(std::span<const uint8_t> component, ComponentVersion *version);
// Signature region: tested only when both signatures are present; then the
// covered data must lie in the component and sum to 0. 'versionSet' tells
// whether the version was taken (only after a passed test).
bool ValidateZultSignatureRegion(std::span<const uint8_t> component, ComponentVersion *version, bool *versionSet);
// Version at bytes 79, 78, 77, 76 (PEP firmware, SoftROM); false when the
// component is too short to hold it.
bool ReadPepFirmwareVersion(std::span<const uint8_t> component, uint8_t version[4]);
// Version at bytes 7, 6, 5, 4 (board and preload configuration, Serdes).
bool ReadBlockVersion(std::span<const uint8_t> component, uint8_t version[4]);

// Boot-code chain checks of the families. Each runs the chain validator
// of its protocol with 'deviceId', the family's version reader and, on the
// first-generation and Lark families, the FLT locator check after the
// chain. True when all pass.
enum class BootFamily { FirstGen, Lark, Tesk, Fenwar };
enum class BootProtocol { Nic, FCoE, iSCSI, FC };
bool ValidateBootCode(BootFamily family, BootProtocol protocol, std::span<const uint8_t> component, uint16_t deviceId,
                      ImageVersionRecord *record);
// Zult boot code (FCoE chain validator, Zult version reader, no locator).
bool ValidateZultBootCode(std::span<const uint8_t> component, uint16_t deviceId, ZultImageVersionRecord *record);

// Per-region dispatchers: 0 when the component passed (or its code needs
// no check), else the negative code of the component; -1 for no entry.
int ValidateImages(const IltRegionEntry *entry, std::span<const uint8_t> image, ImageVersionRecord *record);
int ValidateLarkImages(const IltRegionEntry *entry, std::span<const uint8_t> image, ImageVersionRecord *record,
                       uint16_t adapterChipRev);
int ValidateTeskImages(const IltRegionEntry *entry, std::span<const uint8_t> image, ImageVersionRecord *record);
int ValidateFenwarImages(const IltRegionEntry *entry, std::span<const uint8_t> image, ImageVersionRecord *record,
                         uint16_t adapterFcDeviceId);
int ValidateGenericImages(const IltRegionEntry *entry, std::span<const uint8_t> image, ZultImageVersionRecord *record,
                          uint16_t adapterFcDeviceId);

// Walkers over region entries 0 ... N-2 of the image's layout table: the
// number of entries that passed the family's filter and validated, the
// first failing component's negative code, or -1 when an entry of the
// table cannot be read. They also copy the header's versions into the
// record.
int ValidateImageComponents(std::span<const uint8_t> image, int expectedCount, int cardType,
                            ImageVersionRecord *record);
int ValidateLarkImageComponents(std::span<const uint8_t> image, int expectedCount, int cardType,
                                ImageVersionRecord *record, uint16_t adapterChipRev);
int ValidateTeskImageComponents(std::span<const uint8_t> image, int expectedCount, int cardType,
                                ImageVersionRecord *record, uint16_t adapterChipRev);
int ValidateFenwarImageComponents(std::span<const uint8_t> image, int expectedCount, int cardType,
                                  ImageVersionRecord *record, uint16_t adapterChipRev, uint16_t adapterFcDeviceId);
int ValidateZultImageComponents(std::span<const uint8_t> image, int expectedCount, int cardType,
                                ZultImageVersionRecord *record, uint16_t adapterChipRev, uint16_t adapterFcDeviceId);

// Entries 0 ... N-2 that apply to the card type; the generic form also
// requires the entry's chip revision to be 0 or 'chipRev'.
int HowManyImagesForCardType(std::span<const uint8_t> ilt, int cardType);
int HowManyImagesForCardTypeGeneric(std::span<const uint8_t> ilt, int cardType, uint16_t chipRev);
