// Per-family dispatch of image components by region code, the walkers over
// the image layout table and the counters of applicable entries. Each
// family's regions, checks and failure codes are one table.
#include <cstdio>

#include "app/output.h"
#include "image/components.h"
#include "image/helpers.h"

namespace {

enum class Check {
    None,       // listed, nothing to test (logged OK)
    Silent,     // listed, passes without a log line
    Risc,       // RISC header with one supported value
    RiscAny,    // RISC header, supported values 0x20, 0x10, 0x40, 0x80
    MpiFw,      // first-generation MPI firmware header
    Edc,        // EDC PHY firmware header
    MpiCfg,     // MPI configuration parameters
    Bootloader, // trailer blocks
    CrbInit,
    PegTune,
    NicFw, // NIC firmware image
    Boot,  // boot-code chain
    PepFw, // version at 79..76
    PepSoftRom,
    MpiVersion, // version of a RISC-style header
    MpiSoftRom,
    Preload, // version at 7..4
    FcBrdCfg,
    PepBrdCfg,
    Serdes,
    Signature, // Zult signature region
};

struct Row {
    uint16_t code;
    const char *name; // region name in the log; null: "region 0x%X"
    Check check;
    int fail;         // failure code; 0: the row has none of its own
    uint32_t arg = 0; // supported value, boot device ID (0: the adapter's), fixed length
    BootProtocol protocol = BootProtocol::FC;
    bool larkGate = false; // Lark chip-revision gates
};

struct Family {
    const char *fn;
    BootFamily boot;
    std::span<const Row> rows;
    uint16_t lowCode; // codes outside [lowCode, highCode] are not recognised
    uint16_t highCode;
};

// First-generation converged adapters.
const Row kFirstGenRows[] = {
    {0x01, "UNCPMPRESSED_FW_FCOE", Check::Risc, COMP_FAIL_RISC, RISC_SUPPORTED_FCOE_FIRST_GEN},
    {0x07, "BOOT_CODE_FCOE", Check::Boot, COMP_FAIL_BOOT, 0x8001, BootProtocol::FCoE},
    {0x2E, "NIC_BOOT_CODE_FCOE", Check::Boot, COMP_FAIL_NIC_BOOT, 0x8000, BootProtocol::Nic},
    {0x40, "MPI_RISC_FW_FCOE", Check::MpiFw, COMP_FAIL_MPI},
    {0x41, "MPI_CONFIG_PARAMS", Check::MpiCfg, COMP_FAIL_MPI},
    {0x45, "EDC_PHY_FW_FCOE", Check::Edc, COMP_FAIL_EDC},
};

const Row kLarkRows[] = {
    {0x07, "BOOT_CODE_FCOE", Check::Boot, COMP_FAIL_BOOT, 0x8021, BootProtocol::FCoE},
    {0x2E, "NIC_BOOT_CODE_FCOE", Check::Boot, COMP_FAIL_NIC_BOOT, 0x8020, BootProtocol::Nic},
    {0x4F, "OPT_ROM_REGION_TESK_BOOT_CODE_ISCSI", Check::Boot, COMP_FAIL_BOOT, 0x8022, BootProtocol::iSCSI},
    {0x70, "LARK_CRBINIT", Check::CrbInit, COMP_FAIL_CRBINIT, LARK_CRBINIT_LENGTH, BootProtocol::FC, true},
    {0x71, "LARK_BOARD_CONFIG", Check::None, 0},
    {0x72, "LARK_BOOTLOADER", Check::Bootloader, COMP_FAIL_BOOTLOADER, LARK_BOOTLOADER_LENGTH, BootProtocol::FC, true},
    {0x73, "LARK_PEGTUNE", Check::PegTune, COMP_FAIL_PEGTUNE, LARK_PEGTUNE_LENGTH, BootProtocol::FC, true},
    {0x74, "LARK_FW_IMAGE", Check::NicFw, COMP_FAIL_NIC_FW, 0, BootProtocol::FC, true},
    {0x81, nullptr, Check::Silent, 0},
    {0x97, "LARK_FW_IMAGE", Check::NicFw, COMP_FAIL_NIC_FW, 0, BootProtocol::FC, true},
};

const Row kTeskRows[] = {
    {0x01, "OPT_ROM_REGION_TESK_FW_IMAGE_FC", Check::Risc, COMP_FAIL_RISC, RISC_SUPPORTED_TESK_FC},
    {0x07, "OPT_ROM_REGION_TESK_BOOT_CODE_FC", Check::Boot, COMP_FAIL_NIC_BOOT, 0x2031, BootProtocol::FC},
    {0x2E, "OPT_ROM_REGION_TESK_BOOT_CODE_NIC", Check::Boot, COMP_FAIL_NIC_BOOT, 0x8030, BootProtocol::Nic},
    {0x4F, "OPT_ROM_REGION_TESK_BOOT_CODE_ISCSI", Check::Boot, COMP_FAIL_BOOT, 0x8032, BootProtocol::iSCSI},
    {0x70, "OPT_ROM_REGION_TESK_CRBINIT", Check::CrbInit, COMP_FAIL_CRBINIT},
    {0x72, "OPT_ROM_REGION_TESK_BOOTLOADER", Check::Bootloader, COMP_FAIL_BOOTLOADER},
    {0x73, "OPT_ROM_REGION_TESK_PEGTUNE", Check::PegTune, COMP_FAIL_PEGTUNE},
    {0x97, "OPT_ROM_REGION_TESK_FW_IMAGE", Check::NicFw, COMP_FAIL_NIC_FW},
    {0xA2, "OPT_ROM_REGION_TESK_BOOT_CODE_FCOE", Check::Boot, COMP_FAIL_BOOT, 0x8031, BootProtocol::FCoE},
    {0xA4, "OPT_ROM_REGION_TESK_FW_IMAGE_FCOE", Check::Risc, COMP_FAIL_RISC, RISC_SUPPORTED_TESK_FCOE},
};

const Row kFenwarRows[] = {
    {0x01, "OPT_ROM_REGION_FENWAR_FC_RISC_FW_CODE", Check::Risc, COMP_FAIL_RISC, RISC_SUPPORTED_FENWAR},
    {0x07, "OPT_ROM_REGION_FENWAR_FC_BOOT_CODE", Check::Boot, COMP_FAIL_BOOT, 0, BootProtocol::FC},
    {0x66, "OPT_ROM_REGION_FENWAR_TRUNKING_PEP_FW", Check::None, 0},
    {0x9E, "OPT_ROM_REGION_FENWAR_SIGNATURE", Check::None, 0},
    {0xD1, "OPT_ROM_REGION_FENWAR_PEP_FW", Check::PepFw, 0},
    {0xD2, nullptr, Check::PepSoftRom, 0},
    {0xD3, "OPT_ROM_REGION_FENWAR_MPI_FW", Check::MpiVersion, COMP_FAIL_BOOT},
    {0xE1, nullptr, Check::MpiVersion, COMP_FAIL_BOOT},
};

const Row kZultRows[] = {
    {0x01, "TVX_OPT_ROM_REGION_FW", Check::RiscAny, COMP_FAIL_RISC},
    {0x07, "TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI", Check::Boot, COMP_FAIL_BOOT, 0, BootProtocol::FC},
    {0x11, nullptr, Check::Boot, COMP_FAIL_BOOT, 0, BootProtocol::FC},
    {0x13, nullptr, Check::Preload, COMP_FAIL_PRELOAD},
    {0x9E, "OPT_ROM_REGION_FENWAR_SIGNATURE", Check::Signature, COMP_FAIL_SIGNATURE},
    {0xBA, nullptr, Check::FcBrdCfg, COMP_FAIL_FC_BRDCFG},
    {0xCF, nullptr, Check::PepBrdCfg, COMP_FAIL_PEP_BRDCFG},
    {0xD1, "OPT_ROM_REGION_FENWAR_PEP_FW", Check::PepFw, 0},
    {0xD2, nullptr, Check::PepSoftRom, 0},
    {0xD3, "OPT_ROM_REGION_FENWAR_MPI_FW", Check::MpiVersion, COMP_FAIL_ZULT_MPI},
    {0x101, nullptr, Check::MpiSoftRom, COMP_FAIL_MPI_SOFTROM},
    {0x102, nullptr, Check::Serdes, COMP_FAIL_SERDES},
    {0x103, nullptr, Check::None, 0},
};

const Family kFirstGen{"ValidateImages", BootFamily::FirstGen, kFirstGenRows, 1, 69};
const Family kLark{"ValidateLarkImages", BootFamily::Lark, kLarkRows, 0, 0xFFFF};
const Family kTesk{"ValidateTeskImages", BootFamily::Tesk, kTeskRows, 1, 0xA4};
const Family kFenwar{"ValidateFenwarImages", BootFamily::Fenwar, kFenwarRows, 1, 0xE1};
const Family kZult{"ValidateGenericImages", BootFamily::Fenwar, kZultRows, 0, 0xFFFF};

// Where the versions go and what the family knows of the adapter.
struct Target {
    ImageVersionRecord *record = nullptr;
    ZultImageVersionRecord *zult = nullptr;
    uint16_t chipRev = 0;
    uint16_t fcDeviceId = 0;
};

const Row *FindRow(const Family &f, uint16_t code) {
    if (code < f.lowCode || code > f.highCode) return nullptr;
    for (const auto &row : f.rows)
        if (row.code == code) return &row;
    return nullptr;
}

// Lark: a CRB init, bootloader or PEG tune entry for a chip revision below
// the family's first, or for another revision than the adapter's, is not
// for this adapter and counts as passed.
bool LarkTrailerSkipped(const IltRegionEntry &e, uint16_t adapterRev) {
    return e.chipRev != 0 && (e.chipRev < LARK_MIN_CHIP_REV || e.chipRev != adapterRev);
}

// Lark firmware image: an entry with a chip revision is only validated on
// an adapter of that revision (0x54 or above); one without is always.
bool LarkFirmwareSkipped(const IltRegionEntry &e, uint16_t adapterRev) {
    if (e.chipRev == 0) return false;
    bool forThisAdapter =
        adapterRev >= LARK_MIN_CHIP_REV && (e.regionCode == 0x74 || e.regionCode == 0x97) && e.chipRev == adapterRev;
    return !forThisAdapter;
}

ComponentVersion *RiscTarget(const Target &t) {
    if (t.zult != nullptr) return &t.zult->riscFw;
    return t.record != nullptr ? &t.record->riscFw : nullptr;
}

bool CheckRiscAny(std::span<const uint8_t> c, const IltRegionEntry &e, const Target &t, const char *fn) {
    for (uint32_t supported :
         {RISC_SUPPORTED_TESK_FC, RISC_SUPPORTED_TESK_FCOE, RISC_SUPPORTED_FENWAR, RISC_SUPPORTED_ZULT}) {
        if (ValidateRiscFirmware(c, e, supported, RiscTarget(t))) return true;
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: Unknown firmware supported value!", fn);
    return false;
}

bool CheckTrailer(Check check, std::span<const uint8_t> image, std::span<const uint8_t> component, const Row &row,
                  const IltRegionEntry &e, const Target &t) {
    // Lark blocks have a fixed length whatever the entry says; it must lie
    // inside the image.
    std::span<const uint8_t> block = component;
    if (row.arg != 0) {
        if (!InBounds(image.size(), e.offset, row.arg)) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: block of 0x%x bytes at 0x%x outside the image (0x%zx)", row.name,
                               row.arg, e.offset, image.size());
            block = {};
        } else {
            block = image.subspan(e.offset, row.arg);
        }
    }
    ImageVersionRecord *r = t.record;
    switch (check) {
    case Check::Bootloader:
        if (ValidateTrailerBlock("ValidateBootloader", block, TRAILER_SIG_BOOTLOADER, r ? &r->bootloader : nullptr))
            return true;
        OutputLevelMessage(LEVEL_DEBUG, "ValidateBootloader: [ERROR] Bootloader Image validation failed.\n");
        return false;
    case Check::CrbInit:
        if (ValidateTrailerBlock("ValidateCRBinitImage", block, TRAILER_SIG_CRBINIT, r ? &r->crbInit : nullptr))
            return true;
        OutputLevelMessage(LEVEL_DEBUG, "ValidateCRBinitImage: [ERROR] Unable to validate CRBinit image.\n");
        return false;
    default:
        if (ValidateTrailerBlock("ValidatePegtuneImage", block, TRAILER_SIG_PEGTUNE, r ? &r->pegTune : nullptr))
            return true;
        OutputLevelMessage(LEVEL_DEBUG, "ValidatePegtuneImage: [ERROR] Unable to validate Pegtune image.\n");
        return false;
    }
}

