// Firmware and data component checks: RISC-style headers, first-generation
// MPI and EDC firmware, MPI configuration parameters, trailer blocks, NIC
// firmware, PEP and configuration versions and the signature region.
#include <algorithm>
#include <vector>

#include "app/output.h"
#include "image/components.h"
#include "image/helpers.h"

int GetSpecificImageComponentInBuffer(std::span<uint8_t> dst, std::span<const uint8_t> image,
                                      const IltRegionEntry *entry) {
    if (entry == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "GetSpecificImageComponentInBuffer: no region entry");
        return -1;
    }
    auto component = ILT_Region_GetComponent(image, *entry);
    if (!component) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "GetSpecificImageComponentInBuffer: region 0x%x (offset 0x%x, length 0x%x) outside the "
                           "image (0x%zx)",
                           entry->regionCode, entry->offset, entry->length, image.size());
        return -1;
    }
    if (component->size() > dst.size()) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "GetSpecificImageComponentInBuffer: region 0x%x length 0x%zx longer than the buffer (0x%zx)",
                           entry->regionCode, component->size(), dst.size());
        return -1;
    }
    std::copy(component->begin(), component->end(), dst.begin());
    return 0;
}

namespace {

bool EntryVersionIs(const IltRegionEntry &entry, uint8_t major, uint8_t minor, uint8_t subMinor) {
    return entry.version[0] == major && entry.version[1] == minor && entry.version[2] == subMinor;
}

void PrintFirmwareHeader(const RiscFirmwareHeader &h) {
    OutputLevelMessage(LEVEL_DEBUG, "PrintFirmwareHeader: Fw Version : %d.%d.%d Code 0x%X", h.versionMajor & 0xFF,
                       h.versionMinor & 0xFF, h.versionSubMinor & 0xFF, h.supportedValue);
    OutputLevelMessage(LEVEL_DEBUG,
                       "PrintFirmwareHeader: Start 0x%X Length 0x%X Attributes 0x%X Extended 0x%X Version words "
                       "0x%X 0x%X 0x%X",
                       h.startAddress, h.addressLength, h.attribute, h.extendedAttribute, h.versionMajor,
                       h.versionMinor, h.versionSubMinor);
}

} // namespace

bool ValidateRiscFirmware(std::span<const uint8_t> component, const IltRegionEntry &entry, uint32_t supported,
                          ComponentVersion *version) {
    RiscFirmwareHeader h{};
    if (GetFirmwareHeader(component, &h) != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateRiscFirmware: component of 0x%zx bytes holds no firmware header",
                           component.size());
        OutputLevelMessage(LEVEL_DEBUG, "ValidateRiscFirmware: Unable to validate Risc firmware!");
        return false;
    }
    ComponentVersion v{};
    GetRiscVersion(h, &v);
    if (version != nullptr) *version = v;
    PrintFirmwareHeader(h);
    // Every word must be a version byte: a word of 256 or more is not the
    // version the entry names even when its low byte is.
    bool versionOk = h.versionMajor < 256 && h.versionMinor < 256 && h.versionSubMinor < 256 &&
                     EntryVersionIs(entry, static_cast<uint8_t>(h.versionMajor), static_cast<uint8_t>(h.versionMinor),
                                    static_cast<uint8_t>(h.versionSubMinor));
    if (!versionOk || h.supportedValue != supported) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "ValidateRiscFirmware: region %d.%d.%d, expected code 0x%X; Unable to validate Risc "
                           "firmware!",
                           entry.version[0], entry.version[1], entry.version[2], supported);
        return false;
    }
    return true;
}

bool ValidateMpiFirmwareImage(std::span<const uint8_t> component, const IltRegionEntry &entry,
                              ComponentVersion *version) {
    ComponentVersion v{};
    uint32_t supported = 0;
    if (!ReadU8(component, 17, v.major) || !ReadU8(component, 18, v.minor) || !ReadU8(component, 19, v.subMinor) ||
        !ReadBE32(component, 32, supported)) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateMpiFirmwareImage: Unable to validate Mpi Firmware image.");
        return false;
    }
    if (version != nullptr) *version = v;
    OutputLevelMessage(LEVEL_DEBUG, "ValidateMpiFirmwareImage: Mpi Fw Version %d.%d.%d Code 0x%X", v.major, v.minor,
                       v.subMinor, supported);
    if (!EntryVersionIs(entry, v.major, v.minor, v.subMinor) || supported != MPI_FW_SUPPORTED) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateMpiFirmwareImage: Unable to validate Mpi Firmware image.");
        return false;
    }
    return true;
}

