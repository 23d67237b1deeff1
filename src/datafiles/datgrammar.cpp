// Field grammar of the configuration data files and the packing of their
// fields into a region image.

#include "datafiles/datgrammar.h"

#include <cctype>
#include <cstring>

#include "app/output.h"

namespace datfile {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

unsigned HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool ContainsNoCase(std::string_view hay, std::string_view needle) {
    if (needle.empty() || needle.size() > hay.size()) return false;
    for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && std::tolower(static_cast<unsigned char>(hay[i + k])) ==
                                        std::tolower(static_cast<unsigned char>(needle[k])))
            ++k;
        if (k == needle.size()) return true;
    }
    return false;
}

// Hex digits into a 32-bit value; false for an empty text, a foreign
// character or more than 32 significant bits.
bool ParseHex32(std::string_view s, uint32_t &out) {
    if (s.empty()) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (!IsHexDigit(c)) return false;
        v = (v << 4) | HexValue(c);
        if (v > 0xFFFFFFFFull) return false;
    }
    out = static_cast<uint32_t>(v);
    return true;
}

bool ParseDec32(std::string_view s, uint32_t &out) {
    if (s.empty()) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > 0xFFFFFFFFull) return false;
    }
    out = static_cast<uint32_t>(v);
    return true;
}

unsigned SignificantBits(uint32_t v) {
    unsigned n = 0;
    while (v != 0) {
        ++n;
        v >>= 1;
    }
    return n;
}

// Range max: decimal, or hexadecimal with a final 'h'.
bool ParseRangeMax(std::string_view text, uint32_t &max) {
    text = TrimBlanks(text);
    size_t h = text.find('h');
    if (h == std::string_view::npos) return ParseDec32(text, max);
    if (h + 1 != text.size()) return false;
    return ParseHex32(TrimBlanks(text.substr(0, h)), max);
}

// Value after '=': hexadecimal digits, blanks passed over, trailing
// characters that are not hex digits dropped.
bool ParseFieldValue(std::string_view text, uint32_t &value) {
    std::string digits;
    for (char c : text)
        if (!IsBlank(c)) digits.push_back(c);
    while (!digits.empty() && !IsHexDigit(digits.back()))
        digits.pop_back();
    return ParseHex32(digits, value);
}

int Invalid(std::string_view line, const char *why) {
    OutputLevelMessage(LEVEL_DEBUG, "parseBcDataType: %s (%.*s)", why,
                       static_cast<int>(line.size() > 80 ? 80 : line.size()), line.data());
    return DAT_INVALID_FIELD;
}

int ParseNumeric(std::string_view line, size_t position, FieldLine &out) {
    out.bits = getBcDataNumSize(line, position);
    if (out.bits == 0) return Invalid(line, "no valid range [min-max]");
    std::string_view rest = line.substr(line.find(']', position) + 1);
    size_t eq = rest.find('=');
    if (eq == std::string_view::npos || !TrimBlanks(rest.substr(0, eq)).empty())
        return Invalid(line, "no '=' after the range");
    if (!ParseFieldValue(rest.substr(eq + 1), out.value)) return Invalid(line, "no valid value after '='");
    if (out.bits < 32 && (out.value >> out.bits) != 0) return Invalid(line, "value wider than its field");
    return DAT_OK;
}

int ParseString(std::string_view line, std::string_view afterBracket, size_t maxString, FieldLine &out) {
    // afterBracket starts at the first quote, which encloses the length.
    size_t q2 = afterBracket.find('"', 1);
    if (q2 == std::string_view::npos) return Invalid(line, "string length not closed");
    uint32_t length = 0;
    if (!ParseDec32(TrimBlanks(afterBracket.substr(1, q2 - 1)), length)) return Invalid(line, "bad string length");
    if (length == 0 || length > maxString) return Invalid(line, "string length out of range");
    std::string_view rest = afterBracket.substr(q2 + 1);
    size_t close = rest.find(']');
    if (close == std::string_view::npos || !TrimBlanks(rest.substr(0, close)).empty())
        return Invalid(line, "no ']' after the string length");
    rest = rest.substr(close + 1);
    size_t eq = rest.find('=');
    if (eq == std::string_view::npos || !TrimBlanks(rest.substr(0, eq)).empty())
        return Invalid(line, "no '=' after the string length");
    rest = rest.substr(eq + 1);
    size_t q3 = rest.find('"');
    size_t q4 = q3 == std::string_view::npos ? q3 : rest.find('"', q3 + 1);
    if (q4 == std::string_view::npos) return Invalid(line, "string text not enclosed in quotes");
    out.kind = LineKind::String;
    out.length = length;
    out.text.assign(rest.substr(q3 + 1, q4 - q3 - 1));
    out.textUsed = out.text.size() == length;
    return DAT_OK;
}

} // namespace

int FindRole(std::string_view description, std::span<const Keyword> keywords) {
    for (const Keyword &k : keywords)
        if (k.text != nullptr && ContainsNoCase(description, k.text)) return k.role;
    return 0;
}

size_t parseTeskBoardConfigDataType(std::string_view &line, bool hadLineEnd, std::span<const Keyword> keywords,
                                    FieldLine &out) {
    out = FieldLine{};
    while (!line.empty() && IsBlank(line.front()))
        line.remove_prefix(1);
    if (line.empty() || line.front() == ';' || line.size() + (hadLineEnd ? 1 : 0) < kMinFieldLine) {
        out.kind = LineKind::Comment;
        return std::string_view::npos;
    }
    size_t open = line.find('[');
    if (open == std::string_view::npos) {
        out.kind = LineKind::NoField;
        return std::string_view::npos;
    }
    out.description.assign(TrimBlanks(line.substr(0, open)));
    out.role = FindRole(out.description, keywords);
    size_t pos = open + 1;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    out.kind = pos < line.size() && line[pos] == '"' ? LineKind::String : LineKind::Numeric;
    return pos;
}

