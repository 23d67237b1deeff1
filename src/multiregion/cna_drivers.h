// Update drivers of the converged adapters: first generation (CXR8001),
// Lark (CXR8021) and Tesk (CXR8031, CXR8831, CXR2031, CXR2831). Each reads
// and validates a multi-region image for the adapter, combines it, writes
// its regions in the family's order, refreshes the VPD versions and shows
// one summary. Status 0 success, 201 success whose last write answered
// "reset disabled", else the failure's status.
#pragma once

#include <cstdint>

#include "inventory/tvxdevice.h"
#include "multiregion/regionloop.h"

int CNAOptionROMRegionUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset);
int CNALarkORevA0ptionROMRegionUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset);
int CNATeskOptionROMRegionUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset);

// The flow shared by the drivers, configured by the family's table.
int RunConvergedUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset, const FamilyTable &family);
