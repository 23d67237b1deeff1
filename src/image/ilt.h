// Image layout table (ILT) of multi-region flash images: the header, the
// region entries, the time-stamp entry and the card-type lists, and the
// checks that decide whether an image fits an adapter.
//
// Every function takes the image (the ILT lies at offset 0) as a span and
// reads nothing outside it: an entry or list that lies past the end of the
// span does not exist for these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

constexpr size_t ILT_HEADER_SIZE = 32;
constexpr size_t ILT_ENTRY_SIZE = 32;
constexpr size_t ILT_CARD_BLOCK_HEADER_SIZE = 8;
constexpr size_t ILT_CARD_LIST_HEADER_SIZE = 8;
constexpr size_t ILT_CARD_ENTRY_SIZE = 8;

// Header signatures; either is accepted.
constexpr char ILT_HEADER[] = "OFIM";
constexpr char ILT_HEADER_V2[] = "OILT";
// Highest table version the program reads.
constexpr uint16_t ILT_TABLE_VERSION_MAX = 4;

// Header field offsets.
constexpr size_t ILT_HDR_SIGNATURE = 0;
constexpr size_t ILT_HDR_TABLE_VERSION = 4;
constexpr size_t ILT_HDR_TABLE_LENGTH = 6;
constexpr size_t ILT_HDR_CHECKSUM = 8;
constexpr size_t ILT_HDR_NUM_ENTRIES = 10;
constexpr size_t ILT_HDR_IMAGE_VERSION = 13; // major, minor, sub-minor
constexpr size_t ILT_HDR_BUILD_MONTH = 16;
constexpr size_t ILT_HDR_BUILD_DAY = 17;
constexpr size_t ILT_HDR_BUILD_YEAR = 18;
constexpr size_t ILT_HDR_FFV_VERSION = 21; // four bytes

// Region entry field offsets.
constexpr size_t ILT_ENT_REGION = 0;
constexpr size_t ILT_ENT_VERSION = 3; // major, minor, sub-minor
constexpr size_t ILT_ENT_OFFSET = 6;
constexpr size_t ILT_ENT_LENGTH = 10;
constexpr size_t ILT_ENT_CARD_TYPE = 14;
constexpr size_t ILT_ENT_CHIP_REV = 16;

// Time-stamp entry field offsets (entry N-1).
constexpr size_t ILT_TS_YEAR = 6;
constexpr size_t ILT_TS_MONTH = 8;
constexpr size_t ILT_TS_DAY = 9;
constexpr size_t ILT_TS_HOUR = 10;
constexpr size_t ILT_TS_MINUTE = 11;
constexpr size_t ILT_TS_ZERO = 12;
constexpr size_t ILT_TS_FOUR = 13;

// Status values of the header validators.
constexpr int ILT_STATUS_SIGNATURE = 450;
constexpr int ILT_STATUS_NO_CARD_TYPE = 451; // also: buffer too small
constexpr int ILT_STATUS_CHIP_REVISION = 505;
constexpr int ILT_STATUS_TABLE_VERSION = 506;
constexpr int ILT_STATUS_UNREADABLE = 507;

// Results of ValidateImageChipRevision and ValidateILTRegionLen.
constexpr int ILT_CHIPREV_MISMATCH = -3;
constexpr int ILT_REGION_TOO_LONG = -4;
constexpr int ILT_CHIPREV_NO_ADAPTER_REV = -12;
constexpr int ILT_CHIPREV_WRONG_FAMILY = -13;
constexpr int ILT_CHIPREV_B1_REVISED = -15;
constexpr int ILT_CHIPREV_A3_REVISED = -16;

// Card type of no list.
constexpr int16_t ILT_NO_CARD_TYPE = -1;
// Bits 0-14 of a card type; bit 15 is ignored everywhere.
constexpr uint16_t ILT_CARD_TYPE_MASK = 0x7FFF;

// Decoded header.
struct IltHeader {
    uint8_t signature[4];
    uint16_t tableVersion;
    uint16_t tableLength;
    uint16_t tableCheckSum;
    uint16_t numRegionEntries; // N, including the time-stamp entry
    uint8_t imageVersion[3];   // major, minor, sub-minor
    uint8_t buildMonth;
    uint8_t buildDay;
    uint16_t buildYear;
    uint8_t ffvVersion[4]; // header bytes 21, 22, 23, 24
};

// Decoded region entry.
struct IltRegionEntry {
    uint16_t regionCode;
    uint8_t version[3]; // major, minor, sub-minor
    uint32_t offset;    // from the start of the image
    uint32_t length;
    uint16_t swapModeCardType; // card-type mask (bits 0-14); PEP variant for 0xD1
    uint16_t chipRev;          // 0 = any
};

// Decoded card-type entry of a card-type list.
struct IltCardTypeEntry {
    uint16_t vendorID;
    uint16_t deviceID;
    uint16_t ssvid;
    uint16_t ssdid;
};

