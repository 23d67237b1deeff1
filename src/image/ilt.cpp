#include "image/ilt.h"

#include <cstdio>
#include <cstring>

#include "app/output.h"
#include "image/helpers.h"

namespace {

size_t EntryOffset(size_t index) { return ILT_HEADER_SIZE + ILT_ENTRY_SIZE * index; }

bool SignatureIs(std::span<const uint8_t> ilt, const char *sig) {
    for (size_t i = 0; i < 4; ++i) {
        uint8_t b = 0;
        if (!ReadU8(ilt, ILT_HDR_SIGNATURE + i, b)) return false;
        OutputLevelMessage(LEVEL_DEBUG, "ILT_Header_CompareSignature: byte %zu 0x%02x vs 0x%02x", i, b,
                           static_cast<unsigned char>(sig[i]));
        if (b != static_cast<unsigned char>(sig[i])) return false;
    }
    return true;
}

} // namespace

bool ILT_Header_Read(std::span<const uint8_t> ilt, IltHeader &out) {
    IltHeader h{};
    if (ilt.size() < ILT_HEADER_SIZE) {
        out = h;
        return false;
    }
    std::memcpy(h.signature, ilt.data() + ILT_HDR_SIGNATURE, 4);
    ReadLE16(ilt, ILT_HDR_TABLE_VERSION, h.tableVersion);
    ReadLE16(ilt, ILT_HDR_TABLE_LENGTH, h.tableLength);
    ReadLE16(ilt, ILT_HDR_CHECKSUM, h.tableCheckSum);
    ReadLE16(ilt, ILT_HDR_NUM_ENTRIES, h.numRegionEntries);
    for (size_t i = 0; i < 3; ++i)
        ReadU8(ilt, ILT_HDR_IMAGE_VERSION + i, h.imageVersion[i]);
    ReadU8(ilt, ILT_HDR_BUILD_MONTH, h.buildMonth);
    ReadU8(ilt, ILT_HDR_BUILD_DAY, h.buildDay);
    ReadLE16(ilt, ILT_HDR_BUILD_YEAR, h.buildYear);
    for (size_t i = 0; i < 4; ++i)
        ReadU8(ilt, ILT_HDR_FFV_VERSION + i, h.ffvVersion[i]);
    out = h;
    return true;
}

bool ILT_Header_CompareSignature(std::span<const uint8_t> ilt) {
    if (SignatureIs(ilt, ILT_HEADER)) return true;
    return SignatureIs(ilt, ILT_HEADER_V2);
}

bool ILT_Header_IsTableVersionMatched(std::span<const uint8_t> ilt, uint16_t /*minimum*/) {
    uint16_t version = 0xFFFF;
    if (!ReadLE16(ilt, ILT_HDR_TABLE_VERSION, version)) return false;
    OutputLevelMessage(LEVEL_DEBUG, "ILT_Header_IsTableVersionMatched: tableVersion=%u", version);
    return version <= ILT_TABLE_VERSION_MAX;
}

uint16_t ILT_Header_GetNumOfRegionEntries(std::span<const uint8_t> ilt) {
    uint16_t n = 0;
    ReadLE16(ilt, ILT_HDR_NUM_ENTRIES, n);
    OutputLevelMessage(LEVEL_DEBUG, "ILT_Header_GetNumOfRegionEntries: %u", n);
    return n;
}

bool ILT_Header_EntriesInBuffer(std::span<const uint8_t> ilt) {
    uint16_t n = 0;
    if (!ReadLE16(ilt, ILT_HDR_NUM_ENTRIES, n)) return false;
    return InBounds(ilt.size(), 0, EntryOffset(n));
}

const char *ILT_Header_GetImageVersionString(std::span<const uint8_t> ilt, char *out, size_t outSize) {
    if (out == nullptr || outSize == 0) return out;
    uint8_t v[3] = {0, 0, 0};
    for (size_t i = 0; i < 3; ++i)
        ReadU8(ilt, ILT_HDR_IMAGE_VERSION + i, v[i]);
    std::snprintf(out, outSize, "%02d.%02d.%02d", v[0], v[1], v[2]);
    return out;
}

