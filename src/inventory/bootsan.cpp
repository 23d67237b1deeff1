#include "inventory/bootsan.h"

#include <cstring>

#include "app/output.h"
#include "app/settings.h"
#include "inventory/cxrtype.h"
#include "inventory/invutil.h"

namespace {

constexpr uint32_t kKindConfiguredBit = 0x2; // targetKind bit 1
constexpr uint32_t kStateReadyBit = 0x1;     // targetState bit 0

#define BP_FMT "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define BP_ARGS(n) (n)[0], (n)[1], (n)[2], (n)[3], (n)[4], (n)[5], (n)[6], (n)[7]

// Low byte of one NVRAM parameter of image 1; 0 when the library can't give it.
uint32_t Param(const TVXDevice *d, uint32_t id) {
    uint32_t v = 0;
    if (TvxGetVariableValue(d->handle, d->nvram1, id, &v) != TVX_STATUS_OK) return 0;
    return v & 0xFF;
}

void ReadName(const TVXDevice *d, uint32_t first, uint32_t name[8]) {
    for (uint32_t i = 0; i < 8; ++i)
        name[i] = Param(d, first + i);
}

bool NameIsZero(const uint32_t name[8]) {
    for (int i = 0; i < 8; ++i)
        if (name[i] != 0) return false;
    return true;
}

bool NameEquals(const uint32_t name[8], const uint8_t wwn[8]) {
    for (int i = 0; i < 8; ++i)
        if (name[i] != wwn[i]) return false;
    return true;
}

bool TargetCounts(const TargetEntry *t) {
    return (t->targetKind & kKindConfiguredBit) != 0 && (t->targetState & kStateReadyBit) != 0;
}

// Walks the discovered targets (at most the target count), re-reading each
// one's property: a target the library no longer answers for is passed over.
template <typename Pred> bool AnyPresentTarget(const TVXDevice *d, Pred pred) {
    uint32_t index = 0;
    for (const TargetEntry *t = d->targets.first; t != nullptr && index < d->targets.count; t = t->next, ++index) {
        TVX_DISC_TARGET_PROPERTY fresh{};
        if (TvxGetDiscTargetProperty(d->handle, 0, index, 0, &fresh) != TVX_STATUS_OK) continue;
        if (pred(t)) return true;
    }
    return false;
}

} // namespace

void PrintStructBootParamsInfo(const TVXDevice *d, const BootParams *p) {
    if (d == nullptr || p == nullptr) return;
    INV_DEBUG("PrintStructBootParamsInfo: Boot Device Settings of HBA %d - %.32s", static_cast<int>(d->instance),
              d->nodeProperty.Model);
    if (g_bIA64Host) {
        INV_DEBUG(p->efi[0] ? "Enable Selective Login= Enabled" : "Enable Selective Login= Disabled");
        INV_DEBUG(p->efi[3] ? "Enable Selective LUN: Enabled" : "Enable Selective LUN= Disabled");
    } else {
        INV_DEBUG(p->selectableBoot ? "Enable Selectable Boot: Enabled" : "Enable Selectable Boot= Disabled");
        INV_DEBUG(p->biosDisable ? "Enable BIOS= Disabled" : "Enable BIOS= Enabled");
    }
    INV_DEBUG("Prim Boot Port Name=" BP_FMT, BP_ARGS(p->bootPortName));
    INV_DEBUG("Prim LUN ID=%d", static_cast<int>(p->bootLun));
    INV_DEBUG("Alt1 Boot Port Name=" BP_FMT, BP_ARGS(p->alt1PortName));
    INV_DEBUG("Alt1 Boot LUN ID=%d", static_cast<int>(p->alt1Lun));
    INV_DEBUG("Alt2 Boot Port Name=" BP_FMT, BP_ARGS(p->alt2PortName));
    INV_DEBUG("Alt2 Boot LUN ID=%d", static_cast<int>(p->alt2Lun));
    INV_DEBUG("Alt3 Boot Port Name=" BP_FMT, BP_ARGS(p->alt3PortName));
    INV_DEBUG("Alt3 Boot LUN ID=%d", static_cast<int>(p->alt3Lun));
}

