#include "inventory/targets.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/output.h"
#include "image/helpers.h"
#include "inventory/invutil.h"
#include "inventory/prefs.h"
#include "inventory/scsi_answers.h"
#include "oss/oss.h"

namespace {

constexpr uint32_t kTargetReady = 0x00000001u;    // targetState bit 0
constexpr uint32_t kTargetMarked = 0x00000800u;   // targetState bit 11
constexpr uint32_t kTargetCreated = 0x80000000u;  // targetFlags bit 31
constexpr uint32_t kTargetAskDevId = 0x40000000u; // targetFlags bit 30
constexpr uint32_t kKindConfigured = 2;
constexpr uint32_t kKindUnconfigured = 1;
constexpr uint32_t kUnknownDeviceType = 999;
constexpr uint32_t kSizeMarker = 0xFEFEFEFEu;
constexpr int kMaxTurAttempts = 10;
constexpr uint16_t kMaxTurLun = 2048;
constexpr int kMaxCommandTries = 3;
constexpr unsigned kRetryWaitMs = 1000;
constexpr uint32_t kSenseSize = 80;
constexpr uint32_t kInquirySize = 36;
constexpr uint32_t kDefaultLunsPerTarget = 256;
constexpr uint32_t kMaxPortDbEntries = 0x10000;
constexpr uint32_t kMaxFeatureEntries = 4096;
constexpr uint32_t kMaxFoRecords = 0x10000;

TVX_SCSI_ADDRESS Address(const TargetEntry *t, uint16_t lun) {
    TVX_SCSI_ADDRESS a{};
    a.AddressType = 2;
    std::memcpy(a.PortWWN, t->property.PortWWN, 8);
    a.Lun = lun;
    return a;
}

TVX_STATUS TestUnitReady(const TVXDevice *d, const TargetEntry *t, uint16_t lun, uint8_t *sense) {
    TVX_SCSI_ADDRESS a = Address(t, lun);
    const uint8_t cdb[6] = {0, 0, 0, 0, 0, 0};
    std::memset(sense, 0, kSenseSize);
    return TvxSendScsiPassThruFC(d->handle, &a, cdb, sizeof cdb, 0, nullptr, 0, sense, kSenseSize);
}

bool IsNullNode(const uint8_t *node) { return node[0] == 0 && node[4] == 0; }

// A node WWN of an adapter port (left out of the target list with older drivers).
bool IsAdapterNode(const uint8_t *node, const char **message) {
    if ((node[3] == 0xE0 && node[4] == 0x8B) ||
        (node[0] == 0x50 && node[1] == 0x05 && node[2] == 0x08 && node[3] == 0xB2)) {
        *message = "Skipping Target as HBA";
        return true;
    }
    if (node[0] == 0x20 && node[1] == 0x00 && node[2] == 0x00 && node[3] == 0x00 && node[4] == 0xC9) {
        *message = "Skipping port-summary recognized HBA";
        return true;
    }
    return false;
}

bool OlderDriver(const TVXDevice *d) {
    char text[33];
    CopyText(text, sizeof text, d->nodeProperty.DriverVersion);
    return std::strtol(text, nullptr, 10) < 9;
}

TargetEntry *NewTarget() {
    auto *t = static_cast<TargetEntry *>(CoreMalloc(sizeof(TargetEntry)));
    if (t == nullptr) return nullptr;
    t->deviceType = kUnknownDeviceType;
    std::memcpy(t->inquiry + 8, "N/A", 3);
    std::memcpy(t->inquiry + 16, "N/A", 3);
    std::memcpy(t->inquiry + 32, "N/A", 3);
    return t;
}

void FreeLuns(LunList &luns) {
    LunEntry *l = luns.first;
    while (l != nullptr) {
        LunEntry *next = l->next;
        CoreFree(l);
        l = next;
    }
    luns = LunList{};
}

void FreeTarget(TargetEntry *t) {
    FreeLuns(t->luns);
    CoreFree(t);
}

TargetEntry *FindTargetByPort(const TargetList &list, const uint8_t *wwpn) {
    for (TargetEntry *t = list.first; t != nullptr; t = t->next)
        if (std::memcmp(t->property.PortWWN, wwpn, 8) == 0) return t;
    return nullptr;
}

TargetEntry *FindTargetByWWNs(const TargetList &list, const uint8_t *node, const uint8_t *port) {
    for (TargetEntry *t = list.first; t != nullptr; t = t->next)
        if (std::memcmp(t->property.PortWWN, port, 8) == 0 && std::memcmp(t->property.NodeWWN, node, 8) == 0) return t;
    return nullptr;
}

void AppendTarget(TargetList &list, TargetEntry *t) { ListAppend(list, t); }

void AppendLun(LunList &list, LunEntry *l) { ListAppend(list, l); }

const char *DeviceTypeName(unsigned type) {
    static const char *const kNames[] = {"Direct-access device",
                                         "Sequential-access device",
                                         "Printer device",
                                         "Processor device",
                                         "Write-once device",
                                         "CD/DVD device",
                                         "Scanner device",
                                         "Optical memory device",
                                         "Medium changer device",
                                         "Communications device",
                                         "Obsolete",
                                         "Obsolete",
                                         "Storage array controller",
                                         "Enclosure services device",
                                         "Simplified direct-access device",
                                         "Optical card reader/writer",
                                         "Bridge controller",
                                         "Object-based storage device",
                                         "Automation/drive interface"};
    if (type < sizeof kNames / sizeof kNames[0]) return kNames[type];
    return type == 0x1F ? "Unknown device" : "Reserved device type";
}

// INQUIRY of 36 bytes to one LUN.
TVX_STATUS Inquiry(const TVXDevice *d, const TargetEntry *t, uint16_t lun, uint8_t *data, uint8_t *sense) {
    TVX_SCSI_ADDRESS a = Address(t, lun);
    std::memset(data, 0, kInquirySize);
    std::memset(sense, 0, kSenseSize);
    return TvxSendScsiInquiryCmdFC(d->handle, &a, 0, 0, data, kInquirySize, sense, kSenseSize);
}

// First designator of the device identification page (up to 16 bytes).
void ReadDeviceIdentifier(const TVXDevice *d, const TargetEntry *t, uint16_t lun, uint8_t out[16]) {
    uint8_t page[256] = {};
    uint8_t sense[kSenseSize] = {};
    TVX_SCSI_ADDRESS a = Address(t, lun);
    if (TvxSendScsiInquiryCmdFC(d->handle, &a, 1, 0x83, page, sizeof page, sense, kSenseSize) != TVX_STATUS_OK) return;
    std::span<const uint8_t> buf(page, sizeof page);
    uint16_t pageLength = 0;
    if (page[1] != 0x83 || !ReadBE16(buf, 2, pageLength)) return;
    size_t end = std::min<size_t>(4 + static_cast<size_t>(pageLength), sizeof page);
    if (end < 8) return;
    size_t idLength = page[7];
    size_t n = std::min<size_t>({idLength, 16, end - 8});
    std::memcpy(out, page + 8, n);
}

void StoreInquiry(TargetEntry *t, const uint8_t *data) { std::memcpy(t->inquiry, data, kInquirySize); }

// "<vendor> <product> <revision>" of INQUIRY data, each field up to its
// width or its first NUL (what "%.8s %.16s %.4s" gives), without printf.
void InquiryText(const uint8_t *data, char (&text)[sizeof LunEntry::inquiryText]) {
    static_assert(sizeof text >= 8 + 1 + 16 + 1 + 4 + 1, "LUN inquiry text too small");
    size_t n = 0;
    auto field = [&](size_t offset, size_t width) {
        const char *from = reinterpret_cast<const char *>(data + offset);
        size_t length = BoundedLength(from, width);
        std::memcpy(text + n, from, length);
        n += length;
    };
    field(8, 8);
    text[n++] = ' ';
    field(16, 16);
    text[n++] = ' ';
    field(32, 4);
    text[n] = '\0';
}

void ReadPersistBeacon(const TVXDevice *d, TargetEntry *t, bool warn) {
    if (PrefGetTargetBeacon(d->instance, t->property.PortWWN, &t->persistBeacon) != 0 && warn)
        OutputLevelMessage(LEVEL_WARNING, "RetrieveTargetSummaryForDevice: Unable to read persist target beacon");
}

// READ CAPACITY of one disk LUN. Returns true when the LUN is to be created
// (sizeMB filled, or the size marker for a reserved LUN).
bool ReadCapacity(const TVXDevice *d, const TargetEntry *t, uint16_t lun, bool &useRc16, uint32_t &sizeMB) {
    TVX_SCSI_ADDRESS a = Address(t, lun);
    uint8_t sense[kSenseSize];
    uint8_t data[32];
    TVX_STATUS status = TVX_ERR_GENERAL;
    uint64_t lastBlock = 0;
    uint32_t blockLength = 0;
    sizeMB = 0;
    for (int attempt = 0; attempt < kMaxCommandTries; ++attempt) {
        std::memset(sense, 0, sizeof sense);
        std::memset(data, 0, sizeof data);
        std::span<const uint8_t> buf(data, sizeof data);
        // The switch to READ CAPACITY(16) (once per target) is not a try of
        // its own: the tries must end on an answer that holds the real size.
        if (!useRc16) {
            status = TvxSendScsiReadCapacityCmdFC(d->handle, &a, data, 8, sense, kSenseSize);
            uint32_t lba = 0;
            ReadBE32(buf, 0, lba);
            ReadBE32(buf, 4, blockLength);
            lastBlock = lba;
            if (status == TVX_STATUS_OK && lba == 0xFFFFFFFFu) {
                INV_DEBUG("Need to issue the Read Capacity(16) command >= 2TB...");
                useRc16 = true;
                --attempt;
                continue;
            }
        } else {
            uint8_t cdb[16] = {};
            cdb[0] = 0x9E;
            cdb[1] = 0x10;
            cdb[13] = 32;
            status = TvxSendScsiPassThruFC(d->handle, &a, cdb, sizeof cdb, 1, data, sizeof data, sense, kSenseSize);
            uint32_t hi = 0;
            uint32_t lo = 0;
            ReadBE32(buf, 0, hi);
            ReadBE32(buf, 4, lo);
            ReadBE32(buf, 8, blockLength);
            lastBlock = (static_cast<uint64_t>(hi) << 32) | lo;
        }
        if (status == TVX_ERR_CHECK_CONDITION) {
            Sense s = ParseSense(sense);
            if (s.key == 6) {
                INV_DEBUG("Target/Lun returns SCSI check [Attention]: Retrying RC (Zzz)...");
                if (attempt + 1 < kMaxCommandTries) OSSSleep(kRetryWaitMs);
                continue;
            }
            INV_DEBUG("SCSI RC Check Condition with LUN (%d) allowing LUN to be created.", lun);
            return true;
        }
        break;
    }
    switch (status) {
    case TVX_STATUS_OK:
    case TVX_ERR_DATA_UNDERRUN:
    case TVX_ERR_DATA_OVERRUN: {
        unsigned __int128 bytes = (static_cast<unsigned __int128>(lastBlock) + 1) * blockLength;
        unsigned __int128 mb = bytes / (1024u * 1024u);
        sizeMB = mb >= kSizeMarker ? kSizeMarker - 1 : static_cast<uint32_t>(mb);
        INV_DEBUG("The LUN size is (0x%x, %d) MBs", sizeMB, static_cast<int>(sizeMB));
        return true;
    }
    case TVX_ERR_RESERVATION:
        INV_DEBUG("SCSI RESERVATION with Lun (%d)", lun);
        sizeMB = kSizeMarker;
        return true;
    case TVX_ERR_CHECK_CONDITION: return true;
    default:
        INV_DEBUG("Skipping Lun (%d) - RC failed (0x%x) (%s)", lun, status, TvxErrorText(status).c_str());
        return false;
    }
}

// Buffers of the LUN scan, kept over the targets of one device so that they
// are not allocated again for every target.
struct LunScanBuffers {
    std::vector<uint8_t> report;
    std::vector<uint8_t> seen;
};

int ScanLuns(TVXDevice *device, TargetEntry *target, LunScanBuffers &buffers);

// Probe of a configured target after it was created: readiness, INQUIRY, LUN scan.
void ProbeTarget(TVXDevice *d, TargetEntry *t, LunScanBuffers &buffers) {
    if (CheckTargetReady(d, t) != 0) {
        CoreTrace(LEVEL_INFO, "Unable to query target (" WWN_FMT_LC ") for inquiry/lun data",
                  WWN_ARGS(t->property.PortWWN));
        return;
    }
    t->targetState |= kTargetReady;
    if (t->property.Marker == 1) t->targetState |= kTargetMarked;
    uint8_t data[kInquirySize];
    uint8_t sense[kSenseSize];
    if (Inquiry(d, t, 0, data, sense) == TVX_STATUS_OK) {
        StoreInquiry(t, data);
        if (std::memcmp(t->inquiry + 8, "DELL", 4) == 0 && std::memcmp(t->inquiry + 16, "PV660", 5) == 0)
            t->targetFlags &= ~kTargetAskDevId;
        ScanLuns(d, t, buffers);
    }
}

} // namespace

