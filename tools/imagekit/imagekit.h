// Image kit: builders of adapter flash images for tests, simulator presets
// and the demo. Independent of the program's own parsers.
#pragma once

#include "bytes.h"
#include "firmware.h"
#include "flt.h"
#include "ilt.h"
#include "multiboot.h"
#include "optionrom.h"
