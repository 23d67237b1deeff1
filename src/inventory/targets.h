// Target and LUN discovery of one device.
#pragma once

#include <cstdint>

#include "inventory/tvxdevice.h"

int RetrieveTargetSummaryForDevice(TVXDevice *device);
int RetrievePortSummaryForDevice(TVXDevice *device);
// Value of the feature entry of kind 4 in *value; 0 on success, else status.
int GetFeatures(TVXDevice *device, uint32_t *value);
int RetrieveTargetPersistForDevice(TVXDevice *device);
int RetrieveLunDataForTargets(TVXDevice *device);
int RetrieveTargetDataForTargets(TVXDevice *device);
// 0 ready, -1 not.
int CheckTargetReady(TVXDevice *device, TargetEntry *target);
int CheckLunReady(TVXDevice *device, TargetEntry *target, uint16_t lun);
// Scans the LUNs of one target into its LUN list; 0 or -1.
int RetrieveLunsForTarget(TVXDevice *device, TargetEntry *target);
// Frees every target and its LUNs; empties the header.
void FreeTargetList(TargetList *list);
