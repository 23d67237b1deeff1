#include "inventory/adapters_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "inventory/blowfish.h"
#include "testutil.h"

namespace {

#include "enciphered_fixture.inc"

struct ListOwner {
    SubSystemEntry *list = nullptr;
    explicit ListOwner(SubSystemEntry *l) : list(l) {}
    ~ListOwner() { FreeSubSystemList(list); }
    std::vector<const SubSystemEntry *> Rows() const {
        std::vector<const SubSystemEntry *> rows;
        for (const SubSystemEntry *e = list; e != nullptr; e = e->next)
            rows.push_back(e);
        return rows;
    }
};

std::string Encipher(const std::string &plain) {
    std::string padded = plain;
    padded.resize((plain.size() + 7) / 8 * 8, '\0');
    BlowfishContext ctx;
    BlowfishInit(&ctx, reinterpret_cast<const uint8_t *>(g_szAdapterTableKey), ADAPTER_TABLE_KEY_LENGTH);
    std::string out(padded.size(), '\0');
    BlowfishEncryptEcb(&ctx, reinterpret_cast<const uint8_t *>(padded.data()), reinterpret_cast<uint8_t *>(out.data()),
                       padded.size());
    return out;
}

TEST(SupportedAdapterTable, PlainLinesByTheColumnRules) {
    invtest::TempDir dir;
    std::string longDesc(200, 'd');
    std::string farComma(300, 'f');
    std::string text = "# comment line without enough commas\n"
                       "0x0100,0x1077,CXR2312,Dual port,TRUE\n"          // 1: 5 columns, 6/7 default
                       "a,b,c,d\n"                                       // 2: exactly 3 commas: ignored
                       "0x0101,0x1077,,CXR2312,desc,xxTRUEyy,F6,F7,F8\n" // 3: empty column shifts left
                       "0x0102,0x1077,CXR2312,,,TRUE\n"                  // 4: 4 columns: skipped
                       "0x0103,0x1077,CXR2312," +
                       longDesc +
                       ",true\n" // 5: long description cut
                       "0x0105,0x1077,CXR2312," +
                       farComma +
                       ",TRUE\n"                                              // 4th comma past 255: ignored
                       "0x0104,0x1077,CXR1234567890123,desc,TRUE,FALSE,TRUE"; // 6: no line end, long cxr cut
    std::string path = dir.Write("adapters.properties", text);
    ListOwner table(BuildSubSystemListFromFile(path.c_str()));
    auto rows = table.Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_STREQ(rows[0]->subsysDeviceId, "0x0100");
    EXPECT_STREQ(rows[0]->supported, "TRUE\n");
    EXPECT_STREQ(rows[0]->flag6, "FALSE");
    EXPECT_STREQ(rows[0]->flag7, "FALSE");
    EXPECT_STREQ(rows[1]->cxrText, "CXR2312");
    EXPECT_STREQ(rows[1]->description, "desc");
    EXPECT_STREQ(rows[1]->supported, "xxTRUEyy");
    EXPECT_STREQ(rows[1]->flag7, "F7");
    EXPECT_EQ(strlen(rows[2]->description), sizeof rows[2]->description - 1);
    EXPECT_STREQ(rows[3]->cxrText, "CXR123456");
    EXPECT_STREQ(rows[3]->flag7, "TRUE");

    EXPECT_NE(FindSubSystemInSubSystemList(table.list, 0x100, 0x1077), nullptr);
    EXPECT_EQ(FindSubSystemInSubSystemList(table.list, 0x100, 0x1078), nullptr);
    EXPECT_EQ(FindSubSystemInSubSystemList(table.list, 0x102, 0x1077), nullptr);
    EXPECT_EQ(FindSubSystemInSubSystemList(table.list, 0x103, 0x1077), rows[2]);
}

TEST(SupportedAdapterTable, LookupTextAlwaysHasFourUpperCaseDigits) {
    invtest::TempDir dir;
    std::string path = dir.Write("adapters.properties", "0x100,0x1077,CXR2312,d,TRUE\n"
                                                        "0x01ab,0x1077,CXR2312,d,TRUE\n"
                                                        "0x01AB,0x1077,CXR2312,upper,TRUE\n");
    ListOwner table(BuildSubSystemListFromFile(path.c_str()));
    EXPECT_EQ(FindSubSystemInSubSystemList(table.list, 0x100, 0x1077), nullptr);
    const SubSystemEntry *row = FindSubSystemInSubSystemList(table.list, 0x1AB, 0x1077);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->description, "upper");
}

