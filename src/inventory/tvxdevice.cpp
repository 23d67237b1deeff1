#include "inventory/tvxdevice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/output.h"
#include "app/settings.h"
#include "inventory/adapters_table.h"
#include "inventory/cxrtype.h"
#include "inventory/display.h"
#include "inventory/invutil.h"
#include "inventory/prefs.h"
#include "inventory/targets.h"
#include "inventory/tvxdevice_internal.h"
#include "inventory/unopened.h"
#include "oss/oss.h"

TVXDeviceList g_DeviceList = {};
TVXDeviceList g_HBAList = {};
AdapterList g_AdapterList = {};
int g_bFCoEEnginePresent = 0;
int g_bConvergedAdapterPresent = 0;

using namespace tvxinternal;

namespace {

constexpr uint32_t kMaxInstances = 256;
constexpr int kMaxOpenRetries = 6;
constexpr unsigned kOpenRetryWaitMs = 5000;
constexpr uint32_t kDeviceFlagsClearedAtCreation = (1u << 26) | (1u << 27);

void AppendDevice(TVXDeviceList &list, TVXDevice *d) { ListAppend(list, d); }

void InsertDeviceBefore(TVXDeviceList &list, TVXDevice *before, TVXDevice *d) {
    if (before == nullptr) {
        AppendDevice(list, d);
        return;
    }
    d->next = before;
    d->prev = before->prev;
    if (before->prev != nullptr)
        before->prev->next = d;
    else
        list.first = d;
    before->prev = d;
    ++list.count;
}

// A block of n WWPN records copied from src; null for none or when it
// cannot be allocated. Tables are taken only for ports that have virtual
// ports, and only as large as they are.
VPortWwpn *CopyWwpns(const VPortWwpn *src, uint32_t n) {
    if (n == 0) return nullptr;
    auto *block = static_cast<VPortWwpn *>(CoreMalloc(sizeof(VPortWwpn) * n));
    if (block != nullptr) std::memcpy(block, src, sizeof(VPortWwpn) * n);
    return block;
}

void FreeDeviceVPortTable(TVXDevice *d) {
    if (d->vPortTable != nullptr) CoreFree(d->vPortTable);
    d->vPortTable = nullptr;
}

// A record that was never opened here (a copy, a virtual port) freed with
// its table.
void FreeDeviceRecord(TVXDevice *d) {
    FreeDeviceVPortTable(d);
    CoreFree(d);
}

// A full copy of a record with cleared links and a table of its own, so
// that the original and the copy each free their own.
TVXDevice *CopyDevice(const TVXDevice *d) {
    auto *copy = static_cast<TVXDevice *>(CoreMalloc(sizeof(TVXDevice)));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, d, sizeof(TVXDevice));
    copy->next = nullptr;
    copy->prev = nullptr;
    copy->vPortTable = nullptr;
    const uint32_t n = DeviceVPortCount(d);
    if (n > 0) {
        copy->vPortTable = CopyWwpns(d->vPortTable, n);
        if (copy->vPortTable == nullptr) {
            CoreFree(copy);
            return nullptr;
        }
    }
    return copy;
}

void FreeAdapterEntry(AdapterEntry *e) {
    if (e->vPortWWPN != nullptr) CoreFree(e->vPortWWPN);
    e->vPortWWPN = nullptr;
    e->vPortWWPNCount = 0;
    CoreFree(e);
}

// A WWPN is invalid when all bytes are equal and the first is 0, '0' or 0xFF.
bool IsValidWWPN(const uint8_t *w) {
    if (w == nullptr) return false;
    bool allEqual = true;
    for (int i = 1; i < 8; ++i)
        if (w[i] != w[0]) allEqual = false;
    return !(allEqual && (w[0] == 0 || w[0] == '0' || w[0] == 0xFF));
}

// Signed comparison of the WWN hex texts (same order as the bytes).
int CompareWWN(const uint8_t *a, const uint8_t *b) {
    int c = std::memcmp(a, b, 8);
    return (c > 0) - (c < 0);
}

