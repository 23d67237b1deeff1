#include "vpd/vpd.h"

#include <cstring>
#include <vector>

#include "app/output.h"
#include "inventory/cxrtype.h"
#include "inventory/invutil.h"

namespace {

constexpr uint8_t kTagId = 0x82;
constexpr uint8_t kTagReadOnly = 0x90;
constexpr uint8_t kTagWritable = 0x91;
constexpr uint8_t kTagEnd = 0x78;

// One entry of the walk. For keywords, valueOffset/valueLength give the
// value; for lists only the 3 header bytes belong to the entry.
struct VpdEntry {
    size_t offset = 0;
    uint8_t tag = 0;
    size_t headerLength = 0; // bytes before the value
    size_t valueOffset = 0;
    size_t valueLength = 0;
    size_t next = 0; // offset of the next entry
};

enum class Step { Entry, End, Malformed };

// Reads the entry at pos; Malformed when it does not lie inside the image.
Step ReadEntry(const uint8_t *image, size_t size, size_t pos, VpdEntry &e) {
    if (pos >= size) return Step::Malformed;
    e.offset = pos;
    e.tag = image[pos];
    if (e.tag == kTagEnd) return Step::End;
    if (size - pos < 3) return Step::Malformed;
    e.headerLength = 3;
    e.valueOffset = pos + 3;
    if (e.tag == kTagId) {
        e.valueLength = static_cast<size_t>(image[pos + 1]) | (static_cast<size_t>(image[pos + 2]) << 8);
    } else if (e.tag == kTagReadOnly || e.tag == kTagWritable) {
        e.valueLength = 0; // the walk enters the list
    } else {
        e.valueLength = image[pos + 2];
    }
    if (e.valueLength > size - e.valueOffset) return Step::Malformed;
    e.next = e.valueOffset + e.valueLength;
    return Step::Entry;
}

bool IsKeyword(const VpdEntry &e) { return e.tag != kTagId && e.tag != kTagReadOnly && e.tag != kTagWritable; }

bool KeywordIs(const uint8_t *image, const VpdEntry &e, const char *keyword) {
    return IsKeyword(e) && image[e.offset] == static_cast<uint8_t>(keyword[0]) &&
           image[e.offset + 1] == static_cast<uint8_t>(keyword[1]);
}

bool Contains(const uint8_t *image, size_t size, uint8_t byte) {
    return image != nullptr && std::memchr(image, byte, size) != nullptr;
}

bool KeywordIn(const char *keyword, const char *const *list) {
    for (; *list != nullptr; ++list)
        if (std::strcmp(keyword, *list) == 0) return true;
    return false;
}

const char *const kTrimmed[] = {"V1", "V2", "V3", "V4", "V5", "V9", "YA", "FC", "FN", "VV", "RM", nullptr};
const char *const kVerbatim[] = {"PN", "EC", "SN", "V0", "MN", nullptr};

// Copies a field value as text (cut to the value buffer) by the keyword's rule.
void CopyFieldText(const uint8_t *image, const VpdEntry &e, const char *keyword, char *value, size_t valueSize) {
    if (value == nullptr || valueSize == 0) return;
    value[0] = '\0';
    bool trimmed = KeywordIn(keyword, kTrimmed);
    if (!trimmed && !KeywordIn(keyword, kVerbatim)) return;
    size_t n = e.valueLength < valueSize - 1 ? e.valueLength : valueSize - 1;
    std::memcpy(value, image + e.valueOffset, n);
    value[n] = '\0';
    if (trimmed) {
        size_t len = std::strlen(value);
        while (len > 0 && (value[len - 1] == ' ' || value[len - 1] == '\t'))
            value[--len] = '\0';
    }
}

} // namespace

size_t VpdImageSize(const TVXDevice *device) { return GetCxrType(device) < 16 ? 512 : 1024; }

int FindVpdField(const uint8_t *image, size_t size, const char *keyword, char *value, size_t valueSize) {
    if (value != nullptr && valueSize > 0) value[0] = '\0';
    if (image == nullptr || keyword == nullptr || std::strlen(keyword) != 2) return VPD_FIELD_NOT_FOUND;
    if (size == 0 || image[0] == kTagEnd) return VPD_FIELD_NOT_FOUND;
    size_t pos = 0;
    for (;;) {
        VpdEntry e;
        Step s = ReadEntry(image, size, pos, e);
        if (s == Step::End) return VPD_FIELD_NOT_FOUND;
        if (s == Step::Malformed) {
            INV_DEBUG("RetrieveSpecificVPDField: entry at offset %u leaves the VPD buffer", static_cast<unsigned>(pos));
            return VPD_FIELD_NOT_FOUND;
        }
        if (KeywordIs(image, e, keyword)) {
            CopyFieldText(image, e, keyword, value, valueSize);
            INV_DEBUG("RetrieveSpecificVPDField: %s = %s", keyword, value != nullptr ? value : "");
            return VPD_OK;
        }
        pos = e.next;
    }
}