int GetBootDeviceInfo(TVXDevice *d, BootParams *p) {
    INV_DEBUG("GetBootDeviceInfo: enter...");
    if (d == nullptr || p == nullptr) return 1;
    *p = BootParams{};
    int t = GetCxrType(d);
    if (g_bIA64Host) {
        INV_DEBUG("GetBootDeviceInfo (EFI): Retrieving current EFI Boot settings of HBA %d...",
                  static_cast<int>(d->instance));
        if (t < 8) {
            ReadName(d, 72, p->bootNodeName);
            ReadName(d, 84, p->bootPortName);
        } else {
            ReadName(d, 72, p->bootPortName);
        }
        p->bootLun = Param(d, 80);
        for (uint32_t i = 0; i < 5; ++i)
            p->efi[i] = Param(d, 92 + i);
        INV_DEBUG("GetBootDeviceInfo: Boot Port Name = " BP_FMT, BP_ARGS(p->bootPortName));
        INV_DEBUG("GetBootDeviceInfo: Boot Node Name = " BP_FMT, BP_ARGS(p->bootNodeName));
        INV_DEBUG("GetBootDeviceInfo (EFI): EnableSelectiveLogin = %d", static_cast<int>(p->efi[0]));
        INV_DEBUG("GetBootDeviceInfo (EFI): EnableSelectiveLUN = %d", static_cast<int>(p->efi[3]));
        INV_DEBUG("GetBootDeviceInfo: Boot LUN number = %d", static_cast<int>(p->bootLun));
    } else {
        INV_DEBUG("GetBootDeviceInfo: Retrieving current BIOS Boot settings of HBA %d...",
                  static_cast<int>(d->instance));
        p->biosDisable = Param(d, 58);
        p->selectableBoot = Param(d, 60);
        ReadName(d, 72, p->bootPortName);
        p->bootLun = Param(d, 80);
        ReadName(d, 98, p->alt1PortName);
        p->alt1Lun = Param(d, 106);
        ReadName(d, 107, p->alt2PortName);
        p->alt2Lun = Param(d, 115);
        ReadName(d, 116, p->alt3PortName);
        p->alt3Lun = Param(d, 124);
    }
    PrintStructBootParamsInfo(d, p);
    return 0;
}

