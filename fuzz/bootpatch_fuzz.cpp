// Chip patching and validation of common BIOS, FCode and EFI images for a
// hardware type picked by the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "fuzz_common.h"
#include "image/bootpatch.h"

namespace {
const char *const kHwTypes[] = {"CXR2532", "CXR2432", "CXR2422", "CXR2312", "CXR2322S", "CXR2322", "CXR6322",
                                "CXR8432", "CXR8001", "CXR2261", "CXR2071", "CXR2081",  "CXR8020", "CXR9999"};
const char *const kDeviceTexts[] = {"2532", "2432", "2312", "2322", "8432", "2261", "2071", "8020", "ZZZZ"};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const char *hw = in.PickValueInArray(kHwTypes);
    const char *dev = in.PickValueInArray(kDeviceTexts);
    const uint16_t ssvid = in.ConsumeIntegral<uint16_t>();
    const uint16_t ssdid = in.ConsumeIntegral<uint16_t>();
    const int flag = in.ConsumeIntegralInRange<int>(0, 1);
    const size_t offset = in.ConsumeIntegralInRange<size_t>(0, 2048);
    const std::string model = in.ConsumeRandomLengthString(40);
    std::vector<uint8_t> image = in.ConsumeRemainingBytes<uint8_t>();
    std::span<const uint8_t> view(image);

    uint8_t code = 0;
    uint16_t id = 0;
    (void)LookupBiosTypeCode(hw, code, id);
    (void)Validate(view, dev, offset);
    (void)validateFCode(view, dev, flag, offset);
    (void)validateEFI(view, dev, offset);

    // The patches work on copies (ASan and UBSan watch every access).
    std::vector<uint8_t> copy = image;
    (void)UpdateImage(ssdid, ssvid, copy, model.c_str(), hw, offset);
    copy = image;
    (void)updateImageFCode(ssdid, ssvid, copy, hw, offset);
    copy = image;
    (void)UpdateImageEFI(ssdid, ssvid, copy, hw, offset);
    copy = image;
    (void)UpdateiSCSIImage(ssdid, ssvid, copy, model.c_str(), hw);
    return 0;
}
