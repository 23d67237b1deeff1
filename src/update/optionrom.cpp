// Region update of the classic FC adapters: the checks a user file must
// pass, the patching of its boot images and the writes of the requested
// regions.

#include "update/optionrom.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/output.h"
#include "image/bootpatch.h"
#include "image/helpers.h"
#include "image/pcirom.h"
#include "inventory/cxrtype.h"
#include "oss/oss.h"
#include "update/flashregion.h"
#include "update/imagefile.h"
#include "update/scratch.h"

namespace {

// Source position of the firmware region inside a whole-flash image.
constexpr size_t ALL_IMAGE_FW_OFFSET = 0x80000;

constexpr size_t MBI_FW_MAX = 0x40000;
constexpr size_t MBI_BOOT_SIZE = 0x40000;
constexpr size_t MBI_ALL_SIZE = 0x100000;
// The whole flash of these adapters is one 1 MiB image; no region of their
// layout can be larger.
constexpr uint32_t MAX_REGION_SIZE = 0x100000;

bool ListContains(const char *const *list, size_t n, const char *text) {
    for (size_t i = 0; i < n; ++i)
        if (std::strcmp(list[i], text) == 0) return true;
    return false;
}

// Chips whose firmware files the program checks (marker and checksums).
const char *const kFirmwareChips[] = {"CXR2422", "CXR2432", "CXR2532", "CXR8001"};

bool IsFirmwareCheckedChip(const char *hwType) {
    return hwType != nullptr && ListContains(kFirmwareChips, std::size(kFirmwareChips), hwType);
}

// Any chip's firmware marker, "CXR??xxFirmware", somewhere in the data.
bool HasAnyFirmwareMarker(std::span<const uint8_t> data) {
    static const char kTail[] = "xxFirmware";
    const size_t tailLen = sizeof(kTail) - 1;
    for (size_t i = 0; i + 5 + tailLen <= data.size(); ++i)
        if (std::memcmp(data.data() + i, "CXR", 3) == 0 && std::memcmp(data.data() + i + 5, kTail, tailLen) == 0)
            return true;
    return false;
}

// Wrapping sum of the big-endian words of a block (its length a multiple
// of four): one pass the compiler can vectorise.
uint32_t SumBE32Words(std::span<const uint8_t> block) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= block.size(); i += 4)
        sum += (static_cast<uint32_t>(block[i]) << 24) | (static_cast<uint32_t>(block[i + 1]) << 16) |
               (static_cast<uint32_t>(block[i + 2]) << 8) | static_cast<uint32_t>(block[i + 3]);
    return sum;
}

const char *const kCommonFCodeDevices[] = {"2422", "2432", "6322", "5422", "5432", "2532", "8432", "8001", "8021",
                                           "8031", "8041", "8044", "2071", "2171", "2271", "2371", "2261"};
const char *const kCommonEfiDevices[] = {"2422", "2432", "6322", "5422", "5432", "2532", "8432", "8001", "8021", "8031",
                                         "2071", "2171", "2271", "2371", "2871", "2971", "2261", "2A61", "2081"};

} // namespace

bool isCommonFCodeDevice(const char *deviceText) {
    return std::strncmp(deviceText, "2322", 4) == 0 ||
           ListContains(kCommonFCodeDevices, std::size(kCommonFCodeDevices), deviceText);
}

bool isCommonEfiDevice(const char *deviceText) {
    return ListContains(kCommonEfiDevices, std::size(kCommonEfiDevices), deviceText);
}

std::string BuildCompactModelText(const TVXDevice *device) {
    std::string text;
    if (device == nullptr) return text;
    const char *model = device->nodeProperty.Model;
    size_t n = strnlen(model, sizeof(device->nodeProperty.Model));
    size_t i = 0;
    if (n > 0 && model[0] == ' ') i = 1;
    for (; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(model[i]);
        if (std::isalnum(c) || std::ispunct(c)) text.push_back(static_cast<char>(c));
    }
    if (isSunAdapter(device) != 0 && text.find("-S") == std::string::npos) text += "-S";
    return text;
}

