// VPD records: the keyword walk, the checksum, the blank test and the field
// rewrite.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "vpd/vpd.h"

namespace {
const char *const kKeywords[] = {"SN", "PN", "EC", "MN", "V9", "VV", "RM", "RV", "YA", "V1"};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const char *keyword = in.PickValueInArray(kKeywords);
    const size_t valueSize = in.ConsumeIntegralInRange<size_t>(1, 80);
    const std::vector<uint8_t> value = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 64));
    std::vector<uint8_t> image = in.ConsumeRemainingBytes<uint8_t>();

    std::vector<char> text(valueSize, 'X');
    const int found = FindVpdField(image.data(), image.size(), keyword, text.data(), text.size());
    // The value is always a terminated text within the caller's buffer.
    if (found == VPD_OK) FUZZ_CHECK(std::memchr(text.data(), 0, text.size()) != nullptr);
    (void)verifyVpdChecksum(image.data(), image.size());
    (void)IsBlankVpd(image.data(), image.size());

    // A rewrite that succeeds leaves a record whose checksum holds; one
    // refused before the checksum step leaves the image as given.
    std::vector<uint8_t> copy = image;
    const int updated = UpdateVpdField(copy.data(), copy.size(), keyword, value.data(), value.size());
    if (updated == VPD_OK)
        FUZZ_CHECK(verifyVpdChecksum(copy.data(), copy.size()) == VPD_OK);
    else if (updated != VPD_BAD_CHECKSUM)
        FUZZ_CHECK(copy == image);
    return 0;
}