std::optional<IltRegionEntry> ILT_Region_GetRegionByIndex(std::span<const uint8_t> ilt, int index) {
    uint16_t n = 0;
    ReadLE16(ilt, ILT_HDR_NUM_ENTRIES, n);
    // Entry N-1 is the time-stamp entry, not a region.
    if (index < 0 || n < 2 || index > n - 2 ||
        !InBounds(ilt.size(), EntryOffset(static_cast<size_t>(index)), ILT_ENTRY_SIZE)) {
        OutputLevelMessage(LEVEL_DEBUG, "ILT_Region_GetRegionByIndex: invalid index %d", index);
        return std::nullopt;
    }
    size_t at = EntryOffset(static_cast<size_t>(index));
    IltRegionEntry e{};
    ReadLE16(ilt, at + ILT_ENT_REGION, e.regionCode);
    for (size_t i = 0; i < 3; ++i)
        ReadU8(ilt, at + ILT_ENT_VERSION + i, e.version[i]);
    ReadLE32(ilt, at + ILT_ENT_OFFSET, e.offset);
    ReadLE32(ilt, at + ILT_ENT_LENGTH, e.length);
    ReadLE16(ilt, at + ILT_ENT_CARD_TYPE, e.swapModeCardType);
    ReadLE16(ilt, at + ILT_ENT_CHIP_REV, e.chipRev);
    return e;
}

std::optional<std::span<const uint8_t>> ILT_Region_GetComponent(std::span<const uint8_t> image,
                                                                const IltRegionEntry &entry) {
    if (!InBounds(image.size(), entry.offset, entry.length)) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "ILT_Region_GetComponent: region 0x%x (offset 0x%x, length 0x%x) lies past the image "
                           "(0x%zx bytes)",
                           entry.regionCode, entry.offset, entry.length, image.size());
        return std::nullopt;
    }
    return image.subspan(entry.offset, entry.length);
}

bool CardTypeComapre(uint16_t regionCardType, int myCardType) {
    unsigned region = regionCardType & ILT_CARD_TYPE_MASK;
    unsigned mine = myCardType < 0 ? 0u : static_cast<unsigned>(myCardType) & ILT_CARD_TYPE_MASK;
    bool pass = region == 0 || (region & mine) != 0;
    OutputLevelMessage(LEVEL_DEBUG, pass ? "CardTypeComapre: %d vs %d passed" : "CardTypeComapre: %d vs %d failed",
                       region, mine);
    return pass;
}

// ---- Card-type lists ----