uint32_t FCUpdateOptionRom(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size, uint16_t options) {
    if (g_ptrOptionROMRequest == nullptr) return OPTROM_NO_ADAPTER;
    uint32_t req = g_ptrOptionROMRequest->Region;
    bool selected = req == TVX_OPT_ROM_REGION_ALL
                        ? (region == TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI || region == TVX_OPT_ROM_REGION_FW)
                        : region == req;
    if (!selected) return OPTROM_NO_ADAPTER;
    OutputLevelMessage(LEVEL_DEBUG, "FCUpdateOptionRom: Updating Region=%x Size=0x%x to HBA instance %d (%s)...",
                       region, size, device != nullptr ? static_cast<int>(device->instance) : -1,
                       BuildCompactModelText(device).c_str());
    return AppUpdateOptionRomEx2(device, buffer, region, size, options);
}

uint32_t EthernetUpdateOptionRom(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                                 uint16_t options) {
    if (g_ptrOptionROMRequest == nullptr || g_ptrOptionROMRequest->Region != TVX_OPT_ROM_REGION_ALL)
        return OPTROM_NO_ADAPTER;
    if (region != NIC_BOOT_CODE_FCOE && region != MPI_RISC_FW_FCOE && region != MPI_CONFIG_PARAMS &&
        region != EDC_PHY_FW_FCOE)
        return OPTROM_NO_ADAPTER;
    OutputLevelMessage(LEVEL_DEBUG, "EthernetUpdateOptionRom: Updating Region=%x Size=0x%x to HBA port %d (%s)...",
                       region, size, device != nullptr ? static_cast<int>(device->instance) : -1,
                       BuildCompactModelText(device).c_str());
    return AppUpdateOptionRomEx2(device, buffer, region, size, options);
}

// ---- Validation -----------------------------------------------------------

int ValidateFirmwareChecksum(std::span<const uint8_t> file) {
    uint32_t l1 = 0;
    if (!ReadBE32(file, 3 * 4, l1)) return OPTROM_FW_TOO_SHORT;
    uint64_t l2Word = static_cast<uint64_t>(l1) + 3;
    uint32_t l2 = 0;
    if (l2Word > file.size() / 4 || !ReadBE32(file, static_cast<size_t>(l2Word * 4), l2)) return OPTROM_FW_TOO_SHORT;
    if (l1 == 0 || l2 == 0) return OPTROM_FW_CHECKSUM;
    // Both segments must lie inside the file.
    if (static_cast<uint64_t>(l1) + l2 > file.size() / 4) return OPTROM_FW_CHECKSUM;
    const uint32_t sum1 = SumBE32Words(file.first(static_cast<size_t>(l1) * 4));
    const uint32_t sum2 = SumBE32Words(file.subspan(static_cast<size_t>(l1) * 4, static_cast<size_t>(l2) * 4));
    OutputLevelMessage(LEVEL_DEBUG, "ValidateFirmwareChecksum: L1=0x%x L2=0x%x sum1=0x%x sum2=0x%x", l1, l2, sum1,
                       sum2);
    return (sum1 == 0 && sum2 == 0) ? OPTROM_VALID : OPTROM_FW_CHECKSUM;
}

int isCorrectFirmwareImage(std::span<const uint8_t> file, const char *hwType) {
    if (file.empty() || hwType == nullptr || std::strlen(hwType) < 5) return OPTROM_NOT_A_FIRMWARE;
    char marker[16] = {};
    std::snprintf(marker, sizeof(marker), "CXR%c%cxxFirmware", hwType[3], hwType[4]);
    const size_t mlen = 15;
    if (file.size() < mlen) return OPTROM_NOT_A_FIRMWARE;
    for (size_t i = 0; i + mlen <= file.size(); ++i)
        if (std::memcmp(file.data() + i, marker, mlen) == 0) return OPTROM_VALID;
    return OPTROM_NOT_A_FIRMWARE;
}

int validateFirmware(std::span<const uint8_t> file, const char *hwType, int flag) {
    if (flag != 1 || !IsFirmwareCheckedChip(hwType)) return OPTROM_NOT_A_FIRMWARE;
    int r = isCorrectFirmwareImage(file, hwType);
    if (r != OPTROM_VALID) return r;
    return ValidateFirmwareChecksum(file);
}