bool ModelContains(const TVXDevice *d, const char *text) {
    char model[33];
    CopyText(model, sizeof model, d->nodeProperty.Model);
    return std::strstr(model, text) != nullptr;
}

void LogPropertyFailure(const char *operation, TVX_STATUS status) {
    OutputLevelMessage(LEVEL_INFO, "%s failed (0x%x) (%s)", operation, status, TvxErrorText(status).c_str());
}

// Fills the entry fields from the supported-adapter table row of the
// device's NVRAM subsystem IDs.
void ApplyTableRow(const char *who, SubSystemEntry *table, const TVXDevice *d, AdapterEntry *a) {
    if (table == nullptr) return;
    SubSystemEntry *row = FindSubSystemInSubSystemList(table, GetNvramSubsysDeviceId(d), GetNvramSubsysVendorId(d));
    if (row == nullptr) return;
    INV_DEBUG("%s: subsysDeviceId: %s subsysVendorId: %s\nDebug: Desc: %s CXR: %s, Supported: %s", who,
              row->subsysDeviceId, row->subsysVendorId, row->description, row->cxrText, row->supported);
    a->enableStatus = std::strstr(row->supported, "TRUE") != nullptr ? 1 : 0;
    CopyText(a->description, sizeof a->description, row->description);
}

void LinkEntryAfter(AdapterEntry *after, AdapterEntry *e) {
    e->prev = after;
    e->next = after->next;
    if (after->next != nullptr)
        after->next->prev = e;
    else
        g_AdapterList.last = e;
    after->next = e;
    ++g_AdapterList.count;
}

} // namespace

// ---- Virtual-port tables ---------------------------------------------------

int SetDeviceVPortTable(TVXDevice *device, std::span<const VPortWwpn> wwpns) {
    if (device == nullptr) return -1;
    const auto n = static_cast<uint32_t>(std::min<size_t>(wwpns.size(), TVX_MAX_VPORTS));
    // Copied before the old table goes: wwpns may lie in it.
    VPortWwpn *block = CopyWwpns(wwpns.data(), n);
    FreeDeviceVPortTable(device);
    device->vPortTable = block;
    device->vPortCount = block != nullptr ? n : 0;
    device->vPortCountValid = block != nullptr ? 1 : 0;
    return n == 0 || block != nullptr ? 0 : -1;
}

uint32_t DeviceVPortCount(const TVXDevice *device) {
    if (device == nullptr || device->vPortTable == nullptr) return 0;
    return std::min<uint32_t>(device->vPortCount, TVX_MAX_VPORTS);
}

void FreeDeviceCopies(TVXDevice *first) {
    while (first != nullptr) {
        TVXDevice *next = first->next;
        FreeDeviceRecord(first);
        first = next;
    }
}

// ---- Opening -------------------------------------------------------------

int CoreOSSInitializeDevices() {
    ClearUnopenedDevices();
    int retries = 0;
    uint32_t instance = 0;
    while (instance < kMaxInstances) {
        uint32_t handle = 0;
        TVX_STATUS status = TvxOpenDevice(instance, &handle);
        if (status == TVX_STATUS_OK) {
            CoreTrace(LEVEL_INFO, "Found Orvane HBA - instance (%d)", static_cast<int>(instance));
            AddTVXDevice(handle, instance);
            retries = 0;
            ++instance;
        } else if (status == TVX_ERR_NOT_READY && retries < kMaxOpenRetries) {
            CoreTrace(LEVEL_DEBUG, "TvxOpenDevice(%d, xx) failed (0x%x) (%s), Retrying after a sleep...",
                      static_cast<int>(instance), status, TvxErrorText(status).c_str());
            ++retries;
            OSSSleep(kOpenRetryWaitMs);
        } else if (status == TVX_ERR_NOT_READY) {
            CoreTrace(LEVEL_INFO,
                      "Found *UNSUPPORTED* Orvane HBA - instance (%d) -- Please check the README file for supported "
                      "adapters and driver versions.",
                      static_cast<int>(instance));
            ++instance;
        } else if (status == TVX_ERR_NO_MORE_DEVICES) {
            break;
        } else {
            const TvxErrorText text(status);
            CoreTrace(LEVEL_ERROR, "TvxOpenDevice(%d, xx) failed (0x%x) (%s) skipping", static_cast<int>(instance),
                      status, text.c_str());
            NoteUnopenedDevice(instance, status, text.c_str());
            ++instance;
        }
    }
    return 0;
}

