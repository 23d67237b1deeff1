#include "inventory/display.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/output.h"
#include "app/settings.h"
#include "inventory/cxrtype.h"
#include "oss/oss.h"

namespace {

const char kDashes[] = "----------------------------------------------------------------------";

std::string Fixed(const char *text, size_t size) { return std::string(text, strnlen(text, size)); }

std::string Fmt2(const uint8_t *v) {
    char t[16];
    std::snprintf(t, sizeof(t), "%d.%02d", v[0], v[1]);
    return t;
}

std::string Fmt3(const uint8_t *v) {
    char t[16];
    std::snprintf(t, sizeof(t), "%d.%02d.%02d", v[0], v[1], v[2]);
    return t;
}

// Serial number formed from the three serial bytes of the node property.
std::string SerialFromNodeBytes(const TVXDevice *device) {
    const uint8_t *b = device->nodeProperty.SerialNum;
    unsigned n = ((b[0] & 31u) * 65536u) + (b[2] * 256u) + b[1];
    char t[32];
    std::snprintf(t, sizeof(t), "%c%05u", static_cast<char>('A' + n / 100000u), n % 100000u);
    return t;
}

// Serial number of a port: its adapter entry's, else read from the adapter.
std::string SerialOf(TVXDevice *device) {
    char serial[32] = {0};
    GetDeviceSerial(device, serial);
    serial[sizeof(serial) - 1] = '\0';
    return serial;
}

uint32_t NvramParam(const TVXDevice *device, uint32_t param) {
    uint32_t value = 0;
    if (TvxGetVariableValue(device->handle, device->nvram1, param, &value) != TVX_STATUS_OK) return 0;
    return value;
}

const char *PcieWidth(unsigned w) {
    switch (w) {
    case 1: return "x1";
    case 2: return "x2";
    case 4: return "x4";
    case 8: return "x8";
    case 16: return "x16";
    default: return "Unknown Width";
    }
}

const char *PcieSpeed(unsigned s) {
    switch (s) {
    case 1: return "2.5 Gbps";
    case 2: return "5.0 Gbps";
    case 3: return "8.0 Gbps";
    case 4: return "16.0 Gbps";
    default: return "Unknown Speed";
    }
}

const char *DataRate(uint32_t speed) {
    switch (speed) {
    case 1: return "1 Gbps";
    case 2: return "2 Gbps";
    case 3: return "Auto";
    case 4: return "4 Gbps";
    case 8: return "8 Gbps";
    case 16: return "10 Gbps";
    case 22: return "16 Gbps";
    case 32: return "20 Gbps";
    case 50: return "32 Gbps";
    default: return "Unknown";
    }
}

bool HasPcieLinkLines(uint16_t id) {
    static const uint16_t kIds[] = {0x2031, 0x2071, 0x2171, 0x2261, 0x2271, 0x2371, 0x2431, 0x2432, 0x2532,
                                    0x2533, 0x5432, 0x8001, 0x8021, 0x8031, 0x8041, 0x8044, 0x8432, 0x8831};
    for (uint16_t k : kIds) {
        if (k == id) return true;
    }
    return false;
}

bool HasMpiPepLines(const TVXDevice *device) {
    return isFenwar16GHBA(device) != 0 || (GetCxrType(device) == 25 && device->chipProperty.PciDeviceId == 0x2071) ||
           isFenwar2261HBA(device) != 0;
}

std::string DownText(int type, const TVX_PORT_PROPERTY &port) {
    if (type < 8) return "Loop down";
    if (port.LinkState2 == 1) return "SFP not installed";
    if (port.LinkState2 == 6) return "SFP Invalid";
    return "Link Down";
}

// Reads the port property; false when it can't be read.
bool ReadPortProperty(const TVXDevice *device, TVX_PORT_PROPERTY &port) {
    port = TVX_PORT_PROPERTY{};
    TVX_STATUS st = TvxGetHbaDevicePortProperty(device->handle, 0, &port);
    if (st != TVX_STATUS_OK) {
        OutputLevelMessage(LEVEL_DEBUG, "RefreshPortStatus: TvxGetHbaDevicePortProperty failed (0x%x)", st);
        return false;
    }
    return true;
}

} // namespace

