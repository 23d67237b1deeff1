#include "multiregion/combine.h"

#include <algorithm>
#include <cstring>

#include "app/output.h"
#include "image/flt.h"
#include "image/helpers.h"
#include "image/imgversion.h"
#include "image/pcirom.h"

namespace {

using A = CombineAction;

// First-generation converged adapters (FCoE and NIC functions).
constexpr CombineRow kFirstGen[] = {
    {0x01, A::Plain, 0, false, -21}, {0x40, A::Plain, 0, false, -18},          {0x45, A::Plain, 0, false, -19},
    {0x41, A::Plain, 0, false, 0},   {0x07, A::PciHeaders, 0x8001, true, -20}, {0x2E, A::LocatorOnly, 0, true, -17},
};

// Lark: boot code per function; the NIC partition functions carry plain data.
constexpr CombineRow kLark[] = {
    {0x07, A::PciHeaders, 0x8021, true, -20},
    {0x7E, A::PciHeaders, 0x8021, true, -20},
    {0x7F, A::PciHeaders, 0x8021, true, -20},
    {0x2E, A::LocatorOnly, 0, true, -17},
    {0x78, A::LocatorOnly, 0, true, -20},
    {0x79, A::LocatorOnly, 0, true, -20},
    {0x7A, A::Plain, 0, false, -20},
    {0x7B, A::Plain, 0, false, -20},
    {0x4F, A::IscsiHeaders, 0x8022, true, -23},
    {0x7C, A::IscsiHeaders, 0x8022, true, -20},
    {0x7D, A::IscsiHeaders, 0x8022, true, -20},
    {0x70, A::Plain, 0, false, -17},
    {0x71, A::Plain, 0, false, -17},
    {0x72, A::Plain, 0, false, -17},
    {0x73, A::Plain, 0, false, -17},
    {0x74, A::Plain, 0, false, -21},
    {0x97, A::Plain, 0, false, -21},
};

// Tesk: CRB init is filtered by chip revision before it gets here.
constexpr CombineRow kTesk[] = {
    {0x01, A::Plain, 0, false, -21},
    {0x97, A::Plain, 0, false, -21},
    {0xA4, A::Plain, 0, false, -21},
    {0x07, A::PciHeaders, 0x2031, false, -20},
    {0xA2, A::PciHeaders, 0x8031, false, -20},
    {0x2E, A::Plain, 0, false, 0},
    {0x4F, A::IscsiHeaders, 0x8032, false, -23},
    {0x70, A::Plain, 0, false, -17},
    {0x72, A::Plain, 0, false, -17},
    {0x73, A::Plain, 0, false, -17},
};

constexpr CombineRow kFenwar[] = {
    {0x01, A::Plain, 0, false, -32}, {0x07, A::PciHeadersOwn, 0, false, -27}, {0x9E, A::Plain, 0, false, -26},
    {0x66, A::Plain, 0, false, -30}, {0xD1, A::Plain, 0, false, -28},         {0xD3, A::Plain, 0, false, 0},
    {0xE1, A::Plain, 0, false, 0},
};

constexpr CombineRow kZult[] = {
    {0x01, A::Plain, 0, false, -32},         {0x07, A::PciHeadersOwn, 0, false, -27},
    {0x11, A::PciHeadersOwn, 0, false, -27}, {0x13, A::Preload, 0, false, -38},
    {0xBA, A::FcBoardConfig, 0, false, -46}, {0xCF, A::PepBoardConfig, 0, false, -40},
    {0x9E, A::Plain, 0, false, -26},         {0xD1, A::Plain, 0, false, -28},
    {0xD2, A::Plain, 0, false, -28},         {0xD3, A::Plain, 0, false, -29},
    {0xE1, A::Plain, 0, false, 0},           {0x101, A::Plain, 0, false, -31},
    {0x102, A::Plain, 0, false, -44},        {0x103, A::Plain, 0, false, -45},
};

const CombineRow *FindRow(CombineFamily family, uint16_t code) {
    for (const CombineRow &r : CombineTable(family))
        if (r.code == code) return &r;
    return nullptr;
}

// Failure of a row: its own code, or -1 for the rows that list none (a
// component that cannot be copied is never counted as combined).
int Fail(const CombineRow &row) { return row.failCode != 0 ? row.failCode : -1; }

// The FLT locator right after the chain must lie in the component and hold.
bool LocatorAfterChainValid(std::span<const uint8_t> component) {
    const size_t end = FindPciImageChainEnd(component);
    if (end == 0 || !InBounds(component.size(), end, FLT_LOCATOR_SIZE)) return false;
    return ValidateFLTLocator(component.subspan(end, FLT_LOCATOR_SIZE)) == 1;
}

const char *ModelOf(const CombineAdapter *adapter) { return adapter != nullptr ? adapter->model.c_str() : ""; }

bool IsConfigBlock(std::span<const uint8_t> block, const char *signature) {
    return block.size() >= 20 && std::memcmp(block.data(), signature, 4) == 0;
}

// Sum of the little-endian dwords of the first 0x20000 bytes (of the block
// as far as it goes).
uint32_t SumCheckSpan(std::span<const uint8_t> block, size_t from = 0) {
    if (from >= block.size()) return 1;
    std::span<const uint8_t> s = block.subspan(from);
    return HLPR_Sum32(s, std::min(s.size(), CFG_BLOCK_CHECK_SPAN) / 4);
}

// Stamps the IDs at 'at' + 16/18 and re-sums the block's data (length in
// dwords at 'at' + 12, checksum at 'at' + 8). False when the data does not
// lie in the block.
bool PatchConfigHeader(std::span<uint8_t> block, size_t at, const CombineAdapter &adapter) {
    uint32_t dwords = 0;
    if (!ReadLE32(block, at + 12, dwords)) return false;
    const uint64_t bytes = static_cast<uint64_t>(dwords) * 4;
    if (bytes < 20 || !InBounds(block.size(), at, bytes)) return false;
    WriteLE16(block, at + 16, static_cast<uint16_t>(adapter.ssvid));
    WriteLE16(block, at + 18, static_cast<uint16_t>(adapter.ssdid));
    WriteLE32(block, at + 8, 0);
    const uint32_t sum = HLPR_Sum32(block.subspan(at, static_cast<size_t>(bytes)), dwords);
    WriteLE32(block, at + 8, 0u - sum);
    return true;
}

int PatchSimpleBlock(const char *name, const char *signature, const char *what, std::span<uint8_t> block,
                     const CombineAdapter *adapter) {
    if (adapter == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "%s:  Invalid SSVID/SSDID", name);
        return CFG_PATCH_NO_ADAPTER;
    }
    if (!IsConfigBlock(block, signature) || SumCheckSpan(block) != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: %s validation failed!", name, what);
        return CFG_PATCH_INVALID;
    }
    if (!PatchConfigHeader(block, 0, *adapter)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: %s validation failed!", name, what);
        return CFG_PATCH_INVALID;
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: IDs set to ssvid=0x%x ssdid=0x%x", name, adapter->ssvid, adapter->ssdid);
    return 0;
}

// The walk shared by the five combiners.
int CombineWalk(CombineFamily family, const char *name, std::span<uint8_t> flash, std::span<uint8_t> image,
                int expectedCount, int cardType, const CombineAdapter *adapter, bool chipFilter) {
    const int n = ILT_Header_GetNumOfRegionEntries(image);
    const uint16_t chipRev = adapter != nullptr ? adapter->chipRev : 0;
    int combined = 0;
    for (int i = 0; i + 1 < n; ++i) {
        auto entry = ILT_Region_GetRegionByIndex(image, i);
        if (!entry) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to read ILT entry %d", name, i);
            return -1;
        }
        if (!CardTypeComapre(entry->swapModeCardType, cardType)) continue;
        if (chipFilter && entry->chipRev != 0 && entry->chipRev != chipRev) continue;
        const int st = CombineComponent(family, flash, image, *entry, adapter);
        if (st != 0) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Failed to combine region 0x%x (status=%d)", name, entry->regionCode,
                               st);
            return st;
        }
        ++combined;
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: Combined %d of %d images for cardtype %d", name, combined, expectedCount,
                       cardType);
    const size_t tableLength = [&] {
        IltHeader h{};
        ILT_Header_Read(image, h);
        return static_cast<size_t>(h.tableLength);
    }();
    if (UdpateTimeStamp(flash, image.first(std::min(tableLength, image.size()))) == 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to stamp the layout table", name);
        return -1;
    }
    return combined;
}

} // namespace

