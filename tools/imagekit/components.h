// Components of the multi-region images of the converged and newer
// adapters: boot-code regions (chain + FLT locator), RISC-style firmware
// headers, first-generation MPI and EDC firmware, MPI configuration
// parameters, trailer blocks (bootloader, CRB init, PEG tune), NIC firmware,
// PEP firmware and SoftROM, version-only blocks, the Zult signature region
// and the configuration blocks that the Zult combine step patches (preload
// "JCAM", FC board configuration "CBF(" with its Serdes block "ULS(", PEP
// board configuration "ICAM"). Each builder can also make the component
// broken in the ways the validators must notice.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "flt.h"
#include "multiboot.h"
#include "optionrom.h"

namespace imagekit {

inline uint32_t GetLE32(const Bytes &b, size_t off) {
    return static_cast<uint32_t>(b.at(off)) | (static_cast<uint32_t>(b.at(off + 1)) << 8) |
           (static_cast<uint32_t>(b.at(off + 2)) << 16) | (static_cast<uint32_t>(b.at(off + 3)) << 24);
}

// Wrapping sum of the little-endian dwords [from, from + 4 * count); a
// dword that reaches past the buffer is read as if padded with zeros.
inline uint32_t SumLE32(const Bytes &b, size_t from, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t w = 0;
        for (size_t k = 0; k < 4; ++k) {
            size_t at = from + 4 * i + k;
            if (at < b.size()) w |= static_cast<uint32_t>(b[at]) << (8 * k);
        }
        sum += w;
    }
    return sum;
}

// Sets the dword at 'fixAt' so that the 'count' dwords from 'from' sum to
// zero ('fixAt' must lie inside them).
inline void FixSumLE32(Bytes &b, size_t from, size_t count, size_t fixAt) {
    PutLE32(b, fixAt, 0);
    PutLE32(b, fixAt, 0u - SumLE32(b, from, count));
}

struct Version3 {
    uint8_t major = 1, minor = 0, subMinor = 0;
};

// ---------------------------------------------------------------- boot code

// A boot-code region: the chain, optionally followed by an FLT locator.
inline Bytes BuildBootCodeRegion(const std::vector<PciImageSpec> &images, bool withLocator = true,
                                 FltLocatorFaults locatorFaults = {}) {
    Bytes out = BuildChain(images);
    if (withLocator) Append(out, BuildFltLocator(0, 1, locatorFaults));
    return out;
}

// FC/FCoE/iSCSI chain for a converged function: common BIOS, FCode, EFI.
inline std::vector<PciImageSpec> FunctionBootSpecs(uint16_t deviceId, const BootVersions &v = {}, bool fcode = true,
                                                   bool efi = true) {
    auto specs = BootChainSpecs(Hex4(deviceId), deviceId, v, true, fcode, efi);
    // A converged chip without its own adapter type code gets a standard
    // BIOS image (its chip text still names the function).
    if (BiosTypeCode(Hex4(deviceId)) < 0)
        specs.front() = StandardBios(Hex4(deviceId), deviceId, v.biosMajor, v.biosMinor);
    for (auto &s : specs)
        s.blocks = s.codeType == kEfi ? 16 : 8; // keep components small
    return specs;
}

// NIC chain: PXE (code type 2) and EFI images of the NIC function.
inline std::vector<PciImageSpec> NicBootSpecs(uint16_t deviceId, const BootVersions &v = {}) {
    std::vector<PciImageSpec> specs;
    PciImageSpec pxe = CodeImage(kPxe, deviceId, v.biosMajor, v.biosMinor, 8);
    pxe.pcirOffset = 0x60;
    specs.push_back(pxe);
    specs.push_back(CodeImage(kEfi, deviceId, v.efiMajor, v.efiMinor, 16));
    return specs;
}

// ------------------------------------------------- RISC-style firmware header

constexpr size_t kRiscHeaderSize = 120;

