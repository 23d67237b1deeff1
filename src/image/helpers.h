// Small byte helpers: bounds-checked little-/big-endian readers and writers
// over byte spans, and the wrapping word sums on which table checksums rest.
// Every reader/writer returns false (and leaves the output untouched) when
// the field does not lie completely inside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// True when [off, off + len) lies inside a buffer of 'size' bytes.
inline bool InBounds(size_t size, size_t off, size_t len) { return off <= size && len <= size - off; }

inline bool ReadU8(std::span<const uint8_t> buf, size_t off, uint8_t &out) {
    if (!InBounds(buf.size(), off, 1)) return false;
    out = buf[off];
    return true;
}

inline bool ReadLE16(std::span<const uint8_t> buf, size_t off, uint16_t &out) {
    if (!InBounds(buf.size(), off, 2)) return false;
    out = static_cast<uint16_t>(buf[off] | (buf[off + 1] << 8));
    return true;
}

inline bool ReadLE32(std::span<const uint8_t> buf, size_t off, uint32_t &out) {
    if (!InBounds(buf.size(), off, 4)) return false;
    out = static_cast<uint32_t>(buf[off]) | (static_cast<uint32_t>(buf[off + 1]) << 8) |
          (static_cast<uint32_t>(buf[off + 2]) << 16) | (static_cast<uint32_t>(buf[off + 3]) << 24);
    return true;
}

inline bool ReadBE16(std::span<const uint8_t> buf, size_t off, uint16_t &out) {
    if (!InBounds(buf.size(), off, 2)) return false;
    out = static_cast<uint16_t>((buf[off] << 8) | buf[off + 1]);
    return true;
}

inline bool ReadBE32(std::span<const uint8_t> buf, size_t off, uint32_t &out) {
    if (!InBounds(buf.size(), off, 4)) return false;
    out = (static_cast<uint32_t>(buf[off]) << 24) | (static_cast<uint32_t>(buf[off + 1]) << 16) |
          (static_cast<uint32_t>(buf[off + 2]) << 8) | static_cast<uint32_t>(buf[off + 3]);
    return true;
}

inline bool WriteU8(std::span<uint8_t> buf, size_t off, uint8_t v) {
    if (!InBounds(buf.size(), off, 1)) return false;
    buf[off] = v;
    return true;
}

inline bool WriteLE16(std::span<uint8_t> buf, size_t off, uint16_t v) {
    if (!InBounds(buf.size(), off, 2)) return false;
    buf[off] = static_cast<uint8_t>(v);
    buf[off + 1] = static_cast<uint8_t>(v >> 8);
    return true;
}

inline bool WriteLE32(std::span<uint8_t> buf, size_t off, uint32_t v) {
    if (!InBounds(buf.size(), off, 4)) return false;
    for (size_t i = 0; i < 4; ++i)
        buf[off + i] = static_cast<uint8_t>(v >> (8 * i));
    return true;
}

inline bool WriteBE16(std::span<uint8_t> buf, size_t off, uint16_t v) {
    if (!InBounds(buf.size(), off, 2)) return false;
    buf[off] = static_cast<uint8_t>(v >> 8);
    buf[off + 1] = static_cast<uint8_t>(v);
    return true;
}

inline bool WriteBE32(std::span<uint8_t> buf, size_t off, uint32_t v) {
    if (!InBounds(buf.size(), off, 4)) return false;
    for (size_t i = 0; i < 4; ++i)
        buf[off + i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
    return true;
}

// Wrapping sum of 'count' 16-bit little-endian words from the start of the
// buffer. Words beyond the buffer are not read: the count is cut to the
// number of whole words the buffer holds.
uint16_t HLPR_Sum16(std::span<const uint8_t> buf, size_t count);
// Wrapping sum of 'count' 32-bit little-endian words, cut like HLPR_Sum16.
uint32_t HLPR_Sum32(std::span<const uint8_t> buf, size_t count);