// Header accessors. A buffer shorter than the header reads as an empty
// header (no signature, N = 0).
bool ILT_Header_Read(std::span<const uint8_t> ilt, IltHeader &out);
bool ILT_Header_CompareSignature(std::span<const uint8_t> ilt);
// True when the table version is at most 4; 'minimum' is not used.
bool ILT_Header_IsTableVersionMatched(std::span<const uint8_t> ilt, uint16_t minimum);
uint16_t ILT_Header_GetNumOfRegionEntries(std::span<const uint8_t> ilt);
// True when the header and all N entries (time-stamp entry included) lie
// inside the buffer.
bool ILT_Header_EntriesInBuffer(std::span<const uint8_t> ilt);
// "%02d.%02d.%02d" of header bytes 13-15 into out (cut to outSize).
const char *ILT_Header_GetImageVersionString(std::span<const uint8_t> ilt, char *out, size_t outSize);

// Region entry 'index' (0 ... N-2); nothing for the time-stamp entry, an
// index out of range or an entry past the buffer (logged).
std::optional<IltRegionEntry> ILT_Region_GetRegionByIndex(std::span<const uint8_t> ilt, int index);
// The entry's component inside the image, or nothing when offset + length
// reach past the end of the image.
std::optional<std::span<const uint8_t>> ILT_Region_GetComponent(std::span<const uint8_t> image,
                                                                const IltRegionEntry &entry);

// True when an entry with card-type mask 'regionCardType' applies to an
// adapter of card type 'myCardType' (mask 0: every card type). A negative
// adapter card type (none found) counts as 0: only mask-0 entries apply.
bool CardTypeComapre(uint16_t regionCardType, int myCardType);

// Card-type lists. Walks stay inside the buffer: a list or entry that
// would reach past it ends the walk.
int ILT_CardTypeList_CompareSignature(const IltCardTypeEntry *entry, uint16_t adapterSsdid, uint16_t adapterSsvid);
int ILT_TeskCardTypeList_CompareSignature(const IltCardTypeEntry *entry, uint16_t adapterSsdid, uint16_t adapterSsvid);
int SearchSignatureInDefaultCardList(std::span<const uint8_t> ilt, uint16_t ssdid, uint16_t ssvid);
int16_t ILT_CardTypeList_GetMyCardTypeFromCardList(std::span<const uint8_t> ilt, uint16_t ssdid, uint16_t ssvid);
int16_t ILT_LarkCardTypeList_GetMyCardTypeFromCardList(std::span<const uint8_t> ilt, uint16_t ssdid, uint16_t ssvid);
int16_t ILT_TeskCardTypeList_GetMyCardTypeFromCardList(std::span<const uint8_t> ilt, uint16_t ssdid, uint16_t ssvid);
// Debug listing of every card-type list and its entry count.
void ILT_LogCardTypeLists(std::span<const uint8_t> ilt, const char *caller);

// Region checks.
int ValidateImageChipRevision(const IltRegionEntry *entry, uint16_t adapterChipRev);
int ValidateILTRegionLen(std::span<const uint8_t> ilt, uint32_t fltRegionCode, uint32_t fltRegionSize);

// Regions-to-update lists of the families (zero slots are empty).
std::vector<uint32_t> ILT_InitLarkRegionsToUpdate(uint16_t adapterChipRev);
std::vector<uint32_t> ILT_InitTeskRegionsToUpdate();
std::vector<uint32_t> ILT_InitFenwarSecuredOnlineRegionsToUpdate();
std::vector<uint32_t> ILT_InitZultOnlineRegionsToUpdate();

// Regions-to-update reporters: 450 or 506 for a bad signature or table
// version, else 0 (the matching count is only logged).
int ValidateILTImageRegionsToUpdate(std::span<const uint8_t> ilt, std::span<const uint32_t> sequence,
                                    uint16_t adapterChipRev);
int ValidateTeskILTImageRegionsToUpdate(std::span<const uint8_t> ilt, std::span<const uint32_t> sequence,
                                        uint16_t adapterChipRev);
int ValidateFenwarILTImageRegionsToUpdate(std::span<const uint8_t> ilt, std::span<const uint32_t> sequence,
                                          uint16_t adapterChipRev);
int ValidateZultILTImageRegionsToUpdate(std::span<const uint8_t> ilt, std::span<const uint32_t> sequence,
                                        uint16_t adapterChipRev);

// Header validators: 0, or 450, 451, 505, 506, 507.
int ValidateILTImageHeader(uint16_t ssdid, uint16_t ssvid, std::span<const uint8_t> image, uint16_t adapterChipRev);
int ValidateTeskILTImageHeader(uint16_t ssdid, uint16_t ssvid, std::span<const uint8_t> image, uint16_t adapterChipRev);
int ValidateFenwarILTImageHeader(uint16_t ssdid, uint16_t ssvid, std::span<const uint8_t> image,
                                 uint16_t adapterChipRev);
int ValidateZultILTImageHeader(uint16_t ssdid, uint16_t ssvid, std::span<const uint8_t> image, uint16_t adapterChipRev);