std::span<const CombineRow> CombineTable(CombineFamily family) {
    switch (family) {
    case CombineFamily::FirstGen: return kFirstGen;
    case CombineFamily::Lark: return kLark;
    case CombineFamily::Tesk: return kTesk;
    case CombineFamily::Fenwar: return kFenwar;
    case CombineFamily::Zult: return kZult;
    }
    return {};
}

const char *CombineOperationName(CombineFamily family) {
    switch (family) {
    case CombineFamily::FirstGen: return "CombineImage";
    case CombineFamily::Lark: return "CombineLarkImage";
    case CombineFamily::Tesk: return "CombineTeskImage";
    case CombineFamily::Fenwar: return "CombineFenwarImage";
    case CombineFamily::Zult: return "CombineZultImage";
    }
    return "CombineImage";
}

int CombineComponent(CombineFamily family, std::span<uint8_t> flash, std::span<const uint8_t> image,
                     const IltRegionEntry &entry, const CombineAdapter *adapter) {
    const char *name = CombineOperationName(family);
    const CombineRow *row = FindRow(family, entry.regionCode);
    if (row == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unrecognized Image Type...", name);
        return 0;
    }
    // Source and destination share the offset; both buffers have the image
    // file's size, so the component must lie inside both.
    if (!InBounds(image.size(), entry.offset, entry.length) || !InBounds(flash.size(), entry.offset, entry.length)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Region 0x%x (offset 0x%x, length 0x%x) lies outside the image", name,
                           entry.regionCode, entry.offset, entry.length);
        return Fail(*row);
    }
    std::memcpy(flash.data() + entry.offset, image.data() + entry.offset, entry.length);
    std::span<uint8_t> component = flash.subspan(entry.offset, entry.length);
    const uint32_t ssvid = adapter != nullptr ? adapter->ssvid : 0;
    const uint32_t ssdid = adapter != nullptr ? adapter->ssdid : 0;

    int st = 0;
    switch (row->action) {
    case A::Plain:
    case A::LocatorOnly: break;
    case A::PciHeaders:
    case A::PciHeadersOwn: {
        const uint16_t dev =
            row->action == A::PciHeaders ? row->deviceId : (adapter != nullptr ? adapter->fcDeviceId : 0);
        st = UpdateAllPciHeaders(component, static_cast<uint16_t>(ssvid), static_cast<uint16_t>(ssdid), dev,
                                 ModelOf(adapter));
        break;
    }
    case A::IscsiHeaders:
        st = UpdateiSCSIPciHeaders(component, static_cast<uint16_t>(ssvid), static_cast<uint16_t>(ssdid), row->deviceId,
                                   ModelOf(adapter));
        break;
    case A::Preload: st = UpdateFWAPreloadBuffer(component, adapter); break;
    case A::FcBoardConfig: st = UpdateFBCBuffer(component, adapter); break;
    case A::PepBoardConfig: st = UpdatePEPBrdCfgBuffer(component, adapter); break;
    }
    if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to patch region 0x%x (status=%d)", name, entry.regionCode, st);
        return Fail(*row);
    }
    if (row->checkLocator && !LocatorAfterChainValid(component)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to validate FLTDS of region 0x%x", name, entry.regionCode);
        return Fail(*row);
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: Region 0x%x combined (offset 0x%x, length 0x%x)", name, entry.regionCode,
                       entry.offset, entry.length);
    return 0;
}

