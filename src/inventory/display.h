// Adapter information displays: port status text, the /i block, the host
// information with the adapter summary (/l).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "inventory/tvxdevice.h"

// statusFlags bits kept by RefreshPortStatus.
constexpr uint32_t PORT_STATUS_DOWN = 0x0001u;         // port state 2 or 3
constexpr uint32_t PORT_STATUS_LS2_1 = 0x0020u;        // LinkState2 is 1
constexpr uint32_t PORT_STATUS_LS2_4 = 0x0040u;        // LinkState2 is 4
constexpr uint32_t PORT_STATUS_LS2_5 = 0x0080u;        // LinkState2 is 5
constexpr uint32_t PORT_STATUS_LS2_6 = 0x0100u;        // LinkState2 is 6
constexpr uint32_t PORT_STATUS_LINK6_2 = 0x0200u;      // link field after LinkState3 is 2
constexpr uint32_t PORT_STATUS_DOWN_PENDING = 0x1000u; // link-down update pending

// Reads the port property and updates the status bits. Returns the port
// state, or 2 when the property can't be read (flags unchanged).
int RefreshPortStatus(TVXDevice *device);
// Applies one port property reading to a status word (the bit rules of
// RefreshPortStatus without the library call).
uint32_t ApplyPortStatus(uint32_t flags, const TVX_PORT_PROPERTY &port);

// Fills buffer with the port status text (cut to size), returns its length;
// 0 without a buffer.
int GetAdapterStatus(TVXDevice *device, char *buffer, size_t size);
// Status text for a status word and one port reading; the device gives the
// family and the running firmware.
std::string AdapterStatusText(const TVXDevice *device, uint32_t flags, const TVX_PORT_PROPERTY &port);

// /i block of one HBA list record; 0.
int PrintHBAGenInfos(TVXDevice *device);
// /l adapter summary; 0, or -1 when the HBA list is empty.
int PrintHBASummary();
// /l host lines.
int PrintHostInfo();

// 1 when the first number of the firmware version text is 8 or more.
int isFirmwareWithFECSupport(const char *fwVersion);
// Boot image family code 0-10 of an adapter.
int GetBootImageFamily(const TVXDevice *device);
// "0x%x(%s)" with the revision name, or "0x%x" alone.
std::string GetChipRevisionText(unsigned chipType, int cxrType);

// Display model: the model text without characters that are neither
// letters, digits nor punctuation; "-S" appended when sunSuffix is set and
// the text lacks it. At most 31 characters.
std::string DisplayModelText(const char *model, bool sunSuffix);
// BIOS version text check: "N/A" when the decimal pieces add up to 0.
std::string CheckedBiosVersionText(const char *text, size_t maxLen);
