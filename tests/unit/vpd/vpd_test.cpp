#include "vpd/vpd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Builds a VPD image: identifier string, VPD-R with the given keywords and
// "RV", VPD-W, end tag; padded with 0xFF to size.
struct Field {
    std::string key;
    std::string value;
};

std::vector<uint8_t> Image(const std::vector<Field> &ro, bool withRV = true, size_t size = 512) {
    std::vector<uint8_t> img;
    const std::string id = "Orvane HBA";
    img.push_back(0x82);
    img.push_back(static_cast<uint8_t>(id.size()));
    img.push_back(0);
    img.insert(img.end(), id.begin(), id.end());
    img.push_back(0x90);
    img.push_back(0);
    img.push_back(0);
    for (const Field &f : ro) {
        img.push_back(static_cast<uint8_t>(f.key[0]));
        img.push_back(static_cast<uint8_t>(f.key[1]));
        img.push_back(static_cast<uint8_t>(f.value.size()));
        img.insert(img.end(), f.value.begin(), f.value.end());
    }
    if (withRV) {
        uint8_t sum = 0;
        for (uint8_t b : img)
            sum = static_cast<uint8_t>(sum + b);
        sum = static_cast<uint8_t>(sum + 'R' + 'V' + 1);
        img.push_back('R');
        img.push_back('V');
        img.push_back(1);
        img.push_back(static_cast<uint8_t>(0x100 - sum));
    }
    img.push_back(0x91);
    img.push_back(0);
    img.push_back(0);
    img.push_back('V');
    img.push_back('9');
    img.push_back(4);
    for (char c : std::string("0102"))
        img.push_back(static_cast<uint8_t>(c));
    img.push_back(0x78);
    img.resize(size, 0xFF);
    return img;
}

std::string Lookup(const std::vector<uint8_t> &img, const char *key, int *status, size_t valueSize = 32) {
    std::vector<char> value(valueSize, 'z');
    *status = FindVpdField(img.data(), img.size(), key, value.data(), value.size());
    return std::string(value.data());
}

TEST(Vpd, FieldLookupAndTrimming) {
    auto img = Image({{"SN", "RFD1234  "}, {"V3", "08.01.05  "}, {"V4", "3.00\t"}, {"ZZ", "odd"}});
    struct Case {
        const char *key;
        int status;
        const char *text;
    };
    const Case cases[] = {
        {"SN", VPD_OK, "RFD1234  "}, {"V3", VPD_OK, "08.01.05"}, {"V4", VPD_OK, "3.00"},
        {"V9", VPD_OK, "0102"},      {"ZZ", VPD_OK, ""},         {"PN", VPD_FIELD_NOT_FOUND, ""},
    };
    for (const Case &c : cases) {
        int status = -1;
        EXPECT_EQ(Lookup(img, c.key, &status), c.text) << c.key;
        EXPECT_EQ(status, c.status) << c.key;
    }
}

TEST(Vpd, LongFieldIsCutToTheValueBuffer) {
    auto img = Image({{"SN", std::string(200, 'S')}});
    int status = -1;
    std::string text = Lookup(img, "SN", &status, 32);
    EXPECT_EQ(status, VPD_OK);
    EXPECT_EQ(text, std::string(31, 'S'));
}

TEST(Vpd, WalksNeverLeaveTheBuffer) {
    // Lengths that lead outside: identifier string, keyword, a buffer cut
    // inside a header, and an image without an end tag.
    std::vector<std::vector<uint8_t>> bad;
    bad.push_back({0x82, 0xFF, 0x7F, 'x', 0x78});
    bad.push_back({0x82, 0x01, 0x00, 'x', 0x90, 0, 0, 'S', 'N', 200, 'a', 0x78});
    bad.push_back({0x82, 0x01, 0x00, 'x', 0x90, 0});
    bad.push_back({0x82, 0x01, 0x00, 'x', 'S', 'N', 1, 'a', 'R', 'V', 1, 0});
    // The field asked for comes before the entry that leads outside.
    bad.push_back({0x82, 0x01, 0x00, 'x', 0x90, 0, 0, 'S', 'N', 1, 'a', 'E', 'C', 200, 'b', 0x78});
    const int lookup[] = {VPD_FIELD_NOT_FOUND, VPD_FIELD_NOT_FOUND, VPD_FIELD_NOT_FOUND, VPD_OK, VPD_OK};
    for (size_t i = 0; i < bad.size(); ++i) {
        const auto &img = bad[i];
        std::vector<char> value(32);
        EXPECT_EQ(FindVpdField(img.data(), img.size(), "SN", value.data(), value.size()), lookup[i]) << i;
        EXPECT_EQ(verifyVpdChecksum(img.data(), img.size()), VPD_BAD_CHECKSUM);
        std::vector<uint8_t> copy = img;
        const uint8_t v[32] = {'b'};
        EXPECT_EQ(UpdateVpdField(copy.data(), copy.size(), "SN", v, sizeof v), VPD_MALFORMED) << i;
        EXPECT_EQ(copy, img) << i; // refused as given, never half rewritten
    }
}

