#include "image/image_versions.h"

#include <cctype>
#include <cstring>
#include <string>

#include "app/output.h"
#include "inventory/cxrtype.h"
#include "multiregion/memoblock.h"
#include "vpd/vpd.h"

namespace {

constexpr size_t kVpdValueSize = 256;

// Decimal value of at most len characters from text at pos (non-digits
// end the number; positions past the text give nothing).
uint8_t DecimalAt(const std::string &text, size_t pos, size_t len) {
    unsigned value = 0;
    for (size_t i = pos; i < pos + len && i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) break;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return static_cast<uint8_t>(value & 0xFF);
}

int ReadVpd(TVXDevice *device, const char *keyword, std::string &value) {
    char buffer[kVpdValueSize] = {0};
    int st = RetrieveSpecificVPDField(device, keyword, buffer, sizeof(buffer));
    buffer[sizeof(buffer) - 1] = '\0';
    value = st == 0 ? buffer : "";
    return st;
}

} // namespace

void ParseVpdTwoPartVersion(const char *text, uint8_t out[2]) {
    std::string t = text != nullptr ? text : "";
    out[0] = DecimalAt(t, 0, 2);
    out[1] = DecimalAt(t, 3, 2);
}

void ParseVpdFirmwareVersion(const char *text, uint8_t out[3]) {
    std::string t = text != nullptr ? text : "";
    if (t.size() == 8) {
        out[0] = DecimalAt(t, 0, 2);
        out[1] = DecimalAt(t, 3, 2);
        out[2] = DecimalAt(t, 6, 2);
        return;
    }
    if (t.size() == 11) {
        out[0] = DecimalAt(t, 0, 3);
        out[1] = DecimalAt(t, 4, 3);
        out[2] = DecimalAt(t, 8, 3);
        return;
    }
    OutputLevelMessage(LEVEL_DEBUG,
                       "GetExistingCNAFlashImageVersions: Detected Firmware Version in variable length format!");
    out[0] = out[1] = out[2] = 0;
    std::string part;
    int index = 0;
    for (char c : t) {
        if (c == '.') {
            if (index < 3) out[index] = DecimalAt(part, 0, part.size());
            ++index;
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (index < 3) out[index] = DecimalAt(part, 0, part.size());
}

void ParseVpdDigitVersion(const char *text, uint8_t *out, int count) {
    std::string digits;
    for (const char *p = text; p != nullptr && *p != '\0'; ++p) {
        if (std::isdigit(static_cast<unsigned char>(*p))) digits.push_back(*p);
    }
    for (int i = 0; i < count; ++i)
        out[i] = DecimalAt(digits, static_cast<size_t>(i) * 2, 2);
}

int GetExistingCNAFlashImageVersions(TVXDevice *device, InstalledImageVersions *versions) {
    if (device == nullptr || versions == nullptr) return 8;
    int type = GetCxrType(device);
    if (type >= 10 && type <= 12) return getMBImageVersionInFirmwareFromAdapter(device, &versions->mbi);
    if (type >= 25) {
        uint8_t memo[48] = {0};
        int st = GetAdapterFlashMemoBlock(device, memo);
        if (st == 0) {
            versions->mbi.ExistingMultibootVersionMajor = memo[20];
            versions->mbi.ExistingMultibootVersionMinor = memo[21];
            versions->mbi.ExistingMultibootVersionSubMinor = memo[22];
        }
        return st;
    }

    std::string value;
    int st = ReadVpd(device, "V1", value);
    if (st != 0)
        OutputLevelMessage(
            LEVEL_DEBUG, "GetExistingCNAFlashImageVersions: Unable to retrieve FC EFI Version from VPD, status=%d", st);
    ParseVpdTwoPartVersion(value.c_str(), versions->fcEfiVer);

    st = ReadVpd(device, "V3", value);
    if (st != 0)
        OutputLevelMessage(
            LEVEL_DEBUG, "GetExistingCNAFlashImageVersions: Unable to retrieve FC Firmware Version from VPD, status=%d",
            st);
    ParseVpdFirmwareVersion(value.c_str(), versions->riscFwVer);

    st = ReadVpd(device, "V4", value);
    if (st != 0)
        OutputLevelMessage(LEVEL_DEBUG,
                           "GetExistingCNAFlashImageVersions: Unable to retrieve FC BIOS Version from VPD, status=%d",
                           st);
    ParseVpdTwoPartVersion(value.c_str(), versions->fcBiosVer);

    st = ReadVpd(device, "V5", value);
    if (st != 0)
        OutputLevelMessage(LEVEL_DEBUG,
                           "GetExistingCNAFlashImageVersions: Unable to retrieve FC FCode Version from VPD, status=%d",
                           st);
    ParseVpdTwoPartVersion(value.c_str(), versions->fcFcodeVer);

    int mbiStatus = 0;
    for (const char *kw : {"VV", "RM", "V9"}) {
        mbiStatus = ReadVpd(device, kw, value);
        if (mbiStatus == 0) break;
        OutputLevelMessage(LEVEL_DEBUG,
                           "GetExistingCNAFlashImageVersions: Unable to retrieve %s (MBI Version) from VPD, status=%d",
                           kw, mbiStatus);
    }
    uint8_t mbi[3] = {0, 0, 0};
    ParseVpdDigitVersion(value.c_str(), mbi, 3);
    versions->mbi.ExistingMultibootVersionMajor = mbi[0];
    versions->mbi.ExistingMultibootVersionMinor = mbi[1];
    versions->mbi.ExistingMultibootVersionSubMinor = mbi[2];

    st = ReadVpd(device, "VA", value);
    if (st != 0) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "GetExistingCNAFlashImageVersions: Unable to retrieve FFV Version from VPD, status=%d", st);
        return mbiStatus;
    }
    uint8_t ffv[3] = {0, 0, 0};
    ParseVpdDigitVersion(value.c_str(), ffv, 3);
    versions->ffvVer[0] = ffv[0];
    versions->ffvVer[1] = ffv[1];
    versions->ffvVer[3] = ffv[2];
    return mbiStatus;
}