bool ValidateEdcFirmwareImage(std::span<const uint8_t> component, const IltRegionEntry &entry,
                              ComponentVersion *version) {
    ComponentVersion v{};
    uint32_t cookie = 0, supported = 0;
    if (!ReadLE32(component, 0, cookie) || !ReadU8(component, 17, v.major) || !ReadU8(component, 18, v.minor) ||
        !ReadU8(component, 19, v.subMinor) || !ReadBE32(component, 32, supported)) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateEdcFirmwareImage: Unable to validate EDC Firmware.");
        return false;
    }
    if (version != nullptr) *version = v;
    OutputLevelMessage(LEVEL_DEBUG, "ValidateEdcFirmwareImage: Cookie 0x%X EDC Fw Version %d.%d.%d Code 0x%X", cookie,
                       v.major, v.minor, v.subMinor, supported);
    if (cookie != EDC_FW_COOKIE || !EntryVersionIs(entry, v.major, v.minor, v.subMinor) ||
        supported != EDC_FW_SUPPORTED) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateEdcFirmwareImage: Unable to validate EDC Firmware.");
        return false;
    }
    return true;
}

bool ValidateMpiConfigParamImage(std::span<const uint8_t> image, const IltRegionEntry &entry,
                                 ComponentVersion *version) {
    auto component = ILT_Region_GetComponent(image, entry);
    uint32_t signature = 0, checksum = 0, headerSize = 0, dataSize = 0;
    uint16_t ssvid = 0, ssdid = 0;
    ComponentVersion v{};
    if (!component || !ReadLE32(*component, 0, signature) || !ReadLE32(*component, 4, checksum) ||
        !ReadLE32(*component, 8, headerSize) || !ReadLE32(*component, 12, dataSize) ||
        !ReadLE16(*component, 24, ssvid) || !ReadLE16(*component, 26, ssdid) || !ReadU8(*component, 28, v.subMinor) ||
        !ReadU8(*component, 29, v.minor) || !ReadU8(*component, 30, v.major)) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateMpiConfigParamImage: Unable to validate Mpi config param image "
                                        "(no header)");
        return false;
    }
    if (version != nullptr) *version = v;
    OutputLevelMessage(LEVEL_DEBUG, "ValidateMpiConfigParamImage: header struct size %zu", MPI_CFG_HEADER_SIZE);
    OutputLevelMessage(LEVEL_DEBUG,
                       "ValidateMpiConfigParamImage: Signature 0x%X Checksum 0x%X Header size %u Data size %u "
                       "ssvid 0x%04X ssdid 0x%04X Version %d.%d.%d",
                       signature, checksum, headerSize, dataSize, ssvid, ssdid, v.major, v.minor, v.subMinor);
    OutputLevelMessage(LEVEL_DEBUG, "ValidateMpiConfigParamImage: Region version %d.%d.%d", entry.version[0],
                       entry.version[1], entry.version[2]);
    if (signature != MPI_CFG_SIGNATURE) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "ValidateMpiConfigParamImage: Unable to validate Mpi config param image (Signature "
                           "mismatched)");
        return false;
    }
    // The checksum is computed on a zeroed working copy, so a component
    // shorter than the checksummed area counts as padded with zeros; one
    // longer than the copy is refused rather than cut.
    std::vector<uint8_t> copy(MPI_CFG_BUFFER_SIZE, 0);
    if (GetSpecificImageComponentInBuffer(copy, image, &entry) != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateMpiConfigParamImage: Unable to get MPI Cfg data");
        return false;
    }
    WriteLE32(copy, 4, 0);
    uint32_t computed = 0u - HLPR_Sum32(copy, MPI_CFG_CHECKSUM_DWORDS);
    if (computed != checksum) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "ValidateMpiConfigParamImage: Unable to validate Mpi config param image (Invalid "
                           "checksum) computed 0x%X",
                           computed);
        return false;
    }
    return true;
}

bool ValidateTrailerBlock(const char *caller, std::span<const uint8_t> block, uint32_t signature,
                          ComponentVersion *version) {
    size_t len = block.size();
    uint32_t found = 0;
    ComponentVersion v{};
    if (len < TRAILER_SIZE || !ReadLE32(block, len - 32, found) || !ReadU8(block, len - 28, v.major) ||
        !ReadU8(block, len - 27, v.minor) || !ReadU8(block, len - 26, v.subMinor)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: block of 0x%zx bytes holds no trailer", caller, len);
        return false;
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: Signature 0x%X Version %d.%d.%d Length 0x%zx", caller, found, v.major, v.minor,
                       v.subMinor, len);
    if (found != signature) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: signature 0x%X, expected 0x%X", caller, found, signature);
        return false;
    }
    uint32_t sum = HLPR_Sum32(block, len / 4);
    if (sum != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: checksum failed (sum 0x%X)", caller, sum);
        return false;
    }
    if (version != nullptr) *version = v;
    return true;
}

