// Image status records: accessors, checksum, validity, the active-set and
// auxiliary area rules and the region maps, on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_common.h"
#include "multiregion/imgstatus.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const uint32_t kSignatures[] = {IMAGE_STATUS_SIGNATURE_FENWAR, IMAGE_STATUS_SIGNATURE_ZULT,
                                           IMAGE_STATUS_SIGNATURE_AUX, 0};
    if (size < 3) return 0;
    const uint32_t signature = kSignatures[data[0] & 3];
    const size_t sumSize = data[1];
    const TVX_ACTIVE_REGIONS active{uint8_t(data[2] & 3), uint8_t((data[2] >> 2) & 3), 1, 1, 1, {}};
    std::vector<uint8_t> bytes(data + 3, data + size);
    std::span<const uint8_t> view(bytes);

    // Four records (missing ones are empty) through the rules.
    ImageStatusView v[4] = {};
    for (size_t i = 0; i < 4; ++i) {
        std::span<const uint8_t> rec = view.size() > i * 16 ? view.subspan(i * 16) : std::span<const uint8_t>();
        (void)CoreGetImageStatusVersion(rec);
        (void)CoreGetImageStatusCheckSum(rec);
        v[i] = CoreViewImageStatus(rec, signature);
        FUZZ_CHECK(v[i].valid == (CoreIsImageStatusRegionValid(rec, signature) == 1));
        FUZZ_CHECK(v[i].valid || (v[i].mask == 0 && v[i].generation == 0));
        FUZZ_CHECK(v[i].mask <= 1);
    }
    uint16_t generation = 0;
    uint8_t set = CoreDecideActiveSet(v[0], v[1], &generation);
    FUZZ_CHECK(set == 1 || set == 2);
    FUZZ_CHECK(generation == (set == 1 ? v[0].generation : v[1].generation));
    uint8_t areas[4] = {};
    uint8_t tool = 0;
    CoreDecideAuxAreas(v[2], v[3], v[0], v[1], areas, &tool);
    for (uint8_t a : areas)
        FUZZ_CHECK(a == 1 || a == 2);
    uint8_t auxSet = CoreChooseAuxSetToUpdate(v[2], v[3]);
    FUZZ_CHECK(auxSet == 1 || auxSet == 2);
    uint16_t next = CoreNextImageStatusGeneration(v[0].generation, v[1].generation);
    FUZZ_CHECK(next >= 1 && next <= IMAGE_STATUS_MAX_GENERATION);

    // A recomputed checksum makes the summed bytes add up to zero.
    std::vector<uint8_t> copy = bytes;
    CoreCalculateChecksum32(copy, sumSize, 8);
    if (sumSize >= 12 && sumSize <= copy.size()) FUZZ_CHECK(CoreValidateChecksum32(copy, sumSize) == 0);
    FUZZ_CHECK(CoreValidateChecksum32(copy, copy.size() + 1) == -1);
    resetImageStatusHeader(copy);
    if (copy.size() >= 16) FUZZ_CHECK(CoreIsImageStatusRegionValid(copy, IMAGE_STATUS_SIGNATURE_FENWAR) == 1);

    // Region maps: a region maps to itself or to its partner of the table.
    uint32_t region = bytes.size() >= 2 ? uint32_t(bytes[0] | (bytes[1] << 8)) : 0;
    const TVX_ACTIVE_REGIONS primary{1, 1, 1, 1, 1, {}};
    uint32_t alt = CoreGetAlternateRegion(region, active);
    FUZZ_CHECK(alt == region || alt == CoreGetAlternateRegion(region, primary));
    FUZZ_CHECK(GetActualRegionToUpdate(region, 1) == region);
    (void)GetActualRegionToUpdate(region, 2);
    return 0;
}
