// Whole-region reads of the dual-bank code, over the region primitives.
#pragma once

#include <cstdint>
#include <vector>

#include "inventory/tvxdevice.h"

// Reads a whole region into buf, which gets the region's size from the
// layout but at least minSize bytes (bytes beyond the region read 0xFF).
// *regionSize (may be null) gets the layout size. 0, or the status of the
// region primitives (8, 36, 37, 38, 115); 10 when the buffer can't be
// allocated.
int ReadWholeRegion(TVXDevice *device, uint32_t region, std::vector<uint8_t> &buf, uint32_t minSize,
                    uint32_t *regionSize = nullptr);

// Short text of a region primitive status, for the traces.
const char *RegionStatusText(int status);

// Model name of the device as the library reported it (cut at its end).
const char *DeviceModelText(const TVXDevice *device, char (&out)[33]);
