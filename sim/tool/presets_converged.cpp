// Presets of the converged adapters: first generation (CXR8001), Lark
// (CXR8021, one card of chip revision 0x58 and one of 0x54) and Tesk
// (CXR8031). Every region of the family's update sequence is there, the VPD
// regions carry version keywords, and the boot regions carry a BIOS default
// area ("SVID" bytes and a "MECXR " settings block) that an update must keep.
#include "presets.h"

#include <cstdio>

namespace tarniksim {

using json = nlohmann::json;

namespace {

json Region(unsigned code, unsigned size) {
    char c[8];
    std::snprintf(c, sizeof c, "0x%02X", code);
    return json{{"code", c}, {"size", size}};
}

json Boot(unsigned code, unsigned size, const char *device, const char *bios, const char *fcode, const char *efi,
          const char *svid) {
    json r = Region(code, size);
    r["boot"] = {{"bios", bios},
                 {"fcode", fcode},
                 {"efi", efi},
                 {"device_id", device},
                 {"defaults", {{"svid", svid}, {"settings", true}}}};
    return r;
}

json Firmware(unsigned code, unsigned size, const char *version, const char *chip) {
    json r = Region(code, size);
    r["firmware"] = {{"version", version}, {"chip", chip}};
    return r;
}

// VPD regions hold the adapter's whole VPD image: 512 bytes on the first
// generation, 1024 on the later families.
json Vpd(unsigned code, const char *id, json ro, unsigned size = 0x400) {
    json r = Region(code, size);
    r["vpd"] = {{"id", id}, {"ro", std::move(ro)}};
    return r;
}

json Ports(int n, const char *chipType) {
    json ports = json::array();
    for (int i = 0; i < n; ++i)
        ports.push_back({{"pci", {{"chip_type", chipType}}},
                         {"driver", {{"version", "9.4.2.10"}, {"os", "Windows Server 2022"}}},
                         {"port", {{"speed", 10}, {"state", 1}, {"mode", 1}}}});
    return ports;
}

json Card(const char *name, const char *device, const char *ssdid, const char *model, const char *serial, json regions,
          unsigned vpdRegion, int ports, const char *chipType) {
    regions.push_back({{"code", "0xFF"}});
    char vpd[8];
    std::snprintf(vpd, sizeof vpd, "0x%02X", vpdRegion);
    json chip = {{"regions", std::move(regions)}, {"vpd", {{"region", vpd}}}, {"ports", Ports(ports, chipType)}};
    return json{{"name", name},   {"device_id", device}, {"subsys_vendor", "0x1D7A"},   {"subsys_device", ssdid},
                {"model", model}, {"serial", serial},    {"chips", json::array({chip})}};
}

json FirstGen() {
    const char *serial = "SIM8152H0041";
    json fcVpd = json{{"PN", "CXR8152"},  {"EC", "A02"},   {"SN", serial},  {"V1", "01.08"},
                      {"V3", "05.03.01"}, {"V4", "02.10"}, {"V5", "02.00"}, {"RM", "010000"}};
    json nicVpd = json{{"PN", "CXR8152"}, {"SN", serial}, {"RM", "010000"}};
    json r = json::array();
    r.push_back(Region(0x2E, 0x40000));
    r.push_back(Region(0x41, 0x10000));
    r.push_back(Region(0x45, 0x20000));
    r.push_back(Region(0x40, 0x40000));
    r.push_back(Boot(0x07, 0x40000, "0x8001", "2.10", "2.00", "1.08", "1D 7A"));
    r.push_back(Firmware(0x01, 0x40000, "5.3.1", "8001"));
    r.push_back(Vpd(0x14, "CXR8152 FCoE Converged Network Adapter", fcVpd, 0x200));
    r.push_back(Vpd(0x16, "CXR8152 FCoE Converged Network Adapter", fcVpd, 0x200));
    r.push_back(Vpd(0x2C, "CXR8152 10GbE Network Adapter", nicVpd, 0x200));
    r.push_back(Vpd(0x2D, "CXR8152 10GbE Network Adapter", nicVpd, 0x200));
    r.push_back(Region(0x1C, 0x1000));
    return Card("cna81", "0x8001", "0x0801", "CXR8152", serial, r, 0x14, 2, "0x02");
}

json LarkRegions(const char *serial, const char *model) {
    json vpd = json{{"PN", model}, {"EC", "B01"}, {"SN", serial}, {"RM", "010000"}, {"VV", "FFV01.00.00"}};
    json r = json::array();
    r.push_back(Boot(0x07, 0x40000, "0x8021", "2.20", "2.10", "1.10", "1D 7A"));
    r.push_back(Region(0x4F, 0x40000));
    r.push_back(Region(0x2E, 0x40000));
    r.push_back(Region(0x70, 0x10000));
    r.push_back(Region(0x71, 0x10000));
    r.push_back(Region(0x72, 0x40000));
    r.push_back(Region(0x73, 0x40000));
    r.push_back(Region(0x74, 0x80000));
    r.push_back(Region(0x97, 0x80000));
    r.push_back(Vpd(0x81, "CXR8242 Converged Network Adapter", vpd));
    r.push_back(Region(0x1C, 0x1000));
    return r;
}

json TeskRegions() {
    const char *serial = "SIM8342K0061";
    json vpd = json{{"PN", "CXR8342"}, {"EC", "C01"}, {"SN", serial}, {"RM", "010000"}, {"VV", "FFV01.00.00"}};
    json fcVpd = json{{"PN", "CXR8342"}, {"SN", serial}, {"RM", "010000"}, {"VV", "FFV01.00.00"}};
    json r = json::array();
    r.push_back(Boot(0x07, 0x40000, "0x2031", "3.40", "4.10", "6.20", "1D 7A"));
    r.push_back(Region(0x2E, 0x40000));
    r.push_back(Boot(0xA2, 0x40000, "0x8031", "3.30", "4.00", "6.10", "1D 7A"));
    r.push_back(Region(0x4F, 0x40000));
    r.push_back(Region(0x70, 0x10000));
    r.push_back(Region(0x72, 0x40000));
    r.push_back(Region(0x73, 0x40000));
    r.push_back(Region(0xA4, 0x80000));
    r.push_back(Firmware(0x01, 0x80000, "8.7.3", "2031"));
    r.push_back(Region(0x97, 0x80000));
    r.push_back(Vpd(0x81, "CXR8342 Converged Network Adapter", vpd));
    r.push_back(Vpd(0x14, "CXR8342 FC Adapter", fcVpd));
    r.push_back(Vpd(0x16, "CXR8342 FC Adapter", fcVpd));
    json memo = Region(0xDF, 0x10000);
    memo["memo"] = {{"mbi", "1.0.0"}, {"ffv", "1.0.0.0"}, {"date", "20250930"}};
    r.push_back(memo);
    r.push_back(Region(0x1C, 0x1000));
    return r;
}

} // namespace

const std::vector<PresetInfo> &ConvergedPresets() {
    static const std::vector<PresetInfo> list = {
        {"cna8001", "one two-port CXR8152 first-generation converged card (PCI 1D7A:8001, subsystem 1D7A:0801)"},
        {"cna-lark",
         "two Lark cards, revision 0x58 (two ports) and 0x54 (one port) (PCI 1D7A:8021, subsystem 1D7A:0821)"},
        {"cna-tesk", "one two-port CXR8342 Tesk converged card (PCI 1D7A:8031, subsystem 1D7A:0831)"},
    };
    return list;
}

bool BuildConvergedPreset(const std::string &name, json &host) {
    json cards = json::array();
    if (name == "cna8001") {
        cards.push_back(FirstGen());
    } else if (name == "cna-lark") {
        cards.push_back(Card("lark58", "0x8021", "0x0821", "CXR8242", "SIM8242J0051",
                             LarkRegions("SIM8242J0051", "CXR8242"), 0x81, 2, "0x58"));
        cards.push_back(Card("lark54", "0x8021", "0x0821", "CXR8241", "SIM8241J0052",
                             LarkRegions("SIM8241J0052", "CXR8241"), 0x81, 1, "0x54"));
    } else if (name == "cna-tesk") {
        cards.push_back(Card("cna83", "0x8031", "0x0831", "CXR8342", "SIM8342K0061", TeskRegions(), 0x81, 2, "0x58"));
    } else {
        return false;
    }
    host = json{{"version", "1.28.122.0"}, {"cards", std::move(cards)}};
    return true;
}

} // namespace tarniksim
