// A reusable buffer for bytes that are overwritten before they are looked
// at (a region read, a file copy). A plain buffer: no adapter access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// A buffer whose bytes start undefined: for a region read, a file copy or
// any other write that covers it before it is read. One process-wide block
// is lent to one holder at a time and kept for the next, so its pages are
// faulted in once per run instead of once per adapter; a holder that comes
// while the block is lent gets a block of its own.
class ScratchBytes {
  public:
    explicit ScratchBytes(size_t size);
    ~ScratchBytes();
    ScratchBytes(const ScratchBytes &) = delete;
    ScratchBytes &operator=(const ScratchBytes &) = delete;

    // False when no memory could be had for the size.
    bool ok() const { return data_ != nullptr || size_ == 0; }
    std::span<uint8_t> span() const { return {data_, data_ != nullptr ? size_ : 0}; }
    // True when the process-wide block was lent (for tests).
    bool shared() const { return shared_; }

  private:
    uint8_t *data_ = nullptr;
    size_t size_ = 0;
    bool shared_ = false;
    std::unique_ptr<uint8_t[]> own_;
};

// Frees the process-wide scratch block (when it is not lent).
void ReleaseScratchBlock();
// Size of the process-wide scratch block (for tests).
size_t ScratchBlockSize();
