// Discovery against a large simulated host: 64 cards of one chip with two
// ports (128 instances), 32 MiB of flash per chip kept in region files.
// Each iteration loads the host, opens every instance, reads its
// properties, NVRAM and layout, and closes it again.
#include "torvex_sim.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path &p, const std::vector<uint8_t> &d) {
    std::ofstream(p, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(d.data()), std::streamsize(d.size()));
}

// A boot region of one BIOS image (version 3.20) and a firmware region with
// version 8.1.0 in its header words; the rest of each is erased.
void MakeRegionFiles(const fs::path &dir) {
    std::vector<uint8_t> boot(0x40000, 0xFF);
    std::memset(boot.data(), 0, 512);
    boot[0] = 0x55;
    boot[1] = 0xAA;
    boot[2] = 1;
    boot[0x18] = 0x1C;
    std::memcpy(boot.data() + 0x1C, "PCIR", 4);
    boot[0x1C + 0x10] = 1;
    boot[0x1C + 0x12] = 20;
    boot[0x1C + 0x13] = 3;
    boot[0x1C + 0x15] = 0x80;
    WriteFile(dir / "boot.bin", boot);
    std::vector<uint8_t> fw(0x80000, 0xFF);
    std::memset(fw.data(), 0, 32);
    fw[19] = 8;
    fw[23] = 1;
    fw[27] = 0;
    WriteFile(dir / "fw.bin", fw);
    // the large data region: a sparse file of 31 MiB
    std::ofstream big(dir / "data.bin", std::ios::binary | std::ios::trunc);
    big.seekp(31 * 1024 * 1024 - 1);
    big.put(char(0xFF));
}

std::string HostText() {
    std::string chip = R"({"regions": [
        {"code": 7, "size": "0x40000", "file": "boot.bin"},
        {"code": "0x14", "size": 512, "vpd": {}},
        {"code": 1, "size": "0x80000", "offset": "0x80000", "file": "fw.bin"},
        {"code": "0x74", "size": "0x1F00000", "offset": "0x100000", "file": "data.bin"},
        {"code": "0xFF", "size": "0x2000000"}],
      "flash_size": "0x2000000", "ports": [{}, {}]})";
    std::string cards;
    for (int i = 0; i < 64; ++i) {
        if (i) cards += ",\n";
        cards += R"({"name": "card)" + std::to_string(i) + R"(", "serial": "SIMB)" + std::to_string(1000 + i) +
                 R"(", "chips": [)" + chip + "]}";
    }
    return "{\"journal\": \"off\", \"cards\": [" + cards + "]}";
}

class Host {
  public:
    Host() {
        dir_ = fs::temp_directory_path() / ("simbench-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        MakeRegionFiles(dir_);
        std::ofstream(dir_ / "host.json") << HostText();
        setenv("TORVEX_SIM_HOST", (dir_ / "host.json").c_str(), 1);
        setenv("TORVEX_SIM_JOURNAL", "off", 1);
    }
    ~Host() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

  private:
    fs::path dir_;
};

void BM_DiscoverLargeHost(benchmark::State &state) {
    static Host host;
    size_t opened = 0;
    for (auto _ : state) {
        TvxSimReset(); // a new process: the host is loaded again
        opened = 0;
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t h = 0;
            TVX_STATUS st = TvxOpenDevice(i, &h);
            if (st == TVX_ERR_NO_MORE_DEVICES) break;
            if (st != TVX_STATUS_OK) continue;
            opened++;
            TVX_CHIP_PROPERTY cp;
            TVX_DRIVER_PROPERTY dp;
            TVX_NODE_PROPERTY np;
            TVX_PORT_PROPERTY pp;
            TVX_STATISTICS stats;
            uint8_t nv[TVX_NVRAM_SIZE];
            uint32_t beacon = 0;
            TvxGetHbaDeviceChipProperty(h, &cp);
            TvxGetHbaDeviceDriverProperty(h, &dp);
            TvxGetHbaDeviceNodeProperty(h, &np);
            TvxGetHbaDevicePortProperty(h, 0, &pp);
            TvxGetBeaconControl(h, &beacon);
            TvxGetStatistics(h, 0, &stats);
            TvxGetNVRam(h, 0, 2, nv, sizeof nv);
            TvxGetNVRam(h, 0, 1, nv, sizeof nv);
            uint32_t layout[2 + 2 * 8] = {sizeof layout, 0};
            TvxGetOptionRomLayout(h, 0, reinterpret_cast<TVX_OPTION_ROM_LAYOUT *>(layout));
            std::vector<uint8_t> vpd(512);
            uint32_t size = 512;
            TvxGetVpd(h, 0, vpd.data(), &size);
            benchmark::DoNotOptimize(np);
            TvxCloseDevice(h);
        }
    }
    if (opened != 128) state.SkipWithError("the host did not give 128 instances");
    state.counters["instances"] = double(opened);
}
BENCHMARK(BM_DiscoverLargeHost)->Unit(benchmark::kMillisecond);

} // namespace
