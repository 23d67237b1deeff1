// The Lark write wrappers: which regions each writes for the queued
// request and the adapter's chip revision, against a simulated chip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "multiregion/regionloop.h"
#include "update/flashregion.h"

extern "C" void TvxSimReset(void);

namespace {

namespace fs = std::filesystem;

TEST(ConvergedWrappers, LarkLists) {
    const fs::path dir = fs::temp_directory_path() / ("tf_larkwrap_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string regions;
    for (unsigned code : {0x07u, 0x2Eu, 0x4Fu, 0x70u, 0x72u, 0x73u, 0x74u, 0x7Au, 0x81u, 0x97u})
        regions += R"({"code": )" + std::to_string(code) + R"(, "size": 512}, )";
    std::ofstream(dir / "host.json") << R"({"journal": "off", "read_only": true, "cards": [{"device_id": "0x8021",
        "chips": [{"ports": [{}], "regions": [)"
                                     << regions << R"({"code": "0xFF"}]}]}]})";
    setenv("TORVEX_SIM_HOST", (dir / "host.json").c_str(), 1);
    TvxSimReset();
    TVXDevice device{};
    ASSERT_EQ(TvxOpenDevice(0, &device.handle), 0u);
    g_ptrOptionROMRequest = new OptionROMRequest{};

    struct Row {
        const char *name;
        uint16_t chipRev;
        uint32_t request;
        bool ethernet;
        uint32_t region;
        uint32_t result; // 0: written
    };
    const Row rows[] = {
        {"FC list of 0x54 has 0x74", 0x54, 0xFF, false, 0x74, 0},
        {"FC list of 0x54 lacks 0x97", 0x54, 0xFF, false, 0x97, 19},
        {"FC list of 0x58 has 0x97", 0x58, 0xFF, false, 0x97, 0},
        {"FC list of 0x58 lacks 0x74", 0x58, 0xFF, false, 0x74, 19},
        {"FC list has the Lark VPD", 0x58, 0xFF, false, 0x81, 0},
        {"FC list lacks the NIC boot code", 0x58, 0xFF, false, 0x2E, 19},
        {"request for exactly this region", 0x54, 0x97, false, 0x97, 0},
        {"request for another region", 0x58, 0x72, false, 0x70, 19},
        {"Ethernet writes the NIC boot code", 0x58, 0xFF, true, 0x2E, 0},
        {"Ethernet writes a NIC partition", 0x58, 0xFF, true, 0x7A, 0},
        {"Ethernet refuses firmware", 0x58, 0xFF, true, 0x97, 8},
        {"Ethernet, request for another region", 0x58, 0x07, true, 0x2E, 8},
    };
    const std::vector<uint8_t> data(512, 0x5A);
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        device.chipProperty.ChipType = r.chipRev;
        g_ptrOptionROMRequest->Region = r.request;
        const uint32_t got = r.ethernet ? EthernetUpdateLarkOptionRom(&device, data.data(), r.region, 512, 0)
                                        : FCUpdateLarkOptionRom(&device, data.data(), r.region, 512, 0);
        EXPECT_EQ(got, r.result);
    }
    freeUserOptionROMReq();
    EXPECT_EQ(FCUpdateLarkOptionRom(&device, data.data(), 0x74, 512, 0), 19u) << "no request";
    TvxCloseDevice(device.handle);
    unsetenv("TORVEX_SIM_HOST");
    TvxSimReset();
    std::error_code ec;
    fs::remove_all(dir, ec);
}

} // namespace
