// A buffer for bytes that are overwritten before they are looked at (a
// region read, a file copy). A plain buffer: no adapter access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>

// The bytes start undefined: they are not zero-filled, so each page is
// touched once, by the write that covers it, not twice. Freed pages are
// handed out again by the allocator, so a buffer of the same size taken
// for the next adapter costs no new pages.
class ScratchBytes {
  public:
    explicit ScratchBytes(size_t size) : size_(size), bytes_(size > 0 ? new (std::nothrow) uint8_t[size] : nullptr) {}

    // False when no memory could be had for the size.
    bool ok() const { return bytes_ != nullptr || size_ == 0; }
    std::span<uint8_t> span() const { return {bytes_.get(), bytes_ != nullptr ? size_ : 0}; }

  private:
    size_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};