int CombineImageComponentsInBuffer(std::span<uint8_t> flash, std::span<uint8_t> image, int expectedCount, int cardType,
                                   const CombineAdapter *adapter) {
    return CombineWalk(CombineFamily::FirstGen, "CombineImageComponentsInBuffer", flash, image, expectedCount, cardType,
                       adapter, false);
}

int CombineLarkImageComponentsInBuffer(std::span<uint8_t> flash, std::span<uint8_t> image, int expectedCount,
                                       int cardType, const CombineAdapter *adapter) {
    return CombineWalk(CombineFamily::Lark, "CombineLarkImageComponentsInBuffer", flash, image, expectedCount, cardType,
                       adapter, false);
}

int CombineTeskImageComponentsInBuffer(std::span<uint8_t> flash, std::span<uint8_t> image, int expectedCount,
                                       int cardType, const CombineAdapter *adapter) {
    return CombineWalk(CombineFamily::Tesk, "CombineTeskImageComponentsInBuffer", flash, image, expectedCount, cardType,
                       adapter, true);
}

int CombineFenwarImageComponentsInBuffer(std::span<uint8_t> flash, std::span<uint8_t> image, int expectedCount,
                                         int cardType, const CombineAdapter *adapter) {
    return CombineWalk(CombineFamily::Fenwar, "CombineFenwarImageComponentsInBuffer", flash, image, expectedCount,
                       cardType, adapter, true);
}

