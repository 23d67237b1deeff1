// Checks of a whole multi-boot image or a firmware file before a region
// update writes it: the request's size rules, the firmware marker and
// checksums, and the walk that validates and patches every boot image.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "fuzz_common.h"
#include "update/optionrom.h"

namespace {
const uint32_t kRegions[] = {0, TVX_OPT_ROM_REGION_FW, TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI, TVX_OPT_ROM_REGION_ALL,
                             0x14};
const uint16_t kDevices[] = {0x2532, 0x2432, 0x2422, 0x2312, 0x2322, 0x8432, 0x8001, 0x2261, 0x2071, 0x1234};
const char *const kHwTypes[] = {"CXR2532", "CXR2432", "CXR2422", "CXR8001", "CXR2312", "CXR"};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint32_t region = in.PickValueInArray(kRegions);
    const uint16_t deviceId = in.PickValueInArray(kDevices);
    const char *hw = in.PickValueInArray(kHwTypes);
    const uint16_t ssvid = in.ConsumeIntegral<uint16_t>();
    const uint16_t ssdid = in.ConsumeIntegral<uint16_t>();
    const int flag = in.ConsumeIntegralInRange<int>(0, 1);
    std::vector<uint8_t> file = in.ConsumeRemainingBytes<uint8_t>();

    const int fw = validateFirmware(file, hw, flag);
    FUZZ_CHECK(fw == OPTROM_VALID || fw == OPTROM_FW_CHECKSUM || fw == OPTROM_NOT_A_FIRMWARE ||
               fw == OPTROM_FW_TOO_SHORT);
    // A firmware file is valid only with this chip's marker in it.
    if (fw == OPTROM_VALID) FUZZ_CHECK(isCorrectFirmwareImage(file, hw) == OPTROM_VALID);
    (void)ValidateFirmwareChecksum(file);

    OptionROMRequest request{};
    request.Region = region;
    request.FileSize = static_cast<uint32_t>(file.size());
    g_ptrOptionROMRequest = &request;
    const int r = validateUpdateMultibootOptionROM(ssdid, ssvid, file, "CXR2562", deviceId);
    g_ptrOptionROMRequest = nullptr;
    // The whole-image request ("all", or none given) takes exactly the flash
    // size, the boot request exactly the boot region's.
    if ((r == 0 || r == OPTROM_VALID) && (region == 0 || region == TVX_OPT_ROM_REGION_ALL))
        FUZZ_CHECK(file.size() == 0x100000);
    if ((r == 0 || r == OPTROM_VALID) && region == TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI)
        FUZZ_CHECK(file.size() == 0x40000);
    return 0;
}
