#include "inventory/unopened.h"

#include "inventory/tvxdevice.h"

namespace {

std::vector<UnopenedDevice> g_unopened;

unsigned PciFunction(const TVXDevice *d) { return (d->chipProperty.PciSlotNumber >> 5) & 7u; }
unsigned PciDevice(const TVXDevice *d) { return d->chipProperty.PciSlotNumber & 15u; }

bool IsVirtualPort(const TVXDevice *d) { return d->nodeProperty.InterfaceKind == TVX_INTERFACE_VIRTUAL; }

// An opened port at the PCI function given, on d's bus and device.
bool FunctionOpened(const TVXDevice *d, unsigned function) {
    for (const TVXDevice *r = g_DeviceList.first; r != nullptr; r = r->next)
        if (!IsVirtualPort(r) && r->chipProperty.PciBusNumber == d->chipProperty.PciBusNumber &&
            PciDevice(r) == PciDevice(d) && PciFunction(r) == function)
            return true;
    return false;
}

} // namespace

void ClearUnopenedDevices() { g_unopened.clear(); }

void NoteUnopenedDevice(uint32_t instance, TVX_STATUS status, const char *text) {
    g_unopened.push_back({instance, status, text != nullptr ? text : ""});
}

const std::vector<UnopenedDevice> &UnopenedDevices() { return g_unopened; }

std::vector<UnopenedDevice> UnaccountedUnopenedDevices() {
    // Second ports whose chip's first port is missing; each accounts for
    // the unopened instance just before it (ports are numbered in PCI
    // function order) and for no other.
    std::vector<const TVXDevice *> chipsWithoutFirst;
    for (const TVXDevice *d = g_DeviceList.first; d != nullptr; d = d->next)
        if (!IsVirtualPort(d) && (PciFunction(d) & 1u) != 0 && !FunctionOpened(d, PciFunction(d) - 1))
            chipsWithoutFirst.push_back(d);
    std::vector<UnopenedDevice> left;
    for (const UnopenedDevice &u : g_unopened) {
        bool accounted = false;
        for (const TVXDevice *second : chipsWithoutFirst)
            accounted = accounted || second->instance == u.instance + 1;
        if (!accounted) left.push_back(u);
    }
    return left;
}
