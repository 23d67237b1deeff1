#include "image/pcirom.h"

#include <cstdio>
#include <cstring>

#include "app/output.h"
#include "image/bootpatch.h"
#include "image/helpers.h"

bool ReadPciRomHeader(std::span<const uint8_t> buf, size_t offset, PciRomHeader &out) {
    PciRomHeader h;
    if (!ReadLE16(buf, offset + ROM_HDR_SIGNATURE, h.signature) || !ReadU8(buf, offset + ROM_HDR_SIZE, h.sizeBlocks) ||
        !ReadU8(buf, offset + ROM_HDR_TYPE_CODE, h.typeCode) ||
        !ReadLE16(buf, offset + ROM_HDR_PCIR_OFFSET, h.pcirOffset))
        return false;
    out = h;
    return true;
}

namespace {

bool ParseDataStructure(std::span<const uint8_t> buf, size_t at, PciDataStructure &out) {
    if (!InBounds(buf.size(), at, PCIR_MIN_SIZE)) return false;
    PciDataStructure d;
    ReadLE32(buf, at + PCIR_SIGNATURE, d.signature);
    ReadLE16(buf, at + PCIR_VENDOR_ID, d.vendorId);
    ReadLE16(buf, at + PCIR_DEVICE_ID, d.deviceId);
    ReadLE16(buf, at + PCIR_IMAGE_LENGTH, d.imageLength);
    ReadU8(buf, at + PCIR_REV_MINOR, d.revMinor);
    ReadU8(buf, at + PCIR_REV_MAJOR, d.revMajor);
    ReadU8(buf, at + PCIR_CODE_TYPE, d.codeType);
    ReadU8(buf, at + PCIR_INDICATOR, d.indicator);
    out = d;
    return true;
}

const char *DeviceLabel(uint16_t deviceId) {
    switch (deviceId) {
    case 1: return "(VPD data)";
    case 2: return "(2200 firmware)";
    case 3: return "(2300 firmware)";
    default: return "";
    }
}

const char *CodeTypeLabel(uint8_t codeType) {
    switch (codeType) {
    case PCI_CODE_BIOS: return "(Intel X86 PC compatible)";
    case PCI_CODE_FCODE: return "(PCI Open firmware)";
    case PCI_CODE_PXE: return "(Zv PA RISC)";
    case PCI_CODE_EFI: return "(EFI driver)";
    default: return "";
    }
}

// Image at 'offset' as a span that ends where the image ends. Only valid
// after IsThisPciImage accepted the image.
size_t ImageBytes(std::span<const uint8_t> buf, size_t offset) {
    PciDataStructure d;
    if (!ReadPciDataStructure(buf, offset, d)) return 0;
    return static_cast<size_t>(d.imageLength) * PCI_BLOCK;
}

// Offset of the image after the one at 'offset', or false when the link
// does not advance (a walk that would come back to an image already seen).
bool NextImage(std::span<const uint8_t> buf, size_t offset, size_t &next) {
    size_t len = ImageBytes(buf, offset);
    if (len == 0 || !InBounds(buf.size(), offset, len)) return false;
    next = offset + len;
    return next > offset;
}

// Upper bound of images any chain in the buffer can hold.
size_t MaxImages(std::span<const uint8_t> buf) { return buf.size() / PCI_BLOCK + 1; }

} // namespace

bool ReadPciDataStructure(std::span<const uint8_t> buf, size_t imageOffset, PciDataStructure &out) {
    PciRomHeader h;
    if (!ReadPciRomHeader(buf, imageOffset, h)) return false;
    return ParseDataStructure(buf, imageOffset + h.pcirOffset, out);
}

