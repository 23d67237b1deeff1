// Small pieces every multi-region update driver (converged and dual-bank)
// shares: the adapter entry checks, the model text of the messages and the
// region sizes of a flash layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/tvxdevice.h"

// Statuses of the entry checks.
enum : int {
    UPDATE_NO_ADAPTER = 8,
    UPDATE_VIRTUAL_PORT = 286,
};

// 0 when the device may take a region update; else UPDATE_NO_ADAPTER
// ("Unable to find the selected HBA!") or UPDATE_VIRTUAL_PORT (the
// virtual-port message with the port's WWPN), the message shown.
int CheckRegionUpdateAdapter(const TVXDevice *device);
// Model text of the messages ("-S" appended for SUN-branded adapters).
std::string UpdateModelText(const TVXDevice *device);
// Size of a region in the adapter's layout (the last entry of the code; 0
// when absent).
uint32_t LayoutRegionSize(const std::vector<TVX_REGION_ENTRY> &layout, uint32_t code);