void FreeTargetList(TargetList *list) {
    if (list == nullptr) return;
    TargetEntry *t = list->first;
    while (t != nullptr) {
        TargetEntry *next = t->next;
        FreeTarget(t);
        t = next;
    }
    *list = TargetList{};
}

int CheckTargetReady(TVXDevice *device, TargetEntry *target) {
    if (device == nullptr || target == nullptr) return -1;
    uint8_t sense[kSenseSize];
    uint16_t lun = 0;
    int attempts = 0;
    for (;;) {
        TVX_STATUS status = TestUnitReady(device, target, lun, sense);
        Tur verdict = EvaluateTur("CheckTargetReady", status, sense);
        if (verdict == Tur::Ready) return 0;
        if (verdict == Tur::NotReady) return -1;
        ++attempts;
        if (verdict == Tur::RetryWait) {
            if (attempts >= kMaxTurAttempts) return -1;
            OSSSleep(kRetryWaitMs);
            continue;
        }
        // Access denied / LUN not configured: retried at once, then on the next LUN.
        if (attempts >= kMaxTurAttempts) {
            if (lun >= kMaxTurLun) return -1;
            Sense s = ParseSense(sense);
            INV_DEBUG(s.asc == 0x20
                          ? "CheckTargetReady: SCSI check [Access Denied]: Retrying TUR on different LUN"
                          : "CheckTargetReady: SCSI check [LUN Not Configured]: Retrying TUR on different LUN");
            ++lun;
            attempts = 0;
        }
    }
}