// Reads a four-byte version into 'out' (when given) and logs it.
bool CheckVersion4(const char *fn, const char *what, bool pep, std::span<const uint8_t> c, uint8_t *out, bool hex) {
    uint8_t v[4] = {};
    bool ok = pep ? ReadPepFirmwareVersion(c, v) : ReadBlockVersion(c, v);
    if (!ok) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: %s of 0x%zx bytes holds no version", fn, what, c.size());
        return false;
    }
    if (hex)
        OutputLevelMessage(LEVEL_DEBUG, "%s: %s version %x.%x.%x.%x", fn, what, v[0], v[1], v[2], v[3]);
    else
        OutputLevelMessage(LEVEL_DEBUG, "%s: %s version %d.%d.%d.%d", fn, what, v[0], v[1], v[2], v[3]);
    if (out != nullptr)
        for (size_t i = 0; i < 4; ++i)
            out[i] = v[i];
    return true;
}

bool CheckMpiVersion(const char *fn, std::span<const uint8_t> c, ComponentVersion *out) {
    ComponentVersion v{};
    if (GetRiscFirmwareVersion(c, &v) != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: component of 0x%zx bytes holds no firmware header", fn, c.size());
        return false;
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: version %d.%d.%d", fn, v.major, v.minor, v.subMinor);
    if (out != nullptr) *out = v;
    return true;
}

bool RunCheck(const Family &f, const Row &row, std::span<const uint8_t> image, std::span<const uint8_t> c,
              const IltRegionEntry &e, const Target &t) {
    ImageVersionRecord *r = t.record;
    ZultImageVersionRecord *z = t.zult;
    switch (row.check) {
    case Check::None:
    case Check::Silent: return true;
    case Check::Risc: {
        bool ok = ValidateRiscFirmware(c, e, row.arg, RiscTarget(t));
        if (f.boot == BootFamily::FirstGen)
            OutputLevelMessage(LEVEL_DEBUG, ok ? "ValidateImages:  validate FC Firmware successfully."
                                               : "ValidateImages:  Unable to validate FC Firmware.");
        return ok;
    }
    case Check::RiscAny: return CheckRiscAny(c, e, t, f.fn);
    case Check::MpiFw: return ValidateMpiFirmwareImage(c, e, r ? &r->mpiFw : nullptr);
    case Check::Edc: return ValidateEdcFirmwareImage(c, e, r ? &r->edcFw : nullptr);
    case Check::MpiCfg: return ValidateMpiConfigParamImage(image, e, r ? &r->mpiConfig : nullptr);
    case Check::Bootloader:
    case Check::CrbInit:
    case Check::PegTune: return CheckTrailer(row.check, image, c, row, e, t);
    case Check::NicFw:
        if (ValidateNicFirmwareImage(c, r ? &r->nicFw : nullptr)) return true;
        OutputLevelMessage(LEVEL_DEBUG, "ValidateLarkFirmwareImage: [ERROR] Unable to validate firmware.\n");
        return false;
    case Check::Boot: {
        uint16_t device = row.arg != 0 ? static_cast<uint16_t>(row.arg) : t.fcDeviceId;
#ifndef TF_EARLIER_RELEASE // the earlier release has no 28xx family
        if (z != nullptr) return ValidateZultBootCode(c, device, z);
#endif
        return ValidateBootCode(f.boot, row.protocol, c, device, r);
    }
    case Check::PepFw:
        return CheckVersion4("ValidateFenwarPepFw", "PEP firmware", true, c, z ? z->pepFw : nullptr, false);
    case Check::PepSoftRom:
        return CheckVersion4("ValidateFenwarPepSoftROM", "PEP SoftROM", true, c, z ? z->pepSoftRom : nullptr, false);
    case Check::MpiVersion: return CheckMpiVersion("ValidateFenwarMpiFw", c, z ? &z->mpiFw : (r ? &r->mpiFw : nullptr));
    case Check::MpiSoftRom: return CheckMpiVersion("ValidateMpiSoftROM", c, z ? &z->mpiSoftRom : nullptr);
    case Check::Preload: return CheckVersion4(f.fn, "firmware preload area", false, c, z ? z->preload : nullptr, true);
    case Check::FcBrdCfg:
        return CheckVersion4(f.fn, "FC board configuration", false, c, z ? z->fcBoardConfig : nullptr, true);
    case Check::PepBrdCfg:
        return CheckVersion4(f.fn, "PEP board configuration", false, c, z ? z->pepBoardConfig : nullptr, false);
    case Check::Serdes: return CheckVersion4(f.fn, "PCIe Serdes", false, c, z ? z->pcieSerdes : nullptr, true);
    case Check::Signature: {
#ifdef TF_EARLIER_RELEASE // only 28xx images have the row
        return false;
#else
        ComponentVersion v{};
        bool set = false;
        bool ok = ValidateZultSignatureRegion(c, &v, &set);
        if (ok && set && z != nullptr) z->signatureRegion = v;
        return ok;
#endif
    }
    }
    return false;
}

int Dispatch(const Family &f, const IltRegionEntry *entry, std::span<const uint8_t> image, const Target &t) {
    if (entry == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: no region entry", f.fn);
        return COMP_FAIL_UNREADABLE_ENTRY;
    }
    const Row *row = FindRow(f, entry->regionCode);
    if (row == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unrecognized Image Type... (region 0x%x)", f.fn, entry->regionCode);
        return 0;
    }
    if (row->check == Check::Silent) return 0;
    char label[48];
    if (row->name != nullptr)
        std::snprintf(label, sizeof label, "%s", row->name);
    else
        std::snprintf(label, sizeof label, "region 0x%X", row->code);
    int fail = row->fail != 0 ? row->fail : COMP_FAIL_BOOT;

    OutputLevelMessage(LEVEL_DEBUG, "%s: validating %s", f.fn, label);
    // The component must lie inside the image, whatever its kind: a later
    // step copies exactly these bytes.
    auto component = ILT_Region_GetComponent(image, *entry);
    if (!component) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: [ERROR] %s (offset 0x%x, length 0x%x) reaches past the image (0x%zx)",
                           f.fn, label, entry->offset, entry->length, image.size());
        return fail;
    }
    if (row->larkGate) {
        bool skipped =
            row->check == Check::NicFw ? LarkFirmwareSkipped(*entry, t.chipRev) : LarkTrailerSkipped(*entry, t.chipRev);
        if (skipped) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: %s for chip revision 0x%x skipped (adapter 0x%x)", f.fn, label,
                               entry->chipRev, t.chipRev);
            return 0;
        }
    }
    if (!RunCheck(f, *row, image, *component, *entry, t)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: [ERROR] %s validation failed (%d)", f.fn, label, fail);
        return fail;
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: %s OK OK", f.fn, label);
    return 0;
}

