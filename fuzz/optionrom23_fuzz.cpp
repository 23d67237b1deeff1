// Whole option ROM of the oldest FC adapters: the file read and the walk
// that checks the chain and patches its common images for the board.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "update/optionrom.h"
#include "update/updaterun.h"

namespace {
// Boards the table below knows, and one it does not.
const uint16_t kSsdids[] = {0x0101, 0x0301, 0x0201, 0x0999};
const uint32_t kRegions[] = {0, TVX_OPT_ROM_REGION_FW, TVX_OPT_ROM_REGION_ALL};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::Silence();
    static const char kTable[] = "0x0101,0x1D7A,CXR2312,Single port 2Gb FC,TRUE\n"
                                 "0x0301,0x1D7A,CXR2532,Dual port 8Gb FC,TRUE\n"
                                 "0x0201,0x1D7A,CXR2322S,Dual port 2Gb FC,TRUE\n";
    fuzz::WriteScratch("adapters.properties", reinterpret_cast<const uint8_t *>(kTable), sizeof kTable - 1);
    std::snprintf(g_szConfigPath, sizeof g_szConfigPath, "%s", fuzz::ScratchDir().c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint16_t ssdid = in.PickValueInArray(kSsdids);
    const uint32_t region = in.PickValueInArray(kRegions);
    std::vector<uint8_t> file = in.ConsumeRemainingBytes<uint8_t>();

    // The program's own read of the file into a 128 KB buffer.
    const std::string path = fuzz::WriteScratch("rom.bin", file.data(), file.size());
    std::vector<uint8_t> buffer(0x20000, 0);
    uint32_t length = static_cast<uint32_t>(buffer.size());
    const int read = ValidateOptionROMFile(path.c_str(), buffer, &length);
    if (read != 0) return 0;
    FUZZ_CHECK(length == file.size());
    FUZZ_CHECK(length == 0 || std::memcmp(buffer.data(), file.data(), length) == 0);

    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return 0;
    OptionROMRequest request{};
    request.Region = region;
    g_ptrOptionROMRequest = &request;
    (void)ValidateUpdateOptionROM(f, ssdid, 0x1D7A, buffer, length, "CXR2312");
    g_ptrOptionROMRequest = nullptr;
    std::fclose(f);
    return 0;
}