int CheckLunReady(TVXDevice *device, TargetEntry *target, uint16_t lun) {
    if (device == nullptr || target == nullptr) return -1;
    uint8_t sense[kSenseSize];
    TVX_STATUS status = TVX_ERR_GENERAL;
    for (int attempt = 1; attempt <= kMaxTurAttempts; ++attempt) {
        status = TestUnitReady(device, target, lun, sense);
        Tur verdict = EvaluateTur("CheckLunReady", status, sense);
        if (verdict == Tur::Ready) return 0;
        if (verdict == Tur::NotReady) break;
        if (verdict == Tur::RetryWait && attempt < kMaxTurAttempts) OSSSleep(kRetryWaitMs);
    }
    if (status == TVX_ERR_CHECK_CONDITION)
        INV_DEBUG("CheckLunReady: will NOT add LUN %u to target (CheckLunReady failed, SCSI check-condition)...", lun);
    else
        INV_DEBUG("CheckLunReady: will NOT add LUN %u to target (CheckLunReady failed, non-SCSI check-condition)...",
                  lun);
    return -1;
}

int RetrieveLunsForTarget(TVXDevice *device, TargetEntry *target) {
    LunScanBuffers buffers;
    return ScanLuns(device, target, buffers);
}

namespace {

int ScanLuns(TVXDevice *device, TargetEntry *target, LunScanBuffers &buffers) {
    if (device == nullptr || target == nullptr) return -1;
    uint32_t lunsPerTarget = device->driverProperty.LunsPerTarget;
    if (lunsPerTarget == 0) {
        INV_DEBUG("Unimplemented IOCTL - LunsPerTarget is zero, setting to 256");
        lunsPerTarget = kDefaultLunsPerTarget;
    }
    uint8_t sense[kSenseSize];
    uint8_t data[kInquirySize];
    if (Inquiry(device, target, 0, data, sense) == TVX_STATUS_OK)
        target->deviceType = data[0] < 64 ? (data[0] & 0x1F) : kUnknownDeviceType;

    // REPORT LUNS sized for the LUN list: 8 bytes per LUN after an 8-byte header.
    std::vector<uint8_t> &report = buffers.report;
    try {
        report.assign(8 + 8 * static_cast<size_t>(lunsPerTarget), 0);
    } catch (...) {
        OutputLevelMessage(LEVEL_ERROR, "Unable to allocate memory for Lun list");
        return -1;
    }
    TVX_SCSI_ADDRESS a = Address(target, 0);
    TVX_STATUS status = TVX_ERR_GENERAL;
    for (int attempt = 0; attempt < kMaxCommandTries; ++attempt) {
        std::memset(sense, 0, sizeof sense);
        status = TvxSendScsiReportLunsCmdFC(device->handle, &a, report.data(), static_cast<uint32_t>(report.size()),
                                            sense, kSenseSize);
        bool retry = false;
        if (status == TVX_ERR_BUSY) {
            INV_DEBUG("Target returns SCSI status [Device Busy]: Retrying RLC (Zzz)...");
            retry = true;
        } else if (status == TVX_ERR_CHECK_CONDITION && ParseSense(sense).key == 6) {
            INV_DEBUG("Target returns SCSI check [Attention]: Retrying RLC (Zzz)...");
            retry = true;
        }
        if (!retry) break;
        if (attempt + 1 < kMaxCommandTries) OSSSleep(kRetryWaitMs);
    }
    if (status != TVX_STATUS_OK && status != TVX_ERR_SCSI_RESIDUAL) {
        INV_DEBUG("Unable to send SCSI Report Luns Command (0x%x) (%s)", status, TvxErrorText(status).c_str());
        return -1;
    }
    uint32_t listLength = 0;
    ReadBE32(report, 0, listLength);
    if (listLength < 8) {
        INV_DEBUG("Unable to send SCSI Report Luns Command (0x%x) (%s)", status, TvxErrorText(status).c_str());
        return -1;
    }
    size_t reported = listLength / 8;
    size_t capacity = (report.size() - 8) / 8;
    size_t walk = reported < capacity ? reported : capacity;
    std::vector<uint8_t> &seen = buffers.seen;
    seen.assign(lunsPerTarget, 0);
    bool useRc16 = false;
    for (size_t k = 0; k < walk; ++k) {
        uint16_t raw = 0;
        ReadBE16(report, 8 + 8 * k, raw);
        uint16_t lun = raw & 0xBFFF;
        if (lun >= lunsPerTarget) continue;
        if (CheckLunReady(device, target, lun) != 0) {
            INV_DEBUG("Continuing with the next LUN...LUN %d skipped", lun);
            continue;
        }
        status = Inquiry(device, target, lun, data, sense);
        if (status != TVX_STATUS_OK) {
            INV_DEBUG("Lun (%d) - Unable to issue Inquiry Command (0x%x) (%s)", lun, status,
                      TvxErrorText(status).c_str());
            if (status == TVX_ERR_CHECK_CONDITION) {
                Sense s = ParseSense(sense);
                INV_DEBUG("Sense key:  0x%x, asc:  0x%x, ascq:  0x%x", s.key, s.asc, s.ascq);
            }
            continue;
        }
        if (data[0] >= 64) continue;
        target->deviceType = data[0] & 0x1F;
        uint32_t sizeMB = kSizeMarker;
        if (data[0] != 0) {
            CoreTrace(LEVEL_INFO, "Adding Lun (%d) [%s]", lun, DeviceTypeName(data[0] & 0x1F));
        } else if (!ReadCapacity(device, target, lun, useRc16, sizeMB)) {
            continue;
        }
        if (seen[lun]) {
            INV_DEBUG("*Not* adding duplicate Lun (%d)", lun);
            continue;
        }
        // Every field is written here: no zero-fill of the block first.
        auto *entry = static_cast<LunEntry *>(std::malloc(sizeof(LunEntry)));
        if (entry == nullptr) {
            OutputLevelMessage(LEVEL_ERROR, "Unable to allocate memory for lun");
            return -1;
        }
        *entry = LunEntry{lun, {}, sizeMB, {}, 0, nullptr, nullptr};
        InquiryText(data, entry->inquiryText);
        if (target->targetFlags & kTargetAskDevId) ReadDeviceIdentifier(device, target, lun, entry->deviceId);
        seen[lun] = 1;
        AppendLun(target->luns, entry);
    }
    if (reported > capacity) INV_DEBUG("Leaving early *Not* adding Lun (%d) no Memory", static_cast<int>(capacity));
    return 0;
}

} // namespace