namespace {

// The firmware file that a whole multi-boot image carries at 0x80000 (the
// source of region 1) must be fit for this adapter, or another chip's or a
// damaged firmware would be written. For the chips whose firmware files the
// program checks, it passes the same checks as a firmware file (28, else
// 25, 27 or 29). For the others, a firmware marked for this chip must hold
// its checksums and one marked for another chip is refused (27).
int ValidateEmbeddedFirmware(std::span<const uint8_t> file, const char *hwType) {
    // A file that ends before the firmware's place brings no firmware.
    if (file.size() <= ALL_IMAGE_FW_OFFSET) return OPTROM_VALID;
    const std::span<const uint8_t> fw =
        file.subspan(ALL_IMAGE_FW_OFFSET, std::min(MBI_FW_MAX, file.size() - ALL_IMAGE_FW_OFFSET));
    int r = OPTROM_VALID;
    if (IsFirmwareCheckedChip(hwType))
        r = validateFirmware(fw, hwType, 1);
    else if (isCorrectFirmwareImage(fw, hwType) == OPTROM_VALID)
        r = ValidateFirmwareChecksum(fw);
    else if (HasAnyFirmwareMarker(fw))
        r = OPTROM_NOT_A_FIRMWARE;
    if (r != OPTROM_VALID)
        OutputLevelMessage(LEVEL_DEBUG,
                           "validateUpdateMultibootOptionROM: Firmware at 0x%zx is not a good firmware for %s (%d).",
                           ALL_IMAGE_FW_OFFSET, hwType, r);
    return r;
}

} // namespace

int validateUpdateMultibootOptionROM(uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> file, const char *model,
                                     uint16_t deviceId) {
    char hwType[16] = {};
    char devText[8] = {};
    std::snprintf(hwType, sizeof(hwType), "CXR%04X", deviceId);
    std::snprintf(devText, sizeof(devText), "%04X", deviceId);
    if (g_ptrOptionROMRequest == nullptr) return OPTROM_NO_ADAPTER;
    OptionROMRequest *req = g_ptrOptionROMRequest;
    if (req->Region == 0) req->Region = TVX_OPT_ROM_REGION_ALL;

    switch (req->Region) {
    case TVX_OPT_ROM_REGION_FW: {
        if (file.size() > MBI_FW_MAX) return OPTROM_FW_WRONG_SIZE;
        int r = validateFirmware(file, hwType, 1);
        if (r == OPTROM_VALID || r == OPTROM_FW_CHECKSUM || r == OPTROM_NOT_A_FIRMWARE) return r;
        break;
    }
    case TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI:
        if (file.size() != MBI_BOOT_SIZE) return OPTROM_BOOT_WRONG_SIZE;
        break;
    case TVX_OPT_ROM_REGION_ALL: {
        if (file.size() != MBI_ALL_SIZE) return OPTROM_DATA_WRONG_SIZE;
        break;
    }
    default: req->Region = TVX_OPT_ROM_REGION_ALL; break;
    }

    int result = IMG_INVALID_SSID;
    size_t offset = 0;
    // Every image moves the offset forward by at least one block, so the
    // walk ends within the file.
    for (;;) {
        PciRomHeader hdr;
        if (!ReadPciRomHeader(file, offset, hdr) || hdr.signature != ROM_SIGNATURE) {
            OutputMessage("Failed to recognize header signature!");
            return IMG_BAD_HEADER;
        }
        PciDataStructure pcir;
        if (!ReadPciDataStructure(file, offset, pcir) || pcir.signature != PCIR_SIGNATURE_VALUE) {
            OutputMessage("Failed to recognize data signature!");
            return IMG_BAD_SIGNATURE;
        }
        if (pcir.codeType == PCI_CODE_BIOS) {
            char ver[16] = {};
            std::snprintf(ver, sizeof(ver), "%d.%02d", pcir.revMajor, pcir.revMinor);
            OutputLevelMessage(LEVEL_DEBUG, "TVX_PDS_CT_X8: BIOS version=%s Offset=0x%x (%ld)", ver,
                               static_cast<unsigned>(offset), static_cast<long>(offset));
            if (isCommonBIOSImage(file, offset)) {
                // A checksum that is wrong before patching means a damaged
                // file: re-summing it would hide the damage.
                int r = Validate(file, devText, offset);
                if (r == IMG_INVALID_SSID || r == IMG_SSID_MISMATCH || r == IMG_CHECKSUM_MISMATCH) return r;
                r = UpdateImage(ssdid, ssvid, file, model, hwType, offset);
                if (r != 0) return r;
                ComputeChecksum(1, file, offset);
                result = Validate(file, devText, offset);
            }
        } else if (pcir.codeType == PCI_CODE_FCODE) {
            if (isCommonFCodeDevice(devText)) {
                int r = validateFCode(file, devText, 0, offset);
                if (r == 0) r = updateImageFCode(ssdid, ssvid, file, hwType, offset);
                if (r == 0) r = validateFCode(file, devText, 0, offset);
                if (r != 0) {
                    OutputLevelMessage(LEVEL_DEBUG, "validateUpdateMultibootOptionROM: Failed to update FCode image.");
                    return r;
                }
                result = r;
            }
        } else if (pcir.codeType == PCI_CODE_EFI) {
            if (isCommonEfiDevice(devText)) {
                int r = validateEFI(file, devText, offset);
                if (r == 0) r = UpdateImageEFI(ssdid, ssvid, file, hwType, offset);
                if (r == 0) r = validateEFI(file, devText, offset);
                if (r != 0) {
                    OutputLevelMessage(LEVEL_DEBUG, "validateUpdateMultibootOptionROM: Failed to validate EFI image!");
                    return r;
                }
                result = r;
            }
        }
        // A zero length would never advance, and an image that reaches past
        // the file is cut off: either way the chain is broken.
        const size_t len = static_cast<size_t>(pcir.imageLength) * PCI_BLOCK;
        if (len == 0 || !InBounds(file.size(), offset, len)) {
            OutputMessage("Failed to recognize header signature!");
            return IMG_BAD_HEADER;
        }
        if (pcir.indicator & PCIR_LAST_IMAGE) break;
        offset += len;
    }
    // A whole image whose boot code fits this adapter must carry a firmware
    // that fits it too.
    if (req->Region == TVX_OPT_ROM_REGION_ALL && (result == 0 || result == OPTROM_VALID)) {
        int r = ValidateEmbeddedFirmware(file, hwType);
        if (r != OPTROM_VALID) return r;
    }
    return result;
}

