// Readers of a device record: open-time read status, NVRAM subsystem IDs,
// serial numbers, physical port numbers and the version refresh after an
// update.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "inventory/cxrtype.h"
#include "inventory/invutil.h"
#include "inventory/tvxdevice.h"
#include "inventory/tvxdevice_internal.h"
#include "vpd/vpd.h"

namespace tvxinternal {

namespace {
std::map<uint32_t, OpenReads> g_openReads;
} // namespace

OpenReads &ResetOpenReads(uint32_t handle) {
    OpenReads &reads = g_openReads[handle];
    reads = OpenReads{};
    return reads;
}

void ForgetOpenReads(uint32_t handle) { g_openReads.erase(handle); }

const OpenReads *OpenReadsOf(const TVXDevice *d) {
    if (d == nullptr) return nullptr;
    auto it = g_openReads.find(d->handle);
    return it != g_openReads.end() ? &it->second : nullptr;
}

} // namespace tvxinternal

using namespace tvxinternal;

// ---- Small readers -------------------------------------------------------

uint32_t NodePropertyReadStatus(const TVXDevice *device) {
    const OpenReads *r = OpenReadsOf(device);
    return r != nullptr ? r->nodeProperty : TVX_STATUS_OK;
}

uint32_t NvramReadStatus(const TVXDevice *device) {
    const OpenReads *r = OpenReadsOf(device);
    return r != nullptr ? r->nvram1 : TVX_STATUS_OK;
}

uint16_t GetNvramSubsysVendorId(const TVXDevice *device) {
    if (device == nullptr) return 0;
    uint32_t v = 0;
    if (TvxGetVariableValue(device->handle, device->nvram1, TVX_NVRAM_PARAM_SSVID, &v) != TVX_STATUS_OK) return 0;
    return static_cast<uint16_t>(v);
}

uint16_t GetNvramSubsysDeviceId(const TVXDevice *device) {
    if (device == nullptr) return 0;
    uint32_t v = 0;
    if (TvxGetVariableValue(device->handle, device->nvram1, TVX_NVRAM_PARAM_SSDID, &v) != TVX_STATUS_OK) return 0;
    return static_cast<uint16_t>(v);
}

void GetDeviceMacAddress(const TVXDevice *device, uint8_t mac[6]) {
    if (device == nullptr || mac == nullptr) return;
    std::memcpy(mac, device->nvram1 + 64, 6);
    g_bConvergedAdapterPresent = 1;
    INV_DEBUG("GetDeviceMacAddress: MAC Address=%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
              mac[5]);
}

int SerialNumbersMatch(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) return 0;
    size_t la = std::strlen(a);
    if (la == 0 || la != std::strlen(b)) return 0;
    for (size_t i = 0; i < la; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 'a' + 'A');
        if (ca != cb) return 0;
    }
    return 1;
}

void GetSerialNo(TVXDevice *device, char serial[32]) {
    if (serial == nullptr) return;
    serial[0] = '\0';
    if (device == nullptr) return;
    int t = GetCxrType(device);
    bool fromVpd = false;
    if (t > 7) {
        char value[32] = {};
        if (RetrieveSpecificVPDField(device, "SN", value, sizeof value) == VPD_OK) {
            CopyText(serial, 32, value);
            fromVpd = true;
        }
    }
    if (!fromVpd) {
        const uint8_t *b = device->nodeProperty.SerialNum;
        unsigned n = (static_cast<unsigned>(b[0] & 31) * 65536u) + (static_cast<unsigned>(b[2]) * 256u) + b[1];
        std::snprintf(serial, 32, "%c%05u", static_cast<char>('A' + n / 100000u), n % 100000u);
    }
    INV_DEBUG("GetSerialNo: HBA %d %.32s CXR=0x%x serialNo=%s", static_cast<int>(device->instance),
              device->nodeProperty.Model, static_cast<unsigned>(t), serial);
}

void GetDeviceSerial(TVXDevice *device, char serial[32]) {
    if (serial == nullptr) return;
    serial[0] = '\0';
    if (device == nullptr) return;
    AdapterEntry *e = FindAdapterEntryForDevice(device);
    if (e != nullptr)
        CopyText(serial, 32, e->serialNo);
    else
        GetSerialNo(device, serial);
}

AdapterEntry *FindAdapterEntryForDevice(const TVXDevice *device) {
    if (device == nullptr) return nullptr;
    for (AdapterEntry *e = g_AdapterList.first; e != nullptr; e = e->next)
        if (SameWWNs(e->nodeWWN, e->portWWN, device->nodeProperty.NodeWWN, device->portProperty.PortWWN)) return e;
    return nullptr;
}

TVXDevice *FindHBAListRecord(const TVXDevice *device) {
    if (device == nullptr) return nullptr;
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next)
        if (SameDeviceWWNs(r, device)) return r;
    return nullptr;
}

// ---- Port numbers ----------------------------------------------------------

