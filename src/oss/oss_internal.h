// Pieces each platform layer provides to the shared services code.
#pragma once

#include "oss/oss.h"

// Lock of the stop request and the write guard (never the program mutex).
void OSSStopLock();
void OSSStopUnlock();
// 1 when the vendor registry key exists (Windows), else 0.
int OSSReadVendorFlag();

#ifndef _WIN32
// The value of KEY=value on the first line of an os-release file that sets
// KEY, without the quotes around it; empty when no line sets it or the file
// cannot be read.
std::string OSSOsReleaseValue(const char *path, const char *key);
#endif
