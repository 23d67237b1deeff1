// The online update's byte readers on arbitrary bytes: the 27xx set choice
// and offline records (the records written designate the set written and
// never the running one), the firmware attribute, the FC board
// configuration merge (a merged block sums to zero), the library version
// and driver version tests.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "multiregion/capabilities.h"
#include "multiregion/imgstatus.h"
#include "multiregion/online_sets.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::span<const uint8_t> in(data, size);
    const std::span<const uint8_t> primary = in.first(std::min<size_t>(size, 16));
    const std::span<const uint8_t> secondary =
        in.subspan(primary.size()).first(std::min<size_t>(size - primary.size(), 16));

    const FenwarSetChoice c = ChooseFenwarSet(primary, secondary);
    FUZZ_CHECK(c.writeSet != c.runningSet);
    const ImageStatusView p = CoreViewImageStatus(c.primary, IMAGE_STATUS_SIGNATURE_FENWAR);
    const ImageStatusView s = CoreViewImageStatus(c.secondary, IMAGE_STATUS_SIGNATURE_FENWAR);
    FUZZ_CHECK(p.valid && s.valid);
    FUZZ_CHECK(CoreDecideActiveSet(p, s, nullptr) == c.writeSet);

    const FenwarOfflineRecords o = FenwarOfflineStatusRecords(primary, secondary);
    const ImageStatusView op = CoreViewImageStatus(o.primary, IMAGE_STATUS_SIGNATURE_FENWAR);
    const ImageStatusView os = CoreViewImageStatus(o.secondary, IMAGE_STATUS_SIGNATURE_FENWAR);
    if (o.change) FUZZ_CHECK(op.valid && os.valid && CoreDecideActiveSet(op, os, nullptr) == 1);

    uint64_t attributes = 0;
    GetFirmwareAttribute(in, FW_ATTRIBUTE_SUPPORT_FENWAR, &attributes);

    // Two board configuration blocks: the first half runs, the second is new.
    TVXDevice dev{};
    dev.chipProperty.PciDeviceId = 0x2281;
    std::vector<uint8_t> running(in.begin(), in.begin() + size / 2);
    std::vector<uint8_t> fresh(in.begin() + size / 2, in.end());
    if (CorePreserveFCBrdCfgData(&dev, running, fresh) == 0) {
        uint32_t dwords =
            uint32_t(fresh[12]) | uint32_t(fresh[13]) << 8 | uint32_t(fresh[14]) << 16 | uint32_t(fresh[15]) << 24;
        FUZZ_CHECK(uint64_t(dwords) * 4 <= fresh.size());
        FUZZ_CHECK(CoreValidateChecksum32(fresh, size_t(dwords) * 4) == 0);
    }

    const std::string text(reinterpret_cast<const char *>(data), size);
    LibraryVersion v;
    if (ParseLibraryVersion(text.c_str(), v)) FUZZ_CHECK(v.major >= 0 && v.minor >= 0 && v.build >= 0);
    isWindowsServerFECImplDriverVersion(text.c_str());
    return 0;
}
