// Image files of an update run.
//
// ImageFileReader opens and measures a file and later reads it straight
// into the caller's buffer: an update that reads the adapter's region and
// lays the file over it then holds one image-sized buffer, not two.
//
// ImageFileStore: for the updates that copy the file into a buffer of their
// own (whole option ROM, converged and online drivers), an update run reads
// each image file once and hands it, read-only, to every adapter update
// that takes it. The run's store keeps images up to a
// byte budget; a file that would exceed it pushes out the images used
// longest ago (the file just read is always kept), so memory stays bounded
// by the largest image whatever the number of adapters. With adapters that
// take different files in turn, a file pushed out is read again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Result of reading an image file, in the order the steps are tried.
enum class ImageFileStatus {
    Ok,
    CannotOpen,    // the file does not open
    CannotMeasure, // its length cannot be found (or is 4 GiB or more), or it cannot be wound back
    NoMemory,      // no memory for its bytes
    ReadFailed,    // fewer bytes read than its length
    TooLarge,      // longer than the caller takes: not read
};

// A file opened and measured now, read later (the steps and their results
// as for the store).
class ImageFileReader {
  public:
    // Opens path and finds its length; a file longer than maxBytes is
    // TooLarge (size() still gives its length).
    ImageFileStatus Open(const char *path, size_t maxBytes = SIZE_MAX);
    size_t size() const { return size_; }
    // Reads the whole file from its start into out, which must be exactly
    // size() bytes long; ReadFailed when fewer bytes come.
    ImageFileStatus ReadInto(std::span<uint8_t> out);

  private:
    struct Closer {
        void operator()(std::FILE *f) const;
    };
    std::unique_ptr<std::FILE, Closer> file_;
    size_t size_ = 0;
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
    // file or the end of the store.
    // A file longer than maxBytes is refused before it is read (TooLarge);
    // *length (may be null) gets the file's length once it is known.
    ImageFileStatus Get(const char *path, std::span<const uint8_t> &data, size_t maxBytes = SIZE_MAX,
                        size_t *length = nullptr);

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

// The store of the update run in progress, for its lifetime. A run started
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

// The whole file (read once per run), copied into out for a caller that
// patches it. False when it cannot be opened or read, or the copy cannot
// be allocated.
bool CopyRunImageFile(const char *path, std::vector<uint8_t> &out);
