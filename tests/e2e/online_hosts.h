// Dual-bank hosts (27xx, 28xx) for the online update scenarios: presets of
// the simulator with host changes, images from the image kit, and what the
// simulator tells of the result (journal, running and designated set,
// status records, region digests), read without the program's code.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "update_hosts.h"

namespace online {

using json = nlohmann::json;

// The last two lines admit cards whose PCI subsystem IDs differ from the
// NVRAM's (the ID check of the update refuses them).
inline const char *kTable = "0x0501,0x1D7A,CXR2772,Dual port 32Gb FC,TRUE\n"
                            "0x0601,0x1D7A,CXR2882,Dual port 64Gb FC,TRUE\n"
                            "0x0501,0x1234,CXR2772,Dual port 32Gb FC,TRUE\n"
                            "0x0602,0x1D7A,CXR2882,Dual port 64Gb FC,TRUE\n";
inline const char *kControl = "0x0501,0x1D7A,CXR2772-2P,3.28,6.01,4.03,9.01.02,fenwar.bin,2.01.00\n"
                              "0x0601,0x1D7A,CXR2882-2P,3.28,6.01,4.03,9.01.02,zult.bin,2.05.00\n";

// Regions each family keeps in two copies (set 1, set 2), as the adapters
// lay them out.
inline const std::map<std::string, int> &FenwarSets() {
    static const std::map<std::string, int> m = {{"0x01", 1}, {"0x02", 2}, {"0x07", 1}, {"0x09", 2}, {"0x66", 1},
                                                 {"0x67", 2}, {"0x9E", 1}, {"0x9F", 2}, {"0xE1", 1}, {"0xE5", 2}};
    return m;
}
inline const std::map<std::string, int> &ZultSets() {
    static const std::map<std::string, int> m = {
        {"0x01", 1},  {"0x02", 2},  {"0x07", 1},  {"0x09", 2},  {"0x11", 1},  {"0x0A", 2},  {"0x13", 1},
        {"0x107", 2}, {"0x9E", 1},  {"0x9F", 2},  {"0xCF", 1},  {"0x106", 2}, {"0xD1", 1},  {"0xF1", 2},
        {"0xD2", 1},  {"0x105", 2}, {"0xD3", 1},  {"0xF0", 2},  {"0xDF", 1},  {"0x124", 2}, {"0x101", 1},
        {"0x108", 2}, {"0x102", 1}, {"0x109", 2}, {"0x103", 1}, {"0x10A", 2}};
    return m;
}

// One call of the journal.
struct Call {
    std::string op, fn, region, status, digest, size;
};

// What `tarniksim show` tells of the first chip.
struct ChipView {
    int running = 0;    // set the chip runs
    int designated = 0; // set the records designate
    int boardConfig = 0;
    std::map<std::string, std::pair<int, int>> records; // region: mask, generation
    std::map<std::string, std::string> digests;         // region: fnv1a64
    std::map<std::string, std::string> memo;            // region: multi-boot version text
};

class Scene : public upd::Scene {
  public:
    explicit Scene(const std::string &tag) : upd::Scene(tag) {}

    // The preset's host, changed by edit, with the tables of these scenes.
    void Preset(const std::string &preset, const std::function<void(json &)> &edit = {}) {
        auto r = e2e::Run(TF_SIMTOOL, {"init", path().string(), preset}, path());
        ASSERT_EQ(r.status, 0) << r.err;
        json host = json::parse(e2e::ReadFile(path() / "host.json"));
        if (edit) edit(host);
        Files(host.dump(2), kTable, kControl);
    }
    // The family images the control file names, built for the presets.
    void Images(const std::vector<std::string> &fenwarExtra = {}, const std::vector<std::string> &zultExtra = {}) {
        std::vector<std::string> f = {"fenwar", "--ssvid", "0x1D7A", "--ssdid", "0x0501", "--device-id", "0x2071"};
        f.insert(f.end(), fenwarExtra.begin(), fenwarExtra.end());
        f.push_back("fenwar.bin");
        Kit(f);
        std::vector<std::string> z = {"zult",        "--ssvid", "0x1D7A",          "--ssdid", "0x0601",
                                      "--device-id", "0x2281",  "--image-version", "2.5.0"};
        z.insert(z.end(), zultExtra.begin(), zultExtra.end());
        z.push_back("zult.bin");
        Kit(z);
    }
    std::vector<Call> Calls() const {
        std::vector<Call> out;
        std::stringstream in(e2e::ReadFile(path() / "journal.jsonl"));
        std::string line;
        while (std::getline(in, line)) {
            Call c{upd::Field(line, "op"),     upd::Field(line, "fn"),      upd::Field(line, "region"),
                   upd::Field(line, "status"), upd::Field(line, "fnv1a64"), upd::Field(line, "size")};
            if (c.op == "open" || c.op == "close" || c.op == "aen_enable" || c.op == "aen_disable" || c.op == "call")
                continue;
            out.push_back(c);
        }
        return out;
    }
    // "op" or "write:<region>" of every call that changes the adapter.
    std::vector<std::string> Trace() const {
        std::vector<std::string> out;
        for (const Call &c : Calls())
            out.push_back(c.op == "write" ? "write:" + c.region : c.op);
        return out;
    }
    std::vector<std::string> WrittenRegions() const {
        std::vector<std::string> out;
        for (const Call &c : Calls())
            if (c.op == "write") out.push_back(c.region);
        return out;
    }
    std::string ShowText() const { return e2e::Run(TF_SIMTOOL, {"show", path().string()}, path()).out; }
    void Reset() const {
        auto r = e2e::Run(TF_SIMTOOL, {"reset", path().string()}, path());
        EXPECT_EQ(r.status, 0) << r.err;
    }
    ChipView Show() const {
        ChipView v;
        std::stringstream in(ShowText());
        std::string line;
        std::smatch m;
        static const std::regex sets(
            R"(running set (\d) \(generation \d+\), records designate set (\d) \(board config (\d))");
        static const std::regex record(R"(image status 0x0*([0-9A-F]+): mask (\d) generation (\d+))");
        static const std::regex region(R"(^\s+(0x[0-9A-F]+) offset .* fnv1a64 ([0-9a-f]{16}))");
        static const std::regex memo(R"(memo block 0x0*([0-9A-F]+): multi-boot (\S+))");
        bool firstChip = true;
        while (std::getline(in, line)) {
            if (line.find("  chip 1") != std::string::npos) firstChip = false;
            if (!firstChip) continue;
            if (std::regex_search(line, m, sets)) {
                v.running = std::stoi(m[1]);
                v.designated = std::stoi(m[2]);
                v.boardConfig = std::stoi(m[3]);
            } else if (std::regex_search(line, m, record)) {
                v.records["0x" + m[1].str()] = {std::stoi(m[2]), std::stoi(m[3])};
            } else if (std::regex_search(line, m, region)) {
                v.digests[m[1]] = m[2];
            } else if (std::regex_search(line, m, memo)) {
                v.memo["0x" + m[1].str()] = m[2];
            }
        }
        return v;
    }
};

// The region entry of a preset card's first chip.
inline json &RegionOf(json &host, const std::string &code) {
    for (json &r : host["cards"][0]["chips"][0]["regions"])
        if (r["code"] == code) return r;
    ADD_FAILURE() << "no region " << code;
    static json none;
    return none;
}

// POSIX exit statuses keep the low 8 bits of the command's status.
constexpr int Exit(int status) { return status & 0xFF; }

inline bool Contains(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

} // namespace online