uint32_t ApplyPortStatus(uint32_t flags, const TVX_PORT_PROPERTY &port) {
    const uint32_t ls2Bits[] = {PORT_STATUS_LS2_1, PORT_STATUS_LS2_4, PORT_STATUS_LS2_5, PORT_STATUS_LS2_6};
    const uint16_t ls2Values[] = {1, 4, 5, 6};
    if (port.PortState == TVX_PORT_STATE_UP) {
        if ((flags & PORT_STATUS_DOWN) != 0) {
            flags &= ~PORT_STATUS_DOWN;
            if ((flags & PORT_STATUS_DOWN_PENDING) != 0) flags &= ~PORT_STATUS_DOWN_PENDING;
        }
        for (int i = 0; i < 4; ++i) {
            if (port.LinkState2 != ls2Values[i]) flags &= ~ls2Bits[i];
        }
        if (port.LinkState6 != 2) flags &= ~PORT_STATUS_LINK6_2;
    } else if (port.PortState == TVX_PORT_STATE_DOWN || port.PortState == TVX_PORT_STATE_LOOP_DOWN) {
        flags |= PORT_STATUS_DOWN;
        for (int i = 0; i < 4; ++i) {
            if (port.LinkState2 == ls2Values[i])
                flags |= ls2Bits[i];
            else
                flags &= ~ls2Bits[i];
        }
        if (port.LinkState6 == 2)
            flags |= PORT_STATUS_LINK6_2;
        else
            flags &= ~PORT_STATUS_LINK6_2;
    }
    return flags;
}

int RefreshPortStatus(TVXDevice *device) {
    if (device == nullptr) return 2;
    TVX_PORT_PROPERTY port;
    if (!ReadPortProperty(device, port)) return 2;
    device->statusFlags = ApplyPortStatus(device->statusFlags, port);
    return port.PortState;
}

std::string AdapterStatusText(const TVXDevice *device, uint32_t flags, const TVX_PORT_PROPERTY &port) {
    int type = GetCxrType(device);
    switch (flags) {
    case 0:
        switch (port.PortState) {
        case TVX_PORT_STATE_UP:
            if (type >= 24 && isFirmwareWithFECSupport(Fixed(device->nodeProperty.FirmwareVersion,
                                                             sizeof(device->nodeProperty.FirmwareVersion))
                                                           .c_str()) != 0)
                return (port.LinkState3 & 0x8000u) != 0 ? "Online (FEC)" : "Online";
            return "Online";
        case TVX_PORT_STATE_DOWN:
            return (isFCoEEngine(device) != 0 || isConvergedAdapter(device) != 0) ? "Link Down" : "Loop down";
        case TVX_PORT_STATE_LOOP_DOWN: return type < 8 ? "Loop down" : "Link Down";
        default: return "Unknown";
        }
    case 1: return DownText(type, port);
    case 2: return "System Error";
    case 4: return "Lip occurred";
    case 8: return type < 8 ? "Loop up" : "Link Up";
    case 16: return "Port update";
    case 0x1000: return type < 8 ? "Send loop down update" : "Send link down update";
    case 0x2000: return "Alt WWN active";
    case 0x4000: return "Disable";
    case 0x8000: return "Currently up";
    default: break;
    }
    if ((flags & PORT_STATUS_DOWN) == 0) {
        // Only leftover link bits of an earlier down state: the port state
        // decides, as for a clear status word.
        return AdapterStatusText(device, 0, port);
    }
    if (type < 8) return "Loop down";
    switch (port.LinkState2) {
    case 1: return "SFP not installed";
    case 6: return "SFP Invalid";
    case 2:
    case 3:
    case 7:
        if (flags == 0x201)
            return isBrocadeFeatureUnSupportedAdapters(device) != 0 ? "Link Down" : "Loop Down, Diagnostic Mode";
        return port.PortState == TVX_PORT_STATE_UP ? "Online" : "Link Down";
    default: return "Link Down";
    }
}