int IsThisPciImage(std::span<const uint8_t> buf, size_t offset) {
    int result = 0;
    PciRomHeader h;
    PciDataStructure d;
    if (!ReadPciRomHeader(buf, offset, h)) {
        OutputLevelMessage(LEVEL_DEBUG, "IsThisPciImage: header outside the buffer (offset 0x%zx, size 0x%zx)", offset,
                           buf.size());
    } else {
        OutputLevelMessage(LEVEL_DEBUG, "IsThisPciImage: 0x%x%x", buf[offset], buf[offset + 1]);
        if (h.signature == ROM_SIGNATURE) {
            OutputLevelMessage(LEVEL_DEBUG, "IsThisPciImage: PCI header OK");
            if (ParseDataStructure(buf, offset + h.pcirOffset, d) && d.signature == PCIR_SIGNATURE_VALUE) {
                OutputLevelMessage(LEVEL_DEBUG, "IsThisPciImage: PCI signature OK");
                size_t len = static_cast<size_t>(d.imageLength) * PCI_BLOCK;
                bool codeImage = d.deviceId != 1 && d.deviceId != 2 && d.deviceId != 3 && d.codeType <= PCI_CODE_EFI;
                // The image must hold its own data structure and end inside
                // the buffer; a zero length would make the chain stand still.
                bool bounded = len != 0 && InBounds(buf.size(), offset, len) &&
                               static_cast<size_t>(h.pcirOffset) + PCIR_MIN_SIZE <= len;
                if (codeImage && !bounded)
                    OutputLevelMessage(LEVEL_DEBUG,
                                       "IsThisPciImage: image length 0x%zx at offset 0x%zx outside the buffer (0x%zx)",
                                       len, offset, buf.size());
                result = codeImage && bounded ? 1 : 0;
            }
        }
    }
    OutputLevelMessage(LEVEL_DEBUG, "IsThisPciImage: return %d", result);
    return result;
}

size_t FindPciImageChainEnd(std::span<const uint8_t> chain) {
    size_t offset = 0;
    for (size_t n = 0; n < MaxImages(chain); ++n) {
        if (!IsThisPciImage(chain, offset)) return 0;
        PciDataStructure d;
        ReadPciDataStructure(chain, offset, d);
        size_t next = 0;
        if (!NextImage(chain, offset, next)) return 0;
        if (d.indicator & PCIR_LAST_IMAGE) return next;
        offset = next;
    }
    return 0;
}

void PrintDataStructure(std::span<const uint8_t> header, std::span<const uint8_t> data, int imageNumber) {
    (void)header;
    PciDataStructure d;
    ParseDataStructure(data, 0, d);
    char signature[5] = {0, 0, 0, 0, 0};
    for (size_t i = 0; i < 4 && i < data.size(); ++i)
        signature[i] = static_cast<char>(data[i]);
    OutputLevelMessage(LEVEL_DEBUG, "Image %d  %s", imageNumber, (d.indicator & PCIR_LAST_IMAGE) ? "(Last)" : "(More)");
    OutputLevelMessage(LEVEL_DEBUG, "Signature %.4s", signature);
    OutputLevelMessage(LEVEL_DEBUG, "Vendor Id %04X", d.vendorId);
    OutputLevelMessage(LEVEL_DEBUG, "Device Id %04X %s", d.deviceId, DeviceLabel(d.deviceId));
    OutputLevelMessage(LEVEL_DEBUG, "Revision  %02d.%02d", d.revMajor, d.revMinor);
    OutputLevelMessage(LEVEL_DEBUG, "Length    %d bytes", static_cast<int>(d.imageLength) * 512);
    OutputLevelMessage(LEVEL_DEBUG, "Code Type %02X  %s", d.codeType, CodeTypeLabel(d.codeType));
}

