// Boot-code chain version readers and the RISC firmware header readers over
// arbitrary bytes: every walk must stay inside the input and end.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_common.h"
#include "image/imgversion.h"

namespace {

// Device IDs of every protocol the readers know, and some they refuse.
constexpr uint16_t kDeviceIds[] = {0x8000, 0x8001, 0x8020, 0x8021, 0x8022, 0x8030, 0x8031, 0x8032,
                                   0x2031, 0x2261, 0x2081, 0x2281, 0x2432, 0x2532, 0x0000, 0xFFFF};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Silence();
    std::span<const uint8_t> chain(data, size);
    // The first byte picks the device ID, the rest is the chain, so that
    // the chain itself may start with 0x55 0xAA.
    uint16_t deviceId = kDeviceIds[0];
    if (!chain.empty()) {
        deviceId = kDeviceIds[chain[0] % (sizeof kDeviceIds / sizeof kDeviceIds[0])];
        chain = chain.subspan(1);
    }
    ImageVersionRecord rec{};
    GetImageVersions(chain, &rec, deviceId);
    GetLarkImageVersions(chain, &rec, deviceId);
    GetTeskImageVersions(chain, &rec, deviceId);
    GetFenwarImageVersions(chain, &rec, deviceId);
    ZultImageVersionRecord zrec{};
    GetImageBootCodesVersion(chain, &zrec, deviceId);

    RiscFirmwareHeader header{};
    if (GetFirmwareHeader(chain, &header) == 0) {
        ComponentVersion v{};
        GetRiscVersion(header, &v);
    }
    ComponentVersion v{};
    GetRiscFirmwareVersion(chain, &v);
    return 0;
}
