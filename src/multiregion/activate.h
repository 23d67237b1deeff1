// Activation of the flash set an online update has written.
#pragma once

#include <cstdint>

#include "inventory/tvxdevice.h"

constexpr int ACTIVATE_MAX_CALLS = 30;
constexpr unsigned ACTIVATE_WAIT_MS = 20000;

// Asks the adapter to run its new flash set: up to 30 calls of
// TvxOnlineActivateFlashUpdate, 20000 ms apart while the adapter answers
// that a reset is pending (0x20000067, 0x20000075). Returns the library's
// last answer: 0, 0x20000100 (the adapter waits for a reset), or another
// failure.
uint32_t AppActivateOnlineFlashUpdate(TVXDevice *device);
