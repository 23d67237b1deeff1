// Ready-made multi-region images of the converged and newer families, each
// an image layout table with the components the family's validation
// walks, card-type lists that admit one adapter, and one switch per
// breakage a test needs.
//
// Regions per family (code: component):
//   firstgen  07 FCoE boot (0x8001) + locator, 2E NIC boot (0x8000) + locator,
//             01 FCoE RISC firmware (support 0x8), 40 MPI firmware,
//             41 MPI configuration parameters, 45 EDC PHY firmware
//   lark      07 FCoE boot (0x8021), 2E NIC boot (0x8020), 4F iSCSI boot
//             (0x8022), each + locator; 70 CRB init (0x4000), 71 board
//             configuration, 72 bootloader and 73 PEG tune (0x20000 each),
//             74 NIC firmware for revision 0x54 and/or 97 for 0x58
//   tesk      2E NIC boot (0x8030), A2 FCoE boot (0x8031), 4F iSCSI boot
//             (0x8032), A4 FCoE RISC firmware (0x10), 70, 72, 73, 97 NIC
//             firmware
// No image carries the VPD regions (14, 16, 81): the adapter keeps its own,
// and the chip revision check knows no 81.
//   teskfc    07 FC boot (0x2031), 01 FC RISC firmware (0x20), 70, 72, 73
//   fenwar    9E signature, 07 FC boot, 01 RISC firmware (0x40), D3 MPI
//             firmware, D1 PEP firmware, D2 PEP SoftROM, 66 trunking PEP
//   zult      9E signature region, 07 boot, 11 boot expansion, 01 RISC
//             firmware (0x80), 13 preload "JCAM", BA FC board configuration
//             "CBF(" with Serdes "ULS(", CF PEP board configuration "ICAM",
//             D1, D2, D3, 101 MPI SoftROM, 102 PCIe Serdes, 103 FC SoftROM
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "components.h"
#include "ilt.h"

