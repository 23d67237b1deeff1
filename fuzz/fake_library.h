// What the update targets' fake device libraries share: answers chosen by
// the input (most are success), the last answer to each value read before
// the first write, the error texts and the NVRAM subsystem ID reads.
// Include it in the one source of a target: it defines library functions,
// which take the place of the shared library's for that executable.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "inventory/tvxdevice.h"

namespace fuzz {

struct FakeLibrary {
    FuzzedDataProvider *in = nullptr;
    uint32_t handle = 0;
    uint16_t ssvid = 0;
    uint16_t ssdid = 0;
    std::span<const uint32_t> readFailures; // answers of a failed ID read
    bool written = false;                   // a write was made: later reads are not remembered
    // "<function> <parameter or region>" -> last answer before the first write.
    std::map<std::string, uint32_t> lastRead;

    // The adapter the fake library serves and the answers of its failed ID
    // reads.
    void Configure(uint32_t adapterHandle, uint16_t vendorId, uint16_t deviceId, std::span<const uint32_t> failures) {
        handle = adapterHandle;
        ssvid = vendorId;
        ssdid = deviceId;
        readFailures = failures;
    }
    // Starts an input: nothing read or written yet.
    void Reset(FuzzedDataProvider &provider) {
        in = &provider;
        written = false;
        lastRead.clear();
    }
    // One answer: success for most input bytes, else one of the failures.
    uint32_t Answer(std::span<const uint32_t> failures) {
        const uint8_t b = in->ConsumeIntegral<uint8_t>();
        return b < 200 || failures.empty() ? TVX_STATUS_OK : failures[b % failures.size()];
    }
    // A read-side answer, remembered until the first write.
    uint32_t Read(const char *fn, uint32_t key, uint32_t st) {
        if (!written) lastRead[std::string(fn) + " " + std::to_string(key)] = st;
        return st;
    }
    // Nothing may be written while the last answer to a value read was a
    // failure (a failed read that a later one of the same value made good
    // is no bar).
    void CheckNoWriteAfterFailedRead() const {
        for (const auto &[what, status] : lastRead) {
            if (status == TVX_STATUS_OK || !written) continue;
            std::fprintf(stderr, "written after a failed %s (0x%x)\n", what.c_str(), status);
            FUZZ_CHECK(!written);
        }
    }
};

inline FakeLibrary g_library;

// An image of the kit with up to four bytes changed and, where the input
// says so, cut (or grown by up to 'grow' bytes of 'fill').
inline std::vector<uint8_t> MutatedImage(FuzzedDataProvider &in, std::vector<uint8_t> image, size_t grow = 0,
                                         uint8_t fill = 0) {
    const size_t flips = in.ConsumeIntegralInRange<size_t>(0, 4);
    for (size_t i = 0; i < flips && !image.empty(); ++i) {
        const size_t at = in.ConsumeIntegralInRange<size_t>(0, image.size() - 1);
        image[at] = in.ConsumeIntegral<uint8_t>();
    }
    if (in.ConsumeBool()) image.resize(in.ConsumeIntegralInRange<size_t>(0, image.size() + grow), fill);
    return image;
}

// Raw input bytes as an image (at most 4 KiB).
inline std::vector<uint8_t> RawImage(FuzzedDataProvider &in) {
    return in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
}

} // namespace fuzz

extern "C" {

TVX_STATUS TvxGetErrorString(TVX_STATUS status, char *text, uint32_t size) {
    if (text != nullptr && size > 0) std::snprintf(text, size, "status 0x%08X", status);
    return TVX_STATUS_OK;
}

TVX_STATUS TvxGetVariableValue(uint32_t handle, const uint8_t *, uint32_t param, uint32_t *value) {
    fuzz::FakeLibrary &lib = fuzz::g_library;
    if (handle != lib.handle || value == nullptr) return TVX_ERR_INVALID_PARAMETER;
    const uint32_t st = lib.Read("TvxGetVariableValue", param, lib.Answer(lib.readFailures));
    if (st != TVX_STATUS_OK) return st;
    *value = param == TVX_NVRAM_PARAM_SSVID ? lib.ssvid : param == TVX_NVRAM_PARAM_SSDID ? lib.ssdid : 0;
    return TVX_STATUS_OK;
}

} // extern "C"
