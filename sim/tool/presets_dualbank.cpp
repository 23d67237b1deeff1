// Presets of the adapters that keep their flash in two sets (27xx Fenwar,
// 28xx Zult) and of the Tesk FC card: every region their update sequences
// name, valid image status records (the primary set active) and memo
// blocks. The secondary set holds an older image, so a switch of sets
// shows in the versions the ports report.
#include "presets.h"

#include <cstdio>

namespace tarniksim {

using json = nlohmann::json;

namespace {

constexpr unsigned kSmall = 0x10000;    // status, memo, signature, firmware parts
constexpr unsigned kBoot = 0x40000;     // boot code chains
constexpr unsigned kFw = 0x40000;       // RISC firmware
constexpr unsigned kVpd = 0x400;        // VPD regions
constexpr unsigned kFdtSize = 0x400000; // descriptor region: table at 0x3F0000

json Region(unsigned code, unsigned size) {
    char c[8];
    std::snprintf(c, sizeof c, "0x%02X", code);
    return json{{"code", c}, {"size", size}};
}

json Boot(unsigned code, const char *bios, const char *fcode, const char *efi) {
    json r = Region(code, kBoot);
    r["boot"] = {{"bios", bios}, {"fcode", fcode}, {"efi", efi}};
    return r;
}

json Firmware(unsigned code, const char *version) {
    json r = Region(code, kFw);
    r["firmware"] = {{"version", version}};
    return r;
}

json Status(unsigned code, int mask, int generation, const char *signature) {
    json r = Region(code, kSmall);
    r["status"] = {{"mask", mask}, {"generation", generation}, {"signature", signature}};
    return r;
}

json Memo(unsigned code, const char *mbi, const char *ffv, const char *date) {
    json r = Region(code, kSmall);
    r["memo"] = {{"mbi", mbi}, {"ffv", ffv}, {"date", date}};
    return r;
}

json Vpd(unsigned code) {
    json r = Region(code, kVpd);
    r["vpd"] = json::object();
    return r;
}

json Ports(int n) {
    json ports = json::array();
    for (int i = 0; i < n; ++i)
        ports.push_back({{"driver", {{"version", "9.1.9.20"}, {"os", "Windows Server 2022"}}},
                         {"port", {{"speed", 32}, {"state", 1}, {"mode", 1}}}});
    return ports;
}

json Card(const char *name, const char *device, const char *ssdid, const char *model, const char *serial, json regions,
          int ports) {
    regions.push_back({{"code", "0xFF"}});
    json chip = {{"regions", regions}, {"update_caps", 4}, {"ports", Ports(ports)}};
    return json{{"name", name},   {"device_id", device}, {"subsys_vendor", "0x1D7A"},   {"subsys_device", ssdid},
                {"model", model}, {"serial", serial},    {"chips", json::array({chip})}};
}

json Fenwar() {
    const char *sig = "0xFACEFADE";
    json r = json::array();
    // Set 1 (running) and set 2 (an older image), in sequence order.
    for (unsigned code : {0x9Eu, 0x9Fu, 0xE1u, 0xE5u, 0xD3u, 0xD1u, 0x66u, 0x67u, 0x68u})
        r.push_back(Region(code, kSmall));
    r.push_back(Boot(0x07, "7.10", "6.05", "7.40"));
    r.push_back(Boot(0x09, "7.00", "6.00", "7.30"));
    r.push_back(Firmware(0x01, "9.6.1"));
    r.push_back(Firmware(0x02, "9.5.0"));
    r.push_back(Status(0x95, 1, 3, sig));
    r.push_back(Status(0x96, 0, 2, sig));
    for (unsigned code : {0x14u, 0x16u, 0xD4u, 0xD6u, 0x50u, 0x52u, 0xD8u, 0xDAu})
        r.push_back(Vpd(code));
    r.push_back(Memo(0xDF, "1.3.2", "1.3.2.0", "20260112"));
    r.push_back(Region(0x1C, 0x1000));
    return Card("hba27", "0x2071", "0x0501", "CXR2772", "SIM2772E0011", r, 2);
}

json Zult() {
    const char *sig = "0xFACEFADF";
    json r = json::array();
    for (unsigned code : {0x9Eu,  0x9Fu,  0x11u,  0x0Au, 0xD2u, 0x105u, 0xD1u,  0xF1u,  0xCFu,  0x106u, 0x13u,
                          0x107u, 0x101u, 0x108u, 0xD3u, 0xF0u, 0x102u, 0x109u, 0x103u, 0x10Au, 0xBAu,  0x10Bu})
        r.push_back(Region(code, kSmall));
    r.push_back(Boot(0x07, "8.02", "7.10", "8.20"));
    r.push_back(Boot(0x09, "8.00", "7.00", "8.10"));
    r.push_back(Firmware(0x01, "10.2.4"));
    r.push_back(Firmware(0x02, "10.1.9"));
    r.push_back(Memo(0xDF, "2.1.4", "2.1.4.0", "20260203"));
    r.push_back(Memo(0x124, "2.0.9", "2.0.9.0", "20251110"));
    r.push_back(Status(0x95, 1, 5, sig));
    r.push_back(Status(0x96, 0, 4, sig));
    r.push_back(Status(0x125, 1, 2, "0xFACEFAED"));
    r.push_back(Status(0x126, 0, 1, "0xFACEFAED"));
    for (unsigned code : {0x14u, 0x16u, 0xD4u, 0xD6u, 0x10Cu, 0x10Eu, 0x110u, 0x112u})
        r.push_back(Vpd(code));
    r.push_back(Region(0x1C, 0x1000));
    return Card("hba28", "0x2281", "0x0601", "CXR2882", "SIM2882F0023", r, 2);
}

json TeskFc() {
    json r = json::array();
    r.push_back(Boot(0x07, "3.40", "4.10", "6.20"));
    r.push_back(Firmware(0x01, "8.7.3"));
    r.push_back(Vpd(0x14));
    r.push_back(Vpd(0x16));
    r.push_back(Memo(0x89, "4.2.1", "4.2.1.0", "20250930"));
    r.push_back(Region(0x1C, 0x1000));
    json fdt = Region(0x1A, kFdtSize);
    fdt["fdt"] = json::object();
    r.push_back(fdt);
    return Card("hbatesk", "0x2031", "0x0701", "CXR8362", "SIM8362G0031", r, 2);
}

} // namespace

const std::vector<PresetInfo> &DualBankPresets() {
    static const std::vector<PresetInfo> list = {
        {"fc27xx", "one two-port CXR2772 card, two flash sets (PCI 1D7A:2071, subsystem 1D7A:0501)"},
        {"fc28xx", "one two-port CXR2882 card, two flash sets (PCI 1D7A:2281, subsystem 1D7A:0601)"},
        {"fc-tesk-fc",
         "one two-port CXR8362 Tesk FC card with a descriptor table (PCI 1D7A:2031, subsystem 1D7A:0701)"},
    };
    return list;
}

bool BuildDualBankPreset(const std::string &name, json &host) {
    json card;
    if (name == "fc27xx")
        card = Fenwar();
    else if (name == "fc28xx")
        card = Zult();
    else if (name == "fc-tesk-fc")
        card = TeskFc();
    else
        return false;
    host = json{{"version", "2.0.1.8"}, {"cards", json::array({card})}};
    return true;
}

} // namespace tarniksim