uint32_t ReadAdapterSubsysIds(const TVXDevice *device, uint16_t *ssdid, uint16_t *ssvid) {
    if (device == nullptr) return TVX_ERR_INVALID_PARAMETER;
    // The library reads the IDs out of the NVRAM copy taken at discovery;
    // when that copy could not be read it holds zeros, not the board's IDs.
    if (const uint32_t nvram = NvramReadStatus(device); nvram != TVX_STATUS_OK) {
        OutputLevelMessage(LEVEL_DEBUG, "ReadAdapterSubsysIds: NVRAM of HBA %d was not read (0x%x - %s).",
                           static_cast<int>(device->instance), nvram, LibraryErrorText(nvram).c_str());
        return nvram;
    }
    const struct {
        uint32_t param;
        uint16_t *out;
    } reads[] = {{TVX_NVRAM_PARAM_SSDID, ssdid}, {TVX_NVRAM_PARAM_SSVID, ssvid}};
    for (const auto &r : reads) {
        uint32_t value = 0;
        const uint32_t st = TvxGetVariableValue(device->handle, device->nvram1, r.param, &value);
        if (st != TVX_STATUS_OK) {
            OutputLevelMessage(LEVEL_DEBUG, "ReadAdapterSubsysIds: TvxGetVariableValue(%u) failed (0x%x - %s).",
                               r.param, st, LibraryErrorText(st).c_str());
            return st;
        }
        if (r.out != nullptr) *r.out = static_cast<uint16_t>(value);
    }
    return TVX_STATUS_OK;
}

// ---- Classic region update ------------------------------------------------

namespace {

struct PlannedWrite {
    uint32_t region;
    size_t offset;
    uint32_t size;
    const char *name;
};

void PrintValidationFailure(int result, const char *fileName, const TVXDevice *device, const std::string &model) {
    int inst = static_cast<int>(device->instance);
    switch (result) {
    case 11: OutputMessage("Incorrect flash file for HBA %d (SSDID/SSVID mismatched)!", inst); break;
    case 12:
    case 25:
    case 29: OutputMessage("Incorrect flash file, invalid checksum!"); break;
    case 22: OutputMessage("File %s does not have valid signature header!", fileName); break;
    case 23: OutputMessage("File %s does not have valid signature data!", fileName); break;
    case 27:
    case 30:
        OutputMessage("%s is not an acceptable flash FW file for this HBA (Instance %d - %s), wrong size!", fileName,
                      inst, model.c_str());
        break;
    case 31:
        OutputMessage("%s is not an acceptable flash boot code file for this HBA (Instance %d - %s), wrong size!",
                      fileName, inst, model.c_str());
        break;
    case 32:
        OutputMessage("%s is not an acceptable flash data file for this HBA (Instance %d - %s), wrong size!", fileName,
                      inst, model.c_str());
        break;
    default: OutputMessage("Incorrect flash file for HBA %d (Invalid SSDID/SSVID)!", inst); break;
    }
}

} // namespace

