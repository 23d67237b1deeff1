// Simulated hosts for the inventory and display scenarios: a scratch folder
// with a host description and a supported-adapter table, runs of the
// program against it, and the printed lines split for comparison.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace inv {

inline const char *kTable = "0x0100,0x1D7A,CXR2312,Orvane 2312 single,TRUE\n"
                            "0x0138,0x1D7A,CXR2432,Orvane 2432 dual,TRUE\n"
                            "0x0301,0x1D7A,CXR2532,Orvane 2532 dual,TRUE\n"
                            "0x010E,0x1077,CXR8432,Orvane 8432 CNA,TRUE\n"
                            "0x0292,0x1077,CXR2071,Orvane 2071,TRUE\n";

// The Info line every opened port writes during discovery.
inline const std::string kFailoverLine = "Info: HBA has **Unknown** failover capabilities...";
inline const std::string kDashes(70, '-');

inline std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string line;
    while (std::getline(ss, line))
        out.push_back(line);
    return out;
}

class Host {
  public:
    Host(const std::string &tag, const std::string &hostJson, const char *table = kTable) : dir_(tag) {
        e2e::WriteFile(dir_.path() / "host.json", hostJson);
        if (table != nullptr) e2e::WriteFile(dir_.path() / "adapters.properties", table);
    }
    const std::filesystem::path &path() const { return dir_.path(); }
    e2e::RunResult Run(const std::vector<std::string> &args) const {
        return e2e::Run(TF_BINARY, args, dir_.path(),
                        {{"TORVEX_SIM_HOST", (dir_.path() / "host.json").string()}, {"TORVEX_SIM_JOURNAL", "off"}});
    }
    // Standard output without the discovery Info lines; counts them.
    std::vector<std::string> Output(const std::vector<std::string> &args, int expectStatus,
                                    int *failoverLines = nullptr) const {
        e2e::RunResult r = Run(args);
        EXPECT_EQ(r.status, expectStatus) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        std::vector<std::string> out;
        int n = 0;
        for (auto &l : Lines(r.out)) {
            if (l == kFailoverLine)
                ++n;
            else
                out.push_back(l);
        }
        if (failoverLines != nullptr) *failoverLines = n;
        return out;
    }

  private:
    e2e::ScratchDir dir_;
};

// Blocks of a per-port display: the lines after each line of 70 dashes.
inline std::vector<std::vector<std::string>> Blocks(const std::vector<std::string> &lines) {
    std::vector<std::vector<std::string>> out;
    for (const auto &l : lines) {
        if (l == kDashes)
            out.emplace_back();
        else if (!out.empty())
            out.back().push_back(l);
    }
    return out;
}

// Value of a labelled line ("Label<pad>: value"); the label must be padded
// so that the colon stands at column 32.
inline std::string Value(const std::vector<std::string> &block, const std::string &label, int nth = 0) {
    for (const auto &l : block) {
        if (l.size() >= 33 && l.compare(0, label.size(), label) == 0 && l.compare(31, 2, ": ") == 0 &&
            l.find_first_not_of(' ', label.size()) == 31) {
            if (nth-- == 0) return l.substr(33);
        }
    }
    return "<missing " + label + ">";
}

inline std::vector<std::string> Labels(const std::vector<std::string> &block) {
    std::vector<std::string> out;
    for (const auto &l : block) {
        size_t end = l.find_last_not_of(' ', 30);
        out.push_back(l.size() >= 33 && l.compare(31, 2, ": ") == 0 ? l.substr(0, end + 1) : "<bad line " + l + ">");
    }
    return out;
}

} // namespace inv
