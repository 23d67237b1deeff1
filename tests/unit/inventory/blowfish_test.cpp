#include "inventory/blowfish.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Hex(const std::string &hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

uint64_t Encrypt(const std::vector<uint8_t> &key, uint64_t plain) {
    BlowfishContext ctx;
    BlowfishInit(&ctx, key.data(), key.size());
    uint32_t l = static_cast<uint32_t>(plain >> 32);
    uint32_t r = static_cast<uint32_t>(plain);
    BlowfishEncryptBlock(&ctx, &l, &r);
    uint64_t cipher = (static_cast<uint64_t>(l) << 32) | r;
    BlowfishDecryptBlock(&ctx, &l, &r);
    EXPECT_EQ((static_cast<uint64_t>(l) << 32) | r, plain) << "decrypt does not invert encrypt";
    return cipher;
}

// Published test vectors of the cipher's author (key, plaintext, ciphertext).
TEST(Blowfish, PublishedVectors) {
    struct Vector {
        const char *key;
        uint64_t plain;
        uint64_t cipher;
    };
    const Vector vectors[] = {
        {"0000000000000000", 0x0000000000000000ull, 0x4EF997456198DD78ull},
        {"FFFFFFFFFFFFFFFF", 0xFFFFFFFFFFFFFFFFull, 0x51866FD5B85ECB8Aull},
        {"3000000000000000", 0x1000000000000001ull, 0x7D856F9A613063F2ull},
        {"1111111111111111", 0x1111111111111111ull, 0x2466DD878B963C9Dull},
        {"0123456789ABCDEF", 0x1111111111111111ull, 0x61F9C3802281B096ull},
        {"1111111111111111", 0x0123456789ABCDEFull, 0x7D0CC630AFDA1EC7ull},
        {"FEDCBA9876543210", 0x0123456789ABCDEFull, 0x0ACEAB0FC6A0A28Dull},
        {"7CA110454A1A6E57", 0x01A1D6D039776742ull, 0x59C68245EB05282Bull},
    };
    for (const Vector &v : vectors)
        EXPECT_EQ(Encrypt(Hex(v.key), v.plain), v.cipher) << "key " << v.key;
}

// Variable key length vectors: plaintext FEDCBA9876543210 under the first
// n bytes of one long key.
TEST(Blowfish, VariableKeyLengthVectors) {
    const std::vector<uint8_t> longKey = Hex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
    const uint64_t expected[24] = {
        0xF9AD597C49DB005Eull, 0xE91D21C1D961A6D6ull, 0xE9C2B70A1BC65CF3ull, 0xBE1E639408640F05ull,
        0xB39E44481BDB1E6Eull, 0x9457AA83B1928C0Dull, 0x8BB77032F960629Dull, 0xE87A244E2CC85E82ull,
        0x15750E7A4F4EC577ull, 0x122BA70B3AB64AE0ull, 0x3A833C9AFFC537F6ull, 0x9409DA87A90F6BF2ull,
        0x884F80625060B8B4ull, 0x1F85031C19E11968ull, 0x79D9373A714CA34Full, 0x93142887EE3BE15Cull,
        0x03429E838CE2D14Bull, 0xA4299E27469FF67Bull, 0xAFD5AED1C1BC96A8ull, 0x10851C0E3858DA9Full,
        0xE6F51ED79B9DB21Full, 0x64A6E14AFD36B46Full, 0x80C7D7D45A5479ADull, 0x05044B62FA52D080ull,
    };
    for (size_t n = 1; n <= 24; ++n) {
        std::vector<uint8_t> key(longKey.begin(), longKey.begin() + static_cast<long>(n));
        EXPECT_EQ(Encrypt(key, 0xFEDCBA9876543210ull), expected[n - 1]) << "key length " << n;
    }
}

TEST(Blowfish, EcbRoundTripReadsBigEndianWords) {
    BlowfishContext ctx;
    const uint8_t key[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    BlowfishInit(&ctx, key, sizeof key);
    const uint8_t plain[16] = {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t cipher[16];
    BlowfishEncryptEcb(&ctx, plain, cipher, sizeof plain);
    // First block equals the single-block vector above, bytes in big-endian order.
    const uint8_t first[8] = {0x61, 0xF9, 0xC3, 0x80, 0x22, 0x81, 0xB0, 0x96};
    EXPECT_EQ(0, memcmp(cipher, first, 8));
    uint8_t back[16];
    BlowfishDecryptEcb(&ctx, cipher, back, sizeof cipher);
    EXPECT_EQ(0, memcmp(back, plain, sizeof plain));
}

} // namespace