// Walk over entries 0 ... N-2: entries that pass the card-type filter (and
// with 'chipFilter' the chip revision filter) are validated; the first
// failure ends the walk with its code. An unreadable entry makes the result
// -1: the count of such a table must never match the expected one.
template <typename DispatchFn>
int Walk(const char *walker, std::span<const uint8_t> image, int expectedCount, int cardType, bool chipFilter,
         uint16_t chipRev, DispatchFn dispatch) {
    int n = ILT_Header_GetNumOfRegionEntries(image);
    OutputLevelMessage(LEVEL_DEBUG, "%s: %d region entries, %d images expected for cardtype %d", walker, n - 1,
                       expectedCount, cardType);
    int validated = 0;
    bool unreadable = false;
    for (int i = 0; i + 1 < n; ++i) {
        auto entry = ILT_Region_GetRegionByIndex(image, i);
        if (!entry) {
            // Entries lie in order, so every later one is past the buffer too.
            OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to read region entry %d", walker, i);
            unreadable = true;
            break;
        }
        if (!CardTypeComapre(entry->swapModeCardType, cardType)) continue;
        if (chipFilter && entry->chipRev != 0 && entry->chipRev != chipRev) continue;
        int rc = dispatch(*entry);
        if (rc < 0) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Validated failed!", walker);
            return rc;
        }
        ++validated;
    }
    int result = unreadable ? COMP_FAIL_UNREADABLE_ENTRY : validated;
    OutputLevelMessage(LEVEL_DEBUG, "%s: Validated %d images for cardtype %d", walker, result, cardType);
    return result;
}