int ReadPciHeaderAndData(std::FILE *file, std::array<uint8_t, PCI_FILE_RECORD> &header,
                         std::array<uint8_t, PCI_FILE_RECORD> &data, long imageStart) {
    if (file == nullptr || std::fread(header.data(), 1, header.size(), file) != header.size()) {
        OutputLevelMessage(LEVEL_ERROR, "Failed to read header from file!");
        return 0;
    }
    uint16_t signature = 0, pcirOffset = 0;
    ReadLE16(header, ROM_HDR_SIGNATURE, signature);
    ReadLE16(header, ROM_HDR_PCIR_OFFSET, pcirOffset);
    if (signature != ROM_SIGNATURE) {
        OutputLevelMessage(LEVEL_ERROR, "Failed to recognize header signature!");
        return 0;
    }
    if (imageStart < 0 || std::fseek(file, imageStart + static_cast<long>(pcirOffset), SEEK_SET) != 0) {
        OutputLevelMessage(LEVEL_ERROR, "Failed to wind file to data!");
        return 0;
    }
    if (std::fread(data.data(), 1, data.size(), file) != data.size()) {
        OutputLevelMessage(LEVEL_ERROR, "Failed to read data from file!");
        return 0;
    }
    uint32_t pcir = 0;
    ReadLE32(data, PCIR_SIGNATURE, pcir);
    if (pcir != PCIR_SIGNATURE_VALUE) {
        OutputLevelMessage(LEVEL_ERROR, "Failed to recognize data signature!");
        return 0;
    }
    return 1;
}

namespace {

// Shared body of both ComputeChecksum forms; 'out' is null for a check.
int Checksum(std::span<const uint8_t> buf, uint8_t *out, size_t offset) {
    uint8_t sizeBlocks = 0;
    int result = 0;
    if (!ReadU8(buf, offset + ROM_HDR_SIZE, sizeBlocks)) {
        OutputLevelMessage(LEVEL_DEBUG, "ComputeChecksum: image at 0x%zx outside the buffer", offset);
    } else {
        // The size byte is an unsigned count of 512-byte blocks; 0 is no image.
        size_t size = static_cast<size_t>(sizeBlocks) * PCI_BLOCK;
        OutputLevelMessage(LEVEL_DEBUG, "ComputeChecksum: iOffset=%zu (0x%zx) iSize=%zu", offset, offset, size);
        if (size == 0 || !InBounds(buf.size(), offset, size)) {
            OutputLevelMessage(LEVEL_DEBUG, "ComputeChecksum: size %zu invalid for buffer of %zu bytes", size,
                               buf.size());
        } else {
            uint8_t sum = 0;
            for (size_t i = 0; i + 1 < size; ++i)
                sum = static_cast<uint8_t>(sum + buf[offset + i]);
            uint8_t checksum = static_cast<uint8_t>(-sum);
            OutputLevelMessage(LEVEL_DEBUG, "ComputeChecksum: check sum (*)=%d (0x%x)", sum, sum);
            OutputLevelMessage(LEVEL_DEBUG, "ComputeChecksum: check sum(~)=%d (0x%x)", checksum, checksum);
            size_t at = offset + size - 1;
            if (out != nullptr) {
                out[at] = checksum;
                OutputLevelMessage(LEVEL_DEBUG, "ComputeChecksum: Updating check sum 0x%x at offset 0x%zx", checksum,
                                   at);
            }
            OutputLevelMessage(LEVEL_DEBUG, "ComputeChecksum: m_Data[iOffset + (iSize - 1)]=%d (0x%x)", buf[at],
                               buf[at]);
            result = buf[at] == checksum ? 1 : 0;
        }
    }
    OutputLevelMessage(LEVEL_DEBUG, "ComputeChecksum: exit %d", result);
    return result;
}

} // namespace

int ComputeChecksum(int bUpdate, std::span<uint8_t> buf, size_t offset) {
    return Checksum(buf, bUpdate ? buf.data() : nullptr, offset);
}

int ComputeChecksum(std::span<const uint8_t> buf, size_t offset) { return Checksum(buf, nullptr, offset); }

int isCommonBIOSImage(std::span<const uint8_t> buf, size_t offset) {
    if (!InBounds(buf.size(), offset + ROM_HDR_MODL, 4) || offset > buf.size()) {
        OutputLevelMessage(LEVEL_DEBUG, "isCommonBIOSImage: Offset=%zu outside the buffer", offset);
        return 0;
    }
    const uint8_t *p = buf.data() + offset + ROM_HDR_MODL;
    OutputLevelMessage(LEVEL_DEBUG, "isCommonBIOSImage: Offset=%zu %c%c%c%c", offset, p[0], p[1], p[2], p[3]);
    return std::memcmp(p, "MODL", 4) == 0 ? 1 : 0;
}

