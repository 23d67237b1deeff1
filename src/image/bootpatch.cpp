#include "image/bootpatch.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/output.h"
#include "image/helpers.h"
#include "image/pcirom.h"

namespace {

struct TypeCode {
    const char *hwType;
    uint8_t code;
};

// Adapter type codes of common BIOS images.
constexpr TypeCode kBiosCodes[] = {
    {"CXR2300", 0x15}, {"CXR2312", 0x1A}, {"CXR2322", 0x1D}, {"CXR6312", 0x1F}, {"CXR6322", 0x20}, {"CXR2322S", 0x21},
    {"CXR2422", 0x22}, {"CXR2432", 0x25}, {"CXR5432", 0x28}, {"CXR5422", 0x29}, {"CXR2532", 0x2F}, {"CXR8432", 0x31},
    {"CXR8001", 0x32}, {"CXR8021", 0x33}, {"CXR8031", 0x40}, {"CXR2031", 0x40}, {"CXR8041", 0x41}, {"CXR8044", 0x44},
    {"CXR2071", 0x40}, {"CXR2171", 0x40}, {"CXR2271", 0x40}, {"CXR2371", 0x40}, {"CXR2871", 0x40}, {"CXR2971", 0x40},
    {"CXR2261", 0x40}, {"CXR2A61", 0x40}, {"CXR2081", 0x40}, {"CXR2181", 0x40}, {"CXR2281", 0x40}, {"CXR2381", 0x40},
    {"CXR2089", 0x40}, {"CXR2189", 0x40}, {"CXR2289", 0x40}, {"CXR2389", 0x40},
};

// Type codes of iSCSI BIOS images (CXR8001 has a device ID but no code).
constexpr TypeCode kIscsiCodes[] = {{"CXR8021", 0x33}, {"CXR8022", 0x35}, {"CXR8032", 0x40}, {"CXR8042", 0x42}};
constexpr const char *kIscsiDevices[] = {"CXR8001", "CXR8021", "CXR8022", "CXR8032", "CXR8042"};

// Hardware types whose FCode image gets the chip's device ID.
constexpr const char *kFCodeTypes[] = {"CXR2422", "CXR2432", "CXR2322", "CXR2322S", "CXR6322", "CXR5422",
                                       "CXR5432", "CXR2532", "CXR8432", "CXR8001",  "CXR8021", "CXR8022",
                                       "CXR8031", "CXR8032", "CXR8041", "CXR8042",  "CXR8044", "CXR2071",
                                       "CXR2171", "CXR2271", "CXR2371", "CXR2031",  "CXR2261"};

// Types that keep an FCode image already holding the chip's alternate ID.
struct Alternate {
    const char *hwType;
    uint16_t id;
};
constexpr Alternate kFCodeAlternates[] = {{"CXR2071", 0x2471}, {"CXR2031", 0x2431}, {"CXR2261", 0x2661}};

// EFI: the FCode types plus these.
constexpr const char *kEfiExtraTypes[] = {"CXR8020", "CXR8030", "CXR8040", "CXR2871", "CXR2971", "CXR2A61", "CXR2081",
                                          "CXR2181", "CXR2281", "CXR2381", "CXR2089", "CXR2189", "CXR2289", "CXR2389"};

// Device texts of the 27xx/28xx chips of the type-code table.
constexpr const char *kNewFamilyDevices[] = {"2071", "2171", "2271", "2371", "2871", "2971", "2261", "2A61",
                                             "2081", "2181", "2281", "2381", "2089", "2189", "2289", "2389"};

// validateFCode's alternate IDs: device text and the image's hex text.
struct AltText {
    const char *device;
    const char *image;
};
constexpr AltText kFCodeAltTexts[] = {{"2031", "2431"}, {"2261", "2661"}, {"2071", "2471"}, {"2081", "2481"},
                                      {"2181", "2581"}, {"2281", "2681"}, {"2381", "2781"}, {"2089", "2489"},
                                      {"2189", "2589"}, {"2289", "2689"}, {"2389", "2789"}};

template <typename T, size_t N> bool InList(const T (&list)[N], const char *text) {
    for (const auto &entry : list)
        if (std::strcmp(entry, text) == 0) return true;
    return false;
}

bool Same(const char *a, const char *b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

// Chip number of a hardware type: the four hex digits after "CXR" read as
// a number ("CXR2322S" gives 0x2322). False when they are not hex digits.
bool ChipDeviceId(const char *hwType, uint16_t &id) {
    const char *p = std::strstr(hwType, "CXR");
    p = p != nullptr ? p + 3 : hwType;
    uint16_t value = 0;
    for (int i = 0; i < 4; ++i) {
        int c = static_cast<unsigned char>(p[i]);
        if (!std::isxdigit(c)) return false;
        value = static_cast<uint16_t>(value * 16 + (std::isdigit(c) ? c - '0' : std::toupper(c) - 'A' + 10));
    }
    id = value;
    return true;
}

// Writes the model name (at most 18 characters) and a blank after it into
// a cleared model field.
void WriteModel(std::span<uint8_t> buf, size_t offset, const char *model) {
    std::memset(buf.data() + offset + BIOS_MODEL, 0, BIOS_MODEL_END - BIOS_MODEL + 1);
    size_t len = model != nullptr ? std::strlen(model) : 0;
    if (len > BIOS_MODEL_MAX) len = BIOS_MODEL_MAX;
    if (len > 0) std::memcpy(buf.data() + offset + BIOS_MODEL, model, len);
    buf[offset + BIOS_MODEL + len] = ' ';
}

// Image bytes that the BIOS patch writes: up to the end of the model field.
bool BiosPatchFits(std::span<const uint8_t> buf, size_t offset) {
    return InBounds(buf.size(), offset, BIOS_MODEL_END + 1);
}

// Offset of the PCI data structure's device ID of the image at 'offset',
// false when the image is not readable.
bool DeviceIdOffset(std::span<const uint8_t> buf, size_t offset, size_t &at) {
    PciRomHeader h;
    if (!ReadPciRomHeader(buf, offset, h)) return false;
    size_t pcir = offset + h.pcirOffset;
    if (!InBounds(buf.size(), pcir, PCIR_MIN_SIZE)) return false;
    at = pcir + PCIR_DEVICE_ID;
    return true;
}

bool HasRomSignature(std::span<const uint8_t> buf, size_t offset) {
    uint16_t sig = 0;
    return ReadLE16(buf, offset, sig) && sig == ROM_SIGNATURE;
}

// Shared body of UpdateImage and UpdateiSCSIImage.
int StampBios(std::span<uint8_t> buf, size_t offset, uint16_t ssvid, const char *model, const char *hwType,
              bool iscsi) {
    const char *name = iscsi ? "UpdateiSCSIImage" : "UpdateImage";
    if (hwType == nullptr) hwType = "";
    OutputLevelMessage(LEVEL_DEBUG, "%s: Updating BIOS image with offset=0x%zx  (%zu)...", name, offset, offset);
    OutputLevelMessage(LEVEL_DEBUG, "HBA Model is %s", model != nullptr ? model : "");
    OutputLevelMessage(LEVEL_DEBUG, "HBA Model length is %d",
                       model != nullptr ? static_cast<int>(std::strlen(model)) : 0);
    if (!BiosPatchFits(buf, offset)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: image at 0x%zx too short for a BIOS image", name, offset);
        return IMG_BAD_HEADER;
    }
    int result = IMG_OK;
    WriteModel(buf, offset, model);

    // Chip number: the hardware type without "CXR", at most 9 characters.
    char chip[10] = {};
    const char *p = std::strstr(hwType, "CXR");
    std::snprintf(chip, sizeof chip, "%s", p != nullptr ? p + 3 : hwType);
    OutputLevelMessage(LEVEL_DEBUG, "%s: HBA's CXR Type: %s", name, chip);
    OutputLevelMessage(LEVEL_DEBUG, "%s: HBA's Hardware Type: %s", name, hwType);
    // Four characters of the chip number, zero-padded when it is shorter.
    for (size_t i = 0; i < 4; ++i) {
        const size_t len = std::strlen(chip);
        buf[offset + BIOS_CHIP_TEXT + i] = static_cast<uint8_t>(i < len ? chip[i] : '\0');
    }

    bool haveCode = false;
    uint8_t code = 0;
    if (iscsi) {
        for (const auto &e : kIscsiCodes)
            if (Same(e.hwType, hwType)) haveCode = true, code = e.code;
    } else {
        for (const auto &e : kBiosCodes)
            if (Same(e.hwType, hwType)) haveCode = true, code = e.code;
    }
    if (haveCode) {
        buf[offset + ROM_HDR_TYPE_CODE] = code;
    } else {
        OutputLevelMessage(LEVEL_ERROR, "%s: Unknown hardware type (%s)!", name, hwType);
        result = IMG_UNKNOWN_HW_TYPE;
    }

    WriteLE16(buf, offset + BIOS_SSVID, ssvid);

    bool knownDevice = iscsi ? InList(kIscsiDevices, hwType) : haveCode;
    uint16_t deviceId = 0;
    if (knownDevice && ChipDeviceId(hwType, deviceId)) {
        WriteLE16(buf, offset + BIOS_DEVICE_ID, deviceId);
        for (size_t i = 0; i < 2; ++i)
            OutputLevelMessage(LEVEL_DEBUG, "%s: ssdid[0x%zx]=0x%02x", name, offset + BIOS_DEVICE_ID + i,
                               buf[offset + BIOS_DEVICE_ID + i]);
    } else {
        if (result == IMG_OK) OutputLevelMessage(LEVEL_ERROR, "%s: Unknown hardware type (%s)!", name, hwType);
        result = IMG_UNKNOWN_HW_TYPE;
    }
    OutputLevelMessage(LEVEL_DEBUG, "%s: returns %d", name, result);
    return result;
}

bool Contains(const char *text, const char *part) { return std::strstr(text, part) != nullptr; }

bool CodeIn(uint8_t c, std::initializer_list<uint8_t> codes) {
    for (uint8_t x : codes)
        if (x == c) return true;
    return false;
}

// Applies the first rule of the common-BIOS table that matches the device
// text. 'known' is false when no rule matches.
bool CommonBiosAccepts(const char *d, uint8_t c, bool &known, bool &logRefusal) {
    known = true;
    logRefusal = false;
    if (Same(d, "2322S") || Same(d, "2322s")) return c == 0x21;
    if (Same(d, "2322")) return c == 0x1F || c == 0x1D;
    if (Contains(d, "23")) return !CodeIn(c, {0x1F, 0x20});
    if (Contains(d, "24") || Contains(d, "54")) return !CodeIn(c, {0x1F, 0x20, 0x1D, 0x21, 0x31});
    if (Contains(d, "63")) return c == 0x1F || c == 0x20;
    if (Contains(d, "25")) return !CodeIn(c, {0x1F, 0x20, 0x1D, 0x21, 0x22, 0x25, 0x28, 0x29, 0x31});
    if (Contains(d, "84")) {
        OutputLevelMessage(LEVEL_DEBUG, "Validate: m_Data[0x%x]=0x%x", static_cast<unsigned>(ROM_HDR_TYPE_CODE), c);
        return !CodeIn(c, {0x1F, 0x20, 0x1D, 0x21, 0x22, 0x25, 0x28, 0x29});
    }
    if (Contains(d, "8001")) return !CodeIn(c, {0x1F, 0x20, 0x1D, 0x21, 0x22, 0x25, 0x28, 0x29, 0x31, 0x2F});
    if (Contains(d, "8021") || Contains(d, "8022")) {
        logRefusal = true;
        return !CodeIn(c, {0x1F, 0x20, 0x1D, 0x21, 0x22, 0x25, 0x28, 0x29, 0x31, 0x2F, 0x32});
    }
    if (Contains(d, "2031") || Contains(d, "8031") || Contains(d, "8032")) return true;
    if (Contains(d, "8041") || Contains(d, "8044") || Contains(d, "8042")) {
        logRefusal = true;
        return !CodeIn(c, {0x1F, 0x20, 0x1D, 0x21, 0x22, 0x25, 0x28, 0x29, 0x31, 0x2F, 0x32, 0x33, 0x40});
    }
    for (const char *number : kNewFamilyDevices) {
        if (Contains(d, number)) {
            logRefusal = true;
            return !CodeIn(c, {0x1F, 0x20, 0x1D, 0x21, 0x22, 0x25, 0x28, 0x29, 0x31, 0x2F, 0x32, 0x33});
        }
    }
    known = false;
    return false;
}

// Four lower-case hex characters of the data structure's device ID, high
// byte first. False when the image is not readable.
bool ImageDeviceText(std::span<const uint8_t> buf, size_t offset, char (&text)[8]) {
    size_t at = 0;
    uint16_t id = 0;
    if (!DeviceIdOffset(buf, offset, at) || !ReadLE16(buf, at, id)) return false;
    std::snprintf(text, sizeof text, "%02x%02x", (id >> 8) & 0xFF, id & 0xFF);
    return true;
}

// Shared body of updateImageFCode and UpdateImageEFI.
int StampDeviceId(std::span<uint8_t> buf, const char *hwType, size_t offset, bool efi) {
    const char *name = efi ? "UpdateImageEFI" : "updateImageFCode";
    if (hwType == nullptr) hwType = "";
    size_t at = 0;
    if (!DeviceIdOffset(buf, offset, at)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: image at 0x%zx outside the buffer", name, offset);
        return IMG_BAD_HEADER;
    }
    bool known = InList(kFCodeTypes, hwType) || (efi && InList(kEfiExtraTypes, hwType));
    uint16_t id = 0;
    if (!known || !ChipDeviceId(hwType, id)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unknown hardware type (%s)!", name, hwType);
        return efi ? IMG_UNKNOWN_HW_TYPE : IMG_OK;
    }
    uint16_t current = 0;
    ReadLE16(buf, at, current);
    if (efi) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateImageEFI: ssdid[0x%zx]=0x%02x", at + 1, buf[at + 1]);
        OutputLevelMessage(LEVEL_DEBUG, "UpdateImageEFI: ssdid[0x%zx]=0x%02x", at, buf[at]);
    } else {
        OutputLevelMessage(LEVEL_DEBUG, "updateImageFCode: *MSOffset 0x%zx=0x%02x LSO 0x%zx=0x%02x", at + 1,
                           buf[at + 1], at, buf[at]);
        for (const auto &alt : kFCodeAlternates) {
            if (Same(alt.hwType, hwType) && current == alt.id) return IMG_OK;
        }
    }
    WriteLE16(buf, at, id);
    if (efi) {
        OutputLevelMessage(LEVEL_DEBUG, "UpdateImageEFI: ssdid[0x%zx]=0x%02x", at + 1, buf[at + 1]);
        OutputLevelMessage(LEVEL_DEBUG, "UpdateImageEFI: ssdid[0x%zx]=0x%02x", at, buf[at]);
    } else {
        OutputLevelMessage(LEVEL_DEBUG, "updateImageFCode: *MSOffset 0x%zx=0x%02x LSO 0x%zx=0x%02x", at + 1,
                           buf[at + 1], at, buf[at]);
    }
    return IMG_OK;
}

} // namespace