bool ValidateNicFirmwareImage(std::span<const uint8_t> component, ComponentVersion *version) {
    uint32_t signature = 0, length = 0;
    ComponentVersion v{};
    if (!ReadLE32(component, 0, signature) || !ReadU8(component, 4, v.major) || !ReadU8(component, 5, v.minor) ||
        !ReadU8(component, 6, v.subMinor) || !ReadLE32(component, 12, length)) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateLarkFirmwareImage: component holds no firmware header");
        return false;
    }
    OutputLevelMessage(LEVEL_DEBUG, "ValidateLarkFirmwareImage: Signature 0x%X Version %d.%d.%d Length 0x%X", signature,
                       v.major, v.minor, v.subMinor, length);
    if (signature != NIC_FW_SIGNATURE) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateLarkFirmwareImage: signature 0x%X, expected 0x%X", signature,
                           NIC_FW_SIGNATURE);
        return false;
    }
    // The summed length must cover at least the header and stay inside the
    // component: a shorter one would test nothing, a longer one would read
    // the next component (or past the image).
    if (length < NIC_FW_HEADER_SIZE || length > component.size()) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateLarkFirmwareImage: length 0x%X outside the component (0x%zx)", length,
                           component.size());
        return false;
    }
    uint32_t sum = HLPR_Sum32(component, length / 4);
    if (sum != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateLarkFirmwareImage: checksum failed (sum 0x%X)", sum);
        return false;
    }
    if (version != nullptr) *version = v;
    return true;
}

bool ValidateZultSignatureRegion(std::span<const uint8_t> component, ComponentVersion *version, bool *versionSet) {
    if (versionSet != nullptr) *versionSet = false;
    if (component.size() < SIGNATURE_REGION_SIZE) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateZultSignatureRegion: region of 0x%zx bytes, %zu needed",
                           component.size(), SIGNATURE_REGION_SIZE);
        OutputLevelMessage(LEVEL_DEBUG, "ValidateZultSignatureRegion: Invalid data!");
        return false;
    }
    uint32_t head = 0, tail = 0, checksum = 0, length = 0;
    ComponentVersion v{};
    ReadLE32(component, 0, head);
    ReadU8(component, 5, v.subMinor);
    ReadU8(component, 6, v.minor);
    ReadU8(component, 7, v.major);
    ReadLE32(component, 8, checksum);
    ReadLE32(component, 12, length);
    ReadLE32(component, SIGNATURE_REGION_TAIL, tail);
    OutputLevelMessage(LEVEL_DEBUG,
                       "ValidateZultSignatureRegion: Head 0x%X Tail 0x%X Version %d.%d.%d Checksum 0x%X Length 0x%X",
                       head, tail, v.major, v.minor, v.subMinor, checksum, length);
    if (head == SIGNATURE_REGION_MAGIC && tail == SIGNATURE_REGION_MAGIC) {
        // A final partial dword counts whole, so the covered bytes are
        // rounded up to dwords; they must cover the header's own checksum
        // and lie inside the region.
        size_t dwords = (static_cast<size_t>(length) + 3) / 4;
        if (length < SIGNATURE_REGION_MIN_COVERED || dwords > component.size() / 4) {
            OutputLevelMessage(LEVEL_DEBUG, "ValidateZultSignatureRegion: length 0x%X outside the region (0x%zx)",
                               length, component.size());
            OutputLevelMessage(LEVEL_DEBUG, "ValidateZultSignatureRegion: Invalid data!");
            return false;
        }
        if (HLPR_Sum32(component, dwords) != 0) {
            OutputLevelMessage(LEVEL_DEBUG, "ValidateZultSignatureRegion: Invalid data!");
            return false;
        }
        if (version != nullptr) *version = v;
        if (versionSet != nullptr) *versionSet = true;
    }
    OutputLevelMessage(LEVEL_DEBUG, "ValidateZultSignatureRegion: return OK");
    return true;
}

bool ReadPepFirmwareVersion(std::span<const uint8_t> component, uint8_t version[4]) {
    if (component.size() < PEP_FW_VERSION_END) return false;
    for (size_t i = 0; i < 4; ++i)
        version[i] = component[PEP_FW_VERSION_END - 1 - i];
    return true;
}

bool ReadBlockVersion(std::span<const uint8_t> component, uint8_t version[4]) {
    if (component.size() < BLOCK_VERSION_END) return false;
    for (size_t i = 0; i < 4; ++i)
        version[i] = component[BLOCK_VERSION_END - 1 - i];
    return true;
}
