// Files of the simulated library through C stdio, always in binary mode.
// No C++ stream object is made, so loading a host and serving calls never
// start the C++ locale machinery in the process that uses the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <vector>

namespace tsim {

struct FileCloser {
    void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens p with a binary stdio mode ("rb", "wb", "r+b", "ab"); null when it
// cannot be opened.
File OpenFile(const std::filesystem::path &p, const char *mode);
// Closes f; false when it was not open or its buffered bytes could not be
// written.
bool CloseFile(File &f);
// Moves the file position to off (beyond the end is allowed, as with lseek).
bool SeekFile(std::FILE *f, uint64_t off);
// Reads up to len bytes at the file position (or at offset off), and
// returns how many came; the rest of out is left as it was (a short file).
size_t ReadBytes(std::FILE *f, void *out, size_t len);
size_t ReadAt(std::FILE *f, uint64_t off, void *out, size_t len);
// Writes all len bytes.
bool WriteAll(std::FILE *f, const void *data, size_t len);

// The bytes of an open file, read in chunks, for parsers that take an
// input iterator (the JSON library): a read error ends the bytes as the
// end of the file does.
class FileReader {
  public:
    explicit FileReader(std::FILE *f) : f_(f), buf_(16 * 1024) {}
    bool AtEnd() { return pos_ == len_ && !Fill(); }
    const char &Current() const { return buf_[pos_]; }
    void Next() { ++pos_; }

    class Iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = char;
        using difference_type = std::ptrdiff_t;
        using pointer = const char *;
        using reference = const char &;

        Iterator() = default; // the end
        explicit Iterator(FileReader &r) : r_(&r) {}
        reference operator*() const { return r_->Current(); }
        Iterator &operator++() {
            r_->Next();
            return *this;
        }
        void operator++(int) { r_->Next(); }
        // Iterators only compare against the end.
        bool operator==(const Iterator &o) const { return AtEnd() == o.AtEnd(); }

      private:
        bool AtEnd() const { return r_ == nullptr || r_->AtEnd(); }
        FileReader *r_ = nullptr;
    };
    Iterator begin() { return Iterator(*this); }
    static Iterator end() { return Iterator(); }

  private:
    bool Fill() {
        pos_ = 0;
        len_ = std::fread(buf_.data(), 1, buf_.size(), f_);
        return len_ != 0;
    }
    std::FILE *f_;
    std::vector<char> buf_;
    size_t pos_ = 0, len_ = 0;
};

} // namespace tsim
