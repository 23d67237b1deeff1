// Whether an adapter of the dual-bank families may be updated online: the
// adapter's flash update capability, the device library's version and the
// driver versions with which no flash update is possible.
#pragma once

#include <cstdint>

#include "inventory/tvxdevice.h"

// Status of a capability query that failed or answered a value that does
// not allow an online update.
constexpr int ONLINE_CAPS_UNSUPPORTED = 1203;

// 0 when TvxGetFlashUpdateCapabilities succeeds with capability 2, 4 or 8;
// else 1203. *capability (may be null) gets the answer (0 on failure).
int CheckFlashUpdateCapabilities(TVXDevice *device, uint32_t *capability = nullptr);

// Library version fields as the online check reads them: the text split at
// its dots, first field major, second minor, fourth build. False when the
// text has no major and minor number.
struct LibraryVersion {
    int major = 0;
    int minor = 0;
    int build = 0;
};
bool ParseLibraryVersion(const char *text, LibraryVersion &out);
// 1 when a library of this version can activate an online update: major
// 2 or above, 1.29 and up, or 1.28 with build 122 or above.
int IsOnlineActivationVersion(const LibraryVersion &v);

// 1 when the device library supports online activation, else 0 (also when
// its version can't be read).
int CoreIsOnlineFlashUpdateSupportedTVXAPI();

// 1 for a driver with which no flash update is possible: "9.1.11.24",
// "9.1.11.27" or "9.1.11.28" (any letter case), or a version whose
// numbers, split at dots, commas and blanks, start 9, 1, 11 and then 24,
// 27 or 28 (later numbers not looked at; a shorter version counts when
// the numbers it has fit).
int isWindowsServerFECImplDriverVersion(const char *driverVersion);

// Which Fenwar driver to run: the online update needs the library's online
// activation, a capability query that passed and a capability other than
// 0. True for the online update.
bool ChooseFenwarOnlineUpdate(TVXDevice *device);