namespace {

struct ChipTexts {
    char hwType[16];
    char deviceText[8];
};

ChipTexts MakeChipTexts(uint16_t deviceId) {
    ChipTexts t{};
    std::snprintf(t.hwType, sizeof t.hwType, "CXR%04X", deviceId);
    std::snprintf(t.deviceText, sizeof t.deviceText, "%04X", deviceId);
    return t;
}

} // namespace

int UpdateAllPciHeaders(std::span<uint8_t> chain, uint16_t ssvid, uint16_t ssdid, uint16_t deviceId,
                        const char *model) {
    ChipTexts t = MakeChipTexts(deviceId);
    OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Entry for %s!", t.hwType);
    int result = 0;
    size_t offset = 0;
    for (size_t n = 0; n < MaxImages(chain) && IsThisPciImage(chain, offset); ++n) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: iOffset=0x%zx (%zu)", offset, offset);
        PciDataStructure d;
        ReadPciDataStructure(chain, offset, d);
        std::span<uint8_t> image = chain.subspan(offset, ImageBytes(chain, offset));
        switch (d.codeType) {
        case PCI_CODE_BIOS:
            OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Updating BIOS Image");
            result = UpdateImage(ssdid, ssvid, image, model, t.hwType, 0);
            if (result != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Unable to update BIOS boot code");
                return result;
            }
            if (!ComputeChecksum(1, image, 0)) {
                OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Unable to Compute Checksum for BIOS");
                return IMG_CHECKSUM_MISMATCH;
            }
            result = Validate(image, t.deviceText, 0);
            if (result != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Unable to Validate for BIOS");
                return result;
            }
            OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: BIOS image header/data updated successfully.");
            break;
        case PCI_CODE_PXE: OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Not Updating PXE Image"); break;
        case PCI_CODE_EFI:
            OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Updating EFI Image");
            result = UpdateImageEFI(ssdid, ssvid, image, t.hwType, 0);
            if (result != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Unable to update EFI boot code");
                return result;
            }
            OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: EFI image header updated successfully.");
            break;
        case PCI_CODE_FCODE:
            OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Updating FCode");
            result = updateImageFCode(ssdid, ssvid, image, t.hwType, 0);
            if (result != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Unable to update FCode boot code");
                return result;
            }
            OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: FCode image header updated successfully.");
            break;
        default: break;
        }
        if (d.indicator & PCIR_LAST_IMAGE) {
            OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: Last Image Updated");
            return result;
        }
        if (!NextImage(chain, offset, offset)) break;
    }
    OutputLevelMessage(LEVEL_DEBUG, "UpdateAllPciHeaders: return %d", IMG_BAD_HEADER);
    return IMG_BAD_HEADER;
}

