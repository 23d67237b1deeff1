// Refresh of the version keywords in an adapter's VPD regions after a
// flash update: each region is read, its version fields rewritten from the
// image just flashed, and written back; a blank or damaged twin is restored
// from the freshly written copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/imgversion.h"
#include "inventory/tvxdevice.h"

// Statuses added to those of the VPD record functions.
enum : int {
    VPD_REGION_DAMAGED = 161, // identifier-string or end tag missing, or a walk leaving the buffer
    VPD_REGION_BLANK = 166,
    VPD_VV_FAILED = 168,
    VPD_BAD_REGION = 36, // region code not accepted (NIC routine: 26)
    VPD_BAD_NIC_REGION = 26,
    VPD_NO_ADAPTER = 8,
};

// Attempts and spacing of the region reads of the newer families.
constexpr int VPD_READ_ATTEMPTS = 18;
constexpr unsigned VPD_READ_WAIT_MS = 5000;

// Each updates one region (0x14/0x16, 0x2C/0x2D, or a Lark-family VPD code)
// and, when 'save' is given (of vpdSize bytes), copies the written image
// there. The NIC routine takes the multi-boot version from the image layout
// table header.
int UpdateFCVpdRegion(TVXDevice *device, const ImageVersionRecord *versions, uint32_t region, size_t vpdSize,
                      uint8_t *save, uint16_t disableReset);
int UpdateNicVpdRegion(TVXDevice *device, std::span<const uint8_t> iltHeader, uint32_t region, size_t vpdSize,
                       uint8_t *save, uint16_t disableReset);
int UpdateLarkVpdRegion(TVXDevice *device, const ImageVersionRecord *versions, uint32_t region, size_t vpdSize,
                        uint8_t *save, uint16_t disableReset);

// Both copies with restore from the twin.
int UpdateAndRestoreFCVpds(TVXDevice *device, const ImageVersionRecord *versions, size_t vpdSize,
                           uint16_t disableReset);
int UpdateAndRestoreNicVpds(TVXDevice *device, std::span<const uint8_t> iltHeader, size_t vpdSize,
                            uint16_t disableReset);
// One region, no twin.
int UpdateAndRestoreLarkVPD(TVXDevice *device, const ImageVersionRecord *versions, size_t vpdSize,
                            uint16_t disableReset);
int UpdateAndRestoreTeskFcVPD(TVXDevice *device, const ImageVersionRecord *versions, uint32_t region, size_t vpdSize,
                              uint16_t disableReset);

// 0 usable, 166 blank, 161 tags missing, 36 not accepted or unreadable.
int CheckNumberOfValidVpdRegion(TVXDevice *device, uint32_t region, size_t vpdSize);

// Keyword texts (zero-filled 32-byte buffers).
struct VpdText {
    uint8_t bytes[32];
};
VpdText VpdTwoPartText(uint8_t major, uint8_t minor);                         // "%02d.%02d"
VpdText VpdFirmwareText(uint8_t major, uint8_t minor, uint8_t subMinor);      // 3-digit form from 100 up
VpdText VpdMultibootText(uint8_t major, uint8_t minor, uint8_t subMinor);     // "%02d%02d%02d"
VpdText VpdDellMultibootText(uint8_t major, uint8_t minor, uint8_t subMinor); // "FFV%02d.%02d.%02d"
