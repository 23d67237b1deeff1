// Field grammar of the data files: packing of numeric and string fields,
// comments, role keywords and every kind of bad input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datafiles/datgrammar.h"

namespace {

using datfile::Keyword;

constexpr Keyword kRoles[] = {
    {"checksum", 1},  {"version", 2}, {"feature_exclusive", 3}, {"subsystem vendor ID", 4}, {"subsystem device id", 5},
    {"Signature", 6},
};

std::span<const uint8_t> Bytes(const std::string &s) { return {reinterpret_cast<const uint8_t *>(s.data()), s.size()}; }

struct Laid {
    int status;
    size_t laid;
    std::vector<uint8_t> image;
};

Laid LayText(const std::string &text, size_t imageSize = 64, uint8_t fill = 0xEE, size_t maxString = 128) {
    Laid r{0, 0, std::vector<uint8_t>(imageSize, fill)};
    r.status = datfile::LayDownFile(Bytes(text), kRoles, maxString, r.image, nullptr, &r.laid, "test");
    return r;
}

TEST(DatGrammar, FieldsAreLaidDownAsTheFileSays) {
    const std::string longDesc(120, 'd');
    struct Row {
        const char *name;
        std::string text;
        std::vector<uint8_t> bytes; // expected from offset 0
    };
    const Row rows[] = {
        {"byte then two nibbles",
         "Field one [0-FFh] = 0A\nLow nibble [0-Fh] = 3\nHigh nibble [0-Fh] = C\n",
         {0x0A, 0xC3}},
        {"three bits then five", "Three bits [0-7] = 5\nFive bits [0-1Fh] = 1F\n", {0xFD}},
        {"16 and 32 bits little-endian",
         "Word field [0-FFFFh] = 1234\nLong field [0-FFFFFFFFh] = A1B2C3D4\n",
         {0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1}},
        {"decimal max", "Decimal max [0-65535] = beef\n", {0xEF, 0xBE}},
        {"blanks in the value and a trailing h", "Spaced value [0-FFFFh] = 12 34h\n", {0x34, 0x12}},
        {"lower-case hex", "Lower case [0-FFh] = ab\n", {0xAB}},
        {"string of the declared length", "Name field [\"4\"] = \"ABCD\"\n", {'A', 'B', 'C', 'D'}},
        {"shorter string gives zeros", "Name field [\"4\"] = \"AB\"\n", {0, 0, 0, 0}},
        {"longer string gives zeros", "Name field [\"2\"] = \"ABCD\"\n", {0, 0}},
        {"comments and short lines change nothing",
         "; Signature [0-FFh] = 11\nab[0-1]=1\n   ;x [0-FFh] = 22\nKept field [0-FFh] = 33\nno bracket in this line\n",
         {0x33}},
        {"CRLF line ends", "Field one [0-FFh] = 0A\r\nField two [0-FFh] = 0B\r\n", {0x0A, 0x0B}},
        {"last line without line end", "Field one [0-FFh] = 0A\nField two [0-FFh] = 0B", {0x0A, 0x0B}},
        {"leading blanks and tabs", " \t Indented [0-FFh] = 7E\n", {0x7E}},
        {"a field line longer than 99 characters is read whole", longDesc + " [0-FFh] = 5A\n", {0x5A}},
        {"a string keeps a pending partial byte for later",
         "Nibble [0-Fh] = 1\nText [\"2\"] = \"xy\"\nNibble [0-Fh] = 2\n",
         {'x', 'y', 0x21}},
    };
    for (const auto &row : rows) {
        Laid r = LayText(row.text);
        ASSERT_EQ(r.status, datfile::DAT_OK) << row.name;
        ASSERT_EQ(r.laid, row.bytes.size()) << row.name;
        EXPECT_EQ(std::vector<uint8_t>(r.image.begin(), r.image.begin() + row.bytes.size()), row.bytes) << row.name;
        for (size_t i = row.bytes.size(); i < r.image.size(); ++i)
            ASSERT_EQ(r.image[i], 0xEE) << row.name << " byte " << i;
    }
}

TEST(DatGrammar, BadInputIsRefused) {
    const std::string ok = "Good field [0-FFh] = 01\n";
    struct Row {
        const char *name;
        std::string text;
        int status;
    };
    const Row rows[] = {
        {"empty file", "", datfile::DAT_CORRUPTED},
        {"binary file",
         std::string("\x7f"
                     "ELF\x02\x01\x01\x00\x00[0-FFh] = 1\n",
                     22),
         datfile::DAT_CORRUPTED},
        {"only comments", "; nothing here\n;[0-FFh] = 1\n", datfile::DAT_CORRUPTED},
        {"field line over 255 characters", std::string(250, 'd') + " [0-FFh] = 01\n", datfile::DAT_INVALID_FIELD},
        {"missing ]", ok + "Broken field [0-FFh = 01\n", datfile::DAT_INVALID_FIELD},
        {"missing =", ok + "Broken field [0-FFh] 01\n", datfile::DAT_INVALID_FIELD},
        {"no value after =", ok + "Broken field [0-FFh] =   \n", datfile::DAT_INVALID_FIELD},
        {"foreign character in the value", ok + "Broken field [0-FFFFh] = 12x4\n", datfile::DAT_INVALID_FIELD},
        {"0x prefix", ok + "Broken field [0-FFFFh] = 0x12\n", datfile::DAT_INVALID_FIELD},
        {"range max 0", ok + "Broken field [0-0] = 0\n", datfile::DAT_INVALID_FIELD},
        {"range without dash", ok + "Broken field [FFh] = 1\n", datfile::DAT_INVALID_FIELD},
        {"h not last in max", ok + "Broken field [0-FhF] = 1\n", datfile::DAT_INVALID_FIELD},
        {"hex max past 32 bits", ok + "Broken field [0-1FFFFFFFFh] = 1\n", datfile::DAT_INVALID_FIELD},
        {"decimal max past 32 bits", ok + "Broken field [0-4294967296] = 1\n", datfile::DAT_INVALID_FIELD},
        {"value past 32 bits", ok + "Broken field [0-FFFFFFFFh] = 100000000\n", datfile::DAT_INVALID_FIELD},
        {"value wider than the field", ok + "Broken field [0-Fh] = 10\n", datfile::DAT_INVALID_FIELD},
        {"value wider than a decimal field", ok + "Broken field [0-7] = 8\n", datfile::DAT_INVALID_FIELD},
        {"unclosed string length", ok + "Broken field [\"4] = \"ABCD\"\n", datfile::DAT_INVALID_FIELD},
        {"unclosed string text", ok + "Broken field [\"4\"] = \"ABCD\n", datfile::DAT_INVALID_FIELD},
        {"string without quotes", ok + "Broken field [\"4\"] = ABCD\n", datfile::DAT_INVALID_FIELD},
        {"string length 0", ok + "Broken field [\"0\"] = \"\"\n", datfile::DAT_INVALID_FIELD},
        {"string length above the limit", ok + "Broken field [\"129\"] = \"\"\n", datfile::DAT_INVALID_FIELD},
        {"string length not a number", ok + "Broken field [\"4a\"] = \"ABCD\"\n", datfile::DAT_INVALID_FIELD},
        {"bits left over at the end", ok + "Nibble only [0-Fh] = 1\n", datfile::DAT_INVALID_FIELD},
        {"fields past the image", ok + "Long string [\"128\"] = \"\"\n", datfile::DAT_BAD_SIZE},
    };
    for (const auto &row : rows) {
        Laid r = LayText(row.text);
        EXPECT_EQ(r.status, row.status) << row.name;
        EXPECT_EQ(r.laid, 0u) << row.name;
    }
    // A long comment line is only a comment, however long.
    EXPECT_EQ(LayText("; " + std::string(5000, 'c') + " [0-FFh] = 1\n" + ok).status, datfile::DAT_OK);
    // The string limit is the builder's.
    EXPECT_EQ(LayText("Long string [\"512\"] = \"\"\n", 1024, 0, 512).status, datfile::DAT_OK);
    EXPECT_EQ(LayText("Long string [\"513\"] = \"\"\n", 1024, 0, 512).status, datfile::DAT_INVALID_FIELD);
}

TEST(DatGrammar, RolesFollowTheKeywordOrder) {
    struct Row {
        const char *description;
        int role;
    };
    const Row rows[] = {
        {"Image Checksum", 1},
        {"Checksum of the version block", 1},
        {"Major Version Number", 2},
        {"Subsystem Vendor ID version", 2},
        {"FEATURE_EXCLUSIVE mask", 3},
        {"SubSystem Vendor Id", 4},
        {"subsystem device ID", 5},
        {"Board signature", 6},
        {"Board Name", 0},
        {"Subsystem Vendor", 0},
    };
    for (const auto &row : rows)
        EXPECT_EQ(datfile::FindRole(row.description, kRoles), row.role) << row.description;

    // The role comes from the description, never from a string's text.
    datfile::FieldLine f;
    ASSERT_EQ(datfile::ParseFieldLine("Board Name [\"8\"] = \"checksum\"", true, kRoles, 128, f), datfile::DAT_OK);
    EXPECT_EQ(f.role, 0);
    EXPECT_TRUE(f.textUsed);
    ASSERT_EQ(datfile::ParseFieldLine("Major Version Number [0-FFh] = 3", true, kRoles, 128, f), datfile::DAT_OK);
    EXPECT_EQ(f.role, 2);
    EXPECT_EQ(f.bits, 8u);
    EXPECT_EQ(f.value, 3u);
}

TEST(DatGrammar, WordChecksum) {
    // Words 1 and 2 sum to 3; the checksum is its two's complement. A
    // length that ends inside a word still counts the whole word.
    const std::vector<uint8_t> image = {1, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF};
    EXPECT_EQ(datfile::Compute32BitsChecksum(image, 8), 0xFFFFFFFDu);
    EXPECT_EQ(datfile::Compute32BitsChecksum(image, 5), 0xFFFFFFFDu);
    EXPECT_EQ(datfile::Compute32BitsChecksum(image, 10), 0xFFFFFFFDu - 0xFFFFu);
    EXPECT_EQ(datfile::Compute32BitsChecksum(image, 0), 0u);
}

} // namespace