int OptionROMRegionUpdate(TVXDevice *device, const char *fileName) {
    if (device == nullptr) {
        OutputMessage("Unable to find the selected HBA!");
        return OPTROM_NO_ADAPTER;
    }
    const int inst = static_cast<int>(device->instance);
    const std::string model = BuildCompactModelText(device);
    // The IDs are stamped into the boot images: an ID that could not be read
    // ends the update before anything is written.
    uint16_t ssdid = 0;
    uint16_t ssvid = 0;
    if (const uint32_t idStatus = ReadAdapterSubsysIds(device, &ssdid, &ssvid); idStatus != TVX_STATUS_OK) {
        OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", inst, idStatus,
                      LibraryErrorText(idStatus).c_str());
        return OPTROM_UPDATE_FAILED;
    }
    // The model name is stamped into a common BIOS: without it the boot
    // code would carry a blank name.
    if (const uint32_t nodeStatus = NodePropertyReadStatus(device); nodeStatus != TVX_STATUS_OK) {
        OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", inst, nodeStatus,
                      LibraryErrorText(nodeStatus).c_str());
        return OPTROM_UPDATE_FAILED;
    }
    const char *name = fileName != nullptr ? fileName : "";
    if (g_ptrOptionROMRequest == nullptr) {
        int r = addUserOptionROMRequest(nullptr, name);
        if (r != 0) return r;
    }

    // The file is opened and measured now and read further down, straight
    // over the region's bytes: one image-sized buffer per update, not two.
    ImageFileReader file;
    switch (file.Open(name)) {
    case ImageFileStatus::Ok: break;
    case ImageFileStatus::CannotOpen: OutputMessage("Unable to open file %s!", name); return OPTROM_CANNOT_OPEN;
    case ImageFileStatus::NoMemory: OutputMessage("Memory allocation error!"); return OPTROM_NO_MEMORY;
    case ImageFileStatus::CannotMeasure:
    case ImageFileStatus::ReadFailed:
    case ImageFileStatus::TooLarge:
        OutputMessage("File %s appears to be corrupted!", name);
        return OPTROM_FILE_CORRUPTED;
    }

    // The adapter's layout and the region requested.
    std::vector<TVX_REGION_ENTRY> layout;
    uint32_t st = QueryOptionRomLayout(device, layout);
    if (st == TVX_ERR_NO_MEMORY) {
        OutputMessage("Memory allocation error!");
        return OPTROM_NO_MEMORY;
    }
    if (st != TVX_STATUS_OK) {
        OutputMessage("Flash update is not supported with HBA %d (0x%x %s)!", inst, st, LibraryErrorText(st).c_str());
        return OPTROM_NO_REGION;
    }
    if (layout.empty()) {
        OutputMessage("No valid flash update region found!");
        return OPTROM_NO_REGION;
    }
    uint32_t maxSize = 0;
    for (const auto &e : layout) {
        OutputLevelMessage(LEVEL_DEBUG, "OptionROMRegionUpdate: Region No=0x%02x Size=%d.", e.Region,
                           static_cast<int>(e.Size));
        if (e.Region == g_ptrOptionROMRequest->Region && maxSize == 0) maxSize = e.Size;
    }
    // A size beyond the whole flash is no region of this adapter: refused
    // before a buffer of that size is taken.
    if (maxSize > MAX_REGION_SIZE) {
        OutputLevelMessage(LEVEL_DEBUG, "OptionROMRegionUpdate: Region 0x%x of 0x%x bytes exceeds the flash (0x%x).",
                           g_ptrOptionROMRequest->Region, maxSize, MAX_REGION_SIZE);
        OutputMessage("No valid flash update region found!");
        return OPTROM_NO_REGION;
    }
    const size_t fileSize = file.size();
    if (maxSize < 1 || fileSize > maxSize) {
        PrintValidationFailure(OPTROM_DATA_WRONG_SIZE, name, device, model);
        return OPTROM_DATA_WRONG_SIZE;
    }

    // The region's current contents fill what the file does not cover; the
    // file's own bytes are copied over them below, so only the part past the
    // file starts zeroed (what a read that does not reach it leaves there).
    ScratchBytes work(maxSize);
    if (!work.ok()) {
        OutputMessage("Memory allocation error!");
        return OPTROM_NO_MEMORY;
    }
    const std::span<uint8_t> region = work.span();
    std::fill(region.begin() + static_cast<std::ptrdiff_t>(fileSize), region.end(), uint8_t{0});
    int rr = getHBAOptionROMInfos(device, region, g_ptrOptionROMRequest->Region);
    if (rr != OPTROM_OK) {
        // Writing without the current contents would replace the bytes
        // beyond the file with zeros.
        OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", inst,
                      static_cast<unsigned>(rr), "Unable to read the current flash contents");
        return OPTROM_UPDATE_FAILED;
    }

    // The file is read over the region's bytes it replaces, then checked
    // and patched there for this adapter.
    if (file.ReadInto(region.first(fileSize)) != ImageFileStatus::Ok) {
        OutputMessage("File %s appears to be corrupted!", name);
        return OPTROM_FILE_CORRUPTED;
    }
    int vr = validateUpdateMultibootOptionROM(ssdid, ssvid, region.first(fileSize), device->nodeProperty.Model,
                                              device->chipProperty.PciDeviceId);
    if (vr != 0 && vr != OPTROM_VALID) {
        PrintValidationFailure(vr, name, device, model);
        return vr;
    }
    const uint32_t req = g_ptrOptionROMRequest->Region;

    // Plan every write before the first one, so that a region the buffer
    // cannot supply stops the update with the flash untouched.
    std::vector<PlannedWrite> plan;
    size_t source = 0;
    for (const auto &e : layout) {
        if (req == TVX_OPT_ROM_REGION_ALL) {
            if (e.Region == TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI)
                plan.push_back({e.Region, source, e.Size, "TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI"});
            else if (e.Region == TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI_FW)
                plan.push_back({e.Region, source, e.Size, "TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI_FW"});
            else if (e.Region == TVX_OPT_ROM_REGION_FW) {
                source = ALL_IMAGE_FW_OFFSET;
                plan.push_back({e.Region, source, e.Size, "TVX_OPT_ROM_REGION_FW"});
            }
        } else if (e.Region == req) {
            plan.push_back({e.Region, 0, maxSize, "TVX_OPT_ROM_REGION_ALL"});
        }
    }
    for (const auto &w : plan) {
        // A region the layout gives no bytes cannot be written.
        if (w.size == 0) {
            OutputLevelMessage(LEVEL_DEBUG, "OptionROMRegionUpdate: Region 0x%x has no size in the flash layout.",
                               w.region);
            OutputMessage("No valid flash update region found!");
            return OPTROM_NO_REGION;
        }
        if (!InBounds(region.size(), w.offset, w.size)) {
            OutputLevelMessage(LEVEL_DEBUG,
                               "OptionROMRegionUpdate: Region 0x%x of 0x%x bytes at 0x%zx lies outside the image.",
                               w.region, w.size, w.offset);
            PrintValidationFailure(OPTROM_DATA_WRONG_SIZE, name, device, model);
            return OPTROM_DATA_WRONG_SIZE;
        }
    }

    if (GetCxrType(device) < 8 || !isMultiPortAdapter(device))
        OutputLevelMessage(LEVEL_INFO, "Updating Flash on HBA instance %d - %8s. Please wait...", inst, model.c_str());
    else
        OutputLevelMessage(LEVEL_INFO, "Updating Flash on HBA port(s) - %8s. Please wait...", model.c_str());

    uint32_t last = TVX_STATUS_OK;
    int written = 0;
    // One guarded stretch for the whole sequence: a Ctrl-C between the boot
    // and the firmware region waits for both, so the adapter never keeps one
    // new region beside an old one.
    OSSBeginCriticalWrite();
    for (const auto &w : plan) {
        last = TvxUpdateOptionRomEx(device->handle, 0, region.data() + w.offset, w.size, w.region);
        ++written;
        if (last != TVX_STATUS_OK && last != TVX_RESULT_RESET_DISABLED) {
            OutputLevelMessage(LEVEL_DEBUG, "OptionROMRegionUpdate: Unable to set %s (0x%x - %s).", w.name, last,
                               LibraryErrorText(last).c_str());
            break;
        }
    }
    OSSEndCriticalWrite();

    if (written > 0 && (last == TVX_STATUS_OK || last == TVX_RESULT_RESET_DISABLED)) {
        OutputMessage("Option ROM update complete. Changes have been saved to both ports of this HBA.\nYou must "
                      "reboot in order for changes to take effect.");
        return last == TVX_STATUS_OK ? OPTROM_OK : OPTROM_OK_RESET_DISABLED;
    }
    OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", inst, last,
                  LibraryErrorText(last).c_str());
    return OPTROM_UPDATE_FAILED;
}
