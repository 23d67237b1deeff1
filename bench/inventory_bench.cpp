// Inventory benchmarks against a simulated host of 64 two-port cards (128
// ports): discovery and list building, then the host summary rendering.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/settings.h"
#include "inventory/display.h"
#include "inventory/invutil.h"
#include "inventory/prefs.h"
#include "inventory/tvxdevice.h"
#include "torvex_sim.h"

namespace {

class BigHost {
  public:
    BigHost() {
        dir_ = std::filesystem::temp_directory_path() / ("tf_bench_inv_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        std::string json = "{\"journal\": \"off\", \"read_only\": true, \"cards\": [\n";
        for (int c = 0; c < 64; ++c) {
            char card[160];
            std::snprintf(card, sizeof card,
                          "%s{\"name\": \"card%02d\", \"serial\": \"RFD%05d\", \"chips\": [{\"ports\": [{}, {}]}]}\n",
                          c == 0 ? "" : ",", c, 64 - c);
            json += card;
        }
        json += "]}\n";
        std::ofstream(dir_ / "host.json") << json;
        std::ofstream(dir_ / "adapters.properties") << "0x0301,0x1D7A,CXR2532,Orvane 2532 dual,TRUE\n";
        setenv("TORVEX_SIM_HOST", (dir_ / "host.json").c_str(), 1);
        setenv("TORVEX_SIM_JOURNAL", "off", 1);
        TvxSimReset();
        std::string config = dir_.string() + "/";
        CopyText(g_szConfigPath, sizeof g_szConfigPath, config.c_str());
        // Discovery writes an Info line per port; keep the console quiet.
        g_bSilent = 1;
    }
    ~BigHost() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

  private:
    std::filesystem::path dir_;
};

BigHost &Host() {
    static BigHost host;
    return host;
}

void Discover() {
    CoreInitialize();
    CoreOSSInitializeDevices();
    BuildHBADevices();
}

void BM_Discovery(benchmark::State &state) {
    Host();
    for (auto _ : state) {
        Discover();
        state.PauseTiming();
        if (g_HBAList.count != 128) state.SkipWithError("expected 128 ports in the HBA list");
        CoreReleaseDevices();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 128);
}
BENCHMARK(BM_Discovery)->Unit(benchmark::kMillisecond);

void BM_HostSummary(benchmark::State &state) {
    Host();
    Discover();
    // The summary is written to a log file that discards it, fully formatted.
    FILE *sink = std::fopen("/dev/null", "w");
    FILE *saved = g_pLogFile;
    g_pLogFile = sink;
    g_bSilent = 0;
    for (auto _ : state) {
        PrintHostInfo();
        benchmark::DoNotOptimize(PrintHBASummary());
    }
    g_pLogFile = saved;
    g_bSilent = 1;
    if (sink != nullptr) std::fclose(sink);
    CoreReleaseDevices();
    state.SetItemsProcessed(state.iterations() * 128);
}
BENCHMARK(BM_HostSummary)->Unit(benchmark::kMicrosecond);

} // namespace