TEST(SupportedAdapterTable, HostileLinesNeverOverrun) {
    invtest::TempDir dir;
    std::string text;
    text += std::string(5000, ',') + "\n";                                 // only commas: no columns
    text += "0x0200,0x1077,CXR2432," + std::string(3000, 'x') + ",TRUE\n"; // split by the line limit
    const char binary[] = "\x01\x02\xff,\x00,\x80,,,,\n";
    text += std::string(binary, sizeof binary - 1);
    text += "0x0201,0x1077,CXR2432,after binary,TRUE\n";
    std::string path = dir.Write("adapters.properties", text);
    ListOwner table(BuildSubSystemListFromFile(path.c_str()));
    const SubSystemEntry *row = FindSubSystemInSubSystemList(table.list, 0x201, 0x1077);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->description, "after binary");
    for (const SubSystemEntry *e : table.Rows()) {
        EXPECT_LT(strlen(e->description), sizeof e->description);
        EXPECT_LT(strlen(e->supported), sizeof e->supported);
    }
}

TEST(SupportedAdapterTable, MissingFileGivesNoList) {
    invtest::TempDir dir;
    std::string path = (dir.path() / "absent.properties").string();
    EXPECT_EQ(BuildSubSystemListFromFile(path.c_str()), nullptr);
    EXPECT_EQ(BuildSubSystemListFromEncryptedFile(path.c_str(), g_szAdapterTableKey, ADAPTER_TABLE_KEY_LENGTH),
              nullptr);
    EXPECT_EQ(ReadSupportedAdapterTable(dir.dir().c_str(), false), nullptr);
}

// The fixture was enciphered by OpenSSL's Blowfish, not by this program.
TEST(SupportedAdapterTable, EncipheredFixtureFromIndependentImplementation) {
    invtest::TempDir dir;
    std::string cipher(reinterpret_cast<const char *>(kFixtureCipher), sizeof kFixtureCipher);
    std::string path = dir.Write("adapters.properties", cipher);
    ListOwner table(BuildSubSystemListFromEncryptedFile(path.c_str(), g_szAdapterTableKey, ADAPTER_TABLE_KEY_LENGTH));
    auto rows = table.Rows();
    // "short,line" and the zero padding after the last line are skipped.
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_STREQ(rows[0]->description, "Orvane 2312 Dual Port Fibre Channel HBA");
    EXPECT_STREQ(rows[0]->flag7, "FALSE\r\n");
    EXPECT_STREQ(rows[1]->flag6, "FALSE\n");
    EXPECT_STREQ(rows[1]->flag7, "FALSE");
    EXPECT_STREQ(rows[3]->supported, "xTRUEx");
    EXPECT_STREQ(rows[4]->subsysDeviceId, "0x029B");
    EXPECT_STREQ(rows[4]->flag6, "FALSE");
    // Our own encipherment gives the same bytes.
    std::string plain(reinterpret_cast<const char *>(kFixturePlain), sizeof kFixturePlain);
    EXPECT_EQ(Encipher(plain), cipher);
}

TEST(SupportedAdapterTable, EncipheredFormNeedsSixColumns) {
    invtest::TempDir dir;
    // First line with five columns rejects the enciphered reading as a whole.
    std::string path = dir.Write("a.properties", Encipher("0x0100,0x1077,CXR2312,d,TRUE\n0x0101,0x1077,C,d,TRUE,F\n"));
    EXPECT_EQ(BuildSubSystemListFromEncryptedFile(path.c_str(), g_szAdapterTableKey, ADAPTER_TABLE_KEY_LENGTH),
              nullptr);
    // A short line after a good one is only skipped.
    path = dir.Write("b.properties", Encipher("0x0101,0x1077,C,d,TRUE,F\n0x0100,0x1077,CXR2312,d,TRUE\n"));
    ListOwner table(BuildSubSystemListFromEncryptedFile(path.c_str(), g_szAdapterTableKey, ADAPTER_TABLE_KEY_LENGTH));
    ASSERT_EQ(table.Rows().size(), 1u);
    EXPECT_STREQ(table.list->subsysDeviceId, "0x0101");
}

