// Image files of an update run.

#include "update/imagefile.h"

#include <cstdio>
#include <new>

namespace {

ImageFileStore *g_runImageFiles = nullptr;

constexpr unsigned long kMaxImageLength = 0xFFFFFFFFul;

} // namespace

// ---- One file, read into the caller's buffer --------------------------------

void ImageFileReader::Closer::operator()(std::FILE *f) const { std::fclose(f); }

ImageFileStatus ImageFileReader::Open(const char *path, size_t maxBytes) {
    size_ = 0;
    file_.reset(std::fopen(path != nullptr ? path : "", "rb"));
    if (!file_) return ImageFileStatus::CannotOpen;
    // Unbuffered: the read goes straight into the caller's bytes, and no
    // block buffered at the measure is mixed into a later read.
    std::setvbuf(file_.get(), nullptr, _IONBF, 0);
    long len = -1;
    if (std::fseek(file_.get(), 0, SEEK_END) == 0) len = std::ftell(file_.get());
    // Region sizes are 32-bit: no image is 4 GiB long, and a folder reports
    // an absurd length.
    if (len < 0 || static_cast<unsigned long>(len) > kMaxImageLength || std::fseek(file_.get(), 0, SEEK_SET) != 0)
        return ImageFileStatus::CannotMeasure;
    size_ = static_cast<size_t>(len);
    return size_ > maxBytes ? ImageFileStatus::TooLarge : ImageFileStatus::Ok;
}

ImageFileStatus ImageFileReader::ReadInto(std::span<uint8_t> out) {
    if (!file_ || out.size() != size_) return ImageFileStatus::ReadFailed;
    if (size_ == 0) return ImageFileStatus::Ok;
    if (std::fseek(file_.get(), 0, SEEK_SET) != 0) return ImageFileStatus::ReadFailed;
    return std::fread(out.data(), 1, size_, file_.get()) == size_ ? ImageFileStatus::Ok : ImageFileStatus::ReadFailed;
}

// ---- Image files ----------------------------------------------------------

size_t ImageFileStore::HeldBytes() const {
    size_t n = 0;
    for (const Entry &e : entries_)
        n += e.size;
    return n;
}

std::unique_ptr<uint8_t[]> ImageFileStore::MakeRoom(size_t need) {
    std::unique_ptr<uint8_t[]> reuse;
    while (!entries_.empty() && HeldBytes() + need > budget_) {
        size_t oldest = 0;
        for (size_t i = 1; i < entries_.size(); ++i)
            if (entries_[i].lastUse < entries_[oldest].lastUse) oldest = i;
        if (!reuse && entries_[oldest].size == need) reuse = std::move(entries_[oldest].bytes);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(oldest));
    }
    return reuse;
}

ImageFileStatus ImageFileStore::Get(const char *path, std::span<const uint8_t> &data, size_t maxBytes, size_t *length) {
    data = {};
    const std::string name = path != nullptr ? path : "";
    for (Entry &e : entries_) {
        if (e.path == name) {
            if (length != nullptr) *length = e.size;
            if (e.size > maxBytes) return ImageFileStatus::TooLarge;
            e.lastUse = ++clock_;
            data = {e.bytes.get(), e.size};
            return ImageFileStatus::Ok;
        }
    }
    ImageFileReader file;
    const ImageFileStatus opened = file.Open(name.c_str(), maxBytes);
    if (opened != ImageFileStatus::Ok && opened != ImageFileStatus::TooLarge) return opened;
    const size_t size = file.size();
    if (length != nullptr) *length = size;
    if (opened == ImageFileStatus::TooLarge) return opened;

    // Room first, so an image pushed out and the new one are never held
    // together; its storage serves the new file when the sizes match. The
    // bytes are not zero-filled: the read below covers them all or the
    // file is refused.
    std::unique_ptr<uint8_t[]> bytes = MakeRoom(size);
    if (!bytes && size > 0) {
        bytes.reset(new (std::nothrow) uint8_t[size]);
        if (!bytes) return ImageFileStatus::NoMemory;
    }
    ++reads_;
    if (file.ReadInto({bytes.get(), size}) != ImageFileStatus::Ok) return ImageFileStatus::ReadFailed;

    Entry e;
    e.path = name;
    e.bytes = std::move(bytes);
    e.size = size;
    e.lastUse = ++clock_;
    try {
        entries_.push_back(std::move(e));
    } catch (const std::bad_alloc &) {
        return ImageFileStatus::NoMemory;
    }
    data = {entries_.back().bytes.get(), size};
    return ImageFileStatus::Ok;
}

ImageFileRun::ImageFileRun() {
    if (g_runImageFiles != nullptr) return;
    store_.reset(new (std::nothrow) ImageFileStore());
    g_runImageFiles = store_.get();
}

ImageFileRun::~ImageFileRun() {
    if (!store_) return;
    g_runImageFiles = nullptr;
    store_.reset();
}

ImageFileStore &RunImageFiles(ImageFileStore &own) { return g_runImageFiles != nullptr ? *g_runImageFiles : own; }

bool CopyRunImageFile(const char *path, std::vector<uint8_t> &out) {
    ImageFileStore ownFiles;
    std::span<const uint8_t> data;
    if (RunImageFiles(ownFiles).Get(path, data) != ImageFileStatus::Ok) return false;
    try {
        out.assign(data.begin(), data.end());
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}
