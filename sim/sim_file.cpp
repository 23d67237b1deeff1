// C stdio files of the simulated library (see sim_file.h).
#include "sim_file.h"

#include <string>

namespace tsim {

File OpenFile(const std::filesystem::path &p, const char *mode) {
#ifdef _WIN32
    // Wide names, so that any path the file system takes opens.
    std::wstring wmode;
    for (const char *m = mode; *m != '\0'; ++m)
        wmode += wchar_t(*m);
    return File(_wfopen(p.c_str(), wmode.c_str()));
#else
    return File(std::fopen(p.c_str(), mode));
#endif
}

bool CloseFile(File &f) {
    if (!f) return false;
    return std::fclose(f.release()) == 0;
}

bool SeekFile(std::FILE *f, uint64_t off) {
    if (off > uint64_t(INT64_MAX)) return false;
#ifdef _WIN32
    return _fseeki64(f, static_cast<long long>(off), SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(off), SEEK_SET) == 0;
#endif
}

size_t ReadBytes(std::FILE *f, void *out, size_t len) { return std::fread(out, 1, len, f); }

size_t ReadAt(std::FILE *f, uint64_t off, void *out, size_t len) {
    return SeekFile(f, off) ? ReadBytes(f, out, len) : 0;
}

bool WriteAll(std::FILE *f, const void *data, size_t len) { return std::fwrite(data, 1, len, f) == len; }

} // namespace tsim
