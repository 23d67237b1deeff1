// Adapter family classification and update eligibility.
#pragma once

#include "inventory/tvxdevice.h"

int GetCxrType(const TVXDevice *device);
int GetOEMPortClass(const TVXDevice *device);
int GetPortIndexOEM(const TVXDevice *device);
int CheckPortUpdateOption(TVXDevice *device);
int CheckAdapterFlashUpdateStatus(TVXDevice *device);
int isSunAdapter(const TVXDevice *device);
int isConvergedAdapter(const TVXDevice *device);
int isFCoEEngine(const TVXDevice *device);
int isEDCUpdateSupported(const TVXDevice *device);
int isFenwar16GHBA(const TVXDevice *device);
int isFenwar2261HBA(const TVXDevice *device);
int isBrocadeFeatureUnSupportedAdapters(const TVXDevice *device);
int ApplyOEMModelName(TVXDevice *device);
int isOEMSingleBiosChip(const TVXDevice *device);
int UpdateOEMSingleChipBiosVersion(TVXDevice *device);
int isHostOSType(const char *text);
