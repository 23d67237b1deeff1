// The presets of tarniksim. Every card carries the classic multi-boot flash
// layout of its chip: a boot-code chain, the FC VPD, the firmware with the
// multi-boot version block, and the whole-flash view 0xFF.
#include "presets.h"

namespace tarniksim {

using json = nlohmann::json;

namespace {

const std::vector<PresetInfo> kPresets = {
    {"fc23xx", "one single-port CXR2312 card (PCI 1D7A:2312, subsystem 1D7A:0101)"},
    {"fc24xx-2port", "one two-port CXR2462 card (PCI 1D7A:2432, subsystem 1D7A:0201)"},
    {"fc25xx-2port", "one two-port CXR2562 card (PCI 1D7A:2532, subsystem 1D7A:0301)"},
    {"fc25xx-4port", "one four-port CXR2564 card, two 2532 chips of two ports (subsystem 1D7A:0302)"},
    {"fc8432", "one single-port CXR8432 card (PCI 1D7A:8432, subsystem 1D7A:0401)"},
    {"empty", "a host without any card"},
};

struct CardSpec {
    const char *name;
    unsigned deviceId;
    unsigned subsysDevice;
    const char *model;
    const char *serial;
    const char *driver;
    unsigned speed;
    int chips;
    int portsPerChip;
    // flash contents
    const char *bios, *fcode, *efi; // null: no such image
    const char *fw, *mbi;           // null: no firmware region
    unsigned fwRegionSize;
};

json Port(const CardSpec &c) {
    json p = {{"driver", {{"version", c.driver}, {"os", "Windows Server 2019"}}},
              {"port", {{"speed", c.speed}, {"state", 1}, {"mode", 1}}}};
    // Without firmware in flash the driver loads its own; the node shows it.
    if (!c.fw) p["node"] = {{"firmware_version", "3.03.28"}};
    return p;
}

json Chip(const CardSpec &c) {
    json regions = json::array();
    const unsigned bootSize = c.fw ? 0x40000u : 0x20000u;
    json boot = json::object();
    if (c.bios) boot["bios"] = c.bios;
    if (c.fcode) boot["fcode"] = c.fcode;
    if (c.efi) boot["efi"] = c.efi;
    regions.push_back({{"code", "0x07"}, {"offset", "0x0"}, {"size", bootSize}, {"boot", boot}});
    unsigned flash = bootSize;
    if (c.fw) {
        regions.push_back({{"code", "0x14"}, {"offset", "0x40000"}, {"size", "0x200"}, {"vpd", json::object()}});
        json fw = {{"version", c.fw}};
        if (c.mbi) fw["mbi"] = c.mbi;
        regions.push_back({{"code", "0x01"}, {"offset", "0x80000"}, {"size", c.fwRegionSize}, {"firmware", fw}});
        flash = 0x100000;
    }
    regions.push_back({{"code", "0xFF"}, {"size", flash}});
    json ports = json::array();
    for (int i = 0; i < c.portsPerChip; ++i)
        ports.push_back(Port(c));
    return json{{"regions", regions}, {"flash_size", flash}, {"ports", ports}};
}

json Card(const CardSpec &c) {
    char dev[8], ssd[8];
    std::snprintf(dev, sizeof dev, "0x%04X", c.deviceId);
    std::snprintf(ssd, sizeof ssd, "0x%04X", c.subsysDevice);
    json chips = json::array();
    for (int i = 0; i < c.chips; ++i)
        chips.push_back(Chip(c));
    return json{{"name", c.name},       {"device_id", dev}, {"subsys_vendor", "0x1D7A"},
                {"subsys_device", ssd}, {"model", c.model}, {"serial", c.serial},
                {"chips", chips}};
}

} // namespace

const std::vector<PresetInfo> &Presets() {
    static const std::vector<PresetInfo> all = [] {
        std::vector<PresetInfo> v = kPresets;
        v.insert(v.end() - 1, DualBankPresets().begin(), DualBankPresets().end());
        v.insert(v.end() - 1, ConvergedPresets().begin(), ConvergedPresets().end());
        return v;
    }();
    return all;
}

bool IsPreset(const std::string &name) {
    for (const PresetInfo &p : Presets())
        if (name == p.name) return true;
    return false;
}

bool BuildPreset(const std::string &name, json &host) {
    static const CardSpec specs[] = {
        {"hba23", 0x2312, 0x0101, "CXR2312", "B00001", "9.1.10.28", 2, 1, 1, "1.90", "1.19", nullptr, nullptr, nullptr,
         0},
        {"hba24", 0x2432, 0x0201, "CXR2462", "SIM2462A0017", "9.1.17.21", 4, 1, 2, "2.10", "2.00", "1.08", "5.3.1",
         "2.1.0", 0x40000},
        {"hba25", 0x2532, 0x0301, "CXR2562", "SIM2562B0042", "9.2.3.20", 8, 1, 2, "3.20", "4.00", "6.00", "8.1.0",
         "3.0.1", 0x80000},
        {"hba25q", 0x2532, 0x0302, "CXR2564", "SIM2564C0007", "9.2.3.20", 8, 2, 2, "3.20", "4.00", "6.00", "8.1.0",
         "3.0.1", 0x80000},
        {"cna84", 0x8432, 0x0401, "CXR8432", "SIM8432D0003", "9.2.3.20", 16, 1, 1, "3.20", "4.00", "6.00", "8.1.0",
         "3.0.1", 0x80000},
    };
    static const char *const names[] = {"fc23xx", "fc24xx-2port", "fc25xx-2port", "fc25xx-4port", "fc8432"};
    host = json{{"version", "1.28.122.0"}, {"cards", json::array()}};
    if (name == "empty") return true;
    if (BuildDualBankPreset(name, host)) return true;
    if (BuildConvergedPreset(name, host)) return true;
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
        if (name == names[i]) {
            host["cards"].push_back(Card(specs[i]));
            return true;
        }
    return false;
}

} // namespace tarniksim
