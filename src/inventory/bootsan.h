// Boot-from-SAN check of an adapter port.
#pragma once

#include <cstdint>

#include "inventory/tvxdevice.h"

struct BootParams {
    uint32_t biosDisable;
    uint32_t selectableBoot;
    uint32_t bootNodeName[8];
    uint32_t bootPortName[8];
    uint32_t bootLun;
    uint32_t efi[5]; // efi[0] EnableSelectiveLogin, efi[3] EnableSelectiveLUN
    uint32_t alt1PortName[8];
    uint32_t alt1Lun;
    uint32_t alt2PortName[8];
    uint32_t alt2Lun;
    uint32_t alt3PortName[8];
    uint32_t alt3Lun;
};

// 1 when the port (or on cards of three or more ports any port of the card)
// boots from a SAN device present now, else 0.
int IsConfigureToBootFromSAN(TVXDevice *device);
int GetFCBootConfigInfo(TVXDevice *device);
// 0 when filled, nonzero for no device.
int GetBootDeviceInfo(TVXDevice *device, BootParams *params);
void PrintStructBootParamsInfo(const TVXDevice *device, const BootParams *params);
