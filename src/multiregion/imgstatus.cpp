#include "multiregion/imgstatus.h"

#include "image/helpers.h"

namespace {

std::span<const uint8_t> Record(std::span<const uint8_t> r) {
    return r.size() >= IMAGE_STATUS_RECORD_SIZE ? r.first(IMAGE_STATUS_RECORD_SIZE) : std::span<const uint8_t>{};
}
std::span<uint8_t> Record(std::span<uint8_t> r) {
    return r.size() >= IMAGE_STATUS_RECORD_SIZE ? r.first(IMAGE_STATUS_RECORD_SIZE) : std::span<uint8_t>{};
}

uint8_t U8(std::span<const uint8_t> r, size_t off) {
    uint8_t v = 0;
    return ReadU8(Record(r), off, v) ? v : 0;
}
uint16_t U16(std::span<const uint8_t> r, size_t off) {
    uint16_t v = 0;
    return ReadLE16(Record(r), off, v) ? v : 0;
}
uint32_t U32(std::span<const uint8_t> r, size_t off) {
    uint32_t v = 0;
    return ReadLE32(Record(r), off, v) ? v : 0;
}

// Primary-set region and its alternate. byBoardConfig: the pair follows
// ActiveBoardConfig instead of ActiveGlobalRegions.
struct AlternateRow {
    uint32_t region;
    uint32_t alternate;
    bool byBoardConfig;
};
constexpr AlternateRow kAlternates[] = {
    {0x01, 0x02, false},   {0x07, 0x09, false},   {0x11, 0x0A, false},   {0x13, 0x107, false},  {0x95, 0x96, false},
    {0x96, 0x95, false},   {0x9E, 0x9F, false},   {0xBA, 0x10B, true},   {0xCF, 0x106, false},  {0xD1, 0xF1, false},
    {0xD2, 0x105, false},  {0xD3, 0xF0, false},   {0xDF, 0x124, false},  {0x124, 0xDF, false},  {0x101, 0x108, false},
    {0x102, 0x109, false}, {0x103, 0x10A, false}, {0x125, 0x126, false}, {0x126, 0x125, false},
};

// Fenwar secured-online sequence: set-2 region of an image code.
struct SetTwoRow {
    uint32_t region;
    uint32_t setTwo;
};
constexpr SetTwoRow kFenwarSetTwo[] = {
    {0x01, 0x02}, {0x07, 0x09}, {0x66, 0x67}, {0x9E, 0x9F}, {0xE1, 0xE5},
};

} // namespace

uint8_t CoreGetImageStatusMask(std::span<const uint8_t> record) { return U8(record, IMAGE_STATUS_OFF_MASK) & 1u; }
uint16_t CoreGetImageStatusGenerationNumber(std::span<const uint8_t> record) {
    return U16(record, IMAGE_STATUS_OFF_GENERATION);
}
uint16_t CoreGetImageStatusVersion(std::span<const uint8_t> record) { return U16(record, IMAGE_STATUS_OFF_VERSION); }
uint8_t CoreGetImageStatusComponentsBitMap(std::span<const uint8_t> record) {
    return U8(record, IMAGE_STATUS_OFF_BITMAP);
}
uint8_t CoreGetImageStatusToolId(std::span<const uint8_t> record) { return U8(record, IMAGE_STATUS_OFF_TOOL_ID); }
uint32_t CoreGetImageStatusCheckSum(std::span<const uint8_t> record) { return U32(record, IMAGE_STATUS_OFF_CHECKSUM); }
uint32_t CoreGetImageStatusSignature(std::span<const uint8_t> record) {
    return U32(record, IMAGE_STATUS_OFF_SIGNATURE);
}

bool CoreSetImageStatusMask(std::span<uint8_t> record, bool active) {
    std::span<uint8_t> r = Record(record);
    if (r.empty()) return false;
    r[IMAGE_STATUS_OFF_MASK] =
        static_cast<uint8_t>(active ? (r[IMAGE_STATUS_OFF_MASK] | 1u) : (r[IMAGE_STATUS_OFF_MASK] & ~1u));
    return true;
}
bool CoreSetImageStatusGenerationNumber(std::span<uint8_t> record, uint16_t generation) {
    return WriteLE16(Record(record), IMAGE_STATUS_OFF_GENERATION, generation);
}
bool CoreSetImageStatusComponentsBitMap(std::span<uint8_t> record, uint8_t bitmap) {
    return WriteU8(Record(record), IMAGE_STATUS_OFF_BITMAP, bitmap);
}
bool CoreSetImageStatusToolId(std::span<uint8_t> record, uint8_t toolId) {
    return WriteU8(Record(record), IMAGE_STATUS_OFF_TOOL_ID, toolId);
}