int GetFCBootConfigInfo(TVXDevice *d) {
    int result = 0;
    BootParams p{};
    if (d != nullptr && GetBootDeviceInfo(d, &p) == 0) {
        bool enabled = false;
        if (g_bIA64Host) {
            enabled = p.efi[0] != 0;
            INV_DEBUG(enabled ? "GetFCBootConfigInfo: Enable Selective Login= Enabled"
                              : "GetFCBootConfigInfo: Enable Selective Login= Disabled");
            INV_DEBUG(p.efi[3] ? "GetFCBootConfigInfo: Enable Selective LUN: Enabled"
                               : "GetFCBootConfigInfo: Enable Selective LUN= Disabled");
        } else {
            enabled = p.selectableBoot != 0;
            INV_DEBUG(enabled ? "GetFCBootConfigInfo: Enable Selectable Boot: Enabled"
                              : "GetFCBootConfigInfo: Enable Selectable Boot= Disabled");
            INV_DEBUG(p.biosDisable ? "GetFCBootConfigInfo: Enable BIOS= Disabled"
                                    : "GetFCBootConfigInfo: Enable BIOS= Enabled");
        }
        INV_DEBUG("GetFCBootConfigInfo: Prim Boot Port Name=" BP_FMT, BP_ARGS(p.bootPortName));
        INV_DEBUG("GetFCBootConfigInfo: Prim LUN ID=%d", static_cast<int>(p.bootLun));
        INV_DEBUG("GetFCBootConfigInfo: Alt1 Boot Port Name=" BP_FMT, BP_ARGS(p.alt1PortName));
        INV_DEBUG("GetFCBootConfigInfo: Alt1 Boot LUN ID=%d", static_cast<int>(p.alt1Lun));
        INV_DEBUG("GetFCBootConfigInfo: Alt2 Boot Port Name=" BP_FMT, BP_ARGS(p.alt2PortName));
        INV_DEBUG("GetFCBootConfigInfo: Alt2 Boot LUN ID=%d", static_cast<int>(p.alt2Lun));
        INV_DEBUG("GetFCBootConfigInfo: Alt3 Boot Port Name=" BP_FMT, BP_ARGS(p.alt3PortName));
        INV_DEBUG("GetFCBootConfigInfo: Alt3 Boot LUN ID=%d", static_cast<int>(p.alt3Lun));
        if (enabled) {
            if (NameIsZero(p.bootPortName)) {
                if (d->targets.count == 0 || d->targets.first == nullptr) {
                    INV_DEBUG("GetFCBootConfigInfo: HBA instance %d is configured to boot from any device but no "
                              "device currently attached.",
                              static_cast<int>(d->instance));
                } else {
                    INV_DEBUG("GetFCBootConfigInfo: HBA instance %d is configured to boot from any device.",
                              static_cast<int>(d->instance));
                    result = AnyPresentTarget(d, [](const TargetEntry *t) { return TargetCounts(t); }) ? 1 : 0;
                }
            } else {
                const uint32_t *name = p.bootPortName;
                result = AnyPresentTarget(d,
                                          [name](const TargetEntry *t) {
                                              return NameEquals(name, t->property.PortWWN) && TargetCounts(t);
                                          })
                             ? 1
                             : 0;
            }
        }
    }
    INV_DEBUG("GetFCBootConfigInfo: bIsBootDeviceConfigured=%d", result);
    return result;
}

int IsConfigureToBootFromSAN(TVXDevice *d) {
    int result = 0;
    int t = GetCxrType(d);
    if (d == nullptr || t < 15) {
        result = 0;
    } else if (t == 17 || t == 21 || t == 26) {
        result = 1;
    } else if (CountAdapterPorts(d) < 3) {
        result = GetFCBootConfigInfo(d);
    } else {
        char serial[32];
        GetDeviceSerial(d, serial);
        for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
            if (r->nodeProperty.InterfaceKind == TVX_INTERFACE_VIRTUAL) continue;
            char other[32];
            GetDeviceSerial(r, other);
            INV_DEBUG("IsConfigureToBootFromSAN: HBA %d %.32s Port %d " WWN_FMT_UC, static_cast<int>(r->instance),
                      r->nodeProperty.Model, static_cast<int>(r->physicalPort), WWN_ARGS(r->portProperty.PortWWN));
            if (std::strcmp(serial, other) != 0) continue;
            INV_DEBUG("IsConfigureToBootFromSAN: Found HBA %d %.32s Port %d " WWN_FMT_UC, static_cast<int>(r->instance),
                      r->nodeProperty.Model, static_cast<int>(r->physicalPort), WWN_ARGS(r->portProperty.PortWWN));
            if (GetFCBootConfigInfo(r) != 0) {
                INV_DEBUG("IsConfigureToBootFromSAN: HBA %d %.32s Port %d " WWN_FMT_UC " is configured with BFS",
                          static_cast<int>(r->instance), r->nodeProperty.Model, static_cast<int>(r->physicalPort),
                          WWN_ARGS(r->portProperty.PortWWN));
                result = 1;
                break;
            }
        }
    }
    INV_DEBUG("IsConfigureToBootFromSAN: bIsCfgBootFromSAN=%d", result);
    return result;
}