// Image version, build date and FFV version of the header.
void CopyHeaderVersions(std::span<const uint8_t> image, ImageVersionRecord *record, bool all) {
    IltHeader h{};
    if (record == nullptr || !ILT_Header_Read(image, h)) return;
    record->image = {h.imageVersion[0], h.imageVersion[1], h.imageVersion[2]};
    if (!all) return;
    record->buildMonth = h.buildMonth;
    record->buildDay = h.buildDay;
    record->buildYear = h.buildYear;
    // The converged record keeps the FFV bytes as 21, 22, 24, 23.
    record->ffv[0] = h.ffvVersion[0];
    record->ffv[1] = h.ffvVersion[1];
    record->ffv[2] = h.ffvVersion[3];
    record->ffv[3] = h.ffvVersion[2];
}

void CopyHeaderVersions(std::span<const uint8_t> image, ZultImageVersionRecord *record) {
    IltHeader h{};
    if (record == nullptr || !ILT_Header_Read(image, h)) return;
    record->image = {h.imageVersion[0], h.imageVersion[1], h.imageVersion[2]};
    for (size_t i = 0; i < 4; ++i)
        record->ffv[i] = h.ffvVersion[i];
    record->buildMonth = h.buildMonth;
    record->buildDay = h.buildDay;
    record->buildYear = h.buildYear;
}

} // namespace