int RetrieveTargetSummaryForDevice(TVXDevice *device) {
    if (device == nullptr) return -1;
    FreeTargetList(&device->targets);
    bool older = OlderDriver(device);
    LunScanBuffers buffers;
    uint32_t count = device->portProperty.DiscoveredTargetCount;
    for (uint32_t i = 0; i < count; ++i) {
        TargetEntry *t = NewTarget();
        if (t == nullptr) {
            OutputLevelMessage(LEVEL_ERROR, "Unable to allocate memory for new target");
            return -1;
        }
        TVX_STATUS status = TvxGetDiscTargetProperty(device->handle, 0, i, 0, &t->property);
        if (status != TVX_STATUS_OK) {
            OutputLevelMessage(LEVEL_INFO, "Unable to query target (%d) - (0x%x) (%s)", static_cast<int>(i), status,
                               TvxErrorText(status).c_str());
            FreeTarget(t);
            continue;
        }
        const uint8_t *node = t->property.NodeWWN;
        if (IsNullNode(node)) {
            CoreTrace(LEVEL_DEBUG, "Skipping null Target (%d) [Node=(" WWN_FMT_LC ")]", static_cast<int>(i),
                      WWN_ARGS(node));
            FreeTarget(t);
            continue;
        }
        const char *why = nullptr;
        if (older && IsAdapterNode(node, &why)) {
            if (std::strcmp(why, "Skipping Target as HBA") == 0)
                INV_DEBUG("Skipping Target as HBA (%d) [Node=(" WWN_FMT_LC ")]", static_cast<int>(i), WWN_ARGS(node));
            else
                INV_DEBUG("Skipping port-summary recognized HBA [Node=(" WWN_FMT_LC ")]", WWN_ARGS(node));
            FreeTarget(t);
            continue;
        }
        t->targetKind = kKindConfigured;
        t->targetState &= ~kTargetReady;
        t->targetFlags |= kTargetCreated | kTargetAskDevId;
        if (CheckTargetReady(device, t) != 0) {
            CoreTrace(LEVEL_INFO, "Unable to query target (" WWN_FMT_LC ") for inquiry/lun data",
                      WWN_ARGS(t->property.PortWWN));
        } else {
            t->targetState |= kTargetReady;
            if (t->property.Marker == 1) t->targetState |= kTargetMarked;
            uint8_t data[kInquirySize];
            uint8_t sense[kSenseSize];
            if (Inquiry(device, t, 0, data, sense) == TVX_STATUS_OK) {
                StoreInquiry(t, data);
                ScanLuns(device, t, buffers);
                ReadPersistBeacon(device, t, true);
            }
        }
        CoreTrace(LEVEL_INFO, "Adding Target (%d) [Port=(" WWN_FMT_LC ")]", static_cast<int>(i),
                  WWN_ARGS(t->property.PortWWN));
        if (FindTargetByPort(device->targets, t->property.PortWWN) != nullptr) {
            INV_DEBUG("*Not* adding duplicate target (%d)", static_cast<int>(i));
            FreeTarget(t);
            continue;
        }
        AppendTarget(device->targets, t);
    }
    return 0;
}

