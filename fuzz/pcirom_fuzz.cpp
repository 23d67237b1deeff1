// PCI option-ROM chains: header and data-structure readers, the chain walk,
// the BIOS checksum, the chain validators and the patching walkers.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "fuzz_common.h"
#include "image/pcirom.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    // Parameters come from the tail, the chain is what remains: a seed file
    // is a chain as it stands.
    const uint16_t deviceId = in.ConsumeIntegral<uint16_t>();
    const uint16_t ssvid = in.ConsumeIntegral<uint16_t>();
    const uint16_t ssdid = in.ConsumeIntegral<uint16_t>();
    const size_t offset = in.ConsumeIntegralInRange<size_t>(0, 4096);
    std::vector<uint8_t> chain = in.ConsumeRemainingBytes<uint8_t>();
    std::span<const uint8_t> view(chain);

    PciRomHeader header;
    PciDataStructure pcir;
    (void)ReadPciRomHeader(view, offset, header);
    (void)ReadPciDataStructure(view, offset, pcir);
    (void)IsThisPciImage(view, offset);
    (void)isCommonBIOSImage(view, offset);
    (void)ComputeChecksum(view, offset);
    const size_t end = FindPciImageChainEnd(view);
    FUZZ_CHECK(end <= chain.size());

    (void)ValidateFCoEPciHeaders(view, deviceId);
    (void)ValidateiSCSIPciHeaders(view, deviceId);
    (void)ValidateNICPciHeaders(view, deviceId);
    (void)ValidateNicFCode(view, deviceId);

    // The patching walkers and the checksum update change copies; a
    // checksum byte just written makes the image sum to zero.
    std::vector<uint8_t> copy = chain;
    (void)UpdateAllPciHeaders(copy, ssvid, ssdid, deviceId, "CXR2562");
    copy = chain;
    (void)UpdateiSCSIPciHeaders(copy, ssvid, ssdid, deviceId, "CXR8242");
    copy = chain;
    if (ComputeChecksum(1, copy, offset) == 1) FUZZ_CHECK(ComputeChecksum(std::span<const uint8_t>(copy), offset) == 1);

    // The file form of the header reader.
    if (!chain.empty()) {
        std::FILE *f = fmemopen(chain.data(), chain.size(), "rb");
        if (f != nullptr) {
            std::array<uint8_t, PCI_FILE_RECORD> h{}, d{};
            (void)ReadPciHeaderAndData(f, h, d, 0);
            std::fclose(f);
        }
    }
    return 0;
}
