// Fuzz target: the firmware preload file check and table build for each
// family that keeps a table.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "datafiles/datbuild.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    static const int kTypes[] = {12, 15, 21, 25, 27};
    datfile::AdapterFacts facts;
    facts.cxrType = kTypes[data[0] % 5];
    facts.chipRevision = static_cast<uint16_t>(data[0] >> 4 & 3);
    facts.ssvid = 0x1D7A;
    facts.ssdid = 0x0501;
    std::span<const uint8_t> file(data + 1, size - 1);
    std::vector<uint8_t> scratch(0x400, 0xFF);
    if (datfile::ValidatePreloadFile(file, facts, scratch) == 0) {
        std::vector<uint8_t> image(0x400, 0x5A);
        if (datfile::BuildPreloadTable(file, facts, image) == 0) {
            uint8_t v[3];
            datfile::PreloadVersionFromImage(image, facts.cxrType, v);
        }
    }
    return 0;
}