int RetrievePortSummaryForDevice(TVXDevice *device) {
    if (device == nullptr) return -1;
    struct Mode {
        uint32_t mode;
        const char *name;
    };
    static const Mode kModes[] = {{TVX_PORTDB_MODE_KNOWN, "Known/Visible/Hidden"},
                                  {TVX_PORTDB_MODE_FABRIC, "Fabric"},
                                  {TVX_PORTDB_MODE_LOOP, "Loop"}};
    bool older = OlderDriver(device);
    LunScanBuffers buffers;
    for (const Mode &m : kModes) {
        INV_DEBUG("RetrievePortSummaryForDevice: Querying **%s** port-summary devices (Mode = 0x%x)", m.name, m.mode);
        std::vector<uint8_t> buffer(TVX_PORTDB_HEADER_SIZE + TVX_PORTDB_ENTRY_SIZE, 0);
        uint32_t count = 0;
        TVX_STATUS status =
            TvxGetPortDatabase(device->handle, m.mode, buffer.data(), static_cast<uint32_t>(buffer.size()), &count);
        if (status != TVX_STATUS_OK && status != TVX_ERR_BUFFER_TOO_SMALL) {
            INV_DEBUG("RetrievePortSummaryForDevice: TvxGetPortDatabase failed (0x%x) (%s)", status,
                      TvxErrorText(status).c_str());
            continue;
        }
        if (count == 0) {
            INV_DEBUG("RetrievePortSummaryForDevice: Query of **%s** port-summary yields none - skipping...", m.name);
            continue;
        }
        if (count > kMaxPortDbEntries) count = kMaxPortDbEntries;
        try {
            buffer.assign(TVX_PORTDB_HEADER_SIZE + TVX_PORTDB_ENTRY_SIZE * (static_cast<size_t>(count) + 1), 0);
        } catch (...) {
            OutputLevelMessage(LEVEL_ERROR, "Unable to allocate memory for new target");
            return -1;
        }
        uint32_t available = 0;
        status =
            TvxGetPortDatabase(device->handle, m.mode, buffer.data(), static_cast<uint32_t>(buffer.size()), &available);
        if (status != TVX_STATUS_OK) {
            INV_DEBUG("RetrievePortSummaryForDevice: TvxGetPortDatabase failed (0x%x) (%s)", status,
                      TvxErrorText(status).c_str());
            continue;
        }
        size_t entries =
            std::min<size_t>({available, count + 1u, (buffer.size() - TVX_PORTDB_HEADER_SIZE) / TVX_PORTDB_ENTRY_SIZE});
        for (size_t k = 0; k < entries; ++k) {
            const uint8_t *e = buffer.data() + TVX_PORTDB_HEADER_SIZE + TVX_PORTDB_ENTRY_SIZE * k;
            std::span<const uint8_t> rec(e, TVX_PORTDB_ENTRY_SIZE);
            const uint8_t *node = e + TVX_PORTDB_OFF_NODEWWN;
            const uint8_t *port = e + TVX_PORTDB_OFF_PORTWWN;
            uint16_t word1 = 0;
            uint16_t word2 = 0;
            uint8_t marker = 0;
            ReadLE16(rec, TVX_PORTDB_OFF_WORD1, word1);
            ReadLE16(rec, TVX_PORTDB_OFF_WORD2, word2);
            ReadU8(rec, TVX_PORTDB_OFF_MARKER, marker);
            if (TargetEntry *known = FindTargetByWWNs(device->targets, node, port)) {
                if (m.mode == TVX_PORTDB_MODE_KNOWN) {
                    known->portDbWord1 = word1;
                    known->portDbWord2 = word2;
                    if (marker == 1) known->targetState |= kTargetMarked;
                }
                continue;
            }
            const char *why = nullptr;
            if (IsNullNode(node) || (older && IsAdapterNode(node, &why))) continue;
            TargetEntry *t = NewTarget();
            if (t == nullptr) {
                OutputLevelMessage(LEVEL_ERROR, "Unable to allocate memory for new target");
                return -1;
            }
            std::memcpy(t->property.NodeWWN, node, 8);
            std::memcpy(t->property.PortWWN, port, 8);
            std::memcpy(t->property.PortId, e + TVX_PORTDB_OFF_PORTID, 3);
            t->property.Marker = marker;
            t->portDbWord1 = word1;
            t->portDbWord2 = word2;
            t->targetFlags = kTargetCreated;
            if (m.mode == TVX_PORTDB_MODE_KNOWN) {
                t->targetKind = kKindConfigured;
                t->targetFlags |= kTargetAskDevId;
                t->property.AddressWord1 = word1;
                t->property.AddressWord2 = word2;
            } else {
                t->targetKind = kKindUnconfigured;
                t->targetState = kTargetReady;
                t->property.AddressWord1 = 0xFFFF;
                t->property.AddressWord2 = 0xFFFF;
            }
            ReadPersistBeacon(device, t, false);
            if (t->targetKind == kKindConfigured)
                ProbeTarget(device, t, buffers);
            else
                INV_DEBUG("Port-summary target (" WWN_FMT_LC ") - UNCONFIGURED", WWN_ARGS(port));
            INV_DEBUG("Adding port-summary recognized target [Port=(" WWN_FMT_LC ")]", WWN_ARGS(port));
            if (FindTargetByPort(device->targets, port) != nullptr) {
                INV_DEBUG("*Not* adding duplicate target - shouldn't occur");
                FreeTarget(t);
                continue;
            }
            AppendTarget(device->targets, t);
        }
    }
    return 0;
}

