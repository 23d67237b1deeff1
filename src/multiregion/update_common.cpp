#include "multiregion/update_common.h"

#include <cstring>

#include "app/output.h"
#include "inventory/cxrtype.h"

int CheckRegionUpdateAdapter(const TVXDevice *device) {
    if (device == nullptr) {
        OutputMessage("Unable to find the selected HBA!");
        return UPDATE_NO_ADAPTER;
    }
    if (device->nodeProperty.InterfaceKind == TVX_INTERFACE_VIRTUAL) {
        const uint8_t *w = device->portProperty.PortWWN;
        OutputMessage("Option is not available with virtual port HBA (%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X)!", w[0],
                      w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        return UPDATE_VIRTUAL_PORT;
    }
    return 0;
}

std::string UpdateModelText(const TVXDevice *device) {
    std::string text(device->nodeProperty.Model,
                     strnlen(device->nodeProperty.Model, sizeof(device->nodeProperty.Model)));
    if (isSunAdapter(device) != 0 && text.find("-S") == std::string::npos) text += "-S";
    return text;
}

uint32_t LayoutRegionSize(const std::vector<TVX_REGION_ENTRY> &layout, uint32_t code) {
    uint32_t size = 0;
    for (const TVX_REGION_ENTRY &e : layout)
        if (e.Region == code) size = e.Size;
    return size;
}
