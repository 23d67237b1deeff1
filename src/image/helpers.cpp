#include "image/helpers.h"

#include "app/output.h"

uint16_t HLPR_Sum16(std::span<const uint8_t> buf, size_t count) {
    OutputLevelMessage(LEVEL_DEBUG, "HLPR_Sum16: size=%zx ", count);
    if (count > buf.size() / 2) count = buf.size() / 2;
    uint16_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        uint16_t word = 0;
        ReadLE16(buf, 2 * i, word);
        sum = static_cast<uint16_t>(sum + word);
    }
    OutputLevelMessage(LEVEL_DEBUG, "HLPR_Sum16: return %x", sum);
    return sum;
}

uint32_t HLPR_Sum32(std::span<const uint8_t> buf, size_t count) {
    OutputLevelMessage(LEVEL_DEBUG, "HLPR_Sum32: size=%zx ", count);
    if (count > buf.size() / 4) count = buf.size() / 4;
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t word = 0;
        ReadLE32(buf, 4 * i, word);
        sum += word;
    }
    OutputLevelMessage(LEVEL_DEBUG, "HLPR_Sum32: return %x", sum);
    return sum;
}