int CombineZultImageComponentsInBuffer(std::span<uint8_t> flash, std::span<uint8_t> image, int expectedCount,
                                       int cardType, const CombineAdapter *adapter) {
    return CombineWalk(CombineFamily::Zult, "CombineZultImageComponentsInBuffer", flash, image, expectedCount, cardType,
                       adapter, true);
}

int UpdateFWAPreloadBuffer(std::span<uint8_t> block, const CombineAdapter *adapter) {
    return PatchSimpleBlock("UpdateFWAPreloadBuffer", "JCAM", "FWA preload", block, adapter);
}

int UpdateFBCBuffer(std::span<uint8_t> block, const CombineAdapter *adapter) {
    static const char kName[] = "UpdateFBCBuffer";
    int st = PatchSimpleBlock(kName, "CBF(", "FBC", block, adapter);
    if (st != 0) return st;
    // The FC Serdes block inside the board configuration.
    constexpr size_t kSerdes = 0x1200;
    if (!InBounds(block.size(), kSerdes, 20) || std::memcmp(block.data() + kSerdes, "ULS(", 4) != 0 ||
        SumCheckSpan(block) != 0 || !PatchConfigHeader(block, kSerdes, *adapter)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: FC Serdes validation failed!", kName);
        return CFG_PATCH_INVALID;
    }
    return 0;
}

int UpdatePEPBrdCfgBuffer(std::span<uint8_t> block, const CombineAdapter *adapter) {
    static const char kName[] = "UpdatePEPBrdCfgBuffer";
    if (adapter == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "%s:  Invalid SSVID/SSDID", kName);
        return CFG_PATCH_NO_ADAPTER;
    }
    uint32_t dwords = 0;
    const bool sized = IsConfigBlock(block, "ICAM") && ReadLE32(block, 12, dwords) &&
                       static_cast<uint64_t>(dwords) * 4 >= 268 &&
                       InBounds(block.size(), 0, static_cast<size_t>(dwords) * 4);
    if (!sized || HLPR_Sum32(block, dwords) != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: PEP board config validation failed!", kName);
        return CFG_PATCH_INVALID;
    }
    WriteLE16(block, 264, static_cast<uint16_t>(adapter->ssdid));
    WriteLE16(block, 266, static_cast<uint16_t>(adapter->ssvid));
    PatchConfigHeader(block, 0, *adapter);
    return 0;
}
