// Image files of an update run and a reusable buffer for bytes that are
// overwritten before they are looked at.
//
// An update run reads each image file once and hands it, read-only, to
// every adapter update that takes it. The run's store keeps images up to a
// byte budget; a file that would exceed it pushes out the images used
// longest ago (the file just read is always kept), so memory stays bounded
// by the largest image whatever the number of adapters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Result of reading an image file, in the order the steps are tried.
enum class ImageFileStatus {
    Ok,
    CannotOpen,    // the file does not open
    CannotMeasure, // its length cannot be found (or it cannot be wound back)
    NoMemory,      // no memory for its bytes
    ReadFailed,    // fewer bytes read than its length
};

// Bytes of the store held between uses (images of the classic adapters
// are 1 MiB; a larger image is kept alone).
constexpr size_t kRunImageBudget = 0x100000;

class ImageFileStore {
  public:
    explicit ImageFileStore(size_t budget = kRunImageBudget) : budget_(budget) {}
    ImageFileStore(const ImageFileStore &) = delete;
    ImageFileStore &operator=(const ImageFileStore &) = delete;

    // The whole file at path: read on first use, then handed out again
    // without touching the disk. A file that fails is not kept (the next
    // call tries again). data stays valid until the next Get of another
    // file, a Release of this one or the end of the store.
    ImageFileStatus Get(const char *path, std::span<const uint8_t> &data);
    // Drops the file's bytes (no later adapter takes it).
    void Release(const char *path);

    size_t HeldBytes() const;
    size_t FilesHeld() const { return entries_.size(); }
    // Files read from disk so far (a file read again after it was pushed
    // out counts again).
    size_t FilesRead() const { return reads_; }

  private:
    struct Entry {
        std::string path;
        std::unique_ptr<uint8_t[]> bytes;
        size_t size = 0;
        uint64_t lastUse = 0;
    };
    // Pushes out the images used longest ago until need more bytes fit;
    // returns the storage of one pushed-out image of exactly need bytes
    // (so its pages are reused), else null.
    std::unique_ptr<uint8_t[]> MakeRoom(size_t need);

    size_t budget_;
    std::vector<Entry> entries_;
    uint64_t clock_ = 0;
    size_t reads_ = 0;
};

// The store of the update run in progress for its lifetime, and the reuse
// of the scratch block (freed when the outermost run ends). A run started
// inside another one uses the outer run's store.
class ImageFileRun {
  public:
    ImageFileRun();
    ~ImageFileRun();
    ImageFileRun(const ImageFileRun &) = delete;
    ImageFileRun &operator=(const ImageFileRun &) = delete;

  private:
    std::unique_ptr<ImageFileStore> store_; // null when an outer run's store is used
};

// The store of the run in progress, else own (a store of the caller's,
// for an adapter update started outside a run).
ImageFileStore &RunImageFiles(ImageFileStore &own);

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