void AddTVXDevice(uint32_t handle, uint32_t instance) {
    auto *d = static_cast<TVXDevice *>(CoreMalloc(sizeof(TVXDevice)));
    if (d == nullptr) return;
    d->deviceFlags &= ~kDeviceFlagsClearedAtCreation;
    d->handle = handle;
    d->instance = instance;
    d->marker = 'U';
    static const char *const kFailover[] = {"**Unknown**", "**No**", "Target-Level", "Lun-Level"};
    const unsigned failoverWord = 0;
    OutputLevelMessage(LEVEL_INFO, "HBA has %s failover capabilities...", kFailover[failoverWord]);

    TVX_STATUS status = TvxGetHbaDeviceChipProperty(handle, &d->chipProperty);
    if (status != TVX_STATUS_OK) LogPropertyFailure("TvxGetHbaDeviceChipProperty", status);
    status = TvxGetHbaDeviceDriverProperty(handle, &d->driverProperty);
    if (status != TVX_STATUS_OK) LogPropertyFailure("TvxGetHbaDeviceDriverProperty", status);
    OpenReads &reads = ResetOpenReads(handle);
    status = TvxGetHbaDeviceNodeProperty(handle, &d->nodeProperty);
    if (status != TVX_STATUS_OK) LogPropertyFailure("TvxGetHbaDeviceNodeProperty", status);
    reads.nodeProperty = status;
    status = TvxGetHbaDevicePortProperty(handle, 0, &d->portProperty);
    if (status != TVX_STATUS_OK) LogPropertyFailure("TvxGetHbaDevicePortProperty", status);
    status = TvxGetBeaconControl(handle, &d->beaconState);
    if (status != TVX_STATUS_OK && ModelContains(d, "23")) LogPropertyFailure("TvxGetBeaconControl", status);
    status = TvxGetStatistics(handle, 0, &d->statistics);
    if (status != TVX_STATUS_OK) LogPropertyFailure("TvxGetStatistics", status);
    d->physicalPort = 0;
    d->reserved = 0;
    status = TvxGetNVRam(handle, 0, 2, d->nvram2, TVX_NVRAM_SIZE);
    if (status != TVX_STATUS_OK) LogPropertyFailure("TvxGetNVRam", status);
    status = TvxGetNVRam(handle, 0, 1, d->nvram1, TVX_NVRAM_SIZE);
    if (status != TVX_STATUS_OK) LogPropertyFailure("TvxGetNVRam", status);
    reads.nvram1 = status;

    RetrieveTargetSummaryForDevice(d);
    RetrievePortSummaryForDevice(d);
    uint32_t feature = 0;
    if (GetFeatures(d, &feature) == 0 && feature == 0) RetrieveTargetPersistForDevice(d);
    RetrieveLunDataForTargets(d);
    RetrieveTargetDataForTargets(d);

    for (TVXDevice *r = g_DeviceList.first; r != nullptr; r = r->next) {
        if (SameDeviceWWNs(r, d)) {
            CoreTrace(LEVEL_WARNING, "Duplicate device found: Instance = (%d)", static_cast<int>(instance));
            CloseTVXDevice(d);
            return;
        }
    }
    AppendDevice(g_DeviceList, d);
    status = TvxEnableAen(handle);
    if (status == TVX_STATUS_OK) {
        d->deviceFlags |= TVX_DEVICE_AEN_ENABLED;
    } else {
        CoreTrace(LEVEL_INFO, "TvxEnableAen failed (0x%x) (%s)", status, TvxErrorText(status).c_str());
        d->deviceFlags &= ~TVX_DEVICE_AEN_ENABLED;
    }
}

