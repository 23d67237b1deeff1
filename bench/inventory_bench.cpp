// Inventory benchmarks against a simulated host of 64 two-port cards (128
// ports): discovery and list building, the same with 64 targets of 64 LUNs
// behind every port, then the host summary rendering.
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
    // targets: targets behind every port, each with 64 LUNs.
    explicit BigHost(int targets) {
        dir_ = std::filesystem::temp_directory_path() /
               ("tf_bench_inv_" + std::to_string(getpid()) + "_" + std::to_string(targets));
        std::filesystem::create_directories(dir_);
        std::string port = "{}";
        if (targets > 0) {
            std::string luns;
            for (int l = 0; l < 64; ++l)
                luns += l == 0 ? "{}" : ",{}";
            port = "{\"targets\": [";
            for (int t = 0; t < targets; ++t)
                port += std::string(t == 0 ? "" : ",") + "{\"luns\": [" + luns + "]}";
            port += "]}";
        }
        std::string json = "{\"journal\": \"off\", \"read_only\": true, \"cards\": [\n";
        for (int c = 0; c < 64; ++c) {
            char card[160];
            std::snprintf(card, sizeof card,
                          "%s{\"name\": \"card%02d\", \"serial\": \"RFD%05d\", \"chips\": [{\"ports\": [",
                          c == 0 ? "" : ",", c, 64 - c);
            json += card + port + "," + port + "]}]}\n";
        }
        json += "]}\n";
        std::ofstream(dir_ / "host.json") << json;
        std::ofstream(dir_ / "adapters.properties") << "0x0301,0x1D7A,CXR2532,Orvane 2532 dual,TRUE\n";
    }
    ~BigHost() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // Makes this host the one the simulated library and the program read.
    void Use() const {
        setenv("TORVEX_SIM_HOST", (dir_ / "host.json").c_str(), 1);
        setenv("TORVEX_SIM_JOURNAL", "off", 1);
        TvxSimReset();
        std::string config = dir_.string() + "/";
        CopyText(g_szConfigPath, sizeof g_szConfigPath, config.c_str());
        // Discovery writes an Info line per port; keep the console quiet.
        g_bSilent = 1;
    }

  private:
    std::filesystem::path dir_;
};

const BigHost &Host() {
    static BigHost host(0);
    host.Use();
    return host;
}

const BigHost &HostWithTargets() {
    static BigHost host(64);
    host.Use();
    return host;
}

void Discover() {
    CoreInitialize();
    CoreOSSInitializeDevices();
    BuildHBADevices();
}

// Discovery of the host; every iteration checks the HBA list and the LUNs
// found behind the first port.
void RunDiscovery(benchmark::State &state, uint32_t targets) {
    // The simulated library reads its host file at the first open; that
    // parsing is the simulator's cost, not discovery's.
    Discover();
    CoreReleaseDevices();
    for (auto _ : state) {
        Discover();
        state.PauseTiming();
        if (g_HBAList.count != 128) state.SkipWithError("expected 128 ports in the HBA list");
        const TVXDevice *first = g_DeviceList.first;
        uint32_t luns = 0;
        if (first != nullptr)
            for (const TargetEntry *t = first->targets.first; t != nullptr; t = t->next)
                luns += t->luns.count;
        if (first == nullptr || first->targets.count != targets || luns != targets * 64)
            state.SkipWithError("unexpected targets or LUNs behind the first port");
        CoreReleaseDevices();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 128);
}

void BM_Discovery(benchmark::State &state) {
    Host();
    RunDiscovery(state, 0);
}
BENCHMARK(BM_Discovery)->Unit(benchmark::kMillisecond);

// 128 ports, each with 64 targets of 64 LUNs (524288 LUNs probed).
void BM_DiscoveryWithTargets(benchmark::State &state) {
    HostWithTargets();
    RunDiscovery(state, 64);
}
BENCHMARK(BM_DiscoveryWithTargets)->Unit(benchmark::kMillisecond);

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