TEST(SupportedAdapterTable, TruncatedEncipheredBlockIsZeroPadded) {
    invtest::TempDir dir;
    std::string cipher = Encipher("0x0100,0x1077,CXR2312,first row,TRUE,FALSE\n0x0101,0x1077,CXR2312,second,TRUE,F\n");
    // Cut in the middle of the last block: the reader pads it with zeros
    // before deciphering, so that block is garbage but nothing overruns.
    std::string cut = cipher.substr(0, cipher.size() - 3);
    std::string path = dir.Write("adapters.properties", cut);
    ListOwner table(BuildSubSystemListFromEncryptedFile(path.c_str(), g_szAdapterTableKey, ADAPTER_TABLE_KEY_LENGTH));
    ASSERT_NE(table.list, nullptr);
    EXPECT_STREQ(table.list->description, "first row");
    // A 13-byte file is two blocks.
    path = dir.Write("thirteen.properties", cipher.substr(0, 13));
    ListOwner small(BuildSubSystemListFromEncryptedFile(path.c_str(), g_szAdapterTableKey, ADAPTER_TABLE_KEY_LENGTH));
    EXPECT_EQ(small.list, nullptr); // the first 16 bytes hold no six columns
}

TEST(SupportedAdapterTable, EncipheredFormIsTriedFirstThenPlain) {
    invtest::TempDir dir;
    dir.Write("adapters.properties", Encipher("0x0100,0x1077,CXR2312,enciphered,TRUE,FALSE\n"));
    ListOwner first(ReadSupportedAdapterTable(dir.dir().c_str(), false));
    ASSERT_NE(first.list, nullptr);
    EXPECT_STREQ(first.list->description, "enciphered");

    dir.Write("adapters.properties", "0x0100,0x1077,CXR2312,plain,TRUE\n");
    ListOwner second(ReadSupportedAdapterTable(dir.dir().c_str(), true));
    ASSERT_NE(second.list, nullptr);
    EXPECT_STREQ(second.list->description, "plain");
}

// A plain table whose first line happens to decipher into six comma-separated
// columns of garbage must still be read as plain text.
TEST(SupportedAdapterTable, PlainFileThatDeciphersIntoColumnsIsStillPlain) {
    BlowfishContext ctx;
    BlowfishInit(&ctx, reinterpret_cast<const uint8_t *>(g_szAdapterTableKey), ADAPTER_TABLE_KEY_LENGTH);
    const std::string rows = "0x0100,0x1077,CXR2312,plain row,TRUE\n";
    std::string found;
    for (unsigned seed = 0; seed < 200000 && found.empty(); ++seed) {
        // A comment line of letters that vary with the seed over many blocks.
        std::string head = "# ";
        uint32_t x = seed * 2654435761u + 1;
        for (int i = 0; i < 64; ++i) {
            x = x * 1664525u + 1013904223u;
            head += static_cast<char>('a' + (x >> 24) % 26);
        }
        head += "\n";
        std::string text = head + rows;
        std::string padded = text;
        padded.resize((text.size() + 7) / 8 * 8, '\0');
        std::vector<uint8_t> plain(padded.size());
        BlowfishDecryptEcb(&ctx, reinterpret_cast<const uint8_t *>(padded.data()), plain.data(), padded.size());
        // Commas before the first line end or NUL, as a line reader sees them.
        int commas = 0;
        bool sep = true;
        int columns = 0;
        for (uint8_t b : plain) {
            if (b == '\n' || b == 0) break;
            if (b == ',') {
                ++commas;
                sep = true;
            } else if (sep) {
                ++columns;
                sep = false;
            }
        }
        if (columns >= 6) found = text;
    }
    ASSERT_FALSE(found.empty()) << "no candidate found";
    invtest::TempDir dir;
    dir.Write("adapters.properties", found);
    ListOwner table(ReadSupportedAdapterTable(dir.dir().c_str(), false));
    ASSERT_NE(table.list, nullptr);
    EXPECT_STREQ(table.list->description, "plain row");
}

TEST(SupportedAdapterTable, PopulateSubSystemDataIsBoundedBySize) {
    SubSystemEntry entry{};
    const char line[] = "0x0100,0x1077,CXR2312,desc,TRUE,FALSE,TRUE";
    EXPECT_EQ(PopulateSubSystemData(&entry, line, sizeof line), 1);
    EXPECT_STREQ(entry.flag7, "TRUE");
    // Only the first 30 bytes count: five columns, not enough.
    SubSystemEntry cut{};
    EXPECT_EQ(PopulateSubSystemData(&cut, line, 30), 0);
    // No NUL inside the given size.
    char raw[64];
    memset(raw, 'x', sizeof raw);
    EXPECT_EQ(PopulateSubSystemData(&cut, raw, sizeof raw), 0);
}

} // namespace
