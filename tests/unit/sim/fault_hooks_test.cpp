// Faults on the library's version and error-text calls, a fault on the
// open that would end discovery, and the read details of the every-call
// journal, on which the fault matrix builds.
#include "../../../sim/torvex_sim.h"
#include "sim_host_fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// One single-port chip; the faults are the test's.
std::string HostWith(const std::string &faults) {
    return R"({"journal_all": true, "faults": [)" + faults + R"(], "cards": [{"name": "c0", "chips": [
      {"regions": [{"code": 7, "size": "0x40000"}, {"code": "0xFF", "size": "0x40000"}], "ports": [{}]}]}]})";
}

class SimFaultHooks : public SimHostFixture {
  protected:
    SimFaultHooks() : SimHostFixture("simhooks") {}
    void Faults(const std::string &faults) { Host(HostWith(faults)); }
    std::string Journal() const {
        std::ifstream in(dir_ / "journal.jsonl");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

TEST_F(SimFaultHooks, VersionErrorTextAndEndOfListOpenTakeFaults) {
    struct Row {
        const char *name;
        std::string fault;
        // The call twice: the first answer is the fault's, the second the
        // library's own; text the second call gives ("" none).
        TVX_STATUS first, second;
        std::string firstText, secondText;
        int call; // 0 version, 1 error text, 2 open of instance 1 (past the only port)
    };
    const Row rows[] = {
        {"version", R"({"op": "TvxGetVersion", "statuses": ["0x20000001"]})", TVX_ERR_GENERAL, TVX_STATUS_OK, "",
         "1.28.122.0", 0},
        {"error text", R"({"op": "TvxGetErrorString", "statuses": ["0x20000009"]})", TVX_ERR_NO_MEMORY, TVX_STATUS_OK,
         "", "Flash write failed", 1},
        {"open past the last port", R"({"op": "TvxOpenDevice", "instance": 1, "statuses": ["0x20000071"]})",
         TVX_ERR_NOT_READY, TVX_ERR_NO_MORE_DEVICES, "", "", 2},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Faults(r.fault);
        uint32_t h0 = 0;
        ASSERT_EQ(TvxOpenDevice(0, &h0), TVX_STATUS_OK); // loads the host
        for (int i = 0; i < 2; ++i) {
            char text[64] = "unchanged";
            uint32_t h = 0;
            TVX_STATUS st = r.call == 0   ? TvxGetVersion(text, sizeof text)
                            : r.call == 1 ? TvxGetErrorString(TVX_ERR_FLASH_WRITE, text, sizeof text)
                                          : TvxOpenDevice(1, &h);
            EXPECT_EQ(st, i == 0 ? r.first : r.second) << "call " << i;
            if (r.call != 2) {
                EXPECT_EQ(std::string(text), i == 0 ? r.firstText : r.secondText) << "call " << i;
            }
        }
        TvxCloseDevice(h0);
    }
}

TEST_F(SimFaultHooks, JournalNamesTheParameterAndRegionRead) {
    Faults(R"({"op": "TvxGetOptionRomEx", "statuses": ["0x20000008"]})");
    uint32_t h = 0;
    ASSERT_EQ(TvxOpenDevice(0, &h), TVX_STATUS_OK);
    uint8_t nvram[512] = {};
    uint32_t value = 0;
    EXPECT_EQ(TvxGetVariableValue(h, nvram, 127, &value), TVX_STATUS_OK);
    std::vector<uint8_t> buf(0x40000);
    EXPECT_EQ(TvxGetOptionRomEx(h, 0, buf.data(), 0x40000, 7), TVX_ERR_FLASH_READ); // the fault's line too
    EXPECT_EQ(TvxGetOptionRomEx(h, 0, buf.data(), 0x40000, 0xFF), TVX_STATUS_OK);
    TVX_CHIP_PROPERTY chip{};
    EXPECT_EQ(TvxGetHbaDeviceChipProperty(h, &chip), TVX_STATUS_OK);
    TvxCloseDevice(h);
    // Each call's line: the detail of its own read, no other.
    std::vector<std::string> lines;
    std::stringstream in(Journal());
    for (std::string line; std::getline(in, line);)
        if (line.find(R"("op":"call")") != std::string::npos) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u) << Journal();
    const char *want[][2] = {{"TvxGetVariableValue", R"("param":"0x7F")"},
                             {"TvxGetOptionRomEx", R"("region":"0x07")"},
                             {"TvxGetOptionRomEx", R"("region":"0xFF")"},
                             {"TvxGetHbaDeviceChipProperty", nullptr}};
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_NE(lines[i].find(want[i][0]), std::string::npos) << lines[i];
        if (want[i][1] != nullptr) {
            EXPECT_NE(lines[i].find(want[i][1]), std::string::npos) << lines[i];
        } else {
            EXPECT_EQ(lines[i].find("param"), std::string::npos) << lines[i];
            EXPECT_EQ(lines[i].find("region"), std::string::npos) << lines[i];
        }
    }
}

} // namespace