// FC RISC firmware; the same header heads the MPI firmware and MPI SoftROM
// of the newer families. Big-endian words: preamble 0 and 1, start address,
// address length, version major/minor/sub-minor, attribute, supported value,
// extended attribute; post amble at 116.
struct RiscFirmwareSpec {
    Version3 version{9, 1, 2};
    uint32_t supported = 0x20;
    uint32_t attribute = 0;
    uint32_t extAttribute = 0;
    uint32_t startAddress = 0x00100000;
    size_t length = 0x1000; // component bytes (at least the header)
    // Added to each version word (a value of 0x100 makes the word 256 or
    // more while its low byte still reads as the version).
    uint32_t versionWordHigh = 0;
    uint32_t seed = 31;
};

inline Bytes BuildRiscFirmware(const RiscFirmwareSpec &s) {
    Bytes b(s.length < kRiscHeaderSize ? kRiscHeaderSize : s.length, 0);
    FillPattern(b, 0, b.size(), s.seed);
    for (size_t i = 0; i < kRiscHeaderSize; ++i)
        b[i] = 0;
    PutBE32(b, 0, 0x4F525631); // preamble 0
    PutBE32(b, 4, 0x46574844); // preamble 1
    PutBE32(b, 8, s.startAddress);
    PutBE32(b, 12, static_cast<uint32_t>(b.size() / 4));
    PutBE32(b, 16, s.versionWordHigh + s.version.major);
    PutBE32(b, 20, s.versionWordHigh + s.version.minor);
    PutBE32(b, 24, s.versionWordHigh + s.version.subMinor);
    PutBE32(b, 28, s.attribute);
    PutBE32(b, 32, s.supported);
    PutBE32(b, 36, s.extAttribute);
    PutBE32(b, 116, 0x454E4421); // post amble
    return b;
}

// -------------------------------------------- first-generation MPI and EDC

constexpr uint32_t kMpiFirmwareSupported = 0x10000008;
constexpr uint32_t kEdcCookie = 0x5555BBBB;
constexpr uint32_t kEdcSupported = 0x20000008;

// MPI firmware of the first-generation converged adapters: version bytes
// at 17, 18, 19, big-endian supported value at 32.
struct MpiFirmwareSpec {
    Version3 version{1, 2, 3};
    uint32_t supported = kMpiFirmwareSupported;
    size_t length = 0x800;
    uint32_t seed = 41;
};

inline Bytes BuildMpiFirmware(const MpiFirmwareSpec &s) {
    Bytes b(s.length < 36 ? 36 : s.length, 0);
    FillPattern(b, 36, b.size(), s.seed);
    b[17] = s.version.major;
    b[18] = s.version.minor;
    b[19] = s.version.subMinor;
    PutBE32(b, 32, s.supported);
    return b;
}

// EDC PHY firmware: cookie 0x5555BBBB at 0, version bytes at 17-19,
// big-endian 0x20000008 at 32.
struct EdcFirmwareSpec {
    Version3 version{2, 0, 5};
    uint32_t cookie = kEdcCookie;
    uint32_t supported = kEdcSupported;
    size_t length = 0x800;
    uint32_t seed = 43;
};

inline Bytes BuildEdcFirmware(const EdcFirmwareSpec &s) {
    Bytes b(s.length < 36 ? 36 : s.length, 0);
    FillPattern(b, 36, b.size(), s.seed);
    PutLE32(b, 0, s.cookie);
    b[17] = s.version.major;
    b[18] = s.version.minor;
    b[19] = s.version.subMinor;
    PutBE32(b, 32, s.supported);
    return b;
}

// ------------------------------------------- MPI configuration parameters

constexpr uint32_t kMpiConfigSignature = 0x5555AAAA;
constexpr size_t kMpiConfigChecksumBytes = 1280; // the checksum covers 320 dwords

// Header: signature, checksum, header size, data size, port 0 and port 1
// offsets, ssvid, ssdid, version sub-minor (28), minor (29), major (30).
// The checksum is the two's complement of the dword sum of the first 1280
// bytes (a shorter component counts as padded with zeros) with the
// checksum field taken as 0.
struct MpiConfigSpec {
    Version3 version{1, 4, 7};
    uint32_t signature = kMpiConfigSignature;
    uint16_t ssvid = 0x1077, ssdid = 0x0240;
    size_t length = 0x800;
    bool badChecksum = false;
    uint32_t seed = 47;
};