int ValidateImages(const IltRegionEntry *entry, std::span<const uint8_t> image, ImageVersionRecord *record) {
    return Dispatch(kFirstGen, entry, image, Target{record, nullptr, 0, 0});
}

int ValidateLarkImages(const IltRegionEntry *entry, std::span<const uint8_t> image, ImageVersionRecord *record,
                       uint16_t adapterChipRev) {
    return Dispatch(kLark, entry, image, Target{record, nullptr, adapterChipRev, 0});
}

int ValidateTeskImages(const IltRegionEntry *entry, std::span<const uint8_t> image, ImageVersionRecord *record) {
    return Dispatch(kTesk, entry, image, Target{record, nullptr, 0, 0});
}

int ValidateFenwarImages(const IltRegionEntry *entry, std::span<const uint8_t> image, ImageVersionRecord *record,
                         uint16_t adapterFcDeviceId) {
    return Dispatch(kFenwar, entry, image, Target{record, nullptr, 0, adapterFcDeviceId});
}

int ValidateGenericImages(const IltRegionEntry *entry, std::span<const uint8_t> image, ZultImageVersionRecord *record,
                          uint16_t adapterFcDeviceId) {
    ZultImageVersionRecord scratch{};
    return Dispatch(kZult, entry, image, Target{nullptr, record != nullptr ? record : &scratch, 0, adapterFcDeviceId});
}

