// Fuzz target: the PEP board-config builder over a region image, then the
// version check of what it built.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "datafiles/datbuild.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    datfile::AdapterFacts facts;
    facts.cxrType = 25;
    facts.ssvid = 0x1D7A;
    facts.ssdid = 0x0501;
    std::vector<uint8_t> image(0x800, 0);
    if (datfile::BuildPEPBoardConfig({data, size}, facts, image, "fuzz.dat", "fuzz") == 0) {
        uint8_t version[4];
        datfile::GetPEPVersionFromImage(image, version, "fuzz");
    }
    return 0;
}
