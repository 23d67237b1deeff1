// VPD records: keyword lookup, checksum, blank test and field rewrite.
#pragma once

#include <cstddef>
#include <cstdint>

#include "inventory/tvxdevice.h"

enum : int {
    VPD_OK = 0,
    VPD_NO_START_TAG = 1,
    VPD_NO_END_TAG = 2,
    VPD_NO_MEMORY = 115,
    VPD_MALFORMED = 160,
    VPD_BAD_CHECKSUM = 162,
    VPD_FIELD_NOT_FOUND = 164,
};

// Size of the adapter's VPD image: 512 for cxrType below 16, else 1024.
size_t VpdImageSize(const TVXDevice *device);

// Reads the adapter's VPD and copies the keyword's value as text into
// value (valueSize bytes including the NUL; the text is cut to fit).
int RetrieveSpecificVPDField(TVXDevice *device, const char *keyword, char *value, size_t valueSize);
// The same lookup on an image in memory (no adapter read, no start/end tag
// messages of the adapter read): status as above.
int FindVpdField(const uint8_t *image, size_t size, const char *keyword, char *value, size_t valueSize);
int verifyVpdChecksum(const uint8_t *image, size_t size);
int IsBlankVpd(const uint8_t *image, size_t size);
// Rewrites every field named keyword with the first L bytes of value (L the
// field's length; value holds valueSize bytes, missing bytes write as 0),
// then recomputes and verifies the checksum.
int UpdateVpdField(uint8_t *image, size_t size, const char *keyword, const uint8_t *value, size_t valueSize);