int ValidateImageComponents(std::span<const uint8_t> image, int expectedCount, int cardType,
                            ImageVersionRecord *record) {
    CopyHeaderVersions(image, record, false);
    return Walk("ValidateImageComponents", image, expectedCount, cardType, false, 0,
                [&](const IltRegionEntry &e) { return ValidateImages(&e, image, record); });
}

int ValidateLarkImageComponents(std::span<const uint8_t> image, int expectedCount, int cardType,
                                ImageVersionRecord *record, uint16_t adapterChipRev) {
    CopyHeaderVersions(image, record, true);
    return Walk("ValidateLarkImageComponents", image, expectedCount, cardType, false, 0,
                [&](const IltRegionEntry &e) { return ValidateLarkImages(&e, image, record, adapterChipRev); });
}

int ValidateTeskImageComponents(std::span<const uint8_t> image, int expectedCount, int cardType,
                                ImageVersionRecord *record, uint16_t adapterChipRev) {
    CopyHeaderVersions(image, record, true);
    return Walk("ValidateTeskImageComponents", image, expectedCount, cardType, true, adapterChipRev,
                [&](const IltRegionEntry &e) { return ValidateTeskImages(&e, image, record); });
}

int ValidateFenwarImageComponents(std::span<const uint8_t> image, int expectedCount, int cardType,
                                  ImageVersionRecord *record, uint16_t adapterChipRev, uint16_t adapterFcDeviceId) {
    CopyHeaderVersions(image, record, true);
    return Walk("ValidateFenwarImageComponents", image, expectedCount, cardType, true, adapterChipRev,
                [&](const IltRegionEntry &e) { return ValidateFenwarImages(&e, image, record, adapterFcDeviceId); });
}