int GetAdapterPciPhysicalPortNumber(TVXDevice *device) {
    if (device == nullptr) return -1;
    TVX_STATUS status = TvxGetHbaDeviceChipProperty(device->handle, &device->chipProperty);
    if (status != TVX_STATUS_OK)
        INV_DEBUG("GetAdapterPciPhysicalPortNumber: TvxGetHbaDeviceChipProperty failed (0x%x) (%s)", status,
                  TvxErrorText(status).c_str());
    int api = device->chipProperty.ApiPortNumber;
    int function = (device->chipProperty.PciSlotNumber >> 5) & 7;
    static const int kPortOfFunction[8] = {1, 2, 1, 2, 0, 0, 1, 2};
    int pci = kPortOfFunction[function];
    INV_DEBUG("GetAdapterPciPhysicalPortNumber: API port number=%d", api);
    INV_DEBUG("GetAdapterPciPhysicalPortNumber: PCI function=%d port=%d", function, pci);
    int result = std::max(api, pci);
    INV_DEBUG("GetAdapterPciPhysicalPortNumber: port number=%d", result);
    return result;
}

namespace {

int CountPortsOfCard(TVXDevice *device, bool log) {
    if (device == nullptr) return 0;
    char serial[32];
    GetDeviceSerial(device, serial);
    int count = 0;
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
        char other[32];
        GetDeviceSerial(r, other);
        if (SerialNumbersMatch(serial, other)) {
            ++count;
            if (log)
                INV_DEBUG("Found HBA port %d - %s " WWN_FMT_UC, static_cast<int>(r->physicalPort), other,
                          WWN_ARGS(r->portProperty.PortWWN));
        }
    }
    return count;
}

} // namespace

int CountAdapterPorts(const TVXDevice *device) { return CountPortsOfCard(const_cast<TVXDevice *>(device), false); }

int isMultiPortAdapter(const TVXDevice *device) {
    return CountPortsOfCard(const_cast<TVXDevice *>(device), true) >= 2 ? 1 : 0;
}

TVXDevice *FindAdapterPortMultiPortHBA(const TVXDevice *device) {
    if (device == nullptr) return nullptr;
    char serial[32];
    GetDeviceSerial(const_cast<TVXDevice *>(device), serial);
    for (TVXDevice *r = g_DeviceList.first; r != nullptr; r = r->next) {
        if (r->instance == device->instance) continue;
        if (std::memcmp(r->nodeProperty.NodeWWN, device->nodeProperty.NodeWWN, 8) == 0) continue;
        if (std::memcmp(r->portProperty.PortWWN, device->portProperty.PortWWN, 8) == 0) continue;
        char other[32];
        GetDeviceSerial(r, other);
        if (SerialNumbersMatch(serial, other)) return r;
    }
    return nullptr;
}

// ---- Refresh after an update -----------------------------------------------

namespace {

void CopyVersionFields(TVXDevice *to, const TVX_NODE_PROPERTY &from) {
    std::memcpy(to->nodeProperty.FirmwareVersion, from.FirmwareVersion, sizeof from.FirmwareVersion);
    std::memcpy(to->nodeProperty.OptRomVersion, from.OptRomVersion, sizeof from.OptRomVersion);
    std::memcpy(to->nodeProperty.FlashFwVersion, from.FlashFwVersion, sizeof from.FlashFwVersion);
    std::memcpy(to->nodeProperty.FlashEfiVersion, from.FlashEfiVersion, sizeof from.FlashEfiVersion);
    std::memcpy(to->nodeProperty.FlashFcodeVersion, from.FlashFcodeVersion, sizeof from.FlashFcodeVersion);
}

} // namespace

int UpdateHBADeviceNodeProperty(TVXDevice *device) {
    if (device == nullptr) return -1;
    TVX_NODE_PROPERTY fresh{};
    TVX_STATUS status = TvxGetHbaDeviceNodeProperty(device->handle, &fresh);
    if (status != TVX_STATUS_OK) {
        INV_DEBUG("Failed retrieving device node property of HBA (%d)", static_cast<int>(device->instance));
        return static_cast<int>(status);
    }
    CopyVersionFields(device, fresh);
    TVXDevice *h = FindHBAListRecord(device);
    if (h == nullptr) return 0;
    CopyVersionFields(h, fresh);
    if (GetCxrType(h) <= 7) return 0;
    int ports = CountAdapterPorts(h);
    AdapterEntry *entry = FindAdapterEntryForDevice(h);
    int port = entry != nullptr ? static_cast<int>(entry->physicalPort) : static_cast<int>(h->physicalPort);
    bool copyToSibling = (ports == 2 && port == 1) || (ports == 4 && (port == 1 || port == 3));
    if (!copyToSibling) return 0;
    TVXDevice *sibling = FindAdapterPortMultiPortHBA(h);
    if (sibling == nullptr) return 0;
    INV_DEBUG("UpdateHBADeviceNodeProperty: Updating HBA %d Port index=%d (%s)", static_cast<int>(sibling->instance),
              port, h->nodeProperty.Model);
    CopyVersionFields(sibling, fresh);
    // The commands read the HBA list: refresh the sibling's record there too.
    TVXDevice *siblingRecord = FindHBAListRecord(sibling);
    if (siblingRecord != nullptr) CopyVersionFields(siblingRecord, fresh);
    return 0;
}

int SetAdapterEntryUpdateResult(const TVXDevice *device, uint32_t result) {
    if (device == nullptr || !IsPhysicalPort(device)) return 8;
    AdapterEntry *e = FindAdapterEntryForDevice(device);
    if (e == nullptr) return 8;
    e->updateResult = result;
    return 0;
}