unsigned getBcDataNumSize(std::string_view line, size_t position) {
    if (position > line.size()) return 0;
    std::string_view after = line.substr(position);
    size_t close = after.find(']');
    if (close == std::string_view::npos) return 0;
    std::string_view range = after.substr(0, close);
    size_t dash = range.find('-');
    uint32_t max = 0;
    if (dash == std::string_view::npos || !ParseRangeMax(range.substr(dash + 1), max)) return 0;
    return SignificantBits(max);
}

size_t getBcDataNumBufSize(uint32_t value, unsigned bits, uint8_t &pendingByte, unsigned &pendingBits,
                           uint8_t bytes[5]) {
    uint64_t acc = (pendingByte & ((1u << pendingBits) - 1u)) | (static_cast<uint64_t>(value) << pendingBits);
    unsigned total = pendingBits + bits;
    size_t whole = total / 8;
    for (size_t i = 0; i < whole; ++i) {
        bytes[i] = static_cast<uint8_t>(acc);
        acc >>= 8;
    }
    pendingBits = total % 8;
    pendingByte = static_cast<uint8_t>(acc & ((1u << pendingBits) - 1u));
    return whole;
}

int ParseFieldLine(std::string_view line, bool hadLineEnd, std::span<const Keyword> keywords, size_t maxString,
                   FieldLine &out) {
    size_t pos = parseTeskBoardConfigDataType(line, hadLineEnd, keywords, out);
    if (pos == std::string_view::npos) return DAT_OK;
    if (line.size() > kMaxFieldLine) return Invalid(line, "field line too long");
    if (out.kind == LineKind::String) return ParseString(line, line.substr(pos), maxString, out);
    return ParseNumeric(line, pos, out);
}

int FieldLayer::Put(const FieldLine &field, LaidField &laid) {
    laid.offset = offset_;
    laid.count = 0;
    if (field.kind == LineKind::String) {
        if (field.length > image_.size() || offset_ > image_.size() - field.length) return DAT_BAD_SIZE;
        uint8_t *dst = image_.data() + offset_;
        if (field.textUsed)
            std::memcpy(dst, field.text.data(), field.length);
        else
            std::memset(dst, 0, field.length);
        offset_ += field.length;
        laid.count = field.length;
        return DAT_OK;
    }
    if (field.kind != LineKind::Numeric) return DAT_OK;
    uint8_t bytes[5];
    uint8_t pending = pending_;
    unsigned pendingBits = pendingBits_;
    size_t whole = getBcDataNumBufSize(field.value, field.bits, pending, pendingBits, bytes);
    if (whole > image_.size() || offset_ > image_.size() - whole) return DAT_BAD_SIZE;
    std::memcpy(image_.data() + offset_, bytes, whole);
    offset_ += whole;
    laid.count = whole;
    pending_ = pending;
    pendingBits_ = pendingBits;
    return DAT_OK;
}

int LayDownFile(std::span<const uint8_t> file, std::span<const Keyword> keywords, size_t maxString,
                std::span<uint8_t> image, const FieldHandler &onField, size_t *laid, const char *trace) {
    if (laid != nullptr) *laid = 0;
    if (file.empty()) return DAT_CORRUPTED;
    if (file.size() > kMaxFileSize) return DAT_BAD_SIZE;
    if (std::memchr(file.data(), 0, file.size()) != nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: data file holds binary data", trace);
        return DAT_CORRUPTED;
    }
    const std::string_view text(reinterpret_cast<const char *>(file.data()), file.size());
    FieldLayer layer(image);
    size_t fields = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        bool hadEnd = nl != std::string_view::npos;
        std::string_view line = text.substr(pos, hadEnd ? nl - pos : std::string_view::npos);
        pos = hadEnd ? nl + 1 : text.size();
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        FieldLine field;
        int st = ParseFieldLine(line, hadEnd, keywords, maxString, field);
        if (st != DAT_OK) return st;
        if (field.kind != LineKind::Numeric && field.kind != LineKind::String) continue;
        LaidField where;
        st = layer.Put(field, where);
        if (st != DAT_OK) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: field '%.64s' ends past the image (0x%zx bytes)", trace,
                               field.description.c_str(), image.size());
            return st;
        }
        ++fields;
        if (onField) {
            st = onField(field, where, image);
            if (st != DAT_OK) return st;
        }
    }
    if (fields == 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: data file holds no field", trace);
        return DAT_CORRUPTED;
    }
    if (layer.pendingBits() != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: %u bits left over after the last field", trace, layer.pendingBits());
        return DAT_INVALID_FIELD;
    }
    if (laid != nullptr) *laid = layer.laid();
    return DAT_OK;
}

uint32_t FieldWord(std::span<const uint8_t> image, const LaidField &laid) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && i < laid.count; ++i)
        if (laid.offset + i < image.size()) v |= static_cast<uint32_t>(image[laid.offset + i]) << (8 * i);
    return v;
}

uint32_t Compute32BitsChecksum(std::span<const uint8_t> image, size_t length) {
    uint32_t sum = 0;
    for (size_t off = 0; off < length; off += 4) {
        uint32_t w = 0;
        for (size_t i = 0; i < 4; ++i)
            if (off + i < image.size()) w |= static_cast<uint32_t>(image[off + i]) << (8 * i);
        sum += w;
    }
    return ~sum + 1u;
}

} // namespace datfile
