#include "image/image_versions.h"

#include <cctype>
#include <cstring>
#include <string>

#include "app/output.h"

namespace {

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
