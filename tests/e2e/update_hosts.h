// Simulated hosts for the update scenarios: classic FC cards with the
// multi-boot flash layout, images built with the image kit, the program's
// configuration files, and the simulator's journal of flash writes.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace upd {

// Versions a chip's flash holds at the start.
struct FlashVersions {
    std::string bios = "3.10";
    std::string fcode = "4.01";
    std::string efi = "6.00";
    std::string fw = "8.1.0";
    std::string mbi = "3.0.0";
};

// One chip of the 24xx/25xx layout: boot code (0x07) at 0, firmware (0x01)
// at 0x80000, the whole flash (0xFF) of 1 MiB.
inline std::string MultibootChip(const std::string &chip, const FlashVersions &v, int ports,
                                 const std::string &extra = "", const std::string &portJson = "{}") {
    std::string p = "[";
    for (int i = 0; i < ports; ++i)
        p += (i ? ", " : "") + portJson;
    p += "]";
    return R"({"flash_size": "0x100000", )" + extra + R"("ports": )" + p + R"(, "regions": [
      {"code": "0x07", "size": "0x40000", "offset": "0", "boot": {"bios": ")" +
           v.bios + R"(", "fcode": ")" + v.fcode + R"(", "efi": ")" + v.efi + R"(", "device_id": "0x)" + chip +
           R"("}},
      {"code": "0x01", "size": "0x40000", "offset": "0x80000", "firmware": {"version": ")" +
           v.fw + R"(", "chip": ")" + chip + R"(", "mbi": ")" + v.mbi + R"("}},
      {"code": "0xFF"}]})";
}

// A card of one or two chips of the multi-boot layout.
inline std::string MultibootCard(const std::string &name, const std::string &chip, const std::string &ssdid,
                                 const std::string &serial, const std::vector<std::string> &chips) {
    std::string c;
    for (size_t i = 0; i < chips.size(); ++i)
        c += (i ? ", " : "") + chips[i];
    return R"({"name": ")" + name + R"(", "device_id": "0x)" + chip + R"(", "subsys_vendor": "0x1D7A", )" +
           R"("subsys_device": ")" + ssdid + R"(", "model": "CXR)" + chip + R"(-2P", "serial": ")" + serial +
           R"(", "chips": [)" + c + "]}";
}

inline std::string Host(const std::vector<std::string> &cards) {
    std::string c;
    for (size_t i = 0; i < cards.size(); ++i)
        c += (i ? ",\n " : "") + cards[i];
    return "{\"cards\": [\n " + c + "\n]}\n";
}

// Supported-adapter table and flash control file of the scenarios.
inline const char *kTable = "0x0301,0x1D7A,CXR2532,Dual port 8Gb FC,TRUE\n"
                            "0x0200,0x1D7A,CXR2432,Dual port 4Gb FC,TRUE\n"
                            "0x0100,0x1D7A,CXR2312,Single port 2Gb FC,TRUE\n";
inline const char *kControl25 = "0x0301,0x1D7A,CXR2532-2P,3.28,6.01,4.03,8.02.01,mbi25.bin,3.01.02\n";

// One flash write of the journal.
struct Write {
    int instance = -1;
    int chip = -1;
    std::string card, region, fn, status;
};

inline std::string Field(const std::string &line, const std::string &key) {
    std::string k = "\"" + key + "\":";
    size_t p = line.find(k);
    if (p == std::string::npos) return {};
    p += k.size();
    if (line[p] == '"') {
        size_t e = line.find('"', p + 1);
        return line.substr(p + 1, e - p - 1);
    }
    size_t e = line.find_first_of(",}", p);
    return line.substr(p, e - p);
}

// A scratch folder that is the program's working (configuration) folder.
class Scene {
  public:
    explicit Scene(const std::string &tag) : dir_(tag) {}
    const std::filesystem::path &path() const { return dir_.path(); }

    void Files(const std::string &host, const std::string &table = kTable, const std::string &control = kControl25) {
        e2e::WriteFile(path() / "host.json", host);
        e2e::WriteFile(path() / "adapters.properties", table);
        if (!control.empty()) e2e::WriteFile(path() / "tarnikflasher.properties", control);
    }
    void Faults(const std::string &json) {
        e2e::WriteFile(path() / "faults.json", json);
        env_["TORVEX_SIM_FAULTS"] = (path() / "faults.json").string();
    }
    // Builds an image with the image kit; fails the test when it cannot.
    void Kit(const std::vector<std::string> &args) {
        auto r = e2e::Run(TF_IMAGEKIT, args, path());
        ASSERT_EQ(r.status, 0) << r.err;
    }
    // Runs the program; the journal is started afresh for each run.
    e2e::RunResult Tf(const std::vector<std::string> &args) {
        std::filesystem::remove(path() / "journal.jsonl");
        auto env = env_;
        env["TORVEX_SIM_HOST"] = (path() / "host.json").string();
        return e2e::Run(TF_BINARY, args, path(), env);
    }
    std::vector<Write> Writes() const {
        std::vector<Write> out;
        std::stringstream in(e2e::ReadFile(path() / "journal.jsonl"));
        std::string line;
        while (std::getline(in, line)) {
            if (Field(line, "op") != "write") continue;
            Write w;
            w.instance = std::stoi(Field(line, "instance"));
            w.chip = std::stoi(Field(line, "chip"));
            w.card = Field(line, "card");
            w.region = Field(line, "region");
            w.fn = Field(line, "fn");
            w.status = Field(line, "status");
            out.push_back(w);
        }
        return out;
    }
    // "instance:region" of every write, in order.
    std::vector<std::string> WriteList() const {
        std::vector<std::string> out;
        for (const auto &w : Writes())
            out.push_back(std::to_string(w.instance) + ":" + w.region);
        return out;
    }

  private:
    e2e::ScratchDir dir_;
    std::map<std::string, std::string> env_;
};

// Console lines without the inventory's failover notices.
inline std::string Lines(const std::string &out) {
    std::stringstream in(out);
    std::string line, result;
    while (std::getline(in, line))
        if (line.find("failover capabilities") == std::string::npos) result += line + "\n";
    return result;
}

inline size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

} // namespace upd
