#include "inventory/cxrtype.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "app/output.h"
#include "inventory/adapters_table.h"
#include "inventory/invutil.h"
#include "oss/oss.h"

namespace {

bool In(uint16_t v, std::initializer_list<uint16_t> set) {
    for (uint16_t s : set)
        if (s == v) return true;
    return false;
}

bool InRange(uint16_t v, uint16_t lo, uint16_t hi) { return v >= lo && v <= hi; }

uint16_t PciId(const TVXDevice *d) { return d->chipProperty.PciDeviceId; }

} // namespace

int GetCxrType(const TVXDevice *device) {
    if (device == nullptr) return 0;
    struct Row {
        uint16_t id;
        int type;
    };
    static const Row kTable[] = {
        {0x2100, 0},  {0x2200, 1},  {0x2300, 2},  {0x2310, 3},  {0x2312, 4},  {0x2322, 5},  {0x6312, 6},  {0x6322, 7},
        {0x5422, 8},  {0x5432, 9},  {0x2422, 10}, {0x2432, 11}, {0x2532, 12}, {0x8432, 13}, {0x8000, 14}, {0x8001, 15},
        {0x8020, 16}, {0x8021, 17}, {0x8022, 18}, {0x8023, 19}, {0x8030, 20}, {0x8031, 21}, {0x8831, 21}, {0x8032, 22},
        {0x8033, 23}, {0x2031, 24}, {0x2831, 24}, {0x2061, 25}, {0x2071, 25}, {0x2171, 25}, {0x2261, 25}, {0x2271, 25},
        {0x2371, 25}, {0x2871, 25}, {0x2971, 25}, {0x2A61, 25}, {0x2B61, 25}, {0x8041, 26}, {0x8044, 26}, {0x2081, 27},
        {0x2089, 27}, {0x2181, 27}, {0x2189, 27}, {0x2281, 27}, {0x2289, 27}, {0x2381, 27}, {0x2389, 27},
    };
    uint16_t id = PciId(device);
    for (const Row &row : kTable)
        if (row.id == id) return row.type;
    return 12;
}

int GetOEMPortClass(const TVXDevice *device) {
    if (device == nullptr) return 0;
    uint16_t ssdid = GetNvramSubsysDeviceId(device);
    uint16_t vendor = GetNvramSubsysVendorId(device);
    if ((In(ssdid, {0x27D, 0x2FB}) && vendor == 0x1014) || (In(ssdid, {0x34BA, 0x34A0}) && vendor == 0x8086) ||
        (ssdid == 0x102 && vendor == 0x1749))
        return 1;
    if ((ssdid == 0x170 && vendor == 0x1028) || (ssdid == 0x34BC && vendor == 0x8086)) return 2;
    if (((InRange(ssdid, 0x134, 0x136) || InRange(ssdid, 0x138, 0x13D) || InRange(ssdid, 0x140, 0x148)) &&
         vendor == 0x1077) ||
        (In(ssdid, {0x12D7, 0x7041, 0x1705}) && vendor == 0x103C) || (ssdid == 0x109 && vendor == 0x0E11))
        return 3;
    return 0;
}

int GetPortIndexOEM(const TVXDevice *device) {
    if (device == nullptr) return -1;
    uint16_t ssdid = GetNvramSubsysDeviceId(device);
    uint16_t vendor = GetNvramSubsysVendorId(device);
    int counter = -1;
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
        if (counter == 1) counter = -1;
        if (GetNvramSubsysDeviceId(r) == ssdid && GetNvramSubsysVendorId(r) == vendor) ++counter;
        if (std::memcmp(r->nodeProperty.NodeWWN, device->nodeProperty.NodeWWN, 8) == 0 &&
            std::memcmp(r->portProperty.PortWWN, device->portProperty.PortWWN, 8) == 0) {
            INV_DEBUG("GetPortIndexOEM: HBA %.32s " WWN_FMT_UC " (hw port=%d)", device->nodeProperty.Model,
                      WWN_ARGS(device->portProperty.PortWWN), counter);
            return counter;
        }
    }
    return counter;
}

