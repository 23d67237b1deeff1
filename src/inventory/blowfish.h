// Blowfish block cipher (64-bit blocks, keys of 1 to 72 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

struct BlowfishContext {
    uint32_t P[18];
    uint32_t S[4][256];
};

// Key schedule from key bytes (taken cyclically). Key length 1-72.
void BlowfishInit(BlowfishContext *ctx, const uint8_t *key, size_t keyLength);
void BlowfishEncryptBlock(const BlowfishContext *ctx, uint32_t *left, uint32_t *right);
void BlowfishDecryptBlock(const BlowfishContext *ctx, uint32_t *left, uint32_t *right);
// ECB over whole 8-byte blocks, each read as two big-endian words.
// size must be a multiple of 8; in and out may be the same buffer.
void BlowfishDecryptEcb(const BlowfishContext *ctx, const uint8_t *in, uint8_t *out, size_t size);
void BlowfishEncryptEcb(const BlowfishContext *ctx, const uint8_t *in, uint8_t *out, size_t size);
