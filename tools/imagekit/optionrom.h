// PCI expansion-ROM images and chains: standard and common ("MODL") BIOS
// images, FCode, EFI and PXE images, each with its ROM header, PCI data
// structure, byte checksum and last-image flag, plus deliberate faults for
// negative tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bytes.h"

namespace imagekit {

enum CodeType : uint8_t { kBios = 0, kFCode = 1, kPxe = 2, kEfi = 3 };

constexpr size_t kBlock = 512;
constexpr uint16_t kDefaultVendor = 0x1077;

// Faults an image can carry.
struct PciFaults {
    bool badChecksum = false;      // checksum byte off by one
    bool badRomSignature = false;  // 0x55 0xAA replaced
    bool badPcirSignature = false; // "PCIR" replaced
    bool zeroLength = false;       // image length 0 in the data structure
    bool lengthPastEnd = false;    // image length pointing far beyond the image
    bool pcirOutside = false;      // data-structure offset beyond the image
};

struct PciImageSpec {
    uint8_t codeType = kBios;
    uint16_t vendorId = kDefaultVendor;
    uint16_t deviceId = 0x2532;
    uint8_t revMajor = 1;
    uint8_t revMinor = 0;
    size_t blocks = 64; // image length in 512-byte blocks (32 KB)
    // Size byte of the ROM header; -1 gives the image length (cut to 0xFF).
    int sizeByte = -1;
    // Last-image flag: -1 automatic (set on the last image of a chain).
    int last = -1;
    uint16_t pcirOffset = 0x60;

    // BIOS images.
    bool common = false;       // "MODL" at 0x40
    std::string chipText;      // bytes 0x09-0x0C; empty: "%04X" of deviceId
    int typeCode = -1;         // byte 0x14; -1: table code of the chip (common) or 0
    uint16_t ssvid = 0;        // 0x20 (common)
    uint16_t biosDeviceId = 0; // 0x2A (common); 0: deviceId
    std::string model;         // 0x44 (common)

    bool fixChecksum = true;
    uint32_t seed = 1;
    PciFaults faults;
};

// Adapter type code of a common BIOS image for a chip ("2532", "2322S").
inline int BiosTypeCode(const std::string &chip) {
    struct E {
        const char *chip;
        int code;
    };
    static const E table[] = {
        {"2300", 0x15}, {"2312", 0x1A}, {"2322", 0x1D}, {"6312", 0x1F}, {"6322", 0x20}, {"2322S", 0x21}, {"2422", 0x22},
        {"2432", 0x25}, {"5432", 0x28}, {"5422", 0x29}, {"2532", 0x2F}, {"8432", 0x31}, {"8001", 0x32},  {"8021", 0x33},
        {"8031", 0x40}, {"2031", 0x40}, {"8041", 0x41}, {"8044", 0x44}, {"2071", 0x40}, {"2171", 0x40},  {"2271", 0x40},
        {"2371", 0x40}, {"2871", 0x40}, {"2971", 0x40}, {"2261", 0x40}, {"2A61", 0x40}, {"2081", 0x40},  {"2181", 0x40},
        {"2281", 0x40}, {"2381", 0x40}, {"2089", 0x40}, {"2189", 0x40}, {"2289", 0x40}, {"2389", 0x40},
    };
    for (const auto &e : table)
        if (chip == e.chip) return e.code;
    return -1;
}

inline std::string Hex4(uint16_t v) {
    char t[8];
    std::snprintf(t, sizeof t, "%04X", v);
    return t;
}

// Makes the bytes of the first 'size' bytes sum to zero through the last one.
inline void FixByteChecksum(Bytes &img, size_t size) {
    if (size == 0 || size > img.size()) return;
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < size; ++i)
        sum = static_cast<uint8_t>(sum + img[i]);
    img[size - 1] = static_cast<uint8_t>(-sum);
}