int GetFeatures(TVXDevice *device, uint32_t *value) {
    if (device == nullptr) return -1;
    // 4-byte header then 88-byte entries; words keep the records aligned.
    auto bytesFor = [](uint32_t n) { return sizeof(uint32_t) + static_cast<size_t>(n) * sizeof(TVX_FEATURE_ENTRY); };
    uint32_t room = 1;
    std::vector<uint32_t> words((bytesFor(room) + 3) / 4, 0);
    auto *list = reinterpret_cast<TVX_FEATURE_LIST *>(words.data());
    list->Count = room;
    TVX_STATUS status = TvxGetHbaSupportedFeatureList(device->handle, list);
    if (status == TVX_ERR_BUFFER_TOO_SMALL) {
        room = list->Count;
        if (room == 0 || room > kMaxFeatureEntries) return static_cast<int>(status);
        words.assign((bytesFor(room) + 3) / 4, 0);
        list = reinterpret_cast<TVX_FEATURE_LIST *>(words.data());
        list->Count = room;
        status = TvxGetHbaSupportedFeatureList(device->handle, list);
    }
    if (status != TVX_STATUS_OK) {
        INV_DEBUG("GetFeatures: TvxGetHbaSupportedFeatureList failed (0x%x) (%s)", status,
                  TvxErrorText(status).c_str());
        return static_cast<int>(status);
    }
    uint32_t n = std::min(list->Count, room);
    for (uint32_t i = 0; i < n; ++i) {
        if (list->Entry[i].Kind == 4) {
            if (value != nullptr) *value = list->Entry[i].Value;
            return 0;
        }
    }
    INV_DEBUG("GetFeatures: no feature entry of kind 4");
    return -1;
}

