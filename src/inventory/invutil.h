// Small helpers shared by the inventory sources: WWN formatting, library
// error texts, bounded text copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/output.h"
#include "torvex.h"

// printf pieces for an 8-byte WWN.
#define WWN_FMT_UC "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define WWN_FMT_LC "%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

// Debug trace of the inventory (visible with -debug / -trace only).
#define INV_DEBUG(...) OutputLevelMessage(LEVEL_DEBUG, __VA_ARGS__)

// Text of a library status, held in a small local buffer.
class TvxErrorText {
  public:
    explicit TvxErrorText(TVX_STATUS status) {
        text_[0] = '\0';
        if (TvxGetErrorString(status, text_, sizeof text_) != TVX_STATUS_OK) text_[0] = '\0';
        text_[sizeof text_ - 1] = '\0';
    }
    const char *c_str() const { return text_; }

  private:
    char text_[128];
};

// Copies at most size-1 bytes of src (stopping at its NUL) into dst, NUL-terminated.
inline void CopyText(char *dst, size_t size, const char *src) {
    if (dst == nullptr || size == 0) return;
    size_t n = 0;
    if (src != nullptr) {
        while (n + 1 < size && src[n] != '\0')
            ++n;
        std::memcpy(dst, src, n);
    }
    dst[n] = '\0';
}

// Length of a text held in a fixed array (no NUL needed).
inline size_t BoundedLength(const char *text, size_t size) {
    size_t n = 0;
    while (n < size && text[n] != '\0')
        ++n;
    return n;
}

inline bool AllZero(const uint8_t *bytes, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

// 16 lower-case hex digits of a WWN ("%02x" per byte), NUL-terminated.
inline void WwnHexText(const uint8_t wwn[8], char text[17]) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) {
        text[2 * i] = kHex[wwn[i] >> 4];
        text[2 * i + 1] = kHex[wwn[i] & 15];
    }
    text[16] = '\0';
}

// Splits a NUL-terminated text in place at any of the delimiter characters,
// a run of delimiters counting as one (the behaviour of strtok, without its
// hidden state). Returns the next piece or null.
inline char *NextPiece(char **cursor, const char *delims) {
    char *p = *cursor;
    if (p == nullptr) return nullptr;
    while (*p != '\0' && std::strchr(delims, *p) != nullptr)
        ++p;
    if (*p == '\0') {
        *cursor = p;
        return nullptr;
    }
    char *start = p;
    while (*p != '\0' && std::strchr(delims, *p) == nullptr)
        ++p;
    if (*p != '\0') *p++ = '\0';
    *cursor = p;
    return start;
}

// Appends a record to one of the hand-made doubly linked lists
// (header: count, first, last; record: next, prev).
template <typename List, typename Record> void ListAppend(List &list, Record *r) {
    r->next = nullptr;
    r->prev = list.last;
    if (list.last != nullptr)
        list.last->next = r;
    else
        list.first = r;
    list.last = r;
    ++list.count;
}