namespace imagekit {

enum class Family { FirstGen, Lark, Tesk, TeskFc, Fenwar, Zult };

struct FamilyFaults {
    bool badChecksum = false;    // the family's checksummed component is damaged
    bool wrongSignature = false; // ILT signature "OXXX"
    bool entryPastEnd = false;   // first entry's length reaches past the image
    bool wrongChipRev = false;   // entries for another chip revision
    bool noCardType = false;     // no card-type list names the adapter
};

struct FamilySpec {
    Family family = Family::Zult;
    uint16_t ssvid = 0x1077;
    uint16_t ssdid = 0x0240;
    int deviceId = -1;     // the adapter's (FC) function device ID; -1: family default
    uint16_t cardType = 1; // card type of the typed list; 0: only the default list
    uint16_t mask = 0;     // card-type mask of every entry
    int chipRev = -1;      // revision the image is for; Lark -1: both 0x54 and 0x58
    Version3 image{2, 1, 0};
    std::array<uint8_t, 4> ffv{1, 2, 3, 4};
    BootVersions boot;
    Version3 firmware{9, 1, 2}; // RISC firmware
    std::string signature = "OILT";
    uint16_t tableVersion = 4;
    FamilyFaults faults;
};

inline uint16_t FamilyDeviceId(const FamilySpec &s) {
    if (s.deviceId >= 0) return static_cast<uint16_t>(s.deviceId);
    switch (s.family) {
    case Family::FirstGen: return 0x8001;
    case Family::Lark: return 0x8021;
    case Family::Tesk: return 0x8031;
    case Family::TeskFc: return 0x2031;
    case Family::Fenwar: return 0x2261;
    case Family::Zult: return 0x2281;
    }
    return 0;
}

// A revision other than 'rev' (for the wrong-revision images).
inline uint16_t OtherRev(uint16_t rev) { return rev != 0x10 ? 0x10 : 0x11; }

inline IltRegion FamilyRegion(uint16_t code, Bytes data, Version3 v = {1, 0, 0}, uint16_t chipRev = 0) {
    IltRegion r;
    r.code = code;
    r.major = v.major;
    r.minor = v.minor;
    r.subMinor = v.subMinor;
    r.chipRev = chipRev;
    r.data = std::move(data);
    return r;
}

inline Bytes FamilyRisc(const FamilySpec &s, uint32_t supported, uint32_t seed) {
    RiscFirmwareSpec r;
    r.version = s.firmware;
    r.supported = supported;
    r.seed = seed;
    return BuildRiscFirmware(r);
}

// CRB init, bootloader, PEG tune; Lark blocks have fixed lengths.
inline void AddTrailerBlocks(std::vector<IltRegion> &out, const FamilySpec &s, bool lark) {
    Version3 v{3, 1, 4};
    TrailerSpec crb = CrbInit(v, lark ? kLarkCrbInitLength : 0x1000);
    TrailerSpec boot = Bootloader(v, lark ? kLarkTrailerBlockLength : 0x2000);
    TrailerSpec peg = PegTune(v, lark ? kLarkTrailerBlockLength : 0x2000);
    boot.badSum = s.faults.badChecksum;
    uint16_t crbRev = 0;
    if (s.faults.wrongChipRev && !lark) crbRev = OtherRev(s.chipRev < 0 ? 0 : static_cast<uint16_t>(s.chipRev));
    out.push_back(FamilyRegion(0x70, BuildTrailerBlock(crb), v, crbRev));
    out.push_back(FamilyRegion(0x72, BuildTrailerBlock(boot), v));
    out.push_back(FamilyRegion(0x73, BuildTrailerBlock(peg), v));
}

inline std::vector<IltRegion> FamilyRegions(const FamilySpec &s) {
    std::vector<IltRegion> r;
    uint16_t dev = FamilyDeviceId(s);
    Version3 nicFw{4, 2, 17};
    switch (s.family) {
    case Family::FirstGen: {
        r.push_back(FamilyRegion(0x07, BuildBootCodeRegion(FunctionBootSpecs(dev, s.boot))));
        r.push_back(FamilyRegion(0x2E, BuildBootCodeRegion(NicBootSpecs(0x8000, s.boot))));
        r.push_back(FamilyRegion(0x01, FamilyRisc(s, 0x8, 31), s.firmware));
        MpiFirmwareSpec mpi;
        r.push_back(FamilyRegion(0x40, BuildMpiFirmware(mpi), mpi.version));
        MpiConfigSpec cfg;
        cfg.ssvid = s.ssvid;
        cfg.ssdid = s.ssdid;
        cfg.badChecksum = s.faults.badChecksum;
        r.push_back(FamilyRegion(0x41, BuildMpiConfig(cfg), cfg.version));
        EdcFirmwareSpec edc;
        r.push_back(FamilyRegion(0x45, BuildEdcFirmware(edc), edc.version));
        break;
    }
    case Family::Lark: {
        r.push_back(FamilyRegion(0x07, BuildBootCodeRegion(FunctionBootSpecs(dev, s.boot))));
        r.push_back(FamilyRegion(0x2E, BuildBootCodeRegion(NicBootSpecs(0x8020, s.boot))));
        r.push_back(FamilyRegion(0x4F, BuildBootCodeRegion(FunctionBootSpecs(0x8022, s.boot))));
        AddTrailerBlocks(r, s, true);
        r.push_back(FamilyRegion(0x71, BuildVersionBlockComponent({1, 0, 0, 2})));
        NicFirmwareSpec nic;
        nic.version = nicFw;
        // The NIC firmware of each revision; a wrong-revision image swaps
        // the revisions so neither fits the adapter it names.
        bool wrong = s.faults.wrongChipRev;
        if (s.chipRev < 0 || s.chipRev == 0x54)
            r.push_back(FamilyRegion(0x74, BuildNicFirmware(nic), nicFw, wrong ? 0x58 : 0x54));
        if (s.chipRev < 0 || s.chipRev != 0x54)
            r.push_back(FamilyRegion(0x97, BuildNicFirmware(nic), nicFw, wrong ? 0x54 : 0x58));
        break;
    }
    case Family::Tesk: {
        r.push_back(FamilyRegion(0x2E, BuildBootCodeRegion(NicBootSpecs(0x8030, s.boot))));
        r.push_back(FamilyRegion(0xA2, BuildBootCodeRegion(FunctionBootSpecs(dev, s.boot))));
        r.push_back(FamilyRegion(0x4F, BuildBootCodeRegion(FunctionBootSpecs(0x8032, s.boot))));
        r.push_back(FamilyRegion(0xA4, FamilyRisc(s, 0x10, 33), s.firmware));
        AddTrailerBlocks(r, s, false);
        NicFirmwareSpec nic;
        nic.version = nicFw;
        r.push_back(FamilyRegion(0x97, BuildNicFirmware(nic), nicFw));
        break;
    }
    case Family::TeskFc: {
        r.push_back(FamilyRegion(0x07, BuildBootCodeRegion(FunctionBootSpecs(dev, s.boot))));
        r.push_back(FamilyRegion(0x01, FamilyRisc(s, 0x20, 35), s.firmware));
        AddTrailerBlocks(r, s, false);
        break;
    }
    case Family::Fenwar: {
        r.push_back(FamilyRegion(0x07, BuildBootCodeRegion(FunctionBootSpecs(dev, s.boot), false)));
        r.push_back(FamilyRegion(0x9E, BuildSignatureRegion({})));
        r.push_back(FamilyRegion(0x01, FamilyRisc(s, 0x40, 37), s.firmware));
        RiscFirmwareSpec mpi;
        mpi.version = {3, 4, 5};
        r.push_back(FamilyRegion(0xD3, BuildRiscFirmware(mpi), mpi.version));
        r.push_back(FamilyRegion(0xD1, BuildPepFirmware({1, 6, 0, 12})));
        r.push_back(FamilyRegion(0xD2, BuildPepFirmware({1, 6, 0, 3}, 0x800, 63)));
        r.push_back(FamilyRegion(0x66, BuildPepFirmware({1, 2, 0, 1}, 0x800, 65)));
        break;
    }
    case Family::Zult: {
        r.push_back(FamilyRegion(0x07, BuildBootCodeRegion(FunctionBootSpecs(dev, s.boot), false)));
        SignatureRegionSpec sig;
        sig.badChecksum = s.faults.badChecksum;
        r.push_back(FamilyRegion(0x9E, BuildSignatureRegion(sig), sig.version));
        r.push_back(FamilyRegion(0x11, BuildBootCodeRegion(FunctionBootSpecs(dev, s.boot), false)));
        r.push_back(FamilyRegion(0x01, FamilyRisc(s, 0x80, 39), s.firmware));
        ConfigBlockSpec cfg;
        cfg.ssvid = s.ssvid;
        cfg.ssdid = s.ssdid;
        cfg.regionSize = 0x4000;
        r.push_back(FamilyRegion(0x13, BuildPreloadBlock(cfg)));
        FcBoardConfigSpec fc;
        fc.board.ssvid = s.ssvid;
        fc.board.ssdid = s.ssdid;
        fc.board.regionSize = 0x4000;
        r.push_back(FamilyRegion(0xBA, BuildFcBoardConfig(fc)));
        r.push_back(FamilyRegion(0xCF, BuildPepBoardConfig(cfg)));
        r.push_back(FamilyRegion(0xD1, BuildPepFirmware({2, 1, 0, 7})));
        r.push_back(FamilyRegion(0xD2, BuildPepFirmware({2, 1, 0, 3}, 0x800, 63)));
        RiscFirmwareSpec mpi;
        mpi.version = {3, 4, 5};
        r.push_back(FamilyRegion(0xD3, BuildRiscFirmware(mpi), mpi.version));
        mpi.version = {3, 4, 1};
        mpi.seed = 77;
        r.push_back(FamilyRegion(0x101, BuildRiscFirmware(mpi), mpi.version));
        r.push_back(FamilyRegion(0x102, BuildVersionBlockComponent({1, 1, 0, 2})));
        r.push_back(FamilyRegion(0x103, Bytes(0x400, 0x5A), {1, 2, 3}));
        break;
    }
    }
    // Fenwar and Zult entries are for one chip revision; a wrong-revision
    // image names another one on every entry.
    bool perRevision = s.family == Family::Fenwar || s.family == Family::Zult;
    for (IltRegion &e : r) {
        e.cardTypeMask = s.mask;
        if (perRevision) {
            uint16_t rev = s.chipRev < 0 ? 0 : static_cast<uint16_t>(s.chipRev);
            e.chipRev = s.faults.wrongChipRev ? OtherRev(rev) : rev;
        }
    }
    if (s.faults.entryPastEnd && !r.empty()) r.front().lengthOverride = 0x7FFFFFF0;
    return r;
}

inline IltSpec FamilyIltSpec(const FamilySpec &s) {
    IltSpec t;
    t.signature = s.faults.wrongSignature ? "OXXX" : s.signature;
    t.tableVersion = s.tableVersion;
    t.imageMajor = s.image.major;
    t.imageMinor = s.image.minor;
    t.imageSubMinor = s.image.subMinor;
    for (size_t i = 0; i < 4; ++i)
        t.ffv[i] = s.ffv[i];
    t.regions = FamilyRegions(s);
    IltCardEntry me{0x1077, FamilyDeviceId(s), s.ssvid, s.ssdid};
    if (s.faults.noCardType) me.ssdid = static_cast<uint16_t>(s.ssdid ^ 0x5A5A);
    t.cardLists.push_back({0, {me}, -1});
    if (s.cardType != 0) t.cardLists.push_back({s.cardType, {me}, -1});
    return t;
}

inline Bytes BuildFamilyImage(const FamilySpec &s) { return BuildIltImage(FamilyIltSpec(s)); }

} // namespace imagekit