int CloseTVXDevice(TVXDevice *device) {
    if (device == nullptr) return -1;
    if (IsVirtualPort(device)) {
        FreeDeviceRecord(device);
        return 0;
    }
    FreeTargetList(&device->targets);
    if (device->deviceFlags & TVX_DEVICE_AEN_ENABLED) {
        TVX_STATUS status = TvxDisableAen(device->handle);
        if (status != TVX_STATUS_OK)
            OutputLevelMessage(LEVEL_ERROR, "TvxDisableAen: Failed on device[%d]: (0x%x) (%s)",
                               static_cast<int>(device->instance), status, TvxErrorText(status).c_str());
    }
    FreeDeviceVPortTable(device);
    ForgetOpenReads(device->handle);
    TVX_STATUS status = TvxCloseDevice(device->handle);
    if (status != TVX_STATUS_OK)
        OutputLevelMessage(LEVEL_ERROR, "TvxCloseDevice: Unable to close device[%d]: (0x%x) (%s)",
                           static_cast<int>(device->instance), status, TvxErrorText(status).c_str());
    CoreFree(device);
    return 0;
}

// ---- Cleanup -------------------------------------------------------------

void CoreReleaseDeviceList() {
    TVXDevice *d = g_DeviceList.first;
    g_DeviceList = TVXDeviceList{};
    while (d != nullptr) {
        TVXDevice *next = d->next;
        CloseTVXDevice(d);
        d = next;
    }
}

void CoreReleaseHBAList() {
    TVXDevice *d = g_HBAList.first;
    g_HBAList = TVXDeviceList{};
    FreeDeviceCopies(d);
    RemoveAllAdaptersFromAdapterList();
}

void CoreReleaseDevices() {
    CoreReleaseDeviceList();
    CoreReleaseHBAList();
}

// ---- Adapter list ----------------------------------------------------------

void InitAdapterList() {
    INV_DEBUG("InitAdapterList: Enter...");
    g_AdapterList = AdapterList{};
    INV_DEBUG("InitAdapterList: Exit...");
}

void RemoveAllAdaptersFromAdapterList() {
    AdapterEntry *e = g_AdapterList.first;
    while (e != nullptr) {
        AdapterEntry *next = e->next;
        INV_DEBUG("RemoveAllAdaptersFromAdapterList: Freeing HBA %d", static_cast<int>(e->instance));
        FreeAdapterEntry(e);
        e = next;
    }
    InitAdapterList();
}

int IsAdapterEntryInList(const AdapterEntry *entry) {
    if (entry == nullptr) return 0;
    for (AdapterEntry *e = g_AdapterList.first; e != nullptr; e = e->next)
        if (SameWWNs(e->nodeWWN, e->portWWN, entry->nodeWWN, entry->portWWN)) return -1;
    return 0;
}

int AddNewAdapterToAdapterList(AdapterEntry *entry) {
    if (entry == nullptr || IsAdapterEntryInList(entry) != 0) return -1;
    entry->next = nullptr;
    entry->prev = g_AdapterList.last;
    if (g_AdapterList.last != nullptr)
        g_AdapterList.last->next = entry;
    else
        g_AdapterList.first = entry;
    g_AdapterList.last = entry;
    ++g_AdapterList.count;
    return 0;
}