int RetrieveSpecificVPDField(TVXDevice *device, const char *keyword, char *value, size_t valueSize) {
    if (value != nullptr && valueSize > 0) value[0] = '\0';
    if (keyword == nullptr || device == nullptr) return VPD_FIELD_NOT_FOUND;
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(VpdImageSize(device), 0);
    } catch (...) {
        return VPD_NO_MEMORY;
    }
    uint32_t size = static_cast<uint32_t>(buffer.size());
    TVX_STATUS status = TvxGetVpd(device->handle, 0, buffer.data(), &size);
    if (status != TVX_STATUS_OK) {
        INV_DEBUG("Error: Unable to read VPD data of HBA %d (0x%x %s)!", static_cast<int>(device->instance), status,
                  TvxErrorText(status).c_str());
        return VPD_FIELD_NOT_FOUND;
    }
    // A size reported beyond the buffer is cut to it.
    size_t n = size < buffer.size() ? size : buffer.size();
    if (!Contains(buffer.data(), n, kTagId)) {
        INV_DEBUG("RetrieveSpecificVPDField: No start tag found");
        return VPD_NO_START_TAG;
    }
    if (!Contains(buffer.data(), n, kTagEnd)) {
        INV_DEBUG("RetrieveSpecificVPDField: No end tag found");
        return VPD_NO_END_TAG;
    }
    return FindVpdField(buffer.data(), n, keyword, value, valueSize);
}

int verifyVpdChecksum(const uint8_t *image, size_t size) {
    INV_DEBUG("verifyVpdChecksum: Enter.");
    int result = VPD_BAD_CHECKSUM;
    uint8_t sum = 0;
    size_t pos = 0;
    if (image != nullptr) {
        for (;;) {
            VpdEntry e;
            if (ReadEntry(image, size, pos, e) != Step::Entry) break;
            INV_DEBUG("verifyVpdChecksum: opcode=0x%x len_value=%d", image[pos], static_cast<int>(e.valueLength));
            for (size_t i = 0; i < e.headerLength; ++i)
                sum = static_cast<uint8_t>(sum + image[pos + i]);
            if (KeywordIs(image, e, "RV")) {
                if (e.valueLength >= 1) {
                    sum = static_cast<uint8_t>(sum + image[e.valueOffset]);
                    INV_DEBUG("verifyVpdChecksum: chksum=0x%x", sum);
                    result = sum == 0 ? VPD_OK : VPD_BAD_CHECKSUM;
                }
                break;
            }
            for (size_t i = 0; i < e.valueLength; ++i)
                sum = static_cast<uint8_t>(sum + image[e.valueOffset + i]);
            pos = e.next;
        }
    }
    INV_DEBUG("verifyVpdChecksum: return %d", result);
    return result;
}

int IsBlankVpd(const uint8_t *image, size_t size) {
    int blank = 0;
    if (image == nullptr || size == 0) {
        blank = 1; // nothing stored
    } else if (image[0] == 0xFF || image[0] == 0x00) {
        blank = 1;
        for (size_t i = 1; i < size; ++i)
            if (image[i] != image[0]) {
                blank = 0;
                break;
            }
    }
    INV_DEBUG("IsBlankVpd: Exit, bVpdIsBlank=%d", blank);
    return blank;
}

int UpdateVpdField(uint8_t *image, size_t size, const char *keyword, const uint8_t *value, size_t valueSize) {
    if (image == nullptr || size == 0 || !Contains(image, size, kTagId)) {
        INV_DEBUG("UpdateVpdField: No start tag found");
        return VPD_MALFORMED;
    }
    if (!Contains(image, size, kTagEnd)) {
        INV_DEBUG("UpdateVpdField: No end tag found");
        return VPD_MALFORMED;
    }
    int status = VPD_FIELD_NOT_FOUND;
    if (keyword == nullptr || std::strlen(keyword) != 2) {
        INV_DEBUG("UpdateVpdField: Exit, status=%d", status);
        return status;
    }
    // The whole walk is checked before any byte changes, so a malformed
    // image is refused as it was given, never half rewritten.
    size_t pos = 0;
    for (;;) {
        VpdEntry e;
        Step s = ReadEntry(image, size, pos, e);
        if (s == Step::End) break;
        if (s == Step::Malformed) {
            INV_DEBUG("UpdateVpdField: Exit, status=%d", VPD_MALFORMED);
            return VPD_MALFORMED;
        }
        pos = e.next;
    }
    bool updated = false;
    pos = 0;
    for (;;) {
        VpdEntry e;
        if (ReadEntry(image, size, pos, e) != Step::Entry) break;
        if (KeywordIs(image, e, keyword)) {
            // The field keeps its length; bytes past the given value write as 0.
            for (size_t i = 0; i < e.valueLength; ++i)
                image[e.valueOffset + i] = (value != nullptr && i < valueSize) ? value[i] : 0;
            INV_DEBUG("UpdateVpdField: VPD \"%c%c\" updated!", keyword[0], keyword[1]);
            updated = true;
        }
        pos = e.next;
    }
    if (!updated) {
        INV_DEBUG("UpdateVpdField: Exit, status=%d", status);
        return status;
    }
    INV_DEBUG("UpdateVpdField: Calculating vpd checksum....");
    uint8_t sum = 0;
    pos = 0;
    for (;;) {
        VpdEntry e;
        if (ReadEntry(image, size, pos, e) != Step::Entry) break;
        for (size_t i = 0; i < e.headerLength; ++i)
            sum = static_cast<uint8_t>(sum + image[pos + i]);
        if (KeywordIs(image, e, "RV")) {
            if (e.valueLength >= 1) {
                image[e.valueOffset] = static_cast<uint8_t>(0x100 - sum);
                INV_DEBUG("UpdateVpdField: mychksum=0x%x", image[e.valueOffset]);
            }
            break;
        }
        for (size_t i = 0; i < e.valueLength; ++i)
            sum = static_cast<uint8_t>(sum + image[e.valueOffset + i]);
        pos = e.next;
    }
    if (verifyVpdChecksum(image, size) != VPD_OK) {
        INV_DEBUG("UpdateVpdField: Detected bad checksum!");
        return VPD_BAD_CHECKSUM;
    }
    INV_DEBUG("UpdateVpdField: New checksum has been verified successfully!");
    return VPD_OK;
}