int GetAdapterStatus(TVXDevice *device, char *buffer, size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    if (device == nullptr) return 0;
    TVX_PORT_PROPERTY port;
    if (ReadPortProperty(device, port)) {
        device->statusFlags = ApplyPortStatus(device->statusFlags, port);
    } else {
        // The last known state stands.
        port = device->portProperty;
    }
    OutputLevelMessage(LEVEL_DEBUG, "GetAdapterStatus: HBA instance %d DeviceStatus=0x%x", device->instance,
                       device->statusFlags);
    OutputLevelMessage(LEVEL_DEBUG, "GetAdapterStatus: HBA instance %d PortStatus=0x%x", device->instance,
                       port.PortState);
    OutputLevelMessage(LEVEL_DEBUG, "GetAdapterStatus: HBA instance %d LinkState2 = 0x%x", device->instance,
                       port.LinkState2);
    OutputLevelMessage(LEVEL_DEBUG, "GetAdapterStatus: HBA instance %d LinkState3 = 0x%x", device->instance,
                       port.LinkState3);
    std::string text = AdapterStatusText(device, device->statusFlags, port);
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int isFirmwareWithFECSupport(const char *fwVersion) {
    std::string text = fwVersion != nullptr ? fwVersion : "";
    size_t pos = text.find_first_not_of(". ");
    long major = 0;
    bool any = false;
    for (; pos != std::string::npos && pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]));
         ++pos) {
        any = true;
        if (major < 1000000) major = major * 10 + (text[pos] - '0');
    }
    if (any && major >= 8) return 1;
    OutputLevelMessage(LEVEL_DEBUG, "isFirmwareWithFECSupport: Unsupported FEC firmware!");
    return 0;
}

int GetBootImageFamily(const TVXDevice *device) {
    if (device == nullptr) return 0;
    switch (GetCxrType(device)) {
    case 12: return NvramParam(device, TVX_NVRAM_PARAM_SSDID) == 0x165 ? 1 : 4;
    case 15: return 5;
    case 17: return 6;
    case 21: return 7;
    case 24: return 8;
    case 25: return 9;
    case 26: return 10;
    default: break;
    }
    switch (device->chipProperty.PciDeviceId) {
    case 0x2422:
    case 0x2432: return 1;
    case 0x5422:
    case 0x5432: return 2;
    case 0x8432: return 3;
    default: return 0;
    }
}

std::string GetChipRevisionText(unsigned chipType, int cxrType) {
    const char *name = nullptr;
    switch (chipType) {
    case 1:
        if (cxrType == 15 || cxrType == 21 || cxrType == 24) name = "A0";
        break;
    case 2:
        if (cxrType == 15)
            name = "A1";
        else if (cxrType == 21 || cxrType == 24)
            name = "B0";
        break;
    case 0x42: name = "B2"; break;
    case 0x50: name = "A0"; break;
    case 0x54: name = "B0"; break;
    case 0x55: name = "B1"; break;
    case 0x58: name = "C0"; break;
    case 0x5C: name = "D0"; break;
    default: break;
    }
    char t[32];
    if (name != nullptr)
        std::snprintf(t, sizeof(t), "0x%x(%s)", chipType, name);
    else
        std::snprintf(t, sizeof(t), "0x%x", chipType);
    return t;
}

std::string DisplayModelText(const char *model, bool sunSuffix) {
    std::string out;
    if (model != nullptr) {
        for (size_t i = 0; i < 32 && model[i] != '\0'; ++i) {
            unsigned char c = static_cast<unsigned char>(model[i]);
            if (std::isalnum(c) || std::ispunct(c)) out.push_back(static_cast<char>(c));
        }
    }
    if (sunSuffix && out.find("-S") == std::string::npos) out += "-S";
    if (out.size() > 31) out.resize(31);
    return out;
}