TEST(Vpd, ChecksumRules) {
    auto good = Image({{"SN", "A1"}});
    EXPECT_EQ(verifyVpdChecksum(good.data(), good.size()), VPD_OK);
    auto broken = good;
    broken[5] ^= 1;
    EXPECT_EQ(verifyVpdChecksum(broken.data(), broken.size()), VPD_BAD_CHECKSUM);
    auto noRV = Image({{"SN", "A1"}}, false);
    EXPECT_EQ(verifyVpdChecksum(noRV.data(), noRV.size()), VPD_BAD_CHECKSUM);
    // Bytes after the checksum do not count.
    auto tail = good;
    tail[tail.size() - 1] = 0x12;
    EXPECT_EQ(verifyVpdChecksum(tail.data(), tail.size()), VPD_OK);
}

TEST(Vpd, UpdateRewritesFieldsAndChecksum) {
    auto img = Image({{"V3", "08.01.05"}, {"V1", "1.00"}, {"V3", "xxxxxxxx"}});
    const uint8_t value[32] = {'0', '9', '.', '0', '2', '.', '0', '3', '.', '9'}; // 10 characters
    EXPECT_EQ(UpdateVpdField(img.data(), img.size(), "V3", value, sizeof value), VPD_OK);
    EXPECT_EQ(verifyVpdChecksum(img.data(), img.size()), VPD_OK);
    int status = -1;
    EXPECT_EQ(Lookup(img, "V3", &status), "09.02.03"); // field length 8 kept
    // Both copies were rewritten: the second V3 follows V1.
    std::string raw(img.begin(), img.end());
    EXPECT_EQ(raw.find("xxxxxxxx"), std::string::npos);

    // A shorter value leaves zeros; a value buffer shorter than the field
    // never reads past it.
    auto img2 = Image({{"V9", std::string(60, 'v')}});
    const uint8_t shortValue[4] = {'1', '2', '3', '4'};
    EXPECT_EQ(UpdateVpdField(img2.data(), img2.size(), "V9", shortValue, sizeof shortValue), VPD_OK);
    EXPECT_EQ(Lookup(img2, "V9", &status), "1234");

    auto noRV = Image({{"V3", "08.01.05"}}, false);
    EXPECT_EQ(UpdateVpdField(noRV.data(), noRV.size(), "V3", value, sizeof value), VPD_BAD_CHECKSUM);
    EXPECT_EQ(Lookup(noRV, "V3", &status), "09.02.03");
    EXPECT_EQ(UpdateVpdField(img.data(), img.size(), "QQ", value, sizeof value), VPD_FIELD_NOT_FOUND);
    std::vector<uint8_t> noStart(64, 0x78);
    EXPECT_EQ(UpdateVpdField(noStart.data(), noStart.size(), "V3", value, sizeof value), VPD_MALFORMED);
    std::vector<uint8_t> noEnd = {0x82, 0, 0, 'S', 'N', 1, 'a'};
    EXPECT_EQ(UpdateVpdField(noEnd.data(), noEnd.size(), "SN", value, sizeof value), VPD_MALFORMED);
}

TEST(Vpd, BlankImages) {
    std::vector<uint8_t> ff(512, 0xFF), zero(512, 0), mixed(512, 0xFF);
    mixed[100] = 0;
    EXPECT_EQ(IsBlankVpd(ff.data(), ff.size()), 1);
    EXPECT_EQ(IsBlankVpd(zero.data(), zero.size()), 1);
    EXPECT_EQ(IsBlankVpd(mixed.data(), mixed.size()), 0);
    auto img = Image({{"SN", "A"}});
    EXPECT_EQ(IsBlankVpd(img.data(), img.size()), 0);
    EXPECT_EQ(IsBlankVpd(nullptr, 0), 1); // empty: nothing read
}

} // namespace
