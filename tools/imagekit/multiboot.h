// Whole-flash images of the classic FC adapters:
// - the 1 MiB multi-boot image of the 24xx/25xx layout: boot-code chain
//   (BIOS, FCode, EFI) at 0, firmware (region 1) at 0x80000, and the
//   multi-boot image version block at 0x3FFC0 of region 1;
// - the 128 KB option ROM of the 23xx adapters (a chain padded to 0x20000).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "firmware.h"
#include "optionrom.h"

namespace imagekit {

constexpr size_t kMultibootSize = 0x100000;
constexpr size_t kBootRegionSize = 0x40000;
constexpr size_t kFirmwareOffset = 0x80000;
constexpr size_t kVersionBlockOffset = 0x3FFC0; // inside region 1
constexpr size_t kVersionBlockSize = 64;
constexpr size_t kOptionRom23Size = 0x20000;

// 64-byte version block: "OMBV", major, minor, sub-minor, the rest zero.
inline Bytes BuildVersionBlock(uint8_t major, uint8_t minor, uint8_t subMinor, bool badSignature = false) {
    Bytes b(kVersionBlockSize, 0);
    PutText(b, 0, badSignature ? "XMBV" : "OMBV", 4);
    b[4] = major;
    b[5] = minor;
    b[6] = subMinor;
    return b;
}

struct BootVersions {
    uint8_t biosMajor = 3, biosMinor = 28;
    uint8_t fcodeMajor = 4, fcodeMinor = 3;
    uint8_t efiMajor = 6, efiMinor = 1;
};

struct MultibootFaults {
    bool badBiosChecksum = false;
    bool noLastImage = false; // no image carries the last-image flag
    bool brokenChain = false; // second image's ROM signature destroyed
    bool badVersionSignature = false;
    bool badFirmwareChecksum = false;
    size_t truncateTo = 0;
};

struct MultibootSpec {
    std::string chip = "2532"; // device text of the target chip
    uint16_t deviceId = 0x2532;
    uint8_t mbiMajor = 3, mbiMinor = 1, mbiSubMinor = 2;
    BootVersions boot;
    bool commonBios = true;
    bool fcode = true;
    bool efi = true;
    uint16_t ssvid = 0; // stamped in the common BIOS (0: left blank)
    std::string model;
    size_t biosBlocks = 64; // 1-255; above 0x7F the image is over 64 KB
    uint8_t fwMajor = 8, fwMinor = 2, fwSubMinor = 1;
    size_t size = kMultibootSize;
    MultibootFaults faults;
};

inline std::vector<PciImageSpec> BootChainSpecs(const std::string &chip, uint16_t deviceId, const BootVersions &v,
                                                bool commonBios, bool fcode, bool efi) {
    std::vector<PciImageSpec> specs;
    specs.push_back(commonBios ? CommonBios(chip, deviceId, v.biosMajor, v.biosMinor)
                               : StandardBios(chip, deviceId, v.biosMajor, v.biosMinor));
    if (fcode) specs.push_back(CodeImage(kFCode, deviceId, v.fcodeMajor, v.fcodeMinor));
    if (efi) specs.push_back(CodeImage(kEfi, deviceId, v.efiMajor, v.efiMinor, 128));
    return specs;
}

inline void ApplyChainFaults(std::vector<PciImageSpec> &specs, bool badBiosChecksum, bool noLast, bool broken) {
    if (badBiosChecksum) specs.front().faults.badChecksum = true;
    if (noLast) specs.back().last = 0;
    if (broken && specs.size() > 1) specs[1].faults.badRomSignature = true;
}

inline Bytes BuildMultiboot(const MultibootSpec &s) {
    Bytes out(s.size, 0xFF);
    auto specs = BootChainSpecs(s.chip, s.deviceId, s.boot, s.commonBios, s.fcode, s.efi);
    specs.front().ssvid = s.ssvid;
    specs.front().blocks = s.biosBlocks;
    specs.front().model = s.model;
    ApplyChainFaults(specs, s.faults.badBiosChecksum, s.faults.noLastImage, s.faults.brokenChain);
    Bytes chain = BuildChain(specs);
    for (size_t i = 0; i < chain.size() && i < kBootRegionSize && i < out.size(); ++i)
        out[i] = chain[i];

    FirmwareSpec fw;
    fw.chip = s.chip;
    fw.major = s.fwMajor;
    fw.minor = s.fwMinor;
    fw.subMinor = s.fwSubMinor;
    fw.faults.badChecksum1 = s.faults.badFirmwareChecksum;
    Bytes firmware = BuildFirmware(fw);
    for (size_t i = 0; i < firmware.size() && kFirmwareOffset + i < out.size(); ++i)
        out[kFirmwareOffset + i] = firmware[i];

    Bytes block = BuildVersionBlock(s.mbiMajor, s.mbiMinor, s.mbiSubMinor, s.faults.badVersionSignature);
    size_t at = kFirmwareOffset + kVersionBlockOffset;
    for (size_t i = 0; i < block.size() && at + i < out.size(); ++i)
        out[at + i] = block[i];
    if (s.faults.truncateTo != 0 && s.faults.truncateTo < out.size()) out.resize(s.faults.truncateTo);
    return out;
}

struct OptionRom23Spec {
    std::string chip = "2312";
    uint16_t deviceId = 0x2312;
    BootVersions boot{1, 90, 1, 19, 1, 8};
    bool commonBios = false;
    bool fcode = true;
    bool efi = false;
    size_t size = kOptionRom23Size;
    bool badBiosChecksum = false;
    bool noLastImage = false;
    bool brokenChain = false;
};

// Chain padded with 0xFF to the option-ROM size (the chain is cut when it
// is longer, which a test can use for an oversize file via 'size').
inline Bytes BuildOptionRom23(const OptionRom23Spec &s) {
    auto specs = BootChainSpecs(s.chip, s.deviceId, s.boot, s.commonBios, s.fcode, s.efi);
    ApplyChainFaults(specs, s.badBiosChecksum, s.noLastImage, s.brokenChain);
    Bytes chain = BuildChain(specs);
    Bytes out(s.size, 0xFF);
    for (size_t i = 0; i < chain.size() && i < out.size(); ++i)
        out[i] = chain[i];
    return out;
}

} // namespace imagekit