int ValidateZultImageComponents(std::span<const uint8_t> image, int expectedCount, int cardType,
                                ZultImageVersionRecord *record, uint16_t adapterChipRev, uint16_t adapterFcDeviceId) {
    CopyHeaderVersions(image, record);
    return Walk("ValidateZultImageComponents", image, expectedCount, cardType, true, adapterChipRev,
                [&](const IltRegionEntry &e) { return ValidateGenericImages(&e, image, record, adapterFcDeviceId); });
}

namespace {

int Count(const char *fn, std::span<const uint8_t> ilt, int cardType, bool chipFilter, uint16_t chipRev) {
    int n = ILT_Header_GetNumOfRegionEntries(ilt);
    int count = 0;
    for (int i = 0; i + 1 < n; ++i) {
        auto entry = ILT_Region_GetRegionByIndex(ilt, i);
        if (!entry) break; // this and every later entry lie past the buffer
        if (!CardTypeComapre(entry->swapModeCardType, cardType)) continue;
        if (chipFilter && entry->chipRev != 0 && entry->chipRev != chipRev) continue;
        ++count;
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: %d images for cardtype %d", fn, count, cardType);
    return count;
}

} // namespace

int HowManyImagesForCardType(std::span<const uint8_t> ilt, int cardType) {
    return Count("HowManyImagesForCardType", ilt, cardType, false, 0);
}

int HowManyImagesForCardTypeGeneric(std::span<const uint8_t> ilt, int cardType, uint16_t chipRev) {
    return Count("HowManyImagesForCardTypeGeneric", ilt, cardType, true, chipRev);
}