int FindLocationInAdapterEntryList(const AdapterEntry *a, const AdapterEntry *b) {
    if (a == nullptr || b == nullptr) return 0;
    auto isLark = [](const AdapterEntry *e) { return e->deviceId >= 0x8020 && e->deviceId <= 0x8023; };
    auto isVirtual = [](const AdapterEntry *e) { return e->interfaceKind == TVX_INTERFACE_VIRTUAL; };
    int c = CompareWWN(a->portWWN, b->portWWN);
    int result = 0;
    if (!isVirtual(a) && !isVirtual(b)) {
        result = (isLark(a) && isLark(b)) ? -c : c;
    } else if (c > 0) {
        result = (a->instance > b->instance) - (a->instance < b->instance);
    } else if (!isVirtual(b)) {
        result = c;
    } else {
        result = a->instance == b->instance ? 0 : (a->instance > b->instance ? -1 : 1);
    }
    INV_DEBUG("FindLocationInAdapterEntryList: returns %d", result);
    return result;
}

int AddAdapterToAdapterList(AdapterEntry *entry) {
    if (entry == nullptr || IsAdapterEntryInList(entry) != 0) return -1;
    if (g_AdapterList.first == nullptr) return AddNewAdapterToAdapterList(entry);
    for (AdapterEntry *x = g_AdapterList.first; x != nullptr; x = x->next) {
        if (FindLocationInAdapterEntryList(x, entry) > 0) {
            entry->next = x;
            entry->prev = x->prev;
            if (x->prev != nullptr)
                x->prev->next = entry;
            else
                g_AdapterList.first = entry;
            x->prev = entry;
            ++g_AdapterList.count;
            return 0;
        }
    }
    return AddNewAdapterToAdapterList(entry);
}

int CompareTVXDevicesByWWPN(const TVXDevice *a, const TVXDevice *b) {
    if (a == nullptr || b == nullptr) return 0;
    int c = CompareWWN(a->portProperty.PortWWN, b->portProperty.PortWWN);
    if (c != 0 || (!IsVirtualPort(a) && !IsVirtualPort(b))) return c;
    return (a->instance > b->instance) - (a->instance < b->instance);
}

// ---- Adapter entries -------------------------------------------------------

int CreateAdapterEntryFromTVXDevice(TVXDevice *d, AdapterEntry *a) {
    if (d == nullptr || a == nullptr) return -1;
    int t = GetCxrType(d);
    a->instance = d->instance;
    a->handle = d->handle;
    a->deviceId = d->chipProperty.PciDeviceId;
    a->chipType = d->chipProperty.ChipType;
    a->beaconState = d->beaconState;
    a->interfaceKind = d->nodeProperty.InterfaceKind;
    std::memcpy(a->nodeWWN, d->nodeProperty.NodeWWN, 8);
    std::memcpy(a->portWWN, d->portProperty.PortWWN, 8);
    std::memcpy(a->portId, d->portProperty.PortId, 3);
    a->pciBus = static_cast<uint8_t>(d->chipProperty.PciBusNumber);
    a->pciDevice = static_cast<uint8_t>(d->chipProperty.PciSlotNumber & 0x0F);
    a->pciFunction = static_cast<uint8_t>((d->chipProperty.PciSlotNumber >> 5) & 7);
    a->reserved = 0;
    a->enableStatus = 0;
    a->generation = t > 7 ? 2 : 1;
    GetSerialNo(d, a->serialNo);
    if (d->physicalPort > 0) a->physicalPort = d->physicalPort;
    char hex[17];
    WwnHexText(d->portProperty.PortWWN, hex);
    CopyText(a->portWWNText, sizeof a->portWWNText, hex);
    WwnHexText(d->nodeProperty.NodeWWN, hex);
    CopyText(a->nodeWWNText, sizeof a->nodeWWNText, hex);
    char model[33];
    CopyText(model, sizeof model, d->nodeProperty.Model);
    if (isSunAdapter(d) != 0 && std::strstr(model, "-S") == nullptr)
        std::snprintf(a->model, sizeof a->model, "%.29s-S", model);
    else
        CopyText(a->model, sizeof a->model, model);
    if (IsVirtualPort(d)) a->vPortId = d->nodeProperty.VirtualPortId;
    a->qosType = static_cast<uint16_t>(d->qosType);
    a->qosValue = static_cast<uint16_t>(d->qosValue);
    INV_DEBUG("CreateAdapterEntryFromTVXDevice: ssid(nvram) SSVID=0x%04x SSDID=0x%04x", GetNvramSubsysVendorId(d),
              GetNvramSubsysDeviceId(d));
    a->ssvid = d->chipProperty.SubsysVendorId;
    a->ssdid = d->chipProperty.SubsysDeviceId;
    if (t >= 15) GetDeviceMacAddress(d, a->enodeMAC);
    if (!IsFCoEEngineRecord(d)) {
        GetAdapterStatus(d, a->statusText, sizeof a->statusText);
        if (t >= 10) {
            // The valid WWPNs up to the first invalid one; none, no block.
            const uint32_t size = DeviceVPortCount(d);
            uint32_t n = 0;
            while (n < size && IsValidWWPN(d->vPortTable[n]))
                ++n;
            a->vPortWWPN = CopyWwpns(d->vPortTable, n);
            a->vPortWWPNCount = a->vPortWWPN != nullptr ? n : 0;
        }
    }
    a->portSpeed = d->portProperty.PortSpeed == 16 ? 10 : d->portProperty.PortSpeed;
    a->reserved16 = -1;
    a->entryFlag = 1;
    a->qosMode = 0;
    return 0;
}