inline Bytes BuildMpiConfig(const MpiConfigSpec &s) {
    Bytes b(s.length < 32 ? 32 : s.length, 0);
    FillPattern(b, 32, b.size(), s.seed);
    PutLE32(b, 0, s.signature);
    PutLE32(b, 8, 32);
    PutLE32(b, 12, static_cast<uint32_t>(b.size() - 32));
    PutLE32(b, 16, 0x100);
    PutLE32(b, 20, 0x200);
    PutLE16(b, 24, s.ssvid);
    PutLE16(b, 26, s.ssdid);
    b[28] = s.version.subMinor;
    b[29] = s.version.minor;
    b[30] = s.version.major;
    b[31] = 0;
    PutLE32(b, 4, 0);
    uint32_t sum = SumLE32(b, 0, kMpiConfigChecksumBytes / 4);
    PutLE32(b, 4, 0u - sum + (s.badChecksum ? 1u : 0u));
    return b;
}

// --------------------------- trailer blocks: bootloader, CRB init, PEG tune

constexpr uint32_t kCrbInitSignature = 0x40400000;
constexpr uint32_t kPegTuneSignature = 0x40400001;
constexpr uint32_t kBootloaderSignature = 0x40400002;
constexpr size_t kLarkCrbInitLength = 0x4000;
constexpr size_t kLarkTrailerBlockLength = 0x20000; // bootloader, PEG tune

// The last 32 bytes are the trailer: signature at length - 32, version
// major/minor/sub-minor at length - 28, -27, -26; the last dword makes the
// dwords of the whole block sum to zero.
struct TrailerSpec {
    uint32_t signature = kBootloaderSignature;
    Version3 version{3, 1, 4};
    size_t length = 0x2000; // a multiple of 4, at least 32
    bool badSum = false;
    uint32_t seed = 53;
};

inline Bytes BuildTrailerBlock(const TrailerSpec &s) {
    size_t len = s.length < 32 ? 32 : (s.length & ~size_t{3});
    Bytes b(len, 0);
    FillPattern(b, 0, len - 32, s.seed);
    PutLE32(b, len - 32, s.signature);
    b[len - 28] = s.version.major;
    b[len - 27] = s.version.minor;
    b[len - 26] = s.version.subMinor;
    FixSumLE32(b, 0, len / 4, len - 4);
    if (s.badSum) b[len / 2] ^= 0x01;
    return b;
}

inline TrailerSpec Bootloader(Version3 v, size_t length = 0x2000) { return {kBootloaderSignature, v, length}; }
inline TrailerSpec CrbInit(Version3 v, size_t length = 0x1000) { return {kCrbInitSignature, v, length}; }
inline TrailerSpec PegTune(Version3 v, size_t length = 0x2000) { return {kPegTuneSignature, v, length}; }

// ----------------------------------------------------------- NIC firmware

constexpr uint32_t kNicFirmwareSignature = 0x40400003;

// Signature at 0, version at 4, 5, 6, length in bytes at 12; the dwords of
// the first 'length' bytes sum to zero (the fix dword is at 8).
struct NicFirmwareSpec {
    Version3 version{4, 2, 17};
    uint32_t signature = kNicFirmwareSignature;
    size_t length = 0x4000;   // component bytes
    int64_t lengthField = -1; // -1: the component length
    bool badSum = false;
    uint32_t seed = 59;
};

inline Bytes BuildNicFirmware(const NicFirmwareSpec &s) {
    Bytes b(s.length < 16 ? 16 : (s.length & ~size_t{3}), 0);
    FillPattern(b, 16, b.size(), s.seed);
    PutLE32(b, 0, s.signature);
    b[4] = s.version.major;
    b[5] = s.version.minor;
    b[6] = s.version.subMinor;
    uint32_t lengthField = s.lengthField >= 0 ? static_cast<uint32_t>(s.lengthField) : static_cast<uint32_t>(b.size());
    PutLE32(b, 12, lengthField);
    size_t covered = lengthField / 4 < b.size() / 4 ? lengthField / 4 : b.size() / 4;
    if (covered >= 3) FixSumLE32(b, 0, covered, 8);
    if (s.badSum) b[b.size() > 20 ? 20 : 8] ^= 0x01;
    return b;
}

