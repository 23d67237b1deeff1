// Update drivers of the dual-bank adapters: 27xx (Fenwar) online and
// offline, 28xx (Zult) online. Each takes the adapter, the image file and
// the disable-reset flag and returns a status: 0 updated (and activated,
// online); 201 updated, the adapter must be reset (reset disabled, or the
// activation waits for one); else the failure's status.
#pragma once

#include <cstdint>

#include "inventory/tvxdevice.h"

int FenwarOnlineFlashUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset);
int FenwarFlashUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset);
int ZultOnlineFlashUpdate(TVXDevice *device, const char *imageFile, uint16_t disableReset);

// The Fenwar path choice: the online update when the library can activate
// it and the adapter reports an online capability, else the offline one.
int FenwarUpdateByPath(TVXDevice *device, const char *imageFile, uint16_t disableReset);