// One image; 'lastInChain' is used when spec.last is automatic.
inline Bytes BuildPciImage(const PciImageSpec &s, bool lastInChain) {
    size_t blocks = s.blocks == 0 ? 1 : s.blocks;
    Bytes img(blocks * kBlock, 0);
    FillPattern(img, 0, img.size(), s.seed + s.codeType * 7919u + s.deviceId);
    // Header area: clear the fixed fields.
    for (size_t i = 0; i < 0x60 && i < img.size(); ++i)
        img[i] = 0;
    img[0] = 0x55;
    img[1] = 0xAA;
    int sizeByte = s.sizeByte >= 0 ? s.sizeByte : static_cast<int>(blocks > 0xFF ? 0xFF : blocks);
    img[2] = static_cast<uint8_t>(sizeByte);
    if (s.codeType == kBios || s.codeType == kPxe) {
        img[3] = 0xE9; // near jump to the entry point
        std::string chip = s.chipText.empty() ? Hex4(s.deviceId) : s.chipText;
        PutText(img, 0x09, chip, 4);
        if (s.codeType == kBios) {
            int code = s.typeCode;
            if (code < 0) code = s.common ? BiosTypeCode(chip) : 0;
            img[0x14] = static_cast<uint8_t>(code < 0 ? 0 : code);
            if (s.common) {
                PutLE16(img, 0x20, s.ssvid);
                PutLE16(img, 0x2A, s.biosDeviceId != 0 ? s.biosDeviceId : s.deviceId);
                PutText(img, 0x40, "MODL", 4);
                if (!s.model.empty()) {
                    PutText(img, 0x44, s.model, 18);
                    size_t n = s.model.size() < 18 ? s.model.size() : 18;
                    img[0x44 + n] = ' ';
                }
            }
        }
    } else if (s.codeType == kEfi) {
        PutLE32(img, 0x04, 0x0EF1); // EFI signature
        PutLE16(img, 0x08, 0x0B);   // boot service driver
        PutLE16(img, 0x0A, 0x8664); // x64
        PutLE16(img, 0x16, 0x0200); // EFI image offset
    }
    uint16_t pcir = s.faults.pcirOutside ? static_cast<uint16_t>(img.size() + 0x100) : s.pcirOffset;
    PutLE16(img, 0x18, pcir);
    size_t p = s.pcirOffset;
    for (size_t i = 0; i < 0x18; ++i)
        img.at(p + i) = 0;
    PutText(img, p, s.faults.badPcirSignature ? "PCIX" : "PCIR", 4);
    PutLE16(img, p + 0x04, s.vendorId);
    PutLE16(img, p + 0x06, s.deviceId);
    PutLE16(img, p + 0x0A, 0x18); // structure length
    img[p + 0x0D] = 0x00;         // class code: FC controller 0x0C0400
    img[p + 0x0E] = 0x04;
    img[p + 0x0F] = 0x0C;
    uint16_t length = static_cast<uint16_t>(blocks);
    if (s.faults.zeroLength) length = 0;
    if (s.faults.lengthPastEnd) length = 0xFFFF;
    PutLE16(img, p + 0x10, length);
    img[p + 0x12] = s.revMinor;
    img[p + 0x13] = s.revMajor;
    img[p + 0x14] = s.codeType;
    bool last = s.last < 0 ? lastInChain : s.last != 0;
    img[p + 0x15] = last ? 0x80 : 0x00;
    if (s.faults.badRomSignature) img[1] = 0xAB;
    if (s.fixChecksum) {
        size_t csize = static_cast<size_t>(static_cast<uint8_t>(sizeByte)) * kBlock;
        FixByteChecksum(img, csize);
        if (s.faults.badChecksum && csize > 0 && csize <= img.size()) img[csize - 1] ^= 0x01;
    }
    return img;
}

// Images laid end to end; the last one gets the last-image flag unless its
// spec says otherwise.
inline Bytes BuildChain(const std::vector<PciImageSpec> &images) {
    Bytes out;
    for (size_t i = 0; i < images.size(); ++i)
        Append(out, BuildPciImage(images[i], i + 1 == images.size()));
    return out;
}

// Typical images.
inline PciImageSpec CommonBios(const std::string &chip, uint16_t deviceId, uint8_t major, uint8_t minor) {
    PciImageSpec s;
    s.codeType = kBios;
    s.common = true;
    s.chipText = chip.substr(0, 4);
    s.typeCode = BiosTypeCode(chip);
    s.deviceId = deviceId;
    s.revMajor = major;
    s.revMinor = minor;
    s.model = "";
    s.seed = 11;
    return s;
}

inline PciImageSpec StandardBios(const std::string &chip, uint16_t deviceId, uint8_t major, uint8_t minor) {
    PciImageSpec s = CommonBios(chip, deviceId, major, minor);
    s.common = false;
    s.typeCode = 0;
    return s;
}

inline PciImageSpec CodeImage(uint8_t codeType, uint16_t deviceId, uint8_t major, uint8_t minor, size_t blocks = 64) {
    PciImageSpec s;
    s.codeType = codeType;
    s.deviceId = deviceId;
    s.revMajor = major;
    s.revMinor = minor;
    s.blocks = blocks;
    s.pcirOffset = 0x1C;
    s.seed = 23 + codeType;
    return s;
}

} // namespace imagekit
