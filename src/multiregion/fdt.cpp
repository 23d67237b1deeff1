#include "multiregion/fdt.h"

#include <cstdio>
#include <vector>

#include "app/output.h"
#include "inventory/cxrtype.h"
#include "multiregion/regionio.h"
#include "update/flashregion.h"
#include "update/regions.h"

namespace {

constexpr int kTeskFcType = 24;
// Flash vendor ID 0x00EF, device ID 0x4018, as the table stores them.
constexpr uint8_t kFlashId[4] = {0xEF, 0x00, 0x18, 0x40};
constexpr uint8_t kEraseCode[2] = {0xD8, 0x20};
// Table checksum once the erase code is in.
constexpr uint8_t kPatchedChecksum[2] = {0x95, 0xF6};
constexpr size_t kTableEnd = FDT_OFF_ERASE_CODE + sizeof(kEraseCode);

bool Matches(std::span<const uint8_t> table, size_t off, std::span<const uint8_t> want) {
    for (size_t i = 0; i < want.size(); ++i)
        if (table[off + i] != want[i]) return false;
    return true;
}

} // namespace

FdtRepair CheckFlashDescriptorTable(std::span<const uint8_t> region) {
    if (region.size() < FDT_TABLE_OFFSET + kTableEnd) return FdtRepair::NotApplicable;
    std::span<const uint8_t> table = region.subspan(FDT_TABLE_OFFSET, kTableEnd);
    if (!Matches(table, FDT_OFF_FLASH_ID, kFlashId)) return FdtRepair::NotApplicable;
    return Matches(table, FDT_OFF_ERASE_CODE, kEraseCode) ? FdtRepair::AlreadyCorrect : FdtRepair::Needed;
}

bool PatchFlashDescriptorTable(std::span<uint8_t> region) {
    if (region.size() < FDT_TABLE_OFFSET + kTableEnd) return false;
    std::span<uint8_t> table = region.subspan(FDT_TABLE_OFFSET, kTableEnd);
    table[FDT_OFF_ERASE_CODE] = kEraseCode[0];
    table[FDT_OFF_ERASE_CODE + 1] = kEraseCode[1];
    table[FDT_OFF_CHECKSUM] = kPatchedChecksum[0];
    table[FDT_OFF_CHECKSUM + 1] = kPatchedChecksum[1];
    return true;
}

int ModifyFlashDescriptorTableAdapter(TVXDevice *device) {
    if (device == nullptr) return FDT_NO_HBA;
    char model[33];
    DeviceModelText(device, model);
    int instance = static_cast<int>(device->instance);
    std::vector<TVX_REGION_ENTRY> layout;
    int st = GetOptionRomLayout(device, layout, nullptr);
    bool listed = false;
    for (const TVX_REGION_ENTRY &e : layout)
        listed = listed || e.Region == TVX_OPT_ROM_REGION_FDT;
    if (st != 0 || !listed) {
        OutputMessage("Unable to get flash descriptor table region size of HBA instance %d %s", instance, model);
        return st != 0 ? st : OPTROM_NO_REGION;
    }
    std::vector<uint8_t> buf;
    uint32_t size = 0;
    st = ReadWholeRegion(device, TVX_OPT_ROM_REGION_FDT, buf, 0, &size);
    if (st != 0) {
        OutputMessage("HBA %d (%s): Unable to get flash descriptor table!", instance, model);
        return st == OPTROM_NO_MEMORY ? FDT_NO_MEMORY : st;
    }
    switch (CheckFlashDescriptorTable(buf)) {
    case FdtRepair::NotApplicable:
        OutputLevelMessage(LEVEL_DEBUG,
                           "ModifyFlashDescriptorTableAdapter: HBA %d: not the flash part of this repair, "
                           "nothing written",
                           instance);
        return st;
    case FdtRepair::AlreadyCorrect:
        OutputMessage("HBA %d (%s): FDT Erase code OK", instance, model);
        return FDT_ALREADY_CORRECT;
    case FdtRepair::Needed: break;
    }
    char line[128];
    std::snprintf(line, sizeof(line), "HBA %d (%s):  Updating FDT erase code and patching checksum...", instance,
                  model);
    OutputText(line);
    PatchFlashDescriptorTable(buf);
    uint16_t options = 0;
    uint32_t result = AppUpdateOptionRomEx3(device, buf.data(), TVX_OPT_ROM_REGION_FDT, size, &options);
    if (result == TVX_STATUS_OK) {
        OutputMessage("%s", "Success.");
        return FDT_REPAIRED;
    }
    if (result == TVX_RESULT_RESET_DISABLED) {
        OutputMessage("%s", "Success (Reboot required).");
        return FDT_REPAIRED;
    }
    OutputMessage("%s", "");
    OutputMessage("HBA %d (%s): Unable to update flash descriptor table!", instance, model);
    return FDT_WRITE_FAILED;
}

int ModifyAllHBAsFLashDescriptorTable() {
    OutputLevelMessage(LEVEL_DEBUG, "ModifyAllHBAsFLashDescriptorTable: Enter...");
    if (g_HBAList.count == 0 || g_HBAList.first == nullptr) {
        OutputLevelMessage(LEVEL_INFO, "Orvane HBA not found!");
        return FDT_NO_HBA;
    }
    int status = FDT_NO_HBA;
    char previous[32] = "N/A";
    uint32_t visited = 0;
    for (TVXDevice *dev = g_HBAList.first; dev != nullptr && visited < g_HBAList.count; dev = dev->next, ++visited) {
        if (GetCxrType(dev) != kTeskFcType) continue;
        char serial[32];
        GetSerialNo(dev, serial);
        serial[sizeof(serial) - 1] = '\0';
        // Another port of the card just repaired.
        if (SerialNumbersMatch(serial, previous)) continue;
        status = ModifyFlashDescriptorTableAdapter(dev);
        if (status != 0 && status != FDT_REPAIRED && status != FDT_ALREADY_CORRECT) {
            char model[33];
            OutputMessage("Unable to modify flash descriptor table of HBA instance %d - %s!",
                          static_cast<int>(dev->instance), DeviceModelText(dev, model));
        }
        std::snprintf(previous, sizeof(previous), "%s", serial);
    }
    OutputLevelMessage(LEVEL_DEBUG, "ModifyAllHBAsFLashDescriptorTable: Return %d..", status);
    return status;
}