namespace {

// Visits the card-type lists in order. The visitor gets the list's card
// type, the number of lists, and the entries of the list that lie inside
// the buffer; it returns true to stop. Lists and entries past the buffer
// end the walk.
template <typename Visitor> void ForEachCardList(std::span<const uint8_t> ilt, Visitor visit) {
    uint16_t n = 0;
    if (!ReadLE16(ilt, ILT_HDR_NUM_ENTRIES, n)) return;
    size_t block = EntryOffset(n);
    uint16_t lists = 0;
    if (!ReadLE16(ilt, block, lists)) return;
    size_t pos = block + ILT_CARD_BLOCK_HEADER_SIZE;
    for (uint16_t k = 0; k < lists; ++k) {
        uint16_t type = 0, count = 0;
        if (!InBounds(ilt.size(), pos, ILT_CARD_LIST_HEADER_SIZE)) return;
        ReadLE16(ilt, pos, type);
        ReadLE16(ilt, pos + 2, count);
        size_t first = pos + ILT_CARD_LIST_HEADER_SIZE;
        size_t room = (ilt.size() - first) / ILT_CARD_ENTRY_SIZE;
        size_t inside = count < room ? count : room;
        if (visit(type, count, lists, ilt.subspan(first, inside * ILT_CARD_ENTRY_SIZE))) return;
        if (inside < count) return; // the list runs past the buffer
        pos = first + static_cast<size_t>(count) * ILT_CARD_ENTRY_SIZE;
    }
}

IltCardTypeEntry ReadCardEntry(std::span<const uint8_t> entries, size_t i) {
    IltCardTypeEntry e{};
    size_t at = i * ILT_CARD_ENTRY_SIZE;
    ReadLE16(entries, at, e.vendorID);
    ReadLE16(entries, at + 2, e.deviceID);
    ReadLE16(entries, at + 4, e.ssvid);
    ReadLE16(entries, at + 6, e.ssdid);
    return e;
}

using CardCompare = int (*)(const IltCardTypeEntry *, uint16_t, uint16_t);

int16_t MyCardType(std::span<const uint8_t> ilt, uint16_t ssdid, uint16_t ssvid, CardCompare compare,
                   const char *name) {
    int16_t found = ILT_NO_CARD_TYPE;
    ForEachCardList(ilt, [&](uint16_t type, uint16_t, uint16_t lists, std::span<const uint8_t> entries) {
        // The default list assigns no card type unless it is the only list.
        if (type == 0 && lists != 1) return false;
        for (size_t i = 0; i < entries.size() / ILT_CARD_ENTRY_SIZE; ++i) {
            IltCardTypeEntry e = ReadCardEntry(entries, i);
            if (compare(&e, ssdid, ssvid)) {
                found = static_cast<int16_t>(type);
                return true;
            }
        }
        return false;
    });
    OutputLevelMessage(LEVEL_DEBUG, "%s: card type %d for ssdid=0x%04x ssvid=0x%04x", name, found, ssdid, ssvid);
    return found;
}

bool IdOrWildcard(uint16_t listed, uint16_t adapter) { return listed == 0xFFFF || listed == adapter; }

} // namespace

int ILT_CardTypeList_CompareSignature(const IltCardTypeEntry *entry, uint16_t adapterSsdid, uint16_t adapterSsvid) {
    if (entry == nullptr) return 0;
    bool vendor = entry->vendorID == 0x1077;
    if (vendor && (entry->deviceID == 0x8000 || entry->deviceID == 0x8001)) {
        if (IdOrWildcard(entry->ssdid, adapterSsdid) && IdOrWildcard(entry->ssvid, adapterSsvid)) {
            OutputLevelMessage(LEVEL_DEBUG, "ILT_CardTypeList_CompareSignature: Matched Drommel card type");
            return 1;
        }
        return 0;
    }
    if (vendor && (entry->deviceID == 0x8020 || entry->deviceID == 0x8021)) {
        if (IdOrWildcard(entry->ssdid, adapterSsdid) && IdOrWildcard(entry->ssvid, adapterSsvid)) {
            OutputLevelMessage(LEVEL_DEBUG, "ILT_CardTypeList_CompareSignature: Matched Lark card type");
            return 1;
        }
        return 0;
    }
    if (entry->ssdid == adapterSsdid && entry->ssvid == adapterSsvid) {
        OutputLevelMessage(LEVEL_DEBUG, "ILT_CardTypeList_CompareSignature: Matched card type");
        return 1;
    }
    return 0;
}

int ILT_TeskCardTypeList_CompareSignature(const IltCardTypeEntry *entry, uint16_t adapterSsdid, uint16_t adapterSsvid) {
    if (entry == nullptr) return 0;
    if (entry->ssdid != adapterSsdid || entry->ssvid != adapterSsvid) return 0;
    const char *what = "Found matching card type";
    if ((entry->deviceID == 0x8030 || entry->deviceID == 0x8031) && entry->vendorID == 0x1077)
        what = "Found matching Tesk CNA card type";
    else if (entry->deviceID == 0x2031)
        what = "Found matching Tesk FC card type";
    else if (entry->deviceID == 0x8044)
        what = "Found matching Brov CNA card type";
    OutputLevelMessage(LEVEL_DEBUG, "ILT_TeskCardTypeList_CompareSignature: %s", what);
    return 1;
}

