// Flash layout table header, FLT locator and the multi-boot image version
// block, with the word sums they rest on.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "fuzz_common.h"
#include "image/flt.h"
#include "image/helpers.h"
#include "image/mbi_version.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const size_t words = in.ConsumeIntegralInRange<size_t>(0, 1 << 20);
    std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
    std::span<const uint8_t> view(bytes);

    (void)GetFlashLayoutVersion(view);
    (void)HLPR_Sum16(view, words);
    (void)HLPR_Sum32(view, words);
    const int valid = ValidateFLTLocator(view);
    FUZZ_CHECK(valid == 0 || valid == 1);
    // A valid locator's eight words sum to zero.
    if (valid == 1) FUZZ_CHECK(HLPR_Sum16(view, FLT_LOCATOR_SIZE / 2) == 0);

    MultibootVersion v{0xEE, 0xEE, 0xEE};
    FUZZ_CHECK(getMBImageVersionInFirmware(view, &v) == 0);
    // Without the signature the version is 0.00.00.
    uint32_t sig = 0;
    if (!ReadLE32(view, 0, sig) || sig != MBI_VERSION_SIGNATURE)
        FUZZ_CHECK(v.ExistingMultibootVersionMajor == 0 && v.ExistingMultibootVersionMinor == 0 &&
                   v.ExistingMultibootVersionSubMinor == 0);
    return 0;
}
