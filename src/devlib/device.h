// Device record of one opened library instance (adapter port): its
// handle, the library's property blocks and NVRAM images, and the targets
// found behind it. Every adapter access takes one; it holds library data
// only, so the lowest layers (region primitives) can use it without the
// inventory.
#pragma once

#include <cstdint>

#include "torvex.h"

struct LunEntry {
    uint16_t lun;
    uint8_t deviceId[16];
    uint32_t sizeMB; // 0xFEFEFEFE: reserved or not a disk
    char inquiryText[40];
    uint16_t foFlags; // flags of the library's failover LUN data
    LunEntry *next;
    LunEntry *prev;
};

struct LunList {
    uint32_t count;
    LunEntry *first;
    LunEntry *last;
};

struct TargetEntry {
    TVX_DISC_TARGET_PROPERTY property;
    uint8_t inquiry[36];  // header 8, vendor 8, product 16, revision 4
    uint32_t targetKind;  // 2 configured, 1 unconfigured port-summary entry
    uint32_t targetState; // bit 0 ready, bit 11 library marker
    uint16_t portDbWord1;
    uint16_t portDbWord2;
    uint32_t targetFlags; // bit 31 at creation, bit 30 ask device id page
    LunList luns;
    uint32_t deviceType; // SCSI peripheral type, 999 unknown
    uint32_t persistBeacon;
    uint16_t foTargetId; // target id of the library's failover target data
    uint16_t foFlags;    // flags of the library's failover target data
    TargetEntry *next;
    TargetEntry *prev;
};

struct TargetList {
    uint32_t count;
    TargetEntry *first;
    TargetEntry *last;
};

constexpr uint32_t TVX_DEVICE_AEN_ENABLED = 0x80000000u; // deviceFlags bit 31
constexpr int TVX_MAX_VPORTS = 256;

// The WWPN of one virtual port.
using VPortWwpn = uint8_t[8];

struct TVXDevice {
    uint32_t statusFlags;
    uint32_t handle;
    uint32_t instance;
    TVX_CHIP_PROPERTY chipProperty;
    TVX_DRIVER_PROPERTY driverProperty;
    TVX_NODE_PROPERTY nodeProperty;
    TVX_PORT_PROPERTY portProperty;
    TVX_STATISTICS statistics;
    uint32_t physicalPort; // 1-4 on its card, 0 until numbered
    uint32_t reserved;
    uint8_t nvram2[TVX_NVRAM_SIZE];
    uint8_t nvram1[TVX_NVRAM_SIZE];
    uint32_t deviceFlags;
    TargetList targets;
    uint32_t beaconState;
    // The port's virtual-port WWPNs: null for a port without virtual ports,
    // else vPortCount records in one block owned by this record (a copy of
    // the record gets a copy of the block).
    VPortWwpn *vPortTable;
    uint32_t vPortCountValid; // nonzero when vPortCount is set
    uint32_t vPortCount;      // records in vPortTable, at most TVX_MAX_VPORTS
    uint32_t qosValue;
    uint32_t qosType;
    uint8_t marker; // 'U'
    TVXDevice *next;
    TVXDevice *prev;
};

struct TVXDeviceList {
    uint32_t count;
    TVXDevice *first;
    TVXDevice *last;
};
