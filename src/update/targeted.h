// Targeted update: one named multi-boot image written to one adapter port
// or to every adapter, optionally limited to one family.
#pragma once

#include <string>

#include "inventory/tvxdevice.h"

// Family filter codes of the command line.
enum : int {
    FAMILY_FILTER_NONE = 0,
    FAMILY_FILTER_81XX = 1,
    FAMILY_FILTER_82XX = 2,
    FAMILY_FILTER_83XX = 3,
    FAMILY_FILTER_24XX = 4,
    FAMILY_FILTER_25XX = 5,
    FAMILY_FILTER_NOTHING = 6,
    FAMILY_FILTER_27XX = 7,
    FAMILY_FILTER_26XX = 8,
    FAMILY_FILTER_28XX = 9,
};

// 1 when the family filter code lets the cxrType through.
int isFamilyFilterMatch(int familyCode, int cxrType);

// One port: the status of updateOptionROMSingleHBA, or 19 when the record
// is missing, a virtual port, or not let through by the filter. iOption,
// iReserved1 and iReserved2 are the dispatcher's constant arguments (1).
int DoFlashUpdateAdapterPortFromFile(TVXDevice *device, const char *imageFile, int iOption, int familyCode,
                                     int bAllPorts, int iReserved1, int iReserved2);
// Every adapter: 0 when at least one returned 0, 34 when none did, 1 file
// cannot be opened, 8 no adapter.
int DoFlashUpdateAllAdaptersFromFile(const char *imageFile, int iOption, int familyCode, int bAllPorts);
// Serial number of a port (its adapter entry's, else read afresh) and the
// comparison of two: non-empty, same length, letter case ignored.
std::string PortSerialNumber(TVXDevice *device);
bool SameSerialNumber(const std::string &a, const std::string &b);

// The record through which the chip of this port is flashed.
TVXDevice *FindTVXDeviceToUpdateFlash(TVXDevice *device);
