// Region writes through the library's retry rule, against a simulated chip
// whose write answers are scripted.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "update/flashregion.h"

extern "C" void TvxSimReset(void);

namespace {

namespace fs = std::filesystem;

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

// One 25xx chip whose writes of region 0x07 answer 'statuses' in turn.
class RegionWrite : public ::testing::Test {
  protected:
    void Open(const std::vector<std::string> &statuses) {
        dir_ = fs::temp_directory_path() / ("tf_regwrite_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::string list;
        for (size_t i = 0; i < statuses.size(); ++i)
            list += (i ? ",\"" : "\"") + statuses[i] + "\"";
        std::ofstream(dir_ / "host.json")
            << R"({"journal": "off", "faults": [{"op": "TvxUpdateOptionRomEx2", "region": "0x07", "statuses": [)"
            << list << R"(]}], "cards": [{"device_id": "0x2532", "chips": [{"ports": [{}], "regions": [
               {"code": "0x07", "size": "0x1000"}, {"code": "0xFF"}]}]}]})";
        setenv("TORVEX_SIM_HOST", (dir_ / "host.json").c_str(), 1);
        TvxSimReset();
        ASSERT_EQ(TvxOpenDevice(0, &device_.handle), 0u);
        g_bDebug = 1;
        testing::internal::CaptureStdout();
        open_ = true;
    }
    void Close() {
        if (!open_) return;
        open_ = false;
        trace_.clear();
        testing::internal::GetCapturedStdout();
        g_bDebug = 0;
        TvxCloseDevice(device_.handle);
        unsetenv("TORVEX_SIM_HOST");
        TvxSimReset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void TearDown() override { Close(); }
    std::string Trace() {
        trace_ += testing::internal::GetCapturedStdout();
        testing::internal::CaptureStdout();
        return trace_;
    }

    TVXDevice device_{};
    std::vector<uint8_t> data_ = std::vector<uint8_t>(0x1000, 0x5A);
    fs::path dir_;
    std::string trace_;
    bool open_ = false;
};

std::vector<std::string> Repeat(const std::string &status, int n) { return std::vector<std::string>(n, status); }

// A resetting chip is called again after 1000 ms, 30 calls in all; other
// answers end the rule at once.
TEST_F(RegionWrite, RetryRule) {
    struct Row {
        const char *name;
        std::vector<std::string> answers;
        uint32_t result;
        size_t waits;
    };
    const Row rows[] = {
        {"written at once", {}, 0, 0},
        {"CXR reset 29 times", Repeat("0x20000075", 29), 0, 29},
        {"CXR reset 30 times", Repeat("0x20000075", 30), 0x20000075, 29},
        {"mpi reset twice", Repeat("0x20000067", 2), 0, 2},
        {"reset disabled", {"0x20000100"}, 0x20000100, 0},
        {"failure", {"0x20000006"}, 0x20000006, 0},
    };
    for (const auto &row : rows) {
        Open(row.answers);
        uint32_t st = AppUpdateOptionRomEx2(&device_, data_.data(), 0x07, 0x1000, 0);
        std::string trace = Trace();
        EXPECT_EQ(st, row.result) << row.name;
        EXPECT_EQ(Count(trace, "OSSSleep: 1000 ms"), row.waits) << row.name << "\n" << trace;
        Close();
    }
}

TEST_F(RegionWrite, Ex3ReportsTheResetDisabledAnswer) {
    Open({"0x20000100", "0x20000006"});
    uint16_t options = 0;
    EXPECT_EQ(AppUpdateOptionRomEx3(&device_, data_.data(), 0x07, 0x1000, &options), 0x20000100u);
    EXPECT_EQ(options, 1);
    options = 0;
    EXPECT_EQ(AppUpdateOptionRomEx3(&device_, data_.data(), 0x07, 0x1000, &options), 0x20000006u);
    EXPECT_EQ(options, 0);
    EXPECT_NE(Trace().find("AppUpdateOptionRomEx2: Reset disabled by API (0x20000100 - "), std::string::npos);
}

// A write of no bytes or without a buffer never reaches the library: the
// scripted first answer is still there for the next real write.
TEST_F(RegionWrite, EmptyWritesAreRefusedBeforeTheLibrary) {
    struct Row {
        const char *name;
        const uint8_t *buffer;
        uint32_t size;
        bool ex3;
    };
    const Row rows[] = {
        {"size 0", data_.data(), 0, false},
        {"no buffer", nullptr, 0x1000, false},
        {"size 0, Ex3", data_.data(), 0, true},
        {"no buffer, Ex3", nullptr, 0x1000, true},
    };
    for (const auto &row : rows) {
        Open({"0x20000006"});
        uint16_t options = 0;
        const uint32_t st = row.ex3 ? AppUpdateOptionRomEx3(&device_, row.buffer, 0x07, row.size, &options)
                                    : AppUpdateOptionRomEx2(&device_, row.buffer, 0x07, row.size, 0);
        EXPECT_EQ(st, 0x20000003u) << row.name;
        EXPECT_EQ(AppUpdateOptionRomEx2(&device_, data_.data(), 0x07, 0x1000, 0), 0x20000006u) << row.name;
        Close();
    }
}

} // namespace
