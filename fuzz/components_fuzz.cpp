// Component validation over arbitrary bytes: the input is taken as a whole
// multi-region image for every family's walker and counter, and as a single
// component for each component check. Nothing may read outside the input
// or fail to end.
#include <cstddef>
#include <cstdint>
#include <span>

#include "app/settings.h"
#include "image/components.h"

namespace {

// Adapter parameters derived from the input's first bytes so that card
// types and chip revisions vary too; the image itself stays as given.
struct Adapter {
    int cardType;
    uint16_t chipRev;
    uint16_t fcDeviceId;
};

Adapter AdapterFrom(std::span<const uint8_t> in) {
    static const uint16_t revs[] = {0, 0x50, 0x54, 0x58};
    static const uint16_t devices[] = {0x2071, 0x2261, 0x2281, 0x2532, 0x8001};
    uint8_t a = in.size() > 12 ? in[12] : 0;
    uint8_t b = in.size() > 20 ? in[20] : 0;
    return {static_cast<int>(a & 0x0F) - 1, revs[b & 3], devices[(b >> 2) % 5]};
}

void WalkAll(std::span<const uint8_t> image, const Adapter &ad) {
    ImageVersionRecord r{};
    ZultImageVersionRecord z{};
    int n = HowManyImagesForCardType(image, ad.cardType);
    int g = HowManyImagesForCardTypeGeneric(image, ad.cardType, ad.chipRev);
    ValidateImageComponents(image, n, ad.cardType, &r);
    ValidateLarkImageComponents(image, n, ad.cardType, &r, ad.chipRev);
    ValidateTeskImageComponents(image, g, ad.cardType, &r, ad.chipRev);
    ValidateFenwarImageComponents(image, g, ad.cardType, &r, ad.chipRev, ad.fcDeviceId);
    ValidateZultImageComponents(image, g, ad.cardType, &z, ad.chipRev, ad.fcDeviceId);
}

void CheckAsComponent(std::span<const uint8_t> c, const Adapter &ad) {
    IltRegionEntry whole{};
    whole.regionCode = 0x41;
    whole.length = static_cast<uint32_t>(c.size());
    if (c.size() > 19) {
        whole.version[0] = c[17];
        whole.version[1] = c[18];
        whole.version[2] = c[19];
    }
    ComponentVersion v{};
    bool set = false;
    uint8_t v4[4] = {};
    ValidateRiscFirmware(c, whole, RISC_SUPPORTED_ZULT, &v);
    ValidateMpiFirmwareImage(c, whole, &v);
    ValidateEdcFirmwareImage(c, whole, &v);
    ValidateMpiConfigParamImage(c, whole, &v);
    ValidateTrailerBlock("fuzz", c, TRAILER_SIG_BOOTLOADER, &v);
    ValidateNicFirmwareImage(c, &v);
    ValidateZultSignatureRegion(c, &v, &set);
    ReadPepFirmwareVersion(c, v4);
    ReadBlockVersion(c, v4);
    ImageVersionRecord r{};
    ZultImageVersionRecord z{};
    ValidateBootCode(BootFamily::Lark, BootProtocol::Nic, c, 0x8020, &r);
    ValidateBootCode(BootFamily::FirstGen, BootProtocol::FCoE, c, 0x8001, &r);
    ValidateBootCode(BootFamily::Tesk, BootProtocol::iSCSI, c, 0x8032, &r);
    ValidateZultBootCode(c, ad.fcDeviceId, &z);
    // A copy into a buffer smaller than the component must be refused.
    uint8_t small[64];
    GetSpecificImageComponentInBuffer(small, c, &whole);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The checks' results matter here, not their messages.
    g_bSilent = 1;
    std::span<const uint8_t> in(data, size);
    Adapter ad = AdapterFrom(in);
    WalkAll(in, ad);
    WalkAll(in, Adapter{0, 0, 0x2071});
    CheckAsComponent(in, ad);
    return 0;
}