// ---- List building -------------------------------------------------------

TVXDevice *SortAdapterList(TVXDeviceList *deviceList) {
    INV_DEBUG("SortAdapterList: pInstallationPath: %s", g_szConfigPath);
    INV_DEBUG("SortAdapterList: Adapter file: %s", ADAPTERS_FILE_NAME);
    SubSystemEntry *table = ReadSupportedAdapterTable(g_szConfigPath, true);
    TVXDeviceList out{};
    int fcoeCount = 0;
    bool failed = false;
    for (TVXDevice *d = deviceList != nullptr ? deviceList->first : nullptr; d != nullptr && !failed; d = d->next) {
        if (AllZero(d->portProperty.PortWWN, 8) && AllZero(d->nodeProperty.NodeWWN, 8)) {
            INV_DEBUG("SortAdapterList: Skipping HBA=%d WWNN=" WWN_FMT_UC " WWPN=" WWN_FMT_UC,
                      static_cast<int>(d->instance), WWN_ARGS(d->nodeProperty.NodeWWN),
                      WWN_ARGS(d->portProperty.PortWWN));
            continue;
        }
        char serial[32];
        GetSerialNo(d, serial);
        int p = GetAdapterPciPhysicalPortNumber(d);

        TVXDevice *twin = nullptr;
        if (GetNvramSubsysDeviceId(d) == 0x10E && GetNvramSubsysVendorId(d) == 0x1077 &&
            d->chipProperty.PciDeviceId == 0x8432) {
            if (fcoeCount % 2 == 0) {
                twin = CopyDevice(d);
                if (twin == nullptr) {
                    failed = true;
                    break;
                }
                twin->nodeProperty.InterfaceKind = TVX_INTERFACE_FCOE_ENGINE;
            }
            ++fcoeCount;
        }

        for (TargetEntry *t = d->targets.first; t != nullptr; t = t->next) {
            if (std::memcmp(t->inquiry + 16, "MSA2", 4) != 0) continue;
            t->deviceType = 12;
            // Byte 6 of each LUN record is cleared for these arrays.
            for (LunEntry *l = t->luns.first; l != nullptr; l = l->next)
                reinterpret_cast<uint8_t *>(l)[6] = 0;
        }

        TVXDevice *k = CopyDevice(d);
        if (k == nullptr) {
            if (twin != nullptr) FreeDeviceRecord(twin);
            failed = true;
            break;
        }
        k->physicalPort = p > 0 ? static_cast<uint32_t>(p) : 0;
        if (IsPhysicalPort(k)) k->chipProperty.ApiPortNumber = static_cast<uint8_t>(p);

        auto *l = static_cast<AdapterEntry *>(CoreMalloc(sizeof(AdapterEntry)));
        if (l != nullptr) {
            CreateAdapterEntryFromTVXDevice(k, l);
            l->physicalPort = k->physicalPort;
            CopyText(l->serialNo, sizeof l->serialNo, serial);
            if (isConvergedAdapter(k)) GetDeviceMacAddress(k, l->enodeMAC);
            ApplyTableRow("SortAdapterList", table, k, l);
            if (IsPhysicalPort(k)) {
                INV_DEBUG("SortAdapterList: Adding HBA %d Port %d %.32s " WWN_FMT_UC
                          " (interface=%d) to adapter entry list...",
                          static_cast<int>(k->instance), static_cast<int>(l->physicalPort), k->nodeProperty.Model,
                          WWN_ARGS(k->portProperty.PortWWN), static_cast<int>(k->nodeProperty.InterfaceKind));
                if (AddAdapterToAdapterList(l) != 0) {
                    FreeAdapterEntry(l);
                    l = nullptr;
                }
                // Entries for this port's virtual ports that are open instances.
                for (uint32_t i = 0; l != nullptr && i < l->vPortWWPNCount; ++i) {
                    const uint8_t *w = l->vPortWWPN[i];
                    if (!IsValidWWPN(w)) continue;
                    for (TVXDevice *v = deviceList->first; v != nullptr; v = v->next) {
                        if (std::memcmp(v->portProperty.PortWWN, w, 8) != 0) continue;
                        auto *ve = static_cast<AdapterEntry *>(CoreMalloc(sizeof(AdapterEntry)));
                        if (ve == nullptr) break;
                        CreateAdapterEntryFromTVXDevice(v, ve);
                        CopyText(ve->description, sizeof ve->description, l->description);
                        INV_DEBUG("SortAdapterList:: Adding vPort %d %s vid=%d...\n", static_cast<int>(v->instance),
                                  ve->portWWNText, static_cast<int>(ve->vPortId));
                        if (IsAdapterEntryInList(ve) != 0)
                            FreeAdapterEntry(ve);
                        else
                            LinkEntryAfter(l, ve);
                        break;
                    }
                }
            } else {
                FreeAdapterEntry(l);
            }
        }

        auto insertOrdered = [&out](TVXDevice *n) {
            TVXDevice *r = out.first;
            while (r != nullptr && CompareTVXDevicesByWWPN(r, n) <= 0)
                r = r->next;
            InsertDeviceBefore(out, r, n);
        };
        if (IsPhysicalPort(k))
            insertOrdered(k);
        else
            FreeDeviceRecord(k);
        if (twin != nullptr) {
            INV_DEBUG("SortAdapterList: Adding FCoE Engine to Adapter list");
            g_bFCoEEnginePresent = 1;
            insertOrdered(twin);
        }
    }
    FreeSubSystemList(table);
    if (failed) {
        INV_DEBUG("SortAdapterList: Unable to allocate memory!");
        FreeDeviceCopies(out.first);
        return nullptr;
    }
    return out.first;
}