// ------------------------------------------------- PEP firmware, SoftROM

// Version shown a.b.c.d lies at bytes 79, 78, 77, 76.
inline Bytes BuildPepFirmware(std::array<uint8_t, 4> shown, size_t length = 0x1000, uint32_t seed = 61) {
    Bytes b(length < 80 ? 80 : length, 0);
    FillPattern(b, 0, b.size(), seed);
    b[79] = shown[0];
    b[78] = shown[1];
    b[77] = shown[2];
    b[76] = shown[3];
    return b;
}

// A component that only carries a version at bytes 7, 6, 5, 4 (shown in
// that order): board configuration, preload area, FC board configuration,
// PCIe Serdes, when no patching applies.
inline Bytes BuildVersionBlockComponent(std::array<uint8_t, 4> shown, size_t length = 0x400, uint32_t seed = 67) {
    Bytes b(length < 8 ? 8 : length, 0);
    FillPattern(b, 8, b.size(), seed);
    b[7] = shown[0];
    b[6] = shown[1];
    b[5] = shown[2];
    b[4] = shown[3];
    return b;
}

// ----------------------------------------------- Zult signature region

constexpr uint32_t kSignatureRegionMagic = 0x534B3830; // bytes "08KS"
constexpr size_t kSignatureRegionHeader = 392;

// Head signature at 0, version sub-minor/minor/major at 5, 6, 7, checksum
// at 8, covered length at 12, tail signature at 388. The dwords of the
// first 'covered' bytes (a final partial dword counted whole) sum to zero.
struct SignatureRegionSpec {
    Version3 version{1, 0, 3};
    bool headSignature = true;
    bool tailSignature = true;
    size_t length = 0x1000; // component bytes (at least 392)
    int64_t covered = -1;   // length field; -1: 392
    bool badChecksum = false;
    uint32_t seed = 71;
};

inline Bytes BuildSignatureRegion(const SignatureRegionSpec &s) {
    Bytes b(s.length < kSignatureRegionHeader ? kSignatureRegionHeader : s.length, 0);
    FillPattern(b, 16, b.size(), s.seed);
    PutLE32(b, 0, s.headSignature ? kSignatureRegionMagic : 0x12345678u);
    b[4] = 0;
    b[5] = s.version.subMinor;
    b[6] = s.version.minor;
    b[7] = s.version.major;
    uint32_t covered =
        s.covered >= 0 ? static_cast<uint32_t>(s.covered) : static_cast<uint32_t>(kSignatureRegionHeader);
    PutLE32(b, 12, covered);
    PutLE32(b, 388, s.tailSignature ? kSignatureRegionMagic : 0x87654321u);
    size_t dwords = (static_cast<size_t>(covered) + 3) / 4;
    if (dwords >= 3) FixSumLE32(b, 0, dwords, 8);
    if (s.badChecksum) b[8] ^= 0x01;
    return b;
}

// ------------------------------------- configuration blocks (Zult combine)

// Shared header: signature bytes at 0, version bytes at 4-7 (shown 7.6.5.4),
// checksum at 8, data length in dwords at 12, subsystem vendor ID at 16,
// subsystem device ID at 18. The checksum is the two's complement of the
// dword sum of the data (length x 4 bytes) with the checksum field as 0.
struct ConfigBlockSpec {
    std::array<uint8_t, 4> version{1, 2, 3, 4}; // shown order
    uint16_t ssvid = 0x1077, ssdid = 0x02A8;
    size_t dataDwords = 0x800; // 8 KB of data
    size_t regionSize = 0x20000;
    bool badChecksum = false;
    bool badSignature = false;
    uint32_t seed = 73;
};