namespace {

template <typename Record, typename Call> std::vector<Record> ReadFoRecords(Call call) {
    std::vector<Record> records(64);
    uint32_t count = static_cast<uint32_t>(records.size());
    TVX_STATUS status = call(records.data(), &count);
    if (status == TVX_ERR_BUFFER_TOO_SMALL && count > records.size() && count <= kMaxFoRecords) {
        records.assign(count, Record{});
        count = static_cast<uint32_t>(records.size());
        status = call(records.data(), &count);
    }
    if (status != TVX_STATUS_OK) {
        INV_DEBUG("Failover data query failed (0x%x) (%s)", status, TvxErrorText(status).c_str());
        return {};
    }
    if (count < records.size()) records.resize(count);
    return records;
}

std::vector<TVX_FO_TARGET_DATA> ReadFoTargets(const TVXDevice *d) {
    return ReadFoRecords<TVX_FO_TARGET_DATA>(
        [d](TVX_FO_TARGET_DATA *r, uint32_t *c) { return ITvxFoGetTargetData(d->handle, r, c); });
}

} // namespace

int RetrieveTargetPersistForDevice(TVXDevice *device) {
    if (device == nullptr) return -1;
    for (const TVX_FO_TARGET_DATA &r : ReadFoTargets(device)) {
        if (IsNullNode(r.NodeWWN) || FindTargetByPort(device->targets, r.PortWWN) != nullptr) continue;
        TargetEntry *t = NewTarget();
        if (t == nullptr) {
            OutputLevelMessage(LEVEL_ERROR, "Unable to allocate memory for new target");
            return -1;
        }
        std::memcpy(t->property.NodeWWN, r.NodeWWN, 8);
        std::memcpy(t->property.PortWWN, r.PortWWN, 8);
        std::memcpy(t->property.PortId, r.PortId, 3);
        t->targetKind = kKindConfigured;
        t->targetFlags = kTargetCreated;
        t->foTargetId = r.TargetId;
        t->foFlags = r.Flags;
        ReadPersistBeacon(device, t, false);
        INV_DEBUG("Adding Target (%d) [Node=(" WWN_FMT_LC ")]", r.TargetId, WWN_ARGS(r.NodeWWN));
        INV_DEBUG("Adding Target (%d) [Port=(" WWN_FMT_LC ")]", r.TargetId, WWN_ARGS(r.PortWWN));
        INV_DEBUG("Adding Target (%d) [Port ID=(%02x-%02x-%02x)]", r.TargetId, r.PortId[0], r.PortId[1], r.PortId[2]);
        AppendTarget(device->targets, t);
    }
    return 0;
}

