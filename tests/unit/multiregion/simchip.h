// A simulated dual-bank chip for the multi-region tests: a host file in a
// scratch folder, the library pointed at it, and one opened port.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "inventory/tvxdevice.h"
#include "torvex.h"

extern "C" void TvxSimReset(void);

namespace mrtest {

namespace fs = std::filesystem;

// Status record text of a region entry.
inline std::string Status(int mask, int generation, const char *signature, int bitmap = 0) {
    return R"({"mask": )" + std::to_string(mask) + R"(, "generation": )" + std::to_string(generation) +
           R"(, "signature": ")" + signature + R"(", "bitmap": )" + std::to_string(bitmap) + "}";
}

// Regions of a Zult chip with the given main and auxiliary records.
inline std::string ZultRegions(const std::string &pri, const std::string &sec, const std::string &auxPri,
                               const std::string &auxSec) {
    return R"({"code": "0x95", "size": "0x10000", "status": )" + pri +
           R"(}, {"code": "0x96", "size": "0x10000", "status": )" + sec +
           R"(}, {"code": "0x125", "size": "0x10000", "status": )" + auxPri +
           R"(}, {"code": "0x126", "size": "0x10000", "status": )" + auxSec + "}";
}

class SimChip : public ::testing::Test {
  protected:
    // Writes the host (one card, one chip, one port) and opens its port.
    // extraTop: more top-level fields ("faults": [...], ...), each ending
    // with a comma.
    void Open(const std::string &device, const std::string &regions, const std::string &chipExtra = "",
              const std::string &extraTop = "") {
        dir_ = fs::temp_directory_path() / ("tf_mr_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // Online update is supported unless the chip's fields say otherwise.
        std::string chip = chipExtra.find("update_caps") == std::string::npos ? "\"update_caps\": 4, " : "";
        std::ofstream(dir_ / "host.json")
            << "{" << extraTop << R"("cards": [{"name": "c", "device_id": ")" << device << R"(", "chips": [{)" << chip
            << chipExtra << R"("ports": [{}], "regions": [)" << regions << "]}]}]}";
        Attach();
    }
    // (Re)loads the host from its files and opens the port.
    void Attach() {
        Detach();
        setenv("TORVEX_SIM_HOST", (dir_ / "host.json").c_str(), 1);
        TvxSimReset();
        device_ = TVXDevice{};
        ASSERT_EQ(TvxOpenDevice(0, &device_.handle), 0u);
        ASSERT_EQ(TvxGetHbaDeviceChipProperty(device_.handle, &device_.chipProperty), 0u);
        ASSERT_EQ(TvxGetHbaDeviceNodeProperty(device_.handle, &device_.nodeProperty), 0u);
        open_ = true;
    }
    void Detach() {
        if (!open_) return;
        open_ = false;
        TvxCloseDevice(device_.handle);
        TvxSimReset();
    }
    void TearDown() override {
        StopTrace();
        Detach();
        unsetenv("TORVEX_SIM_HOST");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void StartTrace() {
        g_bDebug = 1;
        testing::internal::CaptureStdout();
        tracing_ = true;
    }
    std::string StopTrace() {
        if (!tracing_) return "";
        tracing_ = false;
        g_bDebug = 0;
        return testing::internal::GetCapturedStdout();
    }
    std::vector<uint8_t> Read(uint32_t region, uint32_t size) {
        std::vector<uint8_t> b(size);
        EXPECT_EQ(TvxGetOptionRomEx(device_.handle, 0, b.data(), size, region), 0u) << std::hex << region;
        return b;
    }
    TVX_ACTIVE_REGIONS LibraryActive() {
        TVX_ACTIVE_REGIONS a{};
        EXPECT_EQ(TvxGetActiveRegions(device_.handle, 0, &a), 0u);
        return a;
    }
    std::string Journal() {
        std::ifstream in(dir_ / "journal.jsonl");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path dir_;
    TVXDevice device_{};
    bool open_ = false;
    bool tracing_ = false;
};

inline size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

} // namespace mrtest