bool LookupBiosTypeCode(const char *hwType, uint8_t &code, uint16_t &deviceId) {
    if (hwType == nullptr) return false;
    for (const auto &e : kBiosCodes) {
        if (Same(e.hwType, hwType)) {
            code = e.code;
            return ChipDeviceId(hwType, deviceId);
        }
    }
    return false;
}

int UpdateImage(uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> buf, const char *model, const char *hwType,
                size_t offset) {
    (void)ssdid;
    return StampBios(buf, offset, ssvid, model, hwType, false);
}

int UpdateiSCSIImage(uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> image, const char *model, const char *hwType) {
    (void)ssdid;
    return StampBios(image, 0, ssvid, model, hwType, true);
}

int Validate(std::span<const uint8_t> buf, const char *deviceText, size_t offset) {
    const char *d = deviceText != nullptr ? deviceText : "";
    OutputLevelMessage(LEVEL_DEBUG, "Validate: Adapter HW Type: %s", d);
    if (!isCommonBIOSImage(buf, offset)) {
        OutputLevelMessage(LEVEL_DEBUG, "Validate: Standard BIOS file detected.");
        if (std::strlen(d) < 4 || !InBounds(buf.size(), offset + BIOS_CHIP_TEXT, 4)) return IMG_INVALID_SSID;
        if (std::memcmp(buf.data() + offset + BIOS_CHIP_TEXT, d, 4) != 0) return IMG_INVALID_SSID;
        // A BIOS image whose bytes do not sum to zero is damaged: the system
        // BIOS would skip it and the adapter could no longer boot the host.
        return ComputeChecksum(buf, offset) ? IMG_OK : IMG_CHECKSUM_MISMATCH;
    }
    uint8_t c = 0;
    ReadU8(buf, offset + ROM_HDR_TYPE_CODE, c);
    OutputLevelMessage(LEVEL_DEBUG, "Validate: Common BIOS file detected (hw=%s hba_code=%X)", d, c);
    bool known = false, logRefusal = false;
    bool accepted = CommonBiosAccepts(d, c, known, logRefusal);
    if (!known) {
        OutputLevelMessage(LEVEL_DEBUG, "Validate: Unknown CXR %s", d);
        return IMG_INVALID_SSID;
    }
    if (!accepted) {
        if (logRefusal)
            OutputLevelMessage(LEVEL_DEBUG, "Validate: ERROR_INVALID_SSID %s ADAPTER_TYPE_CODE_OFFSET 0X%X", d, c);
        return IMG_INVALID_SSID;
    }
    return ComputeChecksum(buf, offset) ? IMG_OK : IMG_CHECKSUM_MISMATCH;
}