inline void PutConfigHeader(Bytes &b, size_t at, const char *signature, const ConfigBlockSpec &s, size_t dataDwords) {
    PutText(b, at, signature, 4);
    b.at(at + 7) = s.version[0];
    b.at(at + 6) = s.version[1];
    b.at(at + 5) = s.version[2];
    b.at(at + 4) = s.version[3];
    PutLE32(b, at + 8, 0);
    PutLE32(b, at + 12, static_cast<uint32_t>(dataDwords));
    PutLE16(b, at + 16, s.ssvid);
    PutLE16(b, at + 18, s.ssdid);
}

// Region bytes beyond the data stay zero, so the dwords of the whole region
// sum to zero as well.
inline Bytes BuildConfigBlock(const char *signature, const ConfigBlockSpec &s) {
    size_t data = s.dataDwords * 4 < 20 ? 20 : s.dataDwords * 4;
    size_t size = s.regionSize < data ? data : s.regionSize;
    Bytes b(size, 0);
    FillPattern(b, 20, data, s.seed);
    PutConfigHeader(b, 0, signature, s, data / 4);
    FixSumLE32(b, 0, data / 4, 8);
    if (s.badChecksum) b[8] ^= 0x01;
    if (s.badSignature) b[0] ^= 0x20;
    return b;
}

// Firmware preload area (region 0x13), signature "JCAM".
inline Bytes BuildPreloadBlock(const ConfigBlockSpec &s = {}) { return BuildConfigBlock("JCAM", s); }

// PEP board configuration (region 0xCF), signature "ICAM": the IDs also
// stand at 264 (device) and 266 (vendor).
inline Bytes BuildPepBoardConfig(const ConfigBlockSpec &s = {}) {
    ConfigBlockSpec t = s;
    if (t.dataDwords * 4 < 272) t.dataDwords = 68;
    t.badChecksum = false;
    t.badSignature = false;
    Bytes b = BuildConfigBlock("ICAM", t);
    PutLE16(b, 264, s.ssdid);
    PutLE16(b, 266, s.ssvid);
    FixSumLE32(b, 0, t.dataDwords, 8);
    if (s.badChecksum) b[8] ^= 0x01;
    if (s.badSignature) b[0] ^= 0x20;
    return b;
}

constexpr size_t kSerdesBlockOffset = 0x1200;

// FC board configuration (region 0xBA), signature "CBF(", with the PCIe
// Serdes block "ULS(" at 0x1200 (its own header and checksum over its own
// data). The board configuration's data covers the Serdes block, so both
// sums hold at once and stay so when either is patched and re-summed.
struct FcBoardConfigSpec {
    ConfigBlockSpec board{{2, 0, 1, 0}, 0x1077, 0x02A8, 0x800};
    std::array<uint8_t, 4> serdesVersion{1, 1, 0, 2};
    size_t serdesDwords = 0x100;
    bool badSerdesChecksum = false;
    bool badSerdesSignature = false;
};

inline Bytes BuildFcBoardConfig(const FcBoardConfigSpec &s = {}) {
    ConfigBlockSpec board = s.board;
    size_t serdesData = s.serdesDwords * 4 < 20 ? 20 : s.serdesDwords * 4;
    size_t minDwords = (kSerdesBlockOffset + serdesData) / 4;
    if (board.dataDwords < minDwords) board.dataDwords = minDwords;
    board.badChecksum = false;
    board.badSignature = false;
    Bytes b = BuildConfigBlock("CBF(", board);
    ConfigBlockSpec serdes = board;
    serdes.version = s.serdesVersion;
    FillPattern(b, kSerdesBlockOffset + 20, kSerdesBlockOffset + serdesData, board.seed + 1);
    PutConfigHeader(b, kSerdesBlockOffset, "ULS(", serdes, serdesData / 4);
    FixSumLE32(b, kSerdesBlockOffset, serdesData / 4, kSerdesBlockOffset + 8);
    FixSumLE32(b, 0, board.dataDwords, 8);
    if (s.badSerdesChecksum) b[kSerdesBlockOffset + 8] ^= 0x01;
    if (s.badSerdesSignature) b[kSerdesBlockOffset] ^= 0x20;
    if (s.board.badChecksum) b[8] ^= 0x01;
    if (s.board.badSignature) b[0] ^= 0x20;
    return b;
}

} // namespace imagekit