int RetrieveLunDataForTargets(TVXDevice *device) {
    if (device == nullptr) return -1;
    auto records = ReadFoRecords<TVX_FO_LUN_DATA>(
        [device](TVX_FO_LUN_DATA *r, uint32_t *c) { return ITvxFoGetLunData(device->handle, r, c); });
    for (const TVX_FO_LUN_DATA &r : records) {
        TargetEntry *t = FindTargetByPort(device->targets, r.PortWWN);
        if (t == nullptr) {
            INV_DEBUG("Unable to find target (" WWN_FMT_LC ") for lun data", WWN_ARGS(r.PortWWN));
            continue;
        }
        for (LunEntry *l = t->luns.first; l != nullptr; l = l->next)
            if (l->lun == r.Lun) l->foFlags = r.Flags;
    }
    return 0;
}

int RetrieveTargetDataForTargets(TVXDevice *device) {
    if (device == nullptr) return -1;
    for (const TVX_FO_TARGET_DATA &r : ReadFoTargets(device)) {
        TargetEntry *t = FindTargetByPort(device->targets, r.PortWWN);
        if (t == nullptr) {
            INV_DEBUG("Unable to find target (" WWN_FMT_LC ") for target data", WWN_ARGS(r.PortWWN));
            continue;
        }
        t->foTargetId = r.TargetId;
        t->foFlags = r.Flags;
        std::memcpy(t->property.PortId, r.PortId, 3);
    }
    return 0;
}
