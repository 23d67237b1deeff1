// Combining and region planning of the converged and newer families, the
// configuration block patches and the BIOS default area carried from an
// adapter's boot region, over arbitrary bytes. Nothing may read or write
// outside the buffers it is given.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "multiregion/combine.h"
#include "multiregion/regionloop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The last bytes steer the card type, chip revision and family.
    const uint8_t steer = size >= 1 ? data[size - 1] : 0;
    const int cardType = steer & 0x7;
    const uint16_t chipRev = size >= 2 ? data[size - 2] : 0x58;
    const CombineAdapter adapter{0x1D7A, 0x0831, chipRev, 0x2281, "FUZZ"};

    // Combining: the image and the flash buffer are copies of the input.
    using Combine = int (*)(std::span<uint8_t>, std::span<uint8_t>, int, int, const CombineAdapter *);
    static const Combine kCombiners[] = {CombineImageComponentsInBuffer, CombineLarkImageComponentsInBuffer,
                                         CombineTeskImageComponentsInBuffer, CombineFenwarImageComponentsInBuffer,
                                         CombineZultImageComponentsInBuffer};
    std::vector<uint8_t> image(data, data + size);
    std::vector<uint8_t> flash(size, 0);
    kCombiners[(steer >> 3) % 5](flash, image, 0, cardType, &adapter);

    // The plan of each converged family over the combined buffer.
    const std::vector<TVX_REGION_ENTRY> layout = {{0x07, 0x1000}, {0x2E, 0x1000}, {0x97, 0x800}, {0x70, 0x100}};
    for (const FamilyTable *family : {&kFirstGenFamily, &kLarkFamily, &kTeskFamily}) {
        const std::vector<uint32_t> seq = family->sequence(chipRev);
        const std::vector<PlannedWrite> plan = PlanRegionWrites(*family, seq, flash, layout, cardType, chipRev, 0xFF);
        CheckPlannedWritesFit(family->driverName, plan, flash.size());
    }

    // The configuration block patches on the input as a block.
    std::vector<uint8_t> block(data, data + size);
    UpdateFWAPreloadBuffer(block, &adapter);
    block.assign(data, data + size);
    UpdateFBCBuffer(block, &adapter);
    block.assign(data, data + size);
    UpdatePEPBrdCfgBuffer(block, &adapter);

    // BIOS default area: the first half is the adapter's region, the second
    // the new region.
    TVXDevice device{};
    device.chipProperty.PciDeviceId = 0x8031;
    const size_t half = size / 2;
    std::vector<uint8_t> current(data, data + half);
    std::vector<uint8_t> region(data + half, data + size);
    PreserveBiosDefaultArea(&device, current, region);
    return 0;
}
