// Helpers shared by the sources of the device lists (discovery and list
// building in tvxdevice.cpp, the property and NVRAM readers in
// devreaders.cpp). Internal to the inventory.
#pragma once

#include <cstdint>
#include <cstring>

#include "inventory/tvxdevice.h"

namespace tvxinternal {

inline bool SameWWNs(const uint8_t *nodeA, const uint8_t *portA, const uint8_t *nodeB, const uint8_t *portB) {
    return std::memcmp(nodeA, nodeB, 8) == 0 && std::memcmp(portA, portB, 8) == 0;
}

inline bool SameDeviceWWNs(const TVXDevice *a, const TVXDevice *b) {
    return SameWWNs(a->nodeProperty.NodeWWN, a->portProperty.PortWWN, b->nodeProperty.NodeWWN, b->portProperty.PortWWN);
}

inline bool IsVirtualPort(const TVXDevice *d) { return d->nodeProperty.InterfaceKind == TVX_INTERFACE_VIRTUAL; }
inline bool IsFCoEEngineRecord(const TVXDevice *d) {
    return d->nodeProperty.InterfaceKind == TVX_INTERFACE_FCOE_ENGINE;
}
// A record that is neither a virtual port nor an FCoE-engine record (a
// device whose node property could not be read counts as physical).
inline bool IsPhysicalPort(const TVXDevice *d) { return !IsVirtualPort(d) && !IsFCoEEngineRecord(d); }

// Failed reads made when a device was opened, by handle (the HBA list's
// copies share it): what they should have filled is blank, not a value.
struct OpenReads {
    uint32_t nodeProperty = TVX_STATUS_OK;
    uint32_t nvram1 = TVX_STATUS_OK;
};

// The record of a handle being opened, reset to "all reads succeeded".
OpenReads &ResetOpenReads(uint32_t handle);
// Drops the record of a closed handle.
void ForgetOpenReads(uint32_t handle);
// The record of a device's handle; null when it has none.
const OpenReads *OpenReadsOf(const TVXDevice *d);

} // namespace tvxinternal
