// Image status records of the dual-bank adapters: the 16-byte record at the
// start of an image status region, its 32-bit checksum, the rules that say
// which flash set (and, for the auxiliary records, which copy of each
// configuration area) is active, and the region maps between the sets.
//
// Everything here is pure: bytes in, results out, no adapter access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "torvex.h"

// Record layout (little-endian).
constexpr size_t IMAGE_STATUS_RECORD_SIZE = 16;
constexpr size_t IMAGE_STATUS_OFF_MASK = 0;
constexpr size_t IMAGE_STATUS_OFF_GENERATION = 1;
constexpr size_t IMAGE_STATUS_OFF_VERSION = 3;
constexpr size_t IMAGE_STATUS_OFF_BITMAP = 5;
constexpr size_t IMAGE_STATUS_OFF_TOOL_ID = 7;
constexpr size_t IMAGE_STATUS_OFF_CHECKSUM = 8;
constexpr size_t IMAGE_STATUS_OFF_SIGNATURE = 12;

// Status regions are read and written whole as 64 KiB.
constexpr uint32_t IMAGE_STATUS_REGION_SIZE = 0x10000;

constexpr uint32_t IMAGE_STATUS_SIGNATURE_FENWAR = 0xFACEFADEu;
constexpr uint32_t IMAGE_STATUS_SIGNATURE_ZULT = 0xFACEFADFu;
constexpr uint32_t IMAGE_STATUS_SIGNATURE_AUX = 0xFACEFAEDu;

// Generations run 1 ... 65534; the next one after 65534 is 1.
constexpr uint16_t IMAGE_STATUS_MAX_GENERATION = 65534;

// Accessors; a record shorter than 16 bytes (or none) gives 0.
uint8_t CoreGetImageStatusMask(std::span<const uint8_t> record); // bit 0 of the mask
uint16_t CoreGetImageStatusGenerationNumber(std::span<const uint8_t> record);
uint16_t CoreGetImageStatusVersion(std::span<const uint8_t> record);
uint8_t CoreGetImageStatusComponentsBitMap(std::span<const uint8_t> record);
uint8_t CoreGetImageStatusToolId(std::span<const uint8_t> record);
uint32_t CoreGetImageStatusCheckSum(std::span<const uint8_t> record);
uint32_t CoreGetImageStatusSignature(std::span<const uint8_t> record);

// Setters; a record shorter than 16 bytes is left alone (false).
bool CoreSetImageStatusMask(std::span<uint8_t> record, bool active); // bit 0 only
bool CoreSetImageStatusGenerationNumber(std::span<uint8_t> record, uint16_t generation);
bool CoreSetImageStatusComponentsBitMap(std::span<uint8_t> record, uint8_t bitmap);
bool CoreSetImageStatusToolId(std::span<uint8_t> record, uint8_t toolId);

// Sets bytes 8-11 to 0, adds the little-endian dwords of the first 'size'
// bytes and stores the two's complement at 8-11; returns it. 'offset' is
// not used: the checksum always sits at byte 8. A buffer shorter than 12
// bytes or than 'size' is left alone and gives 0.
uint32_t CoreCalculateChecksum32(std::span<uint8_t> buffer, size_t size, size_t offset);
// 0 when the dwords of the first 'size' bytes sum to 0, else -1 (also when
// the buffer is shorter than 'size').
int CoreValidateChecksum32(std::span<const uint8_t> buffer, size_t size);
// 1 when the record carries 'signature' and its four dwords sum to 0.
int CoreIsImageStatusRegionValid(std::span<const uint8_t> record, uint32_t signature);
// Writes the Fenwar signature and recomputes the checksum.
void resetImageStatusHeader(std::span<uint8_t> record);

// Generation after the larger of two: +1, and 1 after 65534.
uint16_t CoreNextImageStatusGeneration(uint16_t a, uint16_t b);

// What the rules need of one record: an invalid record counts as mask 0,
// generation 0, bitmap 0, tool ID 0.
struct ImageStatusView {
    bool valid;
    uint8_t mask;
    uint16_t generation;
    uint8_t bitmap;
    uint8_t toolId;
};
ImageStatusView CoreViewImageStatus(std::span<const uint8_t> record, uint32_t signature);

// Active set (1 primary, 2 secondary) from the primary and secondary
// records; *generation gets that set's generation.
uint8_t CoreDecideActiveSet(const ImageStatusView &primary, const ImageStatusView &secondary, uint16_t *generation);

// Active copy (1 or 2) of the four configuration areas (FC board
// configuration, NVRAM/VPD, NPIV 0/1, NPIV 2/3) from the auxiliary records,
// falling back to the main records; *toolId gets the deciding tool ID.
void CoreDecideAuxAreas(const ImageStatusView &auxPrimary, const ImageStatusView &auxSecondary,
                        const ImageStatusView &primary, const ImageStatusView &secondary, uint8_t areas[4],
                        uint8_t *toolId);

// Auxiliary set (1 or 2) that a board configuration update writes.
uint8_t CoreChooseAuxSetToUpdate(const ImageStatusView &auxPrimary, const ImageStatusView &auxSecondary);

// Region of the other set for a primary-set region code, by the active
// regions record: the alternate while the primary set is active
// (ActiveBoardConfig for the FC board configuration), else the region
// itself. Codes outside the table map to themselves.
uint32_t CoreGetAlternateRegion(uint32_t region, const TVX_ACTIVE_REGIONS &activeRegions);
// Region written for an image code in the given set (1 or 2) by the Fenwar
// secured-online sequence.
uint32_t GetActualRegionToUpdate(uint32_t region, int set);
