// Tables and rules of the online update of the dual-bank adapters (27xx
// Fenwar, 28xx Zult): the update sequences, which flash set a region code
// belongs to, the choice of the set to write and the status records that
// make it active, the firmware attribute handed to the adapter before its
// firmware is written, and the merge of the running FC board
// configuration into the new one.
//
// Everything but CorePreserveFCBrdCfgData (which reads the adapter's IDs
// from its record) is pure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "inventory/tvxdevice.h"
#include "multiregion/imgstatus.h"

// Slot counts of the sequences.
constexpr size_t FENWAR_SEQUENCE_SLOTS = 14;
constexpr size_t FENWAR_WRITTEN_SLOTS = 13;
constexpr size_t FENWAR_VPD_SLOTS = 4;
constexpr size_t IMAGE_STATUS_SLOTS = 2;
constexpr size_t ZULT_SEQUENCE_SLOTS = 20;

// ILT codes the Fenwar region loop matches (unused slots 0).
void InitFenwarFlashUpdateSequence(uint32_t *seq, size_t count);
// Regions a Fenwar online update of 'set' (1 or 2) writes, for the log.
void InitFenwarSecuredOnlineFlashUpdateSequence(uint32_t *seq, size_t count, int set);
// Image status regions in writing order: the record of 'set' first.
void InitImageStatusFlashUpdateSequence(uint32_t *seq, size_t count, int set);
// Fenwar FC VPD regions ("FC VPD 0" ... "FC VPD 3").
void InitFenwarVpdUpdateSequence(uint32_t *seq, size_t count);
// Zult sequence of 'set' (20 slots); the loop walks set 1's list as ILT
// codes, set 2's is only logged.
void InitOnlineFlashUpdateSequenceForZultAdapter(uint32_t *seq, size_t count, int set);

// Flash set a region belongs to: 1 or 2 for the regions kept in two
// copies, 0 for regions outside the sets (kept once, or status, memo and
// VPD regions).
int FenwarRegionSet(uint32_t region);
int ZultRegionSet(uint32_t region);
// Region a Fenwar update of 'set' writes for an ILT code; 0 when the code
// maps to a region of the other set (which must not be written).
uint32_t FenwarTargetRegion(uint32_t code, int set);

// The two Fenwar image status records after the choice of the set to write.
struct FenwarSetChoice {
    int runningSet;                                          // the set the records designate now
    int writeSet;                                            // the other one
    int tableSet;                                            // the set the plain table rule would pick (logged)
    uint16_t newGeneration;                                  // of the record of writeSet
    std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> primary;   // region 0x95
    std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> secondary; // region 0x96
};
// Chooses the set to write from the records as read (16 bytes or more
// each): never the running set. A record without a valid header gets a
// fresh one; the written set's record gets the mask bit and the next
// generation, the other record loses its mask bit.
FenwarSetChoice ChooseFenwarSet(std::span<const uint8_t> primary, std::span<const uint8_t> secondary);

// The records of the offline update, which always makes the primary set
// active: 'change' false when the primary is active and the secondary not.
struct FenwarOfflineRecords {
    bool change;
    int state; // 1 primary active, 2 secondary active, 0 unknown (both or neither)
    std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> primary;
    std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> secondary;
};
FenwarOfflineRecords FenwarOfflineStatusRecords(std::span<const uint8_t> primary, std::span<const uint8_t> secondary);

// Expected device-support words of the RISC firmware header.
constexpr uint32_t FW_ATTRIBUTE_SUPPORT_FENWAR = 0x40;
constexpr uint32_t FW_ATTRIBUTE_SUPPORT_ZULT = 0x80;
// Firmware attribute: extended attribute (big-endian word at 36) in the
// high half, attribute (word at 28) in the low half, taken only when the
// device-support word (at 32) is 'expectedSupport'; else *attributes is
// 0. 0, or -1 for a component too short to hold the header.
int GetFirmwareAttribute(std::span<const uint8_t> firmware, uint32_t expectedSupport, uint64_t *attributes);

// The block handed to the adapter before its firmware is written: the
// attribute, little-endian, in its first 8 bytes, the rest 0.
constexpr size_t FW_ATTRIBUTE_BLOCK_SIZE = 30;
using FirmwareAttributeBlock = std::array<uint8_t, FW_ATTRIBUTE_BLOCK_SIZE>;
FirmwareAttributeBlock MakeFirmwareAttributeBlock(uint64_t attributes);

// FC board configuration block (little-endian).
constexpr uint32_t FBC_SIGNATURE = 0x28464243; // "CBF("
constexpr size_t FBC_OFF_SIGNATURE = 0;
constexpr size_t FBC_OFF_VERSION = 4;
constexpr size_t FBC_OFF_CHECKSUM = 8;
constexpr size_t FBC_OFF_LENGTH = 12;
constexpr size_t FBC_OFF_SSVID = 16;
constexpr size_t FBC_OFF_SSDID = 18;
constexpr size_t FBC_OFF_SFP_POLL_TIME = 448;
constexpr size_t FBC_OFF_SFP_POLL_ENABLE = 449;
constexpr size_t FBC_OFF_BBCR[4] = {818, 1778, 2738, 3698};
constexpr size_t FBC_OFF_FEC[4] = {822, 1782, 2742, 3702};

// Carries the running FC board configuration's SFP temperature poll, BBCR
// and FEC settings into the new block, stamps the adapter's subsystem IDs
// and recomputes its checksum. 0, or -1 (adapter below the Fenwar family,
// no adapter or buffer, a new block without the signature, a block too
// short for its fields or its data length, or a checksum that fails).
int CorePreserveFCBrdCfgData(const TVXDevice *device, std::span<const uint8_t> running, std::span<uint8_t> fresh);
