// Flash descriptor table repair of the Tesk FC adapters (/fdt): a table
// written with the wrong erase code for one flash part gets the right erase
// code and its checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "inventory/tvxdevice.h"

// Results.
enum : int {
    FDT_REPAIRED = 201,        // written (reboot to take effect)
    FDT_WRITE_FAILED = 34,     // the region write failed
    FDT_NO_HBA = 8,            // no adapter of the family
    FDT_ALREADY_CORRECT = 430, // erase code already right, nothing written
    FDT_NO_MEMORY = 115,
};

// Place of the table in the descriptor region and its fields.
constexpr size_t FDT_TABLE_OFFSET = 0x3F0000;
constexpr size_t FDT_OFF_CHECKSUM = 0x08;
constexpr size_t FDT_OFF_FLASH_ID = 0x1C;
constexpr size_t FDT_OFF_ERASE_CODE = 0x21;

// What a descriptor region needs: nothing (another flash part, or no table
// in the buffer), a repair, or nothing because it is already right.
enum class FdtRepair { NotApplicable, Needed, AlreadyCorrect };
FdtRepair CheckFlashDescriptorTable(std::span<const uint8_t> region);
// Puts the erase code and its table checksum into the region buffer; false
// when the table does not lie in the buffer.
bool PatchFlashDescriptorTable(std::span<uint8_t> region);

// Repairs every Tesk FC card once (the other ports of a card are passed
// over): the result of the last card, or 8 when there was none.
int ModifyAllHBAsFLashDescriptorTable();
// Repairs one card: 430, 201, 34, 115, or the read status (0 when the
// table is of another flash part).
int ModifyFlashDescriptorTableAdapter(TVXDevice *device);