std::string CheckedBiosVersionText(const char *text, size_t maxLen) {
    std::string t = text != nullptr ? std::string(text, strnlen(text, maxLen)) : std::string();
    unsigned long sum = 0;
    size_t pos = 0;
    while (pos < t.size()) {
        while (pos < t.size() && std::strchr(" .\t\r\n", t[pos]) != nullptr && t[pos] != '\0')
            ++pos;
        unsigned long value = 0;
        bool digits = true;
        for (; pos < t.size() && std::strchr(" .\t\r\n", t[pos]) == nullptr; ++pos) {
            if (digits && std::isdigit(static_cast<unsigned char>(t[pos])) && value < 100000000ul)
                value = value * 10 + static_cast<unsigned long>(t[pos] - '0');
            else
                digits = false;
        }
        sum += value;
    }
    return sum == 0 ? std::string("N/A") : t;
}

int PrintHBAGenInfos(TVXDevice *device) {
    if (device == nullptr) return 0;
    const TVX_CHIP_PROPERTY &chip = device->chipProperty;
    const TVX_NODE_PROPERTY &node = device->nodeProperty;
    const TVX_PORT_PROPERTY &port = device->portProperty;
    const AdapterEntry *entry = FindAdapterEntryForDevice(device);
    int type = GetCxrType(device);
    int bootFamily = GetBootImageFamily(device);
    uint32_t flags = node.FlashImageFlags;

    OutputMessage("%s", kDashes);
    OutputMessage("Host Name                      : %s", g_HostIdent.hostName);
    OutputMessage("HBA Instance                   : %d", device->instance);
    ApplyOEMModelName(device);
    std::string model = DisplayModelText(node.Model, isSunAdapter(device) != 0);
    if (node.InterfaceKind == TVX_INTERFACE_FCOE_ENGINE)
        OutputMessage("CNA Model                      : %s", model.c_str());
    else
        OutputMessage("HBA Model                      : %s", model.c_str());
    std::string description = entry != nullptr ? Fixed(entry->description, sizeof(entry->description)) : "";
    OutputMessage("HBA Description                : %s", description.c_str());
    OutputMessage("HBA ID                         : %d-%s", device->instance, model.c_str());
    if (node.InterfaceKind == TVX_INTERFACE_VIRTUAL)
        OutputMessage("Virtual Port                   : %d", node.VirtualPortId);
    else
        OutputMessage("HBA Port                       : %d", entry != nullptr ? entry->physicalPort : 1u);
    const uint8_t *n = node.NodeWWN;
    const uint8_t *p = port.PortWWN;
    OutputMessage("Node Name                      : %02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X", n[0], n[1], n[2], n[3],
                  n[4], n[5], n[6], n[7]);
    OutputMessage("Port Name                      : %02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X", p[0], p[1], p[2], p[3],
                  p[4], p[5], p[6], p[7]);
    if (type == 15 || type == 17) {
        const uint8_t *m = device->nvram1 + 64;
        OutputLevelMessage(LEVEL_DEBUG, "GetDeviceMacAddress: MAC Address=%02X%02X%02X%02X%02X%02X", m[0], m[1], m[2],
                           m[3], m[4], m[5]);
        OutputMessage("ENode MAC Address              : %02X:%02X:%02X:%02X:%02X:%02X", m[0], m[1], m[2], m[3], m[4],
                      m[5]);
    }
    OutputMessage("Port ID                        : %02X-%02X-%02X", port.PortId[0], port.PortId[1], port.PortId[2]);
    std::string serial = SerialOf(device);
    if (serial.empty()) serial = SerialFromNodeBytes(device);
    OutputMessage("Serial Number                  : %s", serial.c_str());
    bool scsiMiniport = chip.ChipType == 0x898;
    OutputLevelMessage(LEVEL_DEBUG, "PrintHBAGenInfos: driver type=%d", scsiMiniport ? 0 : 1);
    OutputMessage("Driver Version                 : %s %s", scsiMiniport ? "SCSI Miniport" : "STOR Miniport",
                  Fixed(node.DriverVersion, sizeof(node.DriverVersion)).c_str());

    std::string bios = CheckedBiosVersionText(node.OptRomVersion, sizeof(node.OptRomVersion));
    if (g_bIA64Host != 0 && bootFamily >= 1)
        OutputMessage("EFI Version                    : %s",
                      (flags & TVX_FLASH_IMAGE_EFI) != 0 ? Fmt2(node.FlashEfiVersion).c_str() : "N/A");
    else
        OutputMessage("BIOS Version                   : %s", bios.c_str());

    bool mpiPep = HasMpiPepLines(device);
    if (mpiPep) {
        std::string mpi = Fmt3(node.RunningMpiVersion);
        OutputMessage("Running MPI Firmware Version   : %s",
                      mpi.find("255.255") != std::string::npos ? "Not Running" : mpi.c_str());
        OutputMessage("Running PEP Firmware Version   : %s", Fmt3(node.RunningPepVersion).c_str());
    }
    OutputMessage("Firmware Version               : %s",
                  Fixed(node.FirmwareVersion, sizeof(node.FirmwareVersion)).c_str());

    if (type == 5 || type == 7 || bootFamily >= 1) {
        OutputMessage("Flash BIOS Version             : %s", bios.c_str());
        std::string fcode = "N/A";
        if ((flags & TVX_FLASH_IMAGE_FCODE) != 0)
            fcode = bootFamily < 1 ? Fmt3(node.FlashFcodeVersion) : Fmt2(node.FlashFcodeVersion);
        OutputMessage("Flash FCode Version            : %s", fcode.c_str());
        OutputMessage("Flash EFI Version              : %s",
                      (flags & TVX_FLASH_IMAGE_EFI) != 0 ? Fmt2(node.FlashEfiVersion).c_str() : "N/A");
        if (type > 7)
            OutputMessage("Flash Firmware Version         : %s",
                          (flags & TVX_FLASH_IMAGE_FW) != 0 ? Fmt3(node.FlashFwVersion).c_str() : "N/A");
    }
    if (mpiPep) {
        OutputMessage("Flash MPI Firmware Version     : %s",
                      (flags & TVX_FLASH_IMAGE_MPI) != 0 ? Fmt3(node.FlashMpiVersion).c_str() : "N/A");
        OutputMessage("Flash PEP Firmware Version     : %s",
                      (flags & TVX_FLASH_IMAGE_PEP) != 0 ? Fmt3(node.FlashPepVersion).c_str() : "N/A");
    }

    OutputLevelMessage(LEVEL_DEBUG, "Actual Connection Mode=0x%x", port.ConnectionMode);
    const char *mode = port.ConnectionMode == 1 ? "Point to Point" : port.ConnectionMode == 2 ? "Loop" : "Unknown";
    OutputMessage("Actual Connection Mode         : %s", mode);
    OutputMessage("Actual Data Rate               : %s", DataRate(port.PortSpeed));
    OutputMessage("Device CXR ID                  : CXR%04x", chip.PciDeviceId);
    if (type >= 15)
        OutputMessage("Chip Revision                  : %s", GetChipRevisionText(chip.ChipType, type).c_str());
    const char *topology = port.ConnectionMode == 1 ? "NPort" : port.ConnectionMode == 2 ? "NLPort" : "Unidentified";
    OutputMessage("PortType (Topology)            : %s", topology);
    OutputMessage("Target Count                   : %d", device->targets.count);
    OutputMessage("PCI Bus Number                 : %d", chip.PciBusNumber);
    OutputMessage("PCI Device Number              : %d", chip.PciSlotNumber & 0x0F);
    // The second line of this label carries the PCI function number.
    OutputMessage("PCI Device Number              : %d", (chip.PciSlotNumber >> 5) & 0x07);
    OutputLevelMessage(LEVEL_DEBUG, "Number of Bus                  : %d", device->driverProperty.NumberOfBuses);
    OutputLevelMessage(LEVEL_DEBUG, "OS Name                        : %s",
                       Fixed(device->driverProperty.OsName, sizeof(device->driverProperty.OsName)).c_str());
    OutputMessage("Subsystem Vendor ID            : 0x%04x", NvramParam(device, TVX_NVRAM_PARAM_SSVID));
    OutputMessage("Subsystem Device ID            : 0x%04x", NvramParam(device, TVX_NVRAM_PARAM_SSDID));
    if (HasPcieLinkLines(chip.PciDeviceId)) {
        OutputLevelMessage(LEVEL_DEBUG, "DeviceChipProperty.PcieLinkCap=0x%x.", chip.PcieLinkCap);
        OutputLevelMessage(LEVEL_DEBUG, "DeviceChipProperty.PcieLinkStat=0x%x.", chip.PcieLinkStat);
        OutputMessage("PCIe Max Bus Width             : %s", PcieWidth((chip.PcieLinkCap >> 4) & 0x3F));
        OutputMessage("PCIe Negotiated Width          : %s", PcieWidth((chip.PcieLinkStat >> 4) & 0x3F));
        OutputMessage("PCIe Max Bus Speed             : %s", PcieSpeed(chip.PcieLinkCap & 0x0F));
        OutputMessage("PCIe Negotiated Speed          : %s", PcieSpeed(chip.PcieLinkStat & 0x0F));
    }
    char status[64];
    GetAdapterStatus(device, status, sizeof(status));
    OutputMessage("HBA Status                     : %s", status);
    return 0;
}

