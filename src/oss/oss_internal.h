// Pieces each platform layer provides to the shared services code.
#pragma once

#include "oss/oss.h"

// Lock of the stop request and the write guard (never the program mutex).
void OSSStopLock();
void OSSStopUnlock();
// 1 when the vendor registry key exists (Windows), else 0.
int OSSReadVendorFlag();
