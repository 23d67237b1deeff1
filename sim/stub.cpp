// Temporary stand-in until the simulated library lands: reports no adapter.
#include "torvex.h"
#include <cstring>
extern "C" {
TVX_API TVX_STATUS TvxOpenDevice(uint32_t, uint32_t *) { return TVX_ERR_NO_MORE_DEVICES; }
TVX_API TVX_STATUS TvxGetVersion(char *t, uint32_t n) { if (t && n) { std::strncpy(t, "1.28.122.0", n - 1); t[n-1] = 0; } return 0; }
TVX_API TVX_STATUS TvxGetErrorString(TVX_STATUS, char *t, uint32_t n) { if (t && n) { std::strncpy(t, "error", n - 1); t[n-1] = 0; } return 0; }
}