int PrintHostInfo() {
    OSSHostInfo info;
    if (OSSGetHostInfo(&info) != 0 || info.valid == 0) {
        OutputMessage("%s", "Unable to retrievet host information!");
        return 0;
    }
    OutputMessage("Host Name                      : %s", info.hostName);
    OutputMessage("OS Type                        : %s", info.osType);
    OutputMessage("OS Version                     : %s", info.osVersion);
    OutputMessage("TVXAPI                         : %s", info.libraryVersion);
    return 0;
}

int PrintHBASummary() {
    if (g_HBAList.first == nullptr || g_HBAList.count == 0) {
        OutputLevelMessage(LEVEL_INFO, "Orvane HBA not found!");
        return -1;
    }
    OutputMessage("%s", kDashes);
    std::string previousSerial;
    int continuationPorts = 0;
    int records = 0;
    for (TVXDevice *d = g_HBAList.first; d != nullptr && records < static_cast<int>(g_HBAList.count); d = d->next) {
        ++records;
        const AdapterEntry *entry = FindAdapterEntryForDevice(d);
        std::string model = DisplayModelText(d->nodeProperty.Model, false);
        std::string serial = SerialOf(d);
        RefreshPortStatus(d);
        char status[64];
        GetAdapterStatus(d, status, sizeof(status));
        unsigned portNo = entry != nullptr ? entry->physicalPort : 1u;
        if (SerialNumbersMatch(serial.c_str(), previousSerial.c_str()) != 0) {
            ++continuationPorts;
        } else {
            OutputMessage("HBA Model %s (SN %s):", model.c_str(), serial.c_str());
        }
        const uint8_t *w = d->portProperty.PortWWN;
        OutputMessage("  Port %d WWPN %02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X (HBA %ld) %s", portNo, w[0], w[1], w[2],
                      w[3], w[4], w[5], w[6], w[7], static_cast<long>(d->instance), status);
        previousSerial = serial;
    }
    OutputMessage("%s", kDashes);
    OutputLevelMessage(LEVEL_DEBUG, "Total adapter with dual port : %d", continuationPorts);
    OutputMessage("Total Orvane HBA(s) : %d", records - continuationPorts);
    return 0;
}
