// Multi-region images for the component tests: the kit's layout table with
// one default card-type list, followed by kit-built components.
#pragma once

#include <cstdint>
#include <vector>

#include "../tools/imagekit/components.h"
#include "../tools/imagekit/ilt.h"

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
    ik::IltSpec s;
    s.imageMajor = h.image[0];
    s.imageMinor = h.image[1];
    s.imageSubMinor = h.image[2];
    s.buildMonth = h.month;
    s.buildDay = h.day;
    s.buildYear = h.year;
    for (size_t i = 0; i < 4; ++i)
        s.ffv[i] = h.ffv[i];
    s.faults.entryCountOverride = h.entryCount;
    for (const auto &p : parts) {
        ik::IltRegion r;
        r.code = p.code;
        r.major = p.version.major;
        r.minor = p.version.minor;
        r.subMinor = p.version.subMinor;
        r.cardTypeMask = p.cardType;
        r.chipRev = p.chipRev;
        r.data = p.data;
        r.offsetOverride = p.offset;
        r.lengthOverride = p.length;
        s.regions.push_back(std::move(r));
    }
    s.cardLists.push_back({0, {{0x1077, 0x2031, 0x1077, 0x0240}}});
    return ik::BuildIltImage(s);
}

// Offset of part i's component in an image built by Build.
inline size_t ComponentOffset(const ik::Bytes &img, size_t index) { return ik::GetLE32(img, 32 * (index + 1) + 6); }

} // namespace compimg