int CheckPortUpdateOption(TVXDevice *device) {
    if (device == nullptr) return 6;
    bool card1137 = device->chipProperty.SubsysDeviceId == 0x4A && device->chipProperty.SubsysVendorId == 0x1137;
    int t = GetCxrType(device);
    int n = 0;
    int result = 0;
    auto logResult = [&]() {
        INV_DEBUG("CheckPortUpdateOption: HBA instance %d (%.32s) Port %d " WWN_FMT_UC ": updateStatus=%d",
                  static_cast<int>(device->instance), device->nodeProperty.Model, n,
                  WWN_ARGS(device->portProperty.PortWWN), result);
    };
    if (t > 7 && CountAdapterPorts(device) == 1) {
        result = 1;
        logResult();
        return result;
    }
    char serial[32];
    GetDeviceSerial(device, serial);
    TVXDevice *found = nullptr;
    for (TVXDevice *r = g_HBAList.first; r != nullptr && found == nullptr; r = r->next) {
        if (std::memcmp(r->nodeProperty.NodeWWN, device->nodeProperty.NodeWWN, 8) != 0 ||
            std::memcmp(r->portProperty.PortWWN, device->portProperty.PortWWN, 8) != 0)
            continue;
        char other[32];
        GetDeviceSerial(r, other);
        if (SerialNumbersMatch(serial, other)) found = r;
    }
    if (found == nullptr) {
        result = 6;
        logResult();
        return result;
    }
    AdapterEntry *entry = FindAdapterEntryForDevice(found);
    n = entry != nullptr ? static_cast<int>(entry->physicalPort) : 1;
    if (t <= 7) {
        int index = 0;
        switch (GetOEMPortClass(device)) {
        case 0: result = 1; break;
        case 1:
            index = GetPortIndexOEM(device);
            result = index % 2 == 0 ? 1 : 2;
            break;
        case 2:
            index = GetPortIndexOEM(device);
            result = index % 2 == 0 ? 2 : 1;
            break;
        default: result = 6; break;
        }
        if (isHostOSType("IA64") || isHostOSType("ia64")) result = 5;
        logResult();
        return result;
    }
    if (n == 1)
        result = 1;
    else if (n % 2 != 0)
        result = card1137 ? 3 : 10;
    else if (n == 2)
        result = card1137 ? 8 : 2;
    else
        result = card1137 ? 9 : 4;
    if (n % 2 == 0) logResult();
    return result;
}

int CheckAdapterFlashUpdateStatus(TVXDevice *device) {
    int result = 0;
    uint16_t chipType = 0;
    if (device == nullptr || isAdapterSupported(device, &chipType) == 0) {
        result = 6;
    } else if (GetCxrType(device) <= 7) {
        result = CheckPortUpdateOption(device);
    } else if (device->nodeProperty.InterfaceKind == TVX_INTERFACE_FCOE_ENGINE) {
        result = 7;
    } else if (PciId(device) == 0x2431) {
        INV_DEBUG("isCXR2431: HBA=%d (%.32s) cxr=0x%x ssdid=0x%x ssvid=0x%x", static_cast<int>(device->instance),
                  device->nodeProperty.Model, static_cast<unsigned>(GetCxrType(device)),
                  static_cast<unsigned>(device->chipProperty.SubsysDeviceId),
                  static_cast<unsigned>(device->chipProperty.SubsysVendorId));
        result = 6;
    } else {
        result = CheckPortUpdateOption(device);
    }
    INV_DEBUG("CheckAdapterFlashUpdateStatus: return=%d", result);
    return result;
}

int isSunAdapter(const TVXDevice *device) {
    if (device == nullptr) return 0;
    uint16_t vendor = GetNvramSubsysVendorId(device);
    uint16_t ssdid = GetNvramSubsysDeviceId(device);
    if (vendor != 0x1077) return 0;
    if (In(ssdid, {0x106, 0x107, 0x108, 0x10A, 0x10B, 0x11C, 0x132, 0x140, 0x141, 0x143, 0x149, 0x14E, 0x14B})) {
        INV_DEBUG("SUN 2G/4G adapter detected (SSVID/SSDID = 0x%04x/0x%04x)", vendor, ssdid);
        return 1;
    }
    if (In(ssdid, {0x170, 0x171}) || InRange(ssdid, 0x181, 0x184) || InRange(ssdid, 0x189, 0x18C)) {
        INV_DEBUG("SUN 8G adapter (HBA/CNA) detected (SSVID/SSDID = 0x%04x/0x%04x)", vendor, ssdid);
        return 2;
    }
    return 0;
}

int isConvergedAdapter(const TVXDevice *device) {
    if (device == nullptr) return 0;
    uint16_t id = PciId(device);
    return (In(id, {0x8000, 0x8001, 0x8831}) || InRange(id, 0x8020, 0x8023) || InRange(id, 0x8030, 0x8033)) ? 1 : 0;
}

int isFCoEEngine(const TVXDevice *device) {
    if (device == nullptr) return 0;
    return (GetNvramSubsysDeviceId(device) == 0x10E && GetNvramSubsysVendorId(device) == 0x1077 &&
            PciId(device) == 0x8432)
               ? 1
               : 0;
}

int isEDCUpdateSupported(const TVXDevice *device) {
    if (device == nullptr) return 0;
    uint16_t ssdid = GetNvramSubsysDeviceId(device);
    int t = GetCxrType(device);
    bool yes = (InRange(ssdid, 0x17B, 0x17E) || InRange(ssdid, 0x189, 0x18C) || In(ssdid, {0x20D, 0x20E})) &&
               GetNvramSubsysVendorId(device) == 0x1077 && (t == 14 || t == 15);
    INV_DEBUG("isEDCUpdateSupported: isEDCUpdateSupported (cxrType=%d) = %d", t, yes ? 1 : 0);
    return yes ? 1 : 0;
}

