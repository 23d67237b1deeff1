// Fuzz target: the data-file field grammar and its bit packing into a
// small image, with the board-config keyword roles.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "datafiles/datgrammar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const datfile::Keyword kRoles[] = {{"checksum", 1}, {"version", 2}, {"feature_exclusive", 3},
                                              {"subsystem vendor ID", 4}, {"subsystem device id", 5},
                                              {"Signature", 6}};
    std::vector<uint8_t> image(256, 0xA5);
    size_t laid = 0;
    size_t fields = 0;
    auto onField = [&](const datfile::FieldLine &f, const datfile::LaidField &where, std::span<uint8_t> img) {
        // Every field lies inside the image and fits its declared width.
        if (where.offset + where.count > img.size()) __builtin_trap();
        if (f.kind == datfile::LineKind::Numeric && (f.bits == 0 || f.bits > 32)) __builtin_trap();
        ++fields;
        return 0;
    };
    int st = datfile::LayDownFile({data, size}, kRoles, 128, image, onField, &laid, "fuzz");
    if (st == 0 && (laid > image.size() || fields == 0)) __builtin_trap();
    return 0;
}