int UpdateiSCSIPciHeaders(std::span<uint8_t> chain, uint16_t ssvid, uint16_t ssdid, uint16_t deviceId,
                          const char *model) {
    ChipTexts t = MakeChipTexts(deviceId);
    OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: Entry for %s!", t.hwType);
    int result = IMG_BAD_HEADER;
    size_t offset = 0;
    for (size_t n = 0; n < MaxImages(chain) && IsThisPciImage(chain, offset); ++n) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: iOffset=0x%zx (%zu)", offset, offset);
        PciDataStructure d;
        ReadPciDataStructure(chain, offset, d);
        std::span<uint8_t> image = chain.subspan(offset, ImageBytes(chain, offset));
        switch (d.codeType) {
        case PCI_CODE_BIOS:
            OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: Updating BIOS Image");
            result = UpdateiSCSIImage(ssdid, ssvid, image, model, t.hwType);
            if (result != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: [ERROR] ERROR_UNKNOWN_HBA");
                return result;
            }
            if (!ComputeChecksum(1, image, 0)) {
                OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: Unable to Compute Checksum for BIOS");
                return IMG_CHECKSUM_MISMATCH;
            }
            result = Validate(image, t.deviceText, 0);
            if (result != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: Unable to Validate for BIOS");
                return result;
            }
            break;
        case PCI_CODE_EFI:
            OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: Updating EFI Image");
            result = UpdateImageEFI(ssdid, ssvid, image, t.hwType, 0);
            if (result != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: [ERROR] ERROR_UNKNOWN_HBA");
                return result;
            }
            break;
        case PCI_CODE_FCODE:
            OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: Updating FCode");
            result = updateImageFCode(ssdid, ssvid, image, t.hwType, 0);
            if (result != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: [ERROR] ERROR_UNKNOWN_HBA");
                return result;
            }
            break;
        default: break; // PXE images are passed over
        }
        if (d.indicator & PCIR_LAST_IMAGE) {
            OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: Last Image Udpated");
            return result;
        }
        if (!NextImage(chain, offset, offset)) break;
    }
    OutputLevelMessage(LEVEL_DEBUG, "UpdateiSCSIPciHeaders: Invalid PCI header!");
    return IMG_BAD_HEADER;
}

namespace {

// Shared body of the FCoE and iSCSI validators; 'name' prefixes the traces.
int ValidateBootChain(std::span<const uint8_t> chain, uint16_t deviceId, const char *name, bool iscsi) {
    ChipTexts t = MakeChipTexts(deviceId);
    OutputLevelMessage(LEVEL_DEBUG, "%s: Entry for %s!", name, t.deviceText);
    size_t offset = 0;
    bool linkOk = true;
    for (size_t n = 0; n < MaxImages(chain); ++n) {
        if (!IsThisPciImage(chain, offset)) {
            linkOk = false;
            break;
        }
        PciDataStructure d;
        ReadPciDataStructure(chain, offset, d);
        std::span<const uint8_t> image = chain.subspan(offset, ImageBytes(chain, offset));
        int rc = -1;
        const char *kind = nullptr;
        switch (d.codeType) {
        case PCI_CODE_BIOS: OutputLevelMessage(LEVEL_DEBUG, "%s: Validate BIOS Image Done", name); break;
        case PCI_CODE_EFI:
            OutputLevelMessage(LEVEL_DEBUG, "%s: Validate EFI Image", name);
            rc = validateEFI(image, t.deviceText, 0);
            kind = "EFI";
            break;
        case PCI_CODE_FCODE:
            OutputLevelMessage(LEVEL_DEBUG, "%s: Validate FCODE Image", name);
            rc = validateFCode(image, t.deviceText, 0, 0);
            kind = "FCODE";
            break;
        default: break;
        }
        if (kind != nullptr) {
            if (rc == IMG_CHECKSUM_MISMATCH) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: [ERROR] ERROR_MISMATCH_CHECKSUM", name);
                break;
            }
            if (rc == IMG_INVALID_SSID) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: [ERROR] ERROR_INVALID_SSID", name);
                break;
            }
            // An FCode or EFI image built for another chip must not pass.
            if (rc == IMG_SSID_MISMATCH) {
                OutputLevelMessage(LEVEL_DEBUG, "%s: [ERROR] ERROR_MISMATCH_SSID", name);
                break;
            }
            if (rc == 0) {
                // The FCoE walker's FCode trace carries the update walker's name.
                const char *doneName = (!iscsi && d.codeType == PCI_CODE_FCODE) ? "UpdateAllPciHeaders" : name;
                OutputLevelMessage(LEVEL_DEBUG, "%s: Validate %s Image Done", doneName, kind);
            }
        }
        if (d.indicator & PCIR_LAST_IMAGE) return 1;
        if (!NextImage(chain, offset, offset)) {
            linkOk = false;
            break;
        }
    }
    if (!linkOk && iscsi) OutputLevelMessage(LEVEL_DEBUG, "%s: Invalid PCI header!", name);
    OutputLevelMessage(LEVEL_DEBUG, "%s: Last Image not found\n", name);
    return 0;
}

} // namespace