int isFenwar16GHBA(const TVXDevice *device) {
    if (device == nullptr) return 0;
    uint16_t ssdid = device->chipProperty.SubsysDeviceId;
    return (In(PciId(device), {0x2071, 0x2171, 0x2271, 0x2371, 0x2261}) &&
            (In(ssdid, {0x292, 0x29B, 0x29C, 0x29E, 0x2A7, 0x2A8}) || InRange(ssdid, 0x294, 0x297) ||
             InRange(ssdid, 0x2A2, 0x2A5)) &&
            device->chipProperty.SubsysVendorId == 0x1077)
               ? 1
               : 0;
}

int isFenwar2261HBA(const TVXDevice *device) {
    if (device == nullptr || PciId(device) != 0x2261) return 0;
    uint16_t ssdid = device->chipProperty.SubsysDeviceId;
    uint16_t vendor = device->chipProperty.SubsysVendorId;
    bool a = (In(ssdid, {0x29B, 0x29C, 0x2A7, 0x2A8, 0x2BE, 0x2F9, 0x2FA}) || InRange(ssdid, 0x2AE, 0x2B1) ||
              InRange(ssdid, 0x2B4, 0x2B8)) &&
             vendor == 0x1077;
    bool b = In(ssdid, {0xF9, 0xFA, 0x2BC}) && vendor == 0x1590;
    return (a || b) ? 1 : 0;
}

int isBrocadeFeatureUnSupportedAdapters(const TVXDevice *device) {
    if (device == nullptr) return 0;
    uint16_t ssdid = device->chipProperty.SubsysDeviceId;
    uint16_t vendor = device->chipProperty.SubsysVendorId;
    bool yes = GetCxrType(device) < 21 || (In(ssdid, {0x240, 0x255, 0x261, 0x297}) && vendor == 0x1077) ||
               (ssdid == 0x1939 && vendor == 0x103C);
    if (yes) INV_DEBUG("isBrocadeFeatureUnSupportedAdapters detected (SSVID/SSDID = 0x%04x/0x%04x)", vendor, ssdid);
    return yes ? 1 : 0;
}

int ApplyOEMModelName(TVXDevice *device) {
    if (device == nullptr) return 0;
    uint16_t ssdid = GetNvramSubsysDeviceId(device);
    if (!In(ssdid, {0x27D, 0x2FB, 0x1051, 0x34BA})) return 0;
    if (ssdid == 0x27D) CopyText(device->nodeProperty.Model, sizeof device->nodeProperty.Model, "FCEC-2312");
    return 1;
}

int isOEMSingleBiosChip(const TVXDevice *device) {
    if (device == nullptr) return 0;
    uint16_t ssdid = GetNvramSubsysDeviceId(device);
    uint16_t vendor = GetNvramSubsysVendorId(device);
    bool yes = (In(ssdid, {0x27D, 0x2FB}) && vendor == 0x1014) || (ssdid == 0x1051 && vendor == 0x1734) ||
               (ssdid == 0x34BA && vendor == 0x8086) || (ssdid == 0x102 && vendor == 0x1749) ||
               (In(ssdid, {0x170, 0x18A}) && vendor == 0x1028);
    return yes ? 12 : 0;
}

int UpdateOEMSingleChipBiosVersion(TVXDevice *device) {
    if (device == nullptr) return 0;
    if (GetNvramSubsysDeviceId(device) != 0x170 || GetNvramSubsysVendorId(device) != 0x1028) return 0;
    const TVX_CHIP_PROPERTY &chip = device->chipProperty;
    if (((chip.PciSlotNumber >> 5) & 7) != 0) return 0;
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
        const TVX_CHIP_PROPERTY &rc = r->chipProperty;
        if (rc.PciBusNumber != chip.PciBusNumber || (rc.PciSlotNumber & 0x0F) != (chip.PciSlotNumber & 0x0F) ||
            ((rc.PciSlotNumber >> 5) & 7) != 1)
            continue;
        char version[16];
        const uint8_t *fw = r->nodeProperty.FlashFwVersion;
        if (r->nodeProperty.FlashImageFlags & TVX_FLASH_IMAGE_FW)
            std::snprintf(version, sizeof version, "%d.%02d.%02d", fw[0], fw[1], fw[2]);
        else
            CopyText(version, sizeof version, "N/A");
        INV_DEBUG("Updating BIOS version on HBA (port %d %.32s wwpn " WWN_FMT_UC "...",
                  static_cast<int>(r->physicalPort), r->nodeProperty.Model, WWN_ARGS(r->portProperty.PortWWN));
        INV_DEBUG("UpdateOEMSingleChipBiosVersion: BIOS %.40s firmware %s", r->nodeProperty.OptRomVersion, version);
        std::memcpy(device->nodeProperty.OptRomVersion, r->nodeProperty.OptRomVersion,
                    sizeof device->nodeProperty.OptRomVersion);
        std::memcpy(device->nodeProperty.FlashFwVersion, r->nodeProperty.FlashFwVersion,
                    sizeof device->nodeProperty.FlashFwVersion);
        break;
    }
    return 0;
}

int isHostOSType(const char *text) {
    if (text == nullptr) return 0;
    char osType[sizeof g_HostIdent.osType + 1];
    CopyText(osType, sizeof osType, g_HostIdent.osType);
    return std::strstr(osType, text) != nullptr ? 1 : 0;
}
