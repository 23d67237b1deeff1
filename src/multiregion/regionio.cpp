#include "multiregion/regionio.h"

#include <cstring>
#include <new>

#include "update/flashregion.h"

namespace {

// A region larger than this is taken as a broken layout answer.
constexpr uint32_t kMaxRegionSize = 0x4000000;

bool Fill(std::vector<uint8_t> &buf, size_t size) {
    try {
        buf.assign(size, 0xFF);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

} // namespace

int ReadWholeRegion(TVXDevice *device, uint32_t region, std::vector<uint8_t> &buf, uint32_t minSize,
                    uint32_t *regionSize) {
    if (regionSize != nullptr) *regionSize = 0;
    // At least one byte: the first read attempt also learns the size.
    if (!Fill(buf, minSize > 0 ? minSize : 1)) return OPTROM_NO_MEMORY;
    uint32_t size = 0;
    int st = GetOptionROMRegionData(device, buf, region, &size);
    if (st == OPTROM_ALLOC_FAILED && size > buf.size()) {
        if (size > kMaxRegionSize) return OPTROM_NO_REGION;
        if (!Fill(buf, size)) return OPTROM_NO_MEMORY;
        st = GetOptionROMRegionData(device, buf, region, &size);
    }
    if (regionSize != nullptr) *regionSize = size;
    return st;
}

const char *RegionStatusText(int status) {
    switch (status) {
    case OPTROM_OK: return "Success";
    case OPTROM_NO_ADAPTER: return "Adapter not found";
    case OPTROM_NO_MEMORY:
    case OPTROM_ALLOC_FAILED: return "Out of memory";
    case OPTROM_READ_FAILED: return "Region read failed";
    case OPTROM_NO_REGION: return "Region not in the flash layout";
    case OPTROM_LAYOUT_FAILED: return "Flash layout query failed";
    default: return "Region access failed";
    }
}

const char *DeviceModelText(const TVXDevice *device, char (&out)[33]) {
    out[0] = '\0';
    if (device == nullptr) return out;
    size_t n = strnlen(device->nodeProperty.Model, sizeof(device->nodeProperty.Model));
    if (n > sizeof(out) - 1) n = sizeof(out) - 1;
    std::memcpy(out, device->nodeProperty.Model, n);
    out[n] = '\0';
    return out;
}