int ValidateFCoEPciHeaders(std::span<const uint8_t> chain, uint16_t deviceId) {
    return ValidateBootChain(chain, deviceId, "ValidateFCoEPciHeaders", false);
}

int ValidateiSCSIPciHeaders(std::span<const uint8_t> chain, uint16_t deviceId) {
    return ValidateBootChain(chain, deviceId, "ValidateiSCSIPciHeaders", true);
}

int ValidateNICPciHeaders(std::span<const uint8_t> chain, uint16_t deviceId) {
    ChipTexts t = MakeChipTexts(deviceId);
    size_t offset = 0;
    for (size_t n = 0; n < MaxImages(chain); ++n) {
        if (!IsThisPciImage(chain, offset)) {
            OutputLevelMessage(LEVEL_DEBUG, "ValidateNICPciHeaders: [ERROR] Invalid PCI Image...");
            break;
        }
        PciDataStructure d;
        ReadPciDataStructure(chain, offset, d);
        std::span<const uint8_t> image = chain.subspan(offset, ImageBytes(chain, offset));
        bool failed = false;
        switch (d.codeType) {
        case PCI_CODE_BIOS:
        case PCI_CODE_PXE:
            if (deviceId != PCI_DEVICE_ANY_NIC && d.deviceId != deviceId) {
                OutputLevelMessage(LEVEL_DEBUG, "ValidateNICPciHeaders: Invalid SSID");
                failed = true;
            } else {
                OutputLevelMessage(LEVEL_DEBUG, d.codeType == PCI_CODE_BIOS
                                                    ? "ValidateNICPciHeaders: NIC/BIOS Image OK"
                                                    : "ValidateNICPciHeaders: NIC/PXE Image OK");
            }
            break;
        case PCI_CODE_EFI: {
            int rc = validateEFI(image, t.deviceText, 0);
            if (rc == IMG_SSID_MISMATCH) {
                OutputLevelMessage(LEVEL_DEBUG, "ValidateNICPciHeaders: Invalid SSID");
                failed = true;
            } else if (rc == 0) {
                OutputLevelMessage(LEVEL_DEBUG, "ValidateNICPciHeaders: NIC/EFI Image OK");
            }
            break;
        }
        case PCI_CODE_FCODE:
            if (ValidateNicFCode(image, deviceId) == IMG_SSID_MISMATCH) {
                OutputLevelMessage(LEVEL_DEBUG, "ValidateNICPciHeaders: Invalid SSID");
                failed = true;
            } else {
                OutputLevelMessage(LEVEL_DEBUG, "ValidateNICPciHeaders: NIC/FCODE Image OK");
            }
            break;
        default: break;
        }
        if (failed) break;
        if (d.indicator & PCIR_LAST_IMAGE) return 1;
        if (!NextImage(chain, offset, offset)) {
            OutputLevelMessage(LEVEL_DEBUG, "ValidateNICPciHeaders: [ERROR] Invalid PCI Image...");
            break;
        }
    }
    OutputLevelMessage(LEVEL_DEBUG, "ValidateNICPciHeaders: Last Image not found");
    return 0;
}

int ValidateNicFCode(std::span<const uint8_t> image, uint16_t deviceId) {
    if (deviceId == PCI_DEVICE_ANY_NIC) return 0;
    PciDataStructure d;
    if (!ReadPciDataStructure(image, 0, d)) return IMG_SSID_MISMATCH;
    char imageText[8];
    char wanted[8];
    std::snprintf(imageText, sizeof imageText, "%02x%02x", (d.deviceId >> 8) & 0xFF, d.deviceId & 0xFF);
    std::snprintf(wanted, sizeof wanted, "%04x", deviceId);
    return std::strncmp(imageText, wanted, 4) == 0 ? 0 : IMG_SSID_MISMATCH;
}