TVXDevice *BuildVornDeviceList(TVXDevice *first) {
    // Copies ordered by serial number; a stable sort keeps the WWPN order of
    // the ports of one card (a new record goes after equal serials).
    std::vector<std::pair<std::string, TVXDevice *>> records;
    for (TVXDevice *r = first; r != nullptr; r = r->next) {
        TVXDevice *c = CopyDevice(r);
        if (c == nullptr) {
            INV_DEBUG("BuildVornDeviceList: Unable to allocate memory!");
            for (auto &rec : records)
                FreeDeviceRecord(rec.second);
            return nullptr;
        }
        char serial[32];
        GetDeviceSerial(c, serial);
        records.emplace_back(serial, c);
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const auto &a, const auto &b) { return std::strcmp(a.first.c_str(), b.first.c_str()) < 0; });
    TVXDeviceList list{};
    for (auto &rec : records)
        AppendDevice(list, rec.second);

    std::string previous;
    bool port1Seen = false;
    bool port2Seen = false;
    for (auto &rec : records) {
        TVXDevice *r = rec.second;
        int t = GetCxrType(r);
        if ((t >= 13 && t <= 23) || !IsPhysicalPort(r)) continue;
        int p = GetAdapterPciPhysicalPortNumber(r);
        // An empty serial number ties a port to no card: such a port starts
        // a card of its own instead of continuing the previous one.
        if (rec.first.empty() || rec.first != previous) {
            r->physicalPort = p > 0 ? static_cast<uint32_t>(p) : 0;
            port1Seen = p == 1;
            port2Seen = p == 2;
        } else if (p == 1) {
            r->physicalPort = port1Seen ? 3 : 1;
            port1Seen = true;
        } else if (p == 2) {
            r->physicalPort = port2Seen ? 4 : 2;
            port2Seen = true;
        } else {
            r->physicalPort = p > 0 ? static_cast<uint32_t>(p) : 0;
        }
        previous = rec.first;
    }
    RemoveAllAdaptersFromAdapterList();
    InitAdapterList();
    BuildAdapterEntryList(list.first);
    return list.first;
}

