// Shared pieces of the fuzz targets: a silenced console and a scratch file
// for the parsers that read from a path.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/settings.h"

namespace fuzz {

// Messages are not what a fuzz run looks at; keep the console quiet.
inline void Silence() {
    g_bSilent = 1;
    g_bDebug = 0;
}

// The start of a target that needs no more than a quiet console:
//   extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }
inline int QuietStart() {
    Silence();
    return 0;
}

// A per-process scratch folder below /dev/shm (or the temporary folder).
inline const std::string &ScratchDir() {
    // Never destroyed: the exit handler below still needs it.
    static const std::string &dir = *new std::string([] {
        const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string d = std::string(base) + "/tf_fuzz_" + std::to_string(getpid());
        std::error_code ec;
        // Folders of targets that ended by a finding (no exit handler ran).
        for (const auto &e : std::filesystem::directory_iterator(base, ec)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("tf_fuzz_", 0) != 0) continue;
            const long pid = std::atol(name.c_str() + 8);
            if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                std::error_code ignored;
                std::filesystem::remove_all(e.path(), ignored);
            }
        }
        std::filesystem::create_directories(d, ec);
        if (ec) std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchDir(), ignored);
        });
        return d;
    }());
    return dir;
}

// Writes the bytes to <scratch>/<name> and returns its path.
inline std::string WriteScratch(const char *name, const uint8_t *data, size_t size) {
    std::string path = ScratchDir() + "/" + name;
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return path;
}

// The invariant checks of the targets: a broken one is a finding.
#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);                         \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

} // namespace fuzz