uint32_t CoreCalculateChecksum32(std::span<uint8_t> buffer, size_t size, size_t offset) {
    (void)offset;
    if (size > buffer.size() || !WriteLE32(buffer, IMAGE_STATUS_OFF_CHECKSUM, 0)) return 0;
    uint32_t sum = HLPR_Sum32(buffer.first(size), size / 4);
    uint32_t checksum = 0u - sum;
    WriteLE32(buffer, IMAGE_STATUS_OFF_CHECKSUM, checksum);
    return checksum;
}

int CoreValidateChecksum32(std::span<const uint8_t> buffer, size_t size) {
    if (size > buffer.size()) return -1;
    return HLPR_Sum32(buffer.first(size), size / 4) == 0 ? 0 : -1;
}

int CoreIsImageStatusRegionValid(std::span<const uint8_t> record, uint32_t signature) {
    std::span<const uint8_t> r = Record(record);
    if (r.empty()) return 0;
    return CoreGetImageStatusSignature(r) == signature && CoreValidateChecksum32(r, IMAGE_STATUS_RECORD_SIZE) == 0;
}

void resetImageStatusHeader(std::span<uint8_t> record) {
    std::span<uint8_t> r = Record(record);
    if (r.empty()) return;
    WriteLE32(r, IMAGE_STATUS_OFF_SIGNATURE, IMAGE_STATUS_SIGNATURE_FENWAR);
    CoreCalculateChecksum32(r, IMAGE_STATUS_RECORD_SIZE, IMAGE_STATUS_OFF_CHECKSUM);
}

uint16_t CoreNextImageStatusGeneration(uint16_t a, uint16_t b) {
    unsigned next = static_cast<unsigned>(a > b ? a : b) + 1u;
    return next > IMAGE_STATUS_MAX_GENERATION ? 1 : static_cast<uint16_t>(next);
}

ImageStatusView CoreViewImageStatus(std::span<const uint8_t> record, uint32_t signature) {
    ImageStatusView v{};
    if (CoreIsImageStatusRegionValid(record, signature) == 0) return v;
    v.valid = true;
    v.mask = CoreGetImageStatusMask(record);
    v.generation = CoreGetImageStatusGenerationNumber(record);
    v.bitmap = CoreGetImageStatusComponentsBitMap(record);
    v.toolId = CoreGetImageStatusToolId(record);
    return v;
}

uint8_t CoreDecideActiveSet(const ImageStatusView &primary, const ImageStatusView &secondary, uint16_t *generation) {
    bool second = primary.mask != 0 ? (secondary.mask != 0 && secondary.generation > primary.generation)
                                    : (secondary.mask != 0 || secondary.generation > primary.generation);
    if (generation != nullptr) *generation = second ? secondary.generation : primary.generation;
    return second ? 2 : 1;
}

void CoreDecideAuxAreas(const ImageStatusView &auxPrimary, const ImageStatusView &auxSecondary,
                        const ImageStatusView &primary, const ImageStatusView &secondary, uint8_t areas[4],
                        uint8_t *toolId) {
    uint8_t tool = 0;
    for (unsigned i = 0; i < 4; ++i) {
        if (auxPrimary.mask == 0 && auxSecondary.mask != 0) {
            areas[i] = ((auxSecondary.bitmap >> i) & 1u) != 0 ? 2 : 1;
            tool = auxSecondary.toolId;
        } else if (auxPrimary.mask != 0 && auxSecondary.mask == 0) {
            areas[i] = ((auxPrimary.bitmap >> i) & 1u) != 0 ? 2 : 1;
            tool = auxPrimary.toolId;
        } else {
            bool second = (primary.mask == secondary.mask) && secondary.generation > primary.generation;
            areas[i] = second ? 2 : 1;
            tool = second ? auxSecondary.toolId : auxPrimary.toolId;
        }
    }
    if (toolId != nullptr) *toolId = tool;
}

uint8_t CoreChooseAuxSetToUpdate(const ImageStatusView &auxPrimary, const ImageStatusView &auxSecondary) {
    if (auxPrimary.mask != 0 && auxSecondary.mask == 0) return 2;
    if (auxPrimary.mask == 0 && auxSecondary.mask != 0) return 1;
    return auxPrimary.generation < auxSecondary.generation ? 1 : 2;
}

uint32_t CoreGetAlternateRegion(uint32_t region, const TVX_ACTIVE_REGIONS &activeRegions) {
    for (const AlternateRow &row : kAlternates) {
        if (row.region != region) continue;
        uint8_t active = row.byBoardConfig ? activeRegions.ActiveBoardConfig : activeRegions.ActiveGlobalRegions;
        return active == 1 ? row.alternate : region;
    }
    return region;
}

uint32_t GetActualRegionToUpdate(uint32_t region, int set) {
    if (set != 2) return region;
    for (const SetTwoRow &row : kFenwarSetTwo)
        if (row.region == region) return row.setTwo;
    return region;
}
