// Reading of SCSI answers during target and LUN discovery: sense data and
// the verdict on a TEST UNIT READY answer.
#pragma once

#include <cstdint>

#include "torvex.h"

struct Sense {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
};

// Sense key, ASC and ASCQ of fixed (0x70/0x71) or descriptor (0x72/0x73) sense data.
Sense ParseSense(const uint8_t *s);

enum class Tur { Ready, NotReady, RetryWait, RetryNoWait };

// Reading of one TEST UNIT READY answer; Debug traces begin with who.
Tur EvaluateTur(const char *who, TVX_STATUS status, const uint8_t *senseBytes);
