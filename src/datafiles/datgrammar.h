// Text grammar of the configuration data files: one field per line, a
// description, a numeric bit range or a quoted string length, and a value.
// The fields are laid down one after the other into a region image:
// numeric fields packed least significant bit first across fields, string
// fields byte by byte. Pure code: bytes in, image and status out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace datfile {

// Status codes shared by the region builders.
enum : int {
    DAT_OK = 0,
    DAT_CANNOT_OPEN = 1,
    DAT_READ_ERROR = 2,
    DAT_BAD_SIZE = 6, // fields run past the region image, or the file is too large
    DAT_NO_ADAPTER = 8,
    DAT_SSID_MISMATCH = 11,
    DAT_CORRUPTED = 13,     // empty or binary file, or no field in it
    DAT_INVALID_FIELD = 15, // a field line that can't be processed
    DAT_BAD_SIGNATURE = 35,
    DAT_NO_MEMORY = 115,
};

// Longest field line looked at (its line end not counted); longer field
// lines are refused. Comment lines may be of any length.
constexpr size_t kMaxFieldLine = 255;
// Shorter lines (line end counted) are comments.
constexpr size_t kMinFieldLine = 11;
// Largest data file read.
constexpr size_t kMaxFileSize = 4u << 20;

enum class LineKind { Comment, NoField, Numeric, String };

// A description keyword and the role it gives its field. Role 0 is a plain
// field; the builders number their roles from 1.
struct Keyword {
    const char *text;
    int role;
};

struct FieldLine {
    LineKind kind = LineKind::Comment;
    int role = 0;
    std::string description;
    unsigned bits = 0;     // numeric: width from the range's max
    uint32_t value = 0;    // numeric: the value
    size_t length = 0;     // string: declared length
    std::string text;      // string: the quoted text
    bool textUsed = false; // string: text as long as declared (else zeros)
};

// Role of a description: the first keyword found in it, letter case
// ignored; 0 when none is.
int FindRole(std::string_view description, std::span<const Keyword> keywords);

// Trims leading blanks off line and sets out.kind (comment, no field,
// numeric or string) and, for a field, its description and role. Returns
// the position in line after '[' and its blanks; npos for comments and
// lines without a field.
size_t parseTeskBoardConfigDataType(std::string_view &line, bool hadLineEnd, std::span<const Keyword> keywords,
                                    FieldLine &out);
// Width in bits of the numeric range [min-max] whose text starts at
// position: the significant bits of max. 0 when there is no valid range
// (no ']' or '-', max not a 32-bit number) or max is 0.
unsigned getBcDataNumSize(std::string_view line, size_t position);
// Packs value (bits wide) behind the pendingBits of pendingByte: the whole
// bytes produced go to bytes (at most 5) and their count is returned; the
// bits left over stay pending for the next field.
size_t getBcDataNumBufSize(uint32_t value, unsigned bits, uint8_t &pendingByte, unsigned &pendingBits,
                           uint8_t bytes[5]);

// Parses one line (without its line end; hadLineEnd tells whether one
// followed it). Fills out and returns DAT_OK, or DAT_INVALID_FIELD for a
// field line that can't be processed. maxString bounds declared string
// lengths.
int ParseFieldLine(std::string_view line, bool hadLineEnd, std::span<const Keyword> keywords, size_t maxString,
                   FieldLine &out);

// Bytes one field put into the image.
struct LaidField {
    size_t offset = 0; // where the field starts
    size_t count = 0;  // whole bytes it wrote
};

// Lays fields into an image from offset 0.
class FieldLayer {
  public:
    explicit FieldLayer(std::span<uint8_t> image) : image_(image) {}
    // DAT_OK or DAT_BAD_SIZE (the field would end past the image).
    int Put(const FieldLine &field, LaidField &laid);
    size_t laid() const { return offset_; }
    unsigned pendingBits() const { return pendingBits_; }

  private:
    std::span<uint8_t> image_;
    size_t offset_ = 0;
    uint8_t pending_ = 0;
    unsigned pendingBits_ = 0;
};

// Called for every field after it was laid down; a non-zero result ends
// the walk with that status.
using FieldHandler = std::function<int(const FieldLine &, const LaidField &, std::span<uint8_t>)>;

// Walks a whole data file: every field line is parsed and laid down into
// image, then handed to onField. *laid gets the number of bytes laid down.
// DAT_OK; DAT_CORRUPTED for an empty file, a file holding a NUL byte or one
// without any field; DAT_INVALID_FIELD for a bad field line or bits left
// over at the end; DAT_BAD_SIZE for fields past the image or a file above
// kMaxFileSize; or the handler's status. trace names the caller in the
// Debug lines.
int LayDownFile(std::span<const uint8_t> file, std::span<const Keyword> keywords, size_t maxString,
                std::span<uint8_t> image, const FieldHandler &onField, size_t *laid, const char *trace);

// First four bytes a field wrote, little-endian (missing bytes read 0).
uint32_t FieldWord(std::span<const uint8_t> image, const LaidField &laid);
// Two's complement of the sum of the little-endian 32-bit words that start
// below length (bytes past the image read 0).
uint32_t Compute32BitsChecksum(std::span<const uint8_t> image, size_t length);

} // namespace datfile
