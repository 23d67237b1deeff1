// Region builders of the three data files, on buffers only: the data
// file's bytes, the adapter facts and the region image in, the built image
// and a status out. The adapter-facing updates (datafiles.h) read and write
// the regions around them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "datafiles/datgrammar.h"
#include "datafiles/datrun.h"

namespace datfile {

// ---- PEP board configuration (region 0xCF) ----
constexpr uint32_t kPEPSignature = 0x5F4C545Fu; // "_TL_"
constexpr size_t kPEPImageSize = 0x20000;
constexpr size_t kPEPStringMax = 128;
constexpr int DAT_PEP_INVALID = 22; // signature or word sum of an image wrong

// Lays the data file over image: subsystem IDs checked or stamped, the
// signature checked, the checksum computed. DAT_OK or a builder status.
int BuildPEPBoardConfig(std::span<const uint8_t> file, const AdapterFacts &facts, std::span<uint8_t> image,
                        const char *path, const char *trace);
// Version major.minor.sub-minor.build of a valid image (signature and word
// sum); DAT_OK or DAT_PEP_INVALID.
int GetPEPVersionFromImage(std::span<const uint8_t> image, uint8_t version[4], const char *trace);

// ---- Firmware preload table (region 0x13) ----
constexpr size_t kPreloadStringMax = 512;
constexpr int DAT_CHECKSUM_MISMATCH = 12;
constexpr int DAT_CHECKSUM_ZERO = 14;
constexpr int DAT_CHIP_REVISION = 354;

// Signature of the family's table; false when the family has none.
bool PreloadSignature(int cxrType, uint32_t &signature);
// Version major, minor, sub-minor of a table image; false when the family
// keeps none or the image is too short.
bool PreloadVersionFromImage(std::span<const uint8_t> image, int cxrType, uint8_t version[3]);
// Checks the data file on a scratch image (filled with 0xFF by the caller):
// subsystem IDs, signature, chip revision rule and the file's checksum.
int ValidatePreloadFile(std::span<const uint8_t> file, const AdapterFacts &facts, std::span<uint8_t> scratch);
// Lays the data file over the adapter's table and puts in the checksum.
int BuildPreloadTable(std::span<const uint8_t> file, const AdapterFacts &facts, std::span<uint8_t> image);

// ---- Converged (Tesk) board configuration (region 0x71) ----
constexpr size_t kTeskAreaSize = 0x5000;
constexpr size_t kTeskChecksumOffset = 0x1C;
constexpr size_t kTeskMacTable = 0x400;
constexpr size_t kTeskMacTableSize = 0x80;
constexpr size_t kTeskSsidTable = 0x1800;
constexpr size_t kTeskStringMax = 512;
constexpr int DAT_TESK_SSID_MISMATCH = 5;

uint32_t ComputeFeatureConfigAreaChecksum(std::span<uint8_t> area, size_t size, size_t checksumOffset);
// 0 when the stored checksum was right, else the computed one (stored).
uint32_t ValidateTeskBrdConfigChecksum(std::span<uint8_t> area, size_t size, size_t checksumOffset);
// Lays the data file over the first kTeskAreaSize bytes of the region.
int LayTeskBoardConfig(std::span<const uint8_t> file, std::span<uint8_t> region, const char *trace);
// Rebuilds the board configuration area of region from the data file:
// SSID tables compared, the adapter's MAC table kept, checksum computed.
// DAT_OK, DAT_TESK_SSID_MISMATCH, DAT_CHECKSUM_ZERO or a builder status.
int BuildTeskBoardConfig(std::span<const uint8_t> file, const AdapterFacts &facts, std::span<uint8_t> region);

} // namespace datfile
