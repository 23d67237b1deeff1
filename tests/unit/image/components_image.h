// Multi-region images for the component tests: a layout table (header,
// region entries, time-stamp entry, one default card-type list) followed by
// the kit-built components at 512-byte aligned offsets.
#pragma once

#include <cstdint>
#include <vector>

#include "../tools/imagekit/components.h"

namespace compimg {

namespace ik = imagekit;

struct Part {
    uint16_t code = 0;
    ik::Bytes data;
    ik::Version3 version{}; // entry version bytes
    uint16_t cardType = 0;  // entry card-type mask
    uint16_t chipRev = 0;   // entry chip revision
    int64_t offset = -1;    // override of the entry's offset
    int64_t length = -1;    // override of the entry's length
};

struct Header {
    uint8_t image[3] = {3, 14, 15};
    uint8_t month = 7, day = 21;
    uint16_t year = 2025;
    uint8_t ffv[4] = {11, 22, 33, 44}; // header bytes 21-24
    int entryCount = -1;               // override of N
};

inline Part Make(uint16_t code, ik::Bytes data, ik::Version3 v = {}, uint16_t cardType = 0, uint16_t chipRev = 0) {
    Part p;
    p.code = code;
    p.data = std::move(data);
    p.version = v;
    p.cardType = cardType;
    p.chipRev = chipRev;
    return p;
}

inline ik::Bytes Build(const std::vector<Part> &parts, const Header &h = {}) {
    size_t n = parts.size() + 1; // time-stamp entry
    size_t table = 32 * (n + 1) + 8 + 8 + 8;
    size_t at = (table + 0x1FF) & ~size_t{0x1FF};
    std::vector<size_t> offsets;
    for (const auto &p : parts) {
        offsets.push_back(at);
        at = (at + p.data.size() + 0x1FF) & ~size_t{0x1FF};
    }
    ik::Bytes img(at, 0xFF);
    for (size_t i = 0; i < table; ++i)
        img[i] = 0;
    ik::PutText(img, 0, "OILT", 4);
    ik::PutLE16(img, 4, 4);
    ik::PutLE16(img, 6, static_cast<uint16_t>(table));
    ik::PutLE16(img, 10, static_cast<uint16_t>(h.entryCount >= 0 ? h.entryCount : static_cast<int>(n)));
    img[13] = h.image[0];
    img[14] = h.image[1];
    img[15] = h.image[2];
    img[16] = h.month;
    img[17] = h.day;
    ik::PutLE16(img, 18, h.year);
    for (size_t i = 0; i < 4; ++i)
        img[21 + i] = h.ffv[i];
    for (size_t i = 0; i < parts.size(); ++i) {
        const Part &p = parts[i];
        size_t e = 32 * (i + 1);
        ik::PutLE16(img, e, p.code);
        img[e + 3] = p.version.major;
        img[e + 4] = p.version.minor;
        img[e + 5] = p.version.subMinor;
        ik::PutLE32(img, e + 6, static_cast<uint32_t>(p.offset >= 0 ? p.offset : static_cast<int64_t>(offsets[i])));
        ik::PutLE32(img, e + 10, static_cast<uint32_t>(p.length >= 0 ? p.length : static_cast<int64_t>(p.data.size())));
        ik::PutLE16(img, e + 14, p.cardType);
        ik::PutLE16(img, e + 16, p.chipRev);
        for (size_t k = 0; k < p.data.size(); ++k)
            img[offsets[i] + k] = p.data[k];
    }
    // Default card-type list admitting one adapter.
    size_t block = 32 * (n + 1);
    ik::PutLE16(img, block, 1);
    ik::PutLE16(img, block + 8, 0);
    ik::PutLE16(img, block + 10, 1);
    ik::PutLE16(img, block + 16, 0x1077);
    ik::PutLE16(img, block + 18, 0x2031);
    ik::PutLE16(img, block + 20, 0x1077);
    ik::PutLE16(img, block + 22, 0x0240);
    uint16_t sum = 0;
    for (size_t i = 0; i < table / 2; ++i)
        sum = static_cast<uint16_t>(sum + ik::GetLE16(img, 2 * i));
    ik::PutLE16(img, 8, static_cast<uint16_t>(0u - sum));
    return img;
}

// Offset of part i's component in an image built by Build.
inline size_t ComponentOffset(const ik::Bytes &img, size_t index) { return ik::GetLE32(img, 32 * (index + 1) + 6); }

} // namespace compimg
