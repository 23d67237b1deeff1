// Fuzz target: the converged board-config build over a region that holds
// a valid area; a refused file must leave the region as it was.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "datafiles/datbuild.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::vector<uint8_t> flash = [] {
        std::vector<uint8_t> r(0x6000, 0);
        for (size_t i = 0; i < 8; ++i)
            r[datfile::kTeskSsidTable + 4 * i] = static_cast<uint8_t>(i + 1);
        for (size_t i = 0; i < datfile::kTeskMacTableSize; ++i)
            r[datfile::kTeskMacTable + i] = static_cast<uint8_t>(i);
        for (size_t i = datfile::kTeskAreaSize; i < r.size(); ++i)
            r[i] = static_cast<uint8_t>(i * 7);
        datfile::ComputeFeatureConfigAreaChecksum(r, datfile::kTeskAreaSize, datfile::kTeskChecksumOffset);
        return r;
    }();
    datfile::AdapterFacts facts;
    facts.cxrType = 21;
    facts.port = 2;
    std::vector<uint8_t> region = flash;
    int st = datfile::BuildTeskBoardConfig({data, size}, facts, region);
    if (st != 0 && region != flash) __builtin_trap();
    // Beyond the area nothing ever changes.
    if (std::memcmp(region.data() + datfile::kTeskAreaSize, flash.data() + datfile::kTeskAreaSize,
                    region.size() - datfile::kTeskAreaSize) != 0)
        __builtin_trap();
    return 0;
}