int SearchSignatureInDefaultCardList(std::span<const uint8_t> ilt, uint16_t ssdid, uint16_t ssvid) {
    int found = 0;
    ForEachCardList(ilt, [&](uint16_t type, uint16_t, uint16_t, std::span<const uint8_t> entries) {
        if (type != 0) return false;
        for (size_t i = 0; i < entries.size() / ILT_CARD_ENTRY_SIZE; ++i) {
            IltCardTypeEntry e = ReadCardEntry(entries, i);
            if (ILT_CardTypeList_CompareSignature(&e, ssdid, ssvid)) {
                found = 1;
                return true;
            }
        }
        return false;
    });
    OutputLevelMessage(LEVEL_DEBUG, "SearchSignatureInDefaultCardList: return %d", found);
    return found;
}

int16_t ILT_CardTypeList_GetMyCardTypeFromCardList(std::span<const uint8_t> ilt, uint16_t ssdid, uint16_t ssvid) {
    return MyCardType(ilt, ssdid, ssvid, ILT_CardTypeList_CompareSignature,
                      "ILT_CardTypeList_GetMyCardTypeFromCardList");
}

int16_t ILT_LarkCardTypeList_GetMyCardTypeFromCardList(std::span<const uint8_t> ilt, uint16_t ssdid, uint16_t ssvid) {
    return MyCardType(ilt, ssdid, ssvid, ILT_CardTypeList_CompareSignature,
                      "ILT_LarkCardTypeList_GetMyCardTypeFromCardList");
}

int16_t ILT_TeskCardTypeList_GetMyCardTypeFromCardList(std::span<const uint8_t> ilt, uint16_t ssdid, uint16_t ssvid) {
    return MyCardType(ilt, ssdid, ssvid, ILT_TeskCardTypeList_CompareSignature,
                      "ILT_TeskCardTypeList_GetMyCardTypeFromCardList");
}

void ILT_LogCardTypeLists(std::span<const uint8_t> ilt, const char *caller) {
    ForEachCardList(ilt, [&](uint16_t type, uint16_t count, uint16_t, std::span<const uint8_t>) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: card type list 0x%x noEntriesInList=%u", caller, type, count);
        return false;
    });
}

// ---- Region checks ----

