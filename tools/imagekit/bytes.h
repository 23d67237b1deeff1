// Byte-level writing for the image kit (independent of the program's own
// helpers). Writers grow nothing: callers size their buffers first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace imagekit {

using Bytes = std::vector<uint8_t>;

inline void PutLE16(Bytes &b, size_t off, uint16_t v) {
    b.at(off) = static_cast<uint8_t>(v);
    b.at(off + 1) = static_cast<uint8_t>(v >> 8);
}

inline void PutLE32(Bytes &b, size_t off, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        b.at(off + i) = static_cast<uint8_t>(v >> (8 * i));
}

inline void PutBE32(Bytes &b, size_t off, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        b.at(off + i) = static_cast<uint8_t>(v >> (8 * (3 - i)));
}

inline uint16_t GetLE16(const Bytes &b, size_t off) { return static_cast<uint16_t>(b.at(off) | (b.at(off + 1) << 8)); }

inline uint32_t GetBE32(const Bytes &b, size_t off) {
    return (static_cast<uint32_t>(b.at(off)) << 24) | (static_cast<uint32_t>(b.at(off + 1)) << 16) |
           (static_cast<uint32_t>(b.at(off + 2)) << 8) | static_cast<uint32_t>(b.at(off + 3));
}

inline void PutText(Bytes &b, size_t off, const std::string &text, size_t maxLen) {
    size_t n = text.size() < maxLen ? text.size() : maxLen;
    for (size_t i = 0; i < n; ++i)
        b.at(off + i) = static_cast<uint8_t>(text[i]);
}

// Deterministic filler so that images are not all zero and checksums mean
// something; 'seed' makes images of one chain differ.
inline void FillPattern(Bytes &b, size_t from, size_t to, uint32_t seed) {
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (size_t i = from; i < to && i < b.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = static_cast<uint8_t>(x);
    }
}

// Appends 'tail' to 'head'.
inline void Append(Bytes &head, const Bytes &tail) { head.insert(head.end(), tail.begin(), tail.end()); }

} // namespace imagekit