int BuildAdapterEntryList(TVXDevice *first) {
    INV_DEBUG("BuildAdapterEntryList: pInstallationPath: %s", g_szConfigPath);
    INV_DEBUG("BuildAdapterEntryList: Adapter file: %s", ADAPTERS_FILE_NAME);
    SubSystemEntry *table = ReadSupportedAdapterTable(g_szConfigPath, false);
    PrintSubSystemList(table);
    for (TVXDevice *r = first; r != nullptr; r = r->next) {
        INV_DEBUG("BuildAdapterEntryList: Instance=%d WWPN=" WWN_FMT_UC, static_cast<int>(r->instance),
                  WWN_ARGS(r->portProperty.PortWWN));
        auto *a = static_cast<AdapterEntry *>(CoreMalloc(sizeof(AdapterEntry)));
        if (a == nullptr) continue;
        CreateAdapterEntryFromTVXDevice(r, a);
        ApplyTableRow("BuildAdapterEntryList", table, r, a);
        if (AddNewAdapterToAdapterList(a) != 0) FreeAdapterEntry(a);
    }
    FreeSubSystemList(table);
    return 0;
}

void BuildHBADevices() {
    INV_DEBUG("BuildHBADevices: Enter...");
    TVXDevice *sorted = SortAdapterList(&g_DeviceList);
    TVXDevice *first = BuildVornDeviceList(sorted);
    FreeDeviceCopies(sorted);
    g_HBAList = TVXDeviceList{};
    for (TVXDevice *r = first; r != nullptr;) {
        TVXDevice *next = r->next;
        AppendDevice(g_HBAList, r);
        r = next;
    }
    int count = 0;
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
        ApplyOEMModelName(r);
        INV_DEBUG("BuildHBADevices: Adding (HBA %d " WWN_FMT_UC " %.32s) to HBA list.", static_cast<int>(r->instance),
                  WWN_ARGS(r->portProperty.PortWWN), r->nodeProperty.Model);
        ++count;
    }
    INV_DEBUG("BuildHBADevices: Added %d HBA(s)", count);
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
        INV_DEBUG("BuildHBADevices: HBA %d physical port %d", static_cast<int>(r->instance),
                  static_cast<int>(r->physicalPort));
        if (isOEMSingleBiosChip(r) == 12) {
            INV_DEBUG("BuildHBADevices: Found OEM HBA with single BIOS chip.");
            UpdateOEMSingleChipBiosVersion(r);
        }
    }
}
