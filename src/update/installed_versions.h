// Versions installed on an adapter, read from its flash, its VPD or its
// flash memo block: the region primitives fetch the bytes, the image
// formats read them.
#pragma once

#include "devlib/device.h"
#include "image/image_versions.h"
#include "image/mbi_version.h"

// Reads the multi-boot version block from the adapter's flash: 0, 8 no
// adapter, 286 virtual port, 36 the fallback read failed.
int getMBImageVersionInFirmwareFromAdapter(TVXDevice *device, MultibootVersion *version);
// Fills the record (zero-filled by the caller): 0 success, 8 no adapter,
// else the status of the failing source.
int GetExistingCNAFlashImageVersions(TVXDevice *device, InstalledImageVersions *versions);
