// Image layout table: header validators, regions-to-update reporters,
// card-type list walks, region lookups and the time-stamp update over
// arbitrary bytes. Nothing may read or write outside the input.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <vector>

#include "fuzz_common.h"
#include "image/ilt.h"
#include "image/imgversion.h"
#include "oss/oss.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Silence();
    std::span<const uint8_t> img(data, size);
    // The adapter's IDs and chip revision come from the last bytes, so the
    // fuzzer can steer them towards the table's contents.
    uint16_t ssdid = size >= 2 ? static_cast<uint16_t>(data[size - 1] | (data[size - 2] << 8)) : 0;
    uint16_t ssvid = size >= 4 ? static_cast<uint16_t>(data[size - 3] | (data[size - 4] << 8)) : 0x1077;
    uint16_t chipRev = size >= 5 ? data[size - 5] : 0;

    ValidateILTImageHeader(ssdid, ssvid, img, chipRev);
    ValidateTeskILTImageHeader(ssdid, ssvid, img, chipRev);
    ValidateFenwarILTImageHeader(ssdid, ssvid, img, chipRev);
    ValidateZultILTImageHeader(ssdid, ssvid, img, chipRev);

    std::vector<uint32_t> lark = ILT_InitLarkRegionsToUpdate(chipRev);
    std::vector<uint32_t> zult = ILT_InitZultOnlineRegionsToUpdate();
    ValidateILTImageRegionsToUpdate(img, lark, chipRev);
    ValidateTeskILTImageRegionsToUpdate(img, ILT_InitTeskRegionsToUpdate(), chipRev);
    ValidateFenwarILTImageRegionsToUpdate(img, ILT_InitFenwarSecuredOnlineRegionsToUpdate(), chipRev);
    ValidateZultILTImageRegionsToUpdate(img, zult, chipRev);

    int16_t cardType = ILT_TeskCardTypeList_GetMyCardTypeFromCardList(img, ssdid, ssvid);
    ILT_CardTypeList_GetMyCardTypeFromCardList(img, ssdid, ssvid);
    SearchSignatureInDefaultCardList(img, ssdid, ssvid);

    // Every region entry the header names that can lie inside the input,
    // and the first index past them.
    size_t n = ILT_Header_GetNumOfRegionEntries(img);
    if (n > size / 32) n = size / 32;
    for (int i = 0; i <= static_cast<int>(n); ++i) {
        auto e = ILT_Region_GetRegionByIndex(img, i);
        if (!e) continue;
        ValidateImageChipRevision(&*e, chipRev);
        CardTypeComapre(e->swapModeCardType, cardType);
        auto component = ILT_Region_GetComponent(img, *e);
        if (component && !component->empty()) {
            volatile uint8_t last = component->back();
            (void)last;
        }
    }
    if (auto first = ILT_Region_GetRegionByIndex(img, 0))
        ValidateILTRegionLen(img, first->regionCode, static_cast<uint32_t>(ssdid) << 4);
    char text[12];
    ILT_Header_GetImageVersionString(img, text, sizeof text);

    // Time stamp on copies: the table copy and the stamp must stay inside
    // both buffers.
    static const std::tm pinned = [] {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mon = 11;
        t.tm_mday = 8;
        return t;
    }();
    OSSPinLocalTime(&pinned);
    std::vector<uint8_t> ilt(data, data + size);
    std::vector<uint8_t> flash(size / 2 + (chipRev & 0x3F));
    UdpateTimeStamp(flash, ilt);
    return 0;
}
