// Combining a multi-region image into a flash-sized buffer for one adapter:
// every component that applies to the adapter is copied to its offset and
// patched with the adapter's identity where its kind needs it; the layout
// table is copied to the front with a new time stamp. Also the identity
// patches of the 28xx configuration blocks, which the online update uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "image/ilt.h"

// What the combine step needs to know of the adapter. The first two fields
// are the subsystem vendor and device IDs stamped into patched components.
struct CombineAdapter {
    uint32_t ssvid;
    uint32_t ssdid;
    uint16_t chipRev;    // adapter chip revision
    uint16_t fcDeviceId; // PCI device ID of the adapter's FC function
    std::string model;   // model text stamped into boot images
};

// One row of a family's combine table.
enum class CombineAction {
    Plain,          // copy only
    PciHeaders,     // copy; FC/FCoE PCI headers rewritten for the row's device ID
    PciHeadersOwn,  // copy; FC PCI headers rewritten for the adapter's FC device ID
    IscsiHeaders,   // copy; iSCSI PCI headers rewritten for the row's device ID
    LocatorOnly,    // copy; the FLT locator after the chain must validate
    Preload,        // copy; preload block identity patched
    FcBoardConfig,  // copy; FC board configuration identity patched
    PepBoardConfig, // copy; PEP board configuration identity patched
};

struct CombineRow {
    uint16_t code;
    CombineAction action;
    uint16_t deviceId; // for the header rewrites
    bool checkLocator; // the FLT locator after the chain must validate
    int failCode;      // returned when the component cannot be combined (0: none)
};

enum class CombineFamily { FirstGen, Lark, Tesk, Fenwar, Zult };

// The table of a family (rows in no particular order; codes are unique).
std::span<const CombineRow> CombineTable(CombineFamily family);
// Name the family's per-component trace lines carry ("CombineLarkImage").
const char *CombineOperationName(CombineFamily family);

// Copies and patches one component from image to flash (both of the image
// file's size). 0, or the row's failure code.
int CombineComponent(CombineFamily family, std::span<uint8_t> flash, std::span<const uint8_t> image,
                     const IltRegionEntry &entry, const CombineAdapter *adapter);

// Combiners: number of components combined, or the first failure's negative
// code. Entries 0 ... N-2 that apply to the card type (Tesk, Fenwar and Zult:
// and the adapter's chip revision) are combined; the layout table is then
// copied to the front of the flash buffer with a new time stamp. The image
// buffer's checksum field receives the new table's checksum.
int CombineImageComponentsInBuffer(std::span<uint8_t> flash, std::span<uint8_t> image, int expectedCount, int cardType,
                                   const CombineAdapter *adapter);
int CombineLarkImageComponentsInBuffer(std::span<uint8_t> flash, std::span<uint8_t> image, int expectedCount,
                                       int cardType, const CombineAdapter *adapter);
int CombineTeskImageComponentsInBuffer(std::span<uint8_t> flash, std::span<uint8_t> image, int expectedCount,
                                       int cardType, const CombineAdapter *adapter);
int CombineFenwarImageComponentsInBuffer(std::span<uint8_t> flash, std::span<uint8_t> image, int expectedCount,
                                         int cardType, const CombineAdapter *adapter);
int CombineZultImageComponentsInBuffer(std::span<uint8_t> flash, std::span<uint8_t> image, int expectedCount,
                                       int cardType, const CombineAdapter *adapter);

// Identity patches of the 28xx configuration blocks, on a block in place:
// 0; 9 no adapter; 22 the block failed its check (nothing changed).
constexpr int CFG_PATCH_NO_ADAPTER = 9;
constexpr int CFG_PATCH_INVALID = 22;
constexpr size_t CFG_BLOCK_CHECK_SPAN = 0x20000; // bytes whose dwords sum to zero
int UpdateFWAPreloadBuffer(std::span<uint8_t> block, const CombineAdapter *adapter);
int UpdateFBCBuffer(std::span<uint8_t> block, const CombineAdapter *adapter);
int UpdatePEPBrdCfgBuffer(std::span<uint8_t> block, const CombineAdapter *adapter);
