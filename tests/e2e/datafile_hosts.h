// Simulated hosts for the configuration data files: a 27xx card (PEP board
// config 0xCF and preload table 0x13), a Tesk converged card (board config
// area 0x71 and preload table 0x13) and a 25xx card whose boot code and
// firmware are below the flash control file's. Region contents and data
// files are written with the data-file kit. Shared by the end-to-end tests
// and the fault and power-cut matrices.
#pragma once

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../../tools/datakit/datakit.h"
#include "update_hosts.h"

namespace dathost {

namespace fs = std::filesystem;

constexpr uint16_t kSsdid27 = 0x0501;
constexpr uint16_t kSsdidTesk = 0x0601;
constexpr size_t kTeskRegionSize = 0x8000;
constexpr size_t kPreloadSize = 0x1000;

// The supported-adapter table and flash control file of these hosts: the
// 25xx is the only adapter with images to update.
inline const std::string kTable = std::string(upd::kTable) + "0x0501,0x1D7A,CXR2261,Dual port 16Gb FC,TRUE\n"
                                                             "0x0601,0x1D7A,CXR8031,Dual port 10GbE CNA,TRUE\n";
inline const char *const kControl = upd::kControl25;
// Image kit command of the 25xx's boot code and firmware.
inline const std::vector<std::string> kKit25 = {"multiboot", "--chip", "2532", "mbi25.bin"};

inline std::vector<uint8_t> Bytes(const std::string &s) { return {s.begin(), s.end()}; }

inline void WriteBytes(const fs::path &p, const std::vector<uint8_t> &b) {
    e2e::WriteFile(p, std::string(b.begin(), b.end()));
}

inline std::string DatText(const std::vector<datakit::Field> &fields, std::vector<std::string> extra = {}) {
    datakit::DataFile d;
    d.comments = {"written by the data-file kit"};
    d.fields = fields;
    d.extraLines = std::move(extra);
    return datakit::Text(d);
}

inline datakit::PepOptions Pep(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    datakit::PepOptions o;
    o.version[0] = a, o.version[1] = b, o.version[2] = c, o.version[3] = d;
    o.ssdid = kSsdid27;
    return o;
}

inline datakit::PreloadOptions Preload(int cxr, uint16_t ssdid, uint8_t a, uint8_t b, uint8_t c) {
    datakit::PreloadOptions o;
    o.cxrType = cxr;
    o.ssdid = ssdid;
    o.version[0] = a, o.version[1] = b, o.version[2] = c;
    return o;
}

inline datakit::TeskOptions Tesk(uint8_t major) {
    datakit::TeskOptions o;
    o.version[0] = major;
    for (int i = 0; i < 8; ++i)
        o.ssid[i] = 0x06011D7Au + static_cast<uint32_t>(i);
    for (int i = 0; i < 16; ++i)
        o.mac[i] = 0x001D7A260000ull + static_cast<uint64_t>(i);
    return o;
}

// Folder of an adapter's data files in the configuration directory.
inline std::string DatFolder(uint16_t ssdid) {
    char folder[16];
    std::snprintf(folder, sizeof folder, "x1D7Ax%04X", ssdid);
    return folder;
}

inline void WriteDat(const fs::path &dir, uint16_t ssdid, const std::string &name, const std::string &text) {
    fs::create_directories(dir / DatFolder(ssdid));
    e2e::WriteFile(dir / DatFolder(ssdid) / name, text);
}

// The regions' first contents: PEP board config 1.2.3.4, preload tables
// 1.2.3, converged board config 2.x.
struct Regions {
    std::vector<uint8_t> pep, preload27, preloadTesk, tesk;
};

inline Regions InitialRegions() {
    Regions r;
    r.pep = datakit::ImageOver(datakit::PepFields(Pep(1, 2, 3, 4)), std::vector<uint8_t>(0x20000, 0));
    r.preload27 = datakit::ImageOver(datakit::PreloadFields(Preload(25, kSsdid27, 1, 2, 3)),
                                     std::vector<uint8_t>(kPreloadSize, 0xFF));
    r.preloadTesk = datakit::ImageOver(datakit::PreloadFields(Preload(21, kSsdidTesk, 1, 2, 3)),
                                       std::vector<uint8_t>(kPreloadSize, 0xFF));
    r.tesk = datakit::TeskInitialRegion(Tesk(2), kTeskRegionSize);
    return r;
}

// Writes host.json and its region files into dir; port27 is the JSON of
// the 27xx's port. Returns the regions' first contents.
inline Regions WriteHost(const fs::path &dir, const std::string &port27 = "{}") {
    const Regions r = InitialRegions();
    WriteBytes(dir / "pep_cf.bin", r.pep);
    WriteBytes(dir / "pre27.bin", r.preload27);
    WriteBytes(dir / "pre26.bin", r.preloadTesk);
    WriteBytes(dir / "tesk71.bin", r.tesk);
    const std::string c27 = R"({"name": "c27", "device_id": "0x2261", "subsys_vendor": "0x1D7A",
      "subsys_device": "0x0501", "model": "CXR2261", "serial": "S27", "chips": [{"ports": [)" +
                            port27 +
                            R"(], "regions": [
      {"code": "0xCF", "size": "0x20000", "file": "pep_cf.bin"},
      {"code": "0x13", "size": "0x1000", "file": "pre27.bin"}, {"code": "0xFF"}]}]})";
    const std::string c26 = R"({"name": "c26", "device_id": "0x8031", "subsys_vendor": "0x1D7A",
      "subsys_device": "0x0601", "model": "CXR8031", "serial": "S26", "chips": [{"ports": [{}], "regions": [
      {"code": "0x71", "size": "0x8000", "file": "tesk71.bin"},
      {"code": "0x13", "size": "0x1000", "file": "pre26.bin"}, {"code": "0xFF"}]}]})";
    const std::string c25 = upd::MultibootCard("c25", "2532", "0x0301", "S25", {upd::MultibootChip("2532", {}, 1)});
    e2e::WriteFile(dir / "host.json", upd::Host({c27, c26, c25}));
    return r;
}

// Data files newer than every adapter's contents (PEP 1.2.3.5, preload
// 1.2.4 and 1.3.0, converged board config 3.x keeping the adapter's MAC
// table), and the regions they should leave.
struct NewerFiles {
    std::vector<datakit::Field> pep, pre27, preTesk, tesk;
    std::vector<uint8_t> teskExpected; // region 0x71 after the update
};

inline NewerFiles WriteNewerFiles(const fs::path &dir, const Regions &regions) {
    NewerFiles f;
    f.pep = datakit::PepFields(Pep(1, 2, 3, 5));
    f.pre27 = datakit::PreloadFields(Preload(25, kSsdid27, 1, 2, 4));
    f.preTesk = datakit::PreloadFields(Preload(21, kSsdidTesk, 1, 3, 0));
    f.teskExpected = datakit::TeskRegion(Tesk(3), regions.tesk, true, &f.tesk);
    WriteDat(dir, kSsdid27, "PEP27BC.dat", DatText(f.pep));
    WriteDat(dir, kSsdid27, "FWA83xxB.DAT", DatText(f.pre27));
    WriteDat(dir, kSsdidTesk, "BC26xx.DAT", DatText(f.tesk));
    WriteDat(dir, kSsdidTesk, "FWA83xxB.DAT", DatText(f.preTesk));
    return f;
}

} // namespace dathost
