// Multi-region flash image with an image layout table (ILT) at offset 0:
// a 32-byte header ("OFIM" or "OILT"), 32-byte region entries (code,
// version, offset, length, card-type mask, chip revision), the time-stamp
// entry, and the card-type list block, followed by the components.
//
// Layout written here (little-endian):
//   header   0: signature[4], 4: table version, 6: table length, 8: checksum,
//            10: N (region entries + the time-stamp entry), 13-15: image
//            version, 16: build month, 17: build day, 18: build year,
//            21-24: FFV version
//   entry i  at 32 * (i + 1): 0 code, 3-5 version, 6 offset (u32),
//            10 length (u32), 14 card-type mask, 16 chip revision
//   stamp    entry N-1: 6 year, 8 month, 9 day, 10 hour, 11 minute, 12 0, 13 4
//   cards    at 32 * (N + 1): u16 list count, 6 bytes; per list u16 card
//            type, u16 entry count, 4 bytes, then 8-byte entries (vendor,
//            device, ssvid, ssdid)
// The table length covers header to the end of the card-type block; the
// checksum makes its 16-bit words sum to zero.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"

namespace imagekit {

struct IltRegion {
    uint16_t code = 0;
    uint8_t major = 0, minor = 0, subMinor = 0;
    uint16_t cardTypeMask = 0; // 0: every card type
    uint16_t chipRev = 0;      // 0: any revision
    Bytes data;                // the component
    // Faults: the entry's offset or length as written (-1: the real one).
    int64_t offsetOverride = -1;
    int64_t lengthOverride = -1;
};

struct IltCardEntry {
    uint16_t vendorId = 0x1077;
    uint16_t deviceId = 0;
    uint16_t ssvid = 0;
    uint16_t ssdid = 0;
};

struct IltCardList {
    uint16_t cardType = 0; // 0: the default list
    std::vector<IltCardEntry> entries;
    int countOverride = -1; // entry count as written (-1: the real one)
};

struct IltStamp {
    uint16_t year = 0;
    uint8_t month = 0, day = 0, hour = 0, minute = 0;
};

struct IltFaults {
    bool badChecksum = false;    // table words do not sum to zero
    int entryCountOverride = -1; // N as written (-1: regions + 1)
    int listCountOverride = -1;  // card-type list count as written
    int tableLengthOverride = -1;
};

struct IltSpec {
    std::string signature = "OILT"; // four characters; "OFIM" is the older form
    uint16_t tableVersion = 4;
    uint8_t imageMajor = 1, imageMinor = 0, imageSubMinor = 0;
    uint8_t buildMonth = 6, buildDay = 15;
    uint16_t buildYear = 2024;
    uint8_t ffv[4] = {1, 2, 3, 4}; // header bytes 21-24
    std::vector<IltRegion> regions;
    IltStamp stamp;
    std::vector<IltCardList> cardLists;
    size_t align = 0x200; // components start on this boundary
    IltFaults faults;
};

inline size_t AlignUp(size_t v, size_t a) { return a <= 1 ? v : (v + a - 1) / a * a; }

// Size of the table (header to the end of the card-type block).
inline size_t IltTableLength(const IltSpec &s) {
    size_t n = s.regions.size() + 1;
    size_t len = 32 * (n + 1) + 8;
    for (const auto &l : s.cardLists)
        len += 8 + 8 * l.entries.size();
    return AlignUp(len, 2);
}

// Offset of each region's component in the image built from 's'.
inline std::vector<size_t> IltComponentOffsets(const IltSpec &s) {
    std::vector<size_t> out;
    size_t at = AlignUp(IltTableLength(s), s.align);
    for (const auto &r : s.regions) {
        out.push_back(at);
        at = AlignUp(at + r.data.size(), s.align);
    }
    return out;
}

// Makes the first 'length' bytes of the table sum to zero as 16-bit words
// through the checksum field at 8.
inline void FixIltChecksum(Bytes &img, size_t length) {
    PutLE16(img, 8, 0);
    uint16_t sum = 0;
    for (size_t i = 0; i + 1 < length && i + 1 < img.size(); i += 2)
        sum = static_cast<uint16_t>(sum + GetLE16(img, i));
    PutLE16(img, 8, static_cast<uint16_t>(0u - sum));
}

inline Bytes BuildIltImage(const IltSpec &s) {
    size_t tableLen = IltTableLength(s);
    std::vector<size_t> offsets = IltComponentOffsets(s);
    size_t total = AlignUp(tableLen, s.align);
    for (size_t i = 0; i < s.regions.size(); ++i)
        total = offsets[i] + s.regions[i].data.size();
    Bytes img(total < tableLen ? tableLen : total, 0xFF);
    for (size_t i = 0; i < tableLen; ++i)
        img[i] = 0;

    size_t n = s.regions.size() + 1;
    for (size_t i = 0; i < 4; ++i)
        img[i] = i < s.signature.size() ? static_cast<uint8_t>(s.signature[i]) : 0;
    PutLE16(img, 4, s.tableVersion);
    uint16_t lengthField =
        static_cast<uint16_t>(s.faults.tableLengthOverride >= 0 ? s.faults.tableLengthOverride : tableLen);
    PutLE16(img, 6, lengthField);
    PutLE16(img, 10, static_cast<uint16_t>(s.faults.entryCountOverride >= 0 ? s.faults.entryCountOverride : n));
    img[13] = s.imageMajor;
    img[14] = s.imageMinor;
    img[15] = s.imageSubMinor;
    img[16] = s.buildMonth;
    img[17] = s.buildDay;
    PutLE16(img, 18, s.buildYear);
    for (size_t i = 0; i < 4; ++i)
        img[21 + i] = s.ffv[i];

    for (size_t i = 0; i < s.regions.size(); ++i) {
        const IltRegion &r = s.regions[i];
        size_t e = 32 * (i + 1);
        PutLE16(img, e, r.code);
        img[e + 3] = r.major;
        img[e + 4] = r.minor;
        img[e + 5] = r.subMinor;
        PutLE32(img, e + 6, static_cast<uint32_t>(r.offsetOverride >= 0 ? r.offsetOverride : offsets[i]));
        PutLE32(img, e + 10, static_cast<uint32_t>(r.lengthOverride >= 0 ? r.lengthOverride : r.data.size()));
        PutLE16(img, e + 14, r.cardTypeMask);
        PutLE16(img, e + 16, r.chipRev);
        for (size_t k = 0; k < r.data.size(); ++k)
            img[offsets[i] + k] = r.data[k];
    }

    size_t stamp = 32 * n;
    PutLE16(img, stamp + 6, s.stamp.year);
    img[stamp + 8] = s.stamp.month;
    img[stamp + 9] = s.stamp.day;
    img[stamp + 10] = s.stamp.hour;
    img[stamp + 11] = s.stamp.minute;
    img[stamp + 12] = 0;
    img[stamp + 13] = 4;

    size_t block = 32 * (n + 1);
    PutLE16(img, block,
            static_cast<uint16_t>(s.faults.listCountOverride >= 0 ? s.faults.listCountOverride : s.cardLists.size()));
    size_t at = block + 8;
    for (const auto &l : s.cardLists) {
        PutLE16(img, at, l.cardType);
        PutLE16(img, at + 2, static_cast<uint16_t>(l.countOverride >= 0 ? l.countOverride : l.entries.size()));
        at += 8;
        for (const auto &c : l.entries) {
            PutLE16(img, at, c.vendorId);
            PutLE16(img, at + 2, c.deviceId);
            PutLE16(img, at + 4, c.ssvid);
            PutLE16(img, at + 6, c.ssdid);
            at += 8;
        }
    }

    FixIltChecksum(img, tableLen);
    if (s.faults.badChecksum) img[8] ^= 0x01;
    return img;
}

} // namespace imagekit
