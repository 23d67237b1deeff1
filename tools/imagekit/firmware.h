// FC firmware files of the classic adapters: big-endian 32-bit words in two
// blocks, each of which sums to zero; word 3 of each block is its length in
// words. The chip marker "CXR<2 digits>xxFirmware" sits in the first block,
// the version (major, minor, sub-minor) in words 4, 5 and 6.
#pragma once

#include <cstdint>
#include <string>

#include "bytes.h"

namespace imagekit {

struct FirmwareFaults {
    bool badChecksum1 = false;  // first block does not sum to zero
    bool badChecksum2 = false;  // second block does not sum to zero
    bool noMarker = false;      // chip marker missing
    bool zeroLength = false;    // first block length word 0
    bool lengthPastEnd = false; // first block length beyond the file
    size_t truncateTo = 0;      // cut the file to this many bytes (0: no cut)
};

struct FirmwareSpec {
    std::string chip = "2532"; // chip whose marker the file carries
    uint8_t major = 8, minor = 2, subMinor = 1;
    size_t block1Words = 0x4000; // 64 KB
    size_t block2Words = 0x1000; // 16 KB
    size_t padTo = 0;            // pad the file with 0xFF to this size
    uint32_t seed = 5;
    FirmwareFaults faults;
};

inline std::string FirmwareMarker(const std::string &chip) {
    std::string two = chip.size() >= 2 ? chip.substr(0, 2) : chip;
    return "CXR" + two + "xxFirmware";
}

// Makes the big-endian words [from, from + count) sum to zero through the
// last word.
inline void FixWordBlock(Bytes &b, size_t fromWord, size_t count) {
    if (count == 0) return;
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < count; ++i)
        sum += GetBE32(b, 4 * (fromWord + i));
    PutBE32(b, 4 * (fromWord + count - 1), static_cast<uint32_t>(0u - sum));
}

inline Bytes BuildFirmware(const FirmwareSpec &s) {
    size_t l1 = s.block1Words < 16 ? 16 : s.block1Words;
    size_t l2 = s.block2Words < 8 ? 8 : s.block2Words;
    Bytes b(4 * (l1 + l2), 0);
    FillPattern(b, 0, b.size(), s.seed);
    // First block: load address, entry, attributes, length, version, marker.
    PutBE32(b, 0, 0x00100000);
    PutBE32(b, 4, 0x00100000);
    PutBE32(b, 8, 0x00000001);
    PutBE32(b, 12, static_cast<uint32_t>(l1));
    PutBE32(b, 16, s.major);
    PutBE32(b, 20, s.minor);
    PutBE32(b, 24, s.subMinor);
    PutBE32(b, 28, 0);
    std::string marker = s.faults.noMarker ? std::string("NOMARKER-------") : FirmwareMarker(s.chip);
    for (size_t i = 0; i < 16; ++i)
        b[32 + i] = 0;
    PutText(b, 32, marker, 16);
    FixWordBlock(b, 0, l1);
    // Second block.
    size_t w = l1;
    PutBE32(b, 4 * w, 0x00200000);
    PutBE32(b, 4 * (w + 1), 0);
    PutBE32(b, 4 * (w + 2), 0x00000002);
    PutBE32(b, 4 * (w + 3), static_cast<uint32_t>(l2));
    FixWordBlock(b, l1, l2);
    if (s.faults.badChecksum1) b[4 * (l1 - 1) + 3] ^= 0x01;
    if (s.faults.badChecksum2) b[4 * (l1 + l2 - 1) + 3] ^= 0x01;
    if (s.faults.zeroLength) PutBE32(b, 12, 0);
    if (s.faults.lengthPastEnd) PutBE32(b, 12, 0x7FFFFFF0u);
    if (s.padTo > b.size()) b.resize(s.padTo, 0xFF);
    if (s.faults.truncateTo != 0 && s.faults.truncateTo < b.size()) b.resize(s.faults.truncateTo);
    return b;
}

} // namespace imagekit
