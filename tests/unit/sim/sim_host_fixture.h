// Base fixture of the simulated-library tests: a scratch folder per test,
// the library's environment switches cleared, and a host file written there
// and loaded.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "../../../sim/torvex_sim.h"

class SimHostFixture : public ::testing::Test {
  protected:
    // prefix: names the scratch folder (one per process and test).
    explicit SimHostFixture(const char *prefix) : prefix_(prefix) {}
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() / (prefix_ + "-" + std::to_string(getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        for (const char *v :
             {"TORVEX_SIM_JOURNAL", "TORVEX_SIM_READONLY", "TORVEX_SIM_FAULTS", "TORVEX_SIM_JOURNAL_ALL"})
            unsetenv(v);
    }
    void TearDown() override {
        TvxSimReset();
        unsetenv("TORVEX_SIM_HOST");
        std::filesystem::remove_all(dir_);
    }
    // Writes the host file and points the library at it.
    void Host(const std::string &text) {
        std::ofstream(dir_ / "host.json", std::ios::binary | std::ios::trunc) << text;
        setenv("TORVEX_SIM_HOST", (dir_ / "host.json").c_str(), 1);
        TvxSimReset();
    }
    uint32_t Open(uint32_t instance) {
        uint32_t h = 0;
        EXPECT_EQ(TvxOpenDevice(instance, &h), TVX_STATUS_OK) << "instance " << instance;
        return h;
    }
    std::filesystem::path dir_;

  private:
    std::string prefix_;
};