int updateImageFCode(uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> buf, const char *hwType, size_t offset) {
    (void)ssdid;
    (void)ssvid;
    return StampDeviceId(buf, hwType, offset, false);
}

int UpdateImageEFI(uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> buf, const char *hwType, size_t offset) {
    (void)ssdid;
    (void)ssvid;
    return StampDeviceId(buf, hwType, offset, true);
}

int validateFCode(std::span<const uint8_t> buf, const char *deviceText, int flag, size_t offset) {
    (void)flag;
    const char *d = deviceText != nullptr ? deviceText : "";
    if (!HasRomSignature(buf, offset)) return IMG_BAD_SIGNATURE;
    char image[8];
    if (!ImageDeviceText(buf, offset, image)) return IMG_BAD_SIGNATURE;
    if (std::strncmp(d, "22", 2) == 0 || std::strncmp(d, "2312", 4) == 0 || std::strncmp(d, "2300", 4) == 0)
        return std::strlen(d) >= 4 && std::strncmp(d, image, 4) == 0 ? IMG_OK : IMG_SSID_MISMATCH;
    if (std::strncmp(d, "2310", 4) == 0) return IMG_SSID_MISMATCH;
    for (const auto &alt : kFCodeAltTexts) {
        if (Same(d, alt.device) && std::strcmp(image, alt.image) == 0) {
            OutputLevelMessage(LEVEL_DEBUG,
                               "validateFCode(PCI): hardwareType = %s, Buffer CXR[0]=%x CXR[1]=%x CXR[2]=%x CXR[3]= %x",
                               d, image[0], image[1], image[2], image[3]);
            return IMG_OK;
        }
    }
    return d[0] != '\0' && d[1] == image[1] ? IMG_OK : IMG_SSID_MISMATCH;
}

int validateEFI(std::span<const uint8_t> buf, const char *deviceText, size_t offset) {
    const char *d = deviceText != nullptr ? deviceText : "";
    if (!HasRomSignature(buf, offset)) return IMG_BAD_SIGNATURE;
    char image[8];
    if (!ImageDeviceText(buf, offset, image)) return IMG_BAD_SIGNATURE;
    // image[0..1] is the hex text of the high byte.
    char imageChar = image[1];
    if (d[0] != '\0' &&
        std::tolower(static_cast<unsigned char>(d[1])) == std::tolower(static_cast<unsigned char>(imageChar)))
        return IMG_OK;
    return imageChar == '5' ? IMG_OK : IMG_SSID_MISMATCH;
}