namespace {

enum class RevRule {
    Any,     // every revision
    PepFw,   // every revision; the entry names the PEP firmware variant
    CrbInit, // 0x70
    LarkFw,  // 0x74
    TeskFw,  // 0x97
    ZeroA3,  // only revision 0
    ZeroB1,  // only revision 0
};

struct RevRow {
    uint16_t code;
    RevRule rule;
};

constexpr RevRow kRevTable[] = {
    {0x00, RevRule::Any},    {0x01, RevRule::Any},    {0x07, RevRule::Any},     {0x11, RevRule::Any},
    {0x13, RevRule::Any},    {0x14, RevRule::Any},    {0x16, RevRule::Any},     {0x2E, RevRule::Any},
    {0x4F, RevRule::Any},    {0x66, RevRule::Any},    {0x72, RevRule::Any},     {0x73, RevRule::Any},
    {0x95, RevRule::Any},    {0x96, RevRule::Any},    {0x9E, RevRule::Any},     {0xA2, RevRule::Any},
    {0xA4, RevRule::Any},    {0xBA, RevRule::Any},    {0xCF, RevRule::Any},     {0xD2, RevRule::Any},
    {0xD3, RevRule::Any},    {0xD4, RevRule::Any},    {0xD6, RevRule::Any},     {0xE1, RevRule::Any},
    {0xE5, RevRule::Any},    {0xD1, RevRule::PepFw},  {0x70, RevRule::CrbInit}, {0x74, RevRule::LarkFw},
    {0x97, RevRule::TeskFw}, {0xA3, RevRule::ZeroA3}, {0xB1, RevRule::ZeroB1},  {0x101, RevRule::Any},
    {0x102, RevRule::Any},   {0x103, RevRule::Any},   {0x10C, RevRule::Any},    {0x10E, RevRule::Any},
    {0x110, RevRule::Any},   {0x112, RevRule::Any},
};

const RevRow *FindRevRow(uint16_t code) {
    for (const RevRow &row : kRevTable)
        if (row.code == code) return &row;
    return nullptr;
}

constexpr uint16_t LARK_REV_A = 0x54;
constexpr uint16_t LARK_REV_B = 0x58;

int ApplyRevRule(const IltRegionEntry &e, RevRule rule, uint16_t adapterRev) {
    uint16_t imgRev = e.chipRev;
    switch (rule) {
    case RevRule::Any: return 0;
    case RevRule::PepFw: {
        uint16_t variant = e.swapModeCardType;
        const char *what = variant <= 1   ? "Fenwar PEP OP Firmware"
                           : variant == 2 ? "Ovipper PEP OP Firmware"
                                          : "Unknown OP Firmware";
        OutputLevelMessage(LEVEL_DEBUG, "ValidateImageChipRevision: %s", what);
        return 0;
    }
    case RevRule::CrbInit:
        if (imgRev == 0) return 0;
        if (adapterRev == 0) return ILT_CHIPREV_NO_ADAPTER_REV;
        return adapterRev == imgRev ? 0 : ILT_CHIPREV_MISMATCH;
    case RevRule::LarkFw:
        if (imgRev == 0) return adapterRev == LARK_REV_A ? 0 : ILT_CHIPREV_WRONG_FAMILY;
        if (adapterRev == LARK_REV_A) return imgRev == LARK_REV_A ? 0 : ILT_CHIPREV_WRONG_FAMILY;
        return ILT_CHIPREV_MISMATCH;
    case RevRule::TeskFw:
        if (imgRev == 0) return 0;
        if (adapterRev < LARK_REV_B) return ILT_CHIPREV_WRONG_FAMILY;
        return adapterRev == imgRev ? 0 : ILT_CHIPREV_MISMATCH;
    case RevRule::ZeroA3: return imgRev == 0 ? 0 : ILT_CHIPREV_A3_REVISED;
    case RevRule::ZeroB1: return imgRev == 0 ? 0 : ILT_CHIPREV_B1_REVISED;
    }
    return ILT_CHIPREV_MISMATCH;
}

} // namespace

int ValidateImageChipRevision(const IltRegionEntry *entry, uint16_t adapterChipRev) {
    if (entry == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateImageChipRevision: no region entry");
        return ILT_CHIPREV_MISMATCH;
    }
    OutputLevelMessage(LEVEL_DEBUG,
                       "ValidateImageChipRevision: Region=0x%x ChipRev=0x%x CardType=0x%x Offset=0x%x Length=0x%x "
                       "(HBA ChipRev=0x%x)",
                       entry->regionCode, entry->chipRev, entry->swapModeCardType, entry->offset, entry->length,
                       adapterChipRev);
    const RevRow *row = FindRevRow(entry->regionCode);
    int ret = row != nullptr ? ApplyRevRule(*entry, row->rule, adapterChipRev) : ILT_CHIPREV_MISMATCH;
    OutputLevelMessage(LEVEL_DEBUG, "ValidateImageChipRevision: Region No=0x%x Ret=%d", entry->regionCode, ret);
    return ret;
}

int ValidateILTRegionLen(std::span<const uint8_t> ilt, uint32_t fltRegionCode, uint32_t fltRegionSize) {
    if (ilt.empty()) return 0;
    uint16_t n = ILT_Header_GetNumOfRegionEntries(ilt);
    if (n < 2) return 0;
    for (int i = 0; i <= n - 2; ++i) {
        std::optional<IltRegionEntry> e = ILT_Region_GetRegionByIndex(ilt, i);
        if (!e) return 0;
        if (e->regionCode != fltRegionCode) continue;
        if (e->length > fltRegionSize) {
            OutputLevelMessage(LEVEL_DEBUG, "ValidateILTRegionLen: Incorrect region size!!!");
            return ILT_REGION_TOO_LONG;
        }
        return 0;
    }
    return 0;
}
