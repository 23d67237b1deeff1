// Host identification: the value lookup in an os-release file of the
// input's bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz_common.h"
#include "oss/oss_internal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string key = in.ConsumeRandomLengthString(32).c_str(); // as the C text the lookup takes
    const std::string text = in.ConsumeRemainingBytesAsString();
    const std::string path =
        fuzz::WriteScratch("os-release", reinterpret_cast<const uint8_t *>(text.data()), text.size());
    const std::string value = OSSOsReleaseValue(path.c_str(), key.c_str());
    // A value comes from one line of at most 4096 bytes, after "KEY=".
    FUZZ_CHECK(value.size() + key.size() + 1 <= 4096);
    if (!value.empty()) FUZZ_CHECK(text.find(key + "=") != std::string::npos);
    return 0;
}
