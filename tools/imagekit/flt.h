// Flash layout table locator ("OFLT", eight 16-bit words summing to zero)
// and a flash layout table (header of four 16-bit words and 16-byte region
// entries).
#pragma once

#include <cstdint>
#include <vector>

#include "bytes.h"

namespace imagekit {

struct FltLocatorFaults {
    bool badChecksum = false;
    bool badSignature = false; // "OFLX"
    bool lowerCase = false;    // "oflt" (still valid: case is ignored)
    bool nonZeroAfter = false; // byte after the signature not zero
};

// Locator: "OFLT", word 2 zero (terminates the signature text), word 3 the
// table version, words 4-5 the table's flash address, word 7 checksum.
inline Bytes BuildFltLocator(uint32_t tableAddress = 0, uint16_t version = 1, FltLocatorFaults f = {}) {
    Bytes b(16, 0);
    PutText(b, 0, f.badSignature ? "OFLX" : (f.lowerCase ? "oflt" : "OFLT"), 4);
    if (f.nonZeroAfter) b[4] = 'X';
    PutLE16(b, 6, version);
    PutLE32(b, 8, tableAddress);
    uint16_t sum = 0;
    for (size_t i = 0; i < 7; ++i)
        sum = static_cast<uint16_t>(sum + GetLE16(b, 2 * i));
    PutLE16(b, 14, static_cast<uint16_t>(0u - sum));
    if (f.badChecksum) b[14] ^= 0x01;
    return b;
}

struct FltRegion {
    uint32_t code = 0;
    uint32_t size = 0;
    uint32_t start = 0;
};

// Table: header (version, length of the entries in bytes, checksum, 0),
// the entries (code, size, start, end; little-endian u32 each) and a
// 16-byte zero tail, so that the (length + 24) / 2 words from the header
// start sum to zero.
inline Bytes BuildFlt(uint16_t version, const std::vector<FltRegion> &regions, bool badChecksum = false) {
    size_t length = 16 * regions.size();
    Bytes b(8 + length + 16, 0);
    PutLE16(b, 0, version);
    PutLE16(b, 2, static_cast<uint16_t>(length));
    for (size_t i = 0; i < regions.size(); ++i) {
        size_t at = 8 + 16 * i;
        PutLE32(b, at, regions[i].code);
        PutLE32(b, at + 4, regions[i].size);
        PutLE32(b, at + 8, regions[i].start);
        PutLE32(b, at + 12, regions[i].start + regions[i].size - 1);
    }
    uint16_t sum = 0;
    for (size_t i = 0; i < (length + 24) / 2; ++i)
        sum = static_cast<uint16_t>(sum + GetLE16(b, 2 * i));
    PutLE16(b, 4, static_cast<uint16_t>(0u - sum));
    if (badChecksum) b[4] ^= 0x01;
    return b;
}

} // namespace imagekit
