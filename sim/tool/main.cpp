// tarniksim: makes simulated hosts from presets and shows what the simulated
// library reports about them (cards, ports, flash regions, versions, the
// journal of calls).
#include "dualbank_tool.h"
#include "presets.h"
#include "torvex_sim.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr int kOk = 0, kFailed = 1, kUsage = 2;

void Usage() {
    std::fprintf(stderr, "usage: tarniksim init <dir> <preset> [--images <folder>]\n"
                         "       tarniksim show <dir>\n"
                         "       tarniksim dump <dir> <card>/<chip> <region> <file>\n"
                         "       tarniksim journal <dir>\n"
                         "       tarniksim reset <dir> [<card>/<chip>]\n"
                         "presets:\n");
    for (const tarniksim::PresetInfo &p : tarniksim::Presets())
        std::fprintf(stderr, "  %-13s %s\n", p.name, p.summary);
    std::fprintf(stderr, "--images takes region_XX.bin files (XX: the region code in hex, e.g. region_07.bin);\n"
                         "region_FF.bin is a whole-flash image cut into the regions of the layout.\n");
}

int Error(const std::string &what) {
    std::fprintf(stderr, "tarniksim: %s\n", what.c_str());
    return kFailed;
}

void SetEnv(const char *key, const char *value) {
#ifdef _WIN32
    _putenv_s(key, value);
#else
    setenv(key, value, 1);
#endif
}

bool ReadBytes(const fs::path &file, std::vector<uint8_t> &out) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteBytes(const fs::path &file, const uint8_t *data, size_t len) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char *>(data), std::streamsize(len));
    return bool(out);
}

// Number from a JSON integer or a text as the host file writes them.
bool JsonNumber(const json &j, uint64_t &v) {
    if (j.is_number_unsigned()) {
        v = j.get<uint64_t>();
        return true;
    }
    if (!j.is_string()) return false;
    const std::string &t = j.get_ref<const std::string &>();
    char *end = nullptr;
    v = std::strtoull(t.c_str(), &end, 0);
    return !t.empty() && end && *end == 0;
}

// Region code from the command line: hex with 0x, else decimal.
bool ParseCode(const std::string &t, uint32_t &code) {
    if (t.empty() || t.size() > 10) return false;
    int base = 10;
    size_t i = 0;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        i = 2;
    }
    uint64_t v = 0;
    for (; i < t.size(); ++i) {
        char c = t[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * uint64_t(base) + uint64_t(d);
        if (v > 0xFFFF) return false;
    }
    code = uint32_t(v);
    return true;
}

std::string RegionFileName(uint32_t code) {
    char name[32];
    std::snprintf(name, sizeof name, "region_%02X.bin", unsigned(code));
    return name;
}

// ---- init ------------------------------------------------------------------

// Puts the region files of a folder on every chip of the host: each
// region_XX.bin becomes the first contents of region XX, and region_FF.bin
// is cut at the region offsets (the VPD region keeps its VPD unless
// region_14.bin is given). The files are copied into <dir>/images.
int ApplyImages(json &host, const fs::path &folder, const fs::path &dir) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return Error(folder.string() + ": not a folder");
    std::map<uint32_t, fs::path> given;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string n = it->path().filename().string();
        uint32_t code = 0;
        if (n.size() != 13 || n.compare(0, 7, "region_") != 0 || n.compare(9, 4, ".bin") != 0) continue;
        std::string hex = "0x" + n.substr(7, 2);
        if (!ParseCode(hex, code)) continue;
        given[code] = it->path();
    }
    if (ec) return Error(folder.string() + ": " + ec.message());
    if (given.empty()) return Error(folder.string() + ": no region_XX.bin files");
    fs::path images = dir / "images";
    fs::create_directories(images, ec);
    if (ec) return Error(images.string() + ": " + ec.message());

    std::vector<uint8_t> whole;
    if (given.count(0xFF) && !ReadBytes(given[0xFF], whole)) return Error(given[0xFF].string() + ": cannot read");
    std::set<uint32_t> written;
    for (json &card : host["cards"])
        for (json &chip : card["chips"]) {
            uint64_t flash = 0;
            JsonNumber(chip["flash_size"], flash);
            if (!whole.empty() && whole.size() > flash)
                return Error(given[0xFF].string() + ": " + std::to_string(whole.size()) +
                             " bytes do not fit the flash of " + std::to_string(flash) + " bytes");
            std::set<uint32_t> inLayout;
            for (json &r : chip["regions"]) {
                uint64_t code = 0, size = 0, offset = 0;
                JsonNumber(r["code"], code);
                inLayout.insert(uint32_t(code));
                if (code == 0xFF) continue;
                JsonNumber(r["size"], size);
                JsonNumber(r["offset"], offset);
                std::vector<uint8_t> data;
                auto g = given.find(uint32_t(code));
                if (g != given.end()) {
                    if (!ReadBytes(g->second, data)) return Error(g->second.string() + ": cannot read");
                    if (data.size() > size) {
                        char b[96];
                        std::snprintf(b, sizeof b, ": %zu bytes do not fit region 0x%02X of %llu bytes", data.size(),
                                      unsigned(code), (unsigned long long)size);
                        return Error(g->second.string() + b);
                    }
                } else if (!whole.empty() && !r.contains("vpd")) {
                    if (offset >= whole.size()) continue;
                    size_t n = size_t(std::min<uint64_t>(size, whole.size() - offset));
                    data.assign(whole.begin() + long(offset), whole.begin() + long(offset + n));
                } else {
                    continue;
                }
                std::string name = RegionFileName(uint32_t(code));
                if (!written.count(uint32_t(code))) {
                    if (!WriteBytes(images / name, data.data(), data.size()))
                        return Error((images / name).string() + ": cannot write");
                    written.insert(uint32_t(code));
                }
                for (const char *k : {"boot", "firmware", "vpd", "fill"})
                    r.erase(k);
                r["file"] = "images/" + name;
            }
            for (const auto &[code, path] : given)
                if (code != 0xFF && !inLayout.count(code))
                    return Error(path.string() + ": the layout has no region " + RegionFileName(code).substr(7, 2));
        }
    return kOk;
}

int Init(const std::vector<std::string> &args) {
    std::string dirArg, preset, images;
    std::vector<std::string> pos;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--images") {
            if (i + 1 >= args.size() || !images.empty()) {
                Usage();
                return kUsage;
            }
            images = args[++i];
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            Usage();
            return kUsage;
        } else {
            pos.push_back(args[i]);
        }
    }
    if (pos.size() != 2) {
        Usage();
        return kUsage;
    }
    dirArg = pos[0];
    preset = pos[1];
    if (!tarniksim::IsPreset(preset) && tarniksim::IsPreset(dirArg)) std::swap(dirArg, preset); // preset first
    if (!tarniksim::IsPreset(preset)) {
        std::fprintf(stderr, "tarniksim: unknown preset \"%s\"\n", preset.c_str());
        Usage();
        return kUsage;
    }
    fs::path dir = dirArg;
    fs::path hostFile = dir / "host.json";
    if (dir.extension() == ".json") { // a host file name instead of a folder
        hostFile = dir;
        dir = dir.parent_path().empty() ? fs::path(".") : dir.parent_path();
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) return Error(dir.string() + ": cannot make the folder");
    json host;
    tarniksim::BuildPreset(preset, host);
    // A fresh host: flash written under an earlier host and its journal go.
    for (const char *old : {"state", "images", "journal.jsonl"}) {
        fs::remove_all(dir / old, ec);
        if (ec) return Error((dir / old).string() + ": " + ec.message());
    }
    if (!images.empty()) {
        if (int st = ApplyImages(host, images, dir)) return st;
    }
    std::string text = host.dump(2) + "\n";
    if (!WriteBytes(hostFile, reinterpret_cast<const uint8_t *>(text.data()), text.size()))
        return Error(hostFile.string() + ": cannot write");
    std::printf("%s: preset %s\n", hostFile.string().c_str(), preset.c_str());
    return kOk;
}

// ---- library access ----------------------------------------------------------

// Points the library at <dir>/host.json without journaling or persisting
// anything; false (message printed) when the host cannot be loaded.
bool UseHost(const fs::path &dir, fs::path &hostFile) {
    std::error_code ec;
    hostFile = dir / "host.json";
    if (!fs::is_regular_file(hostFile, ec)) {
        Error(hostFile.string() + ": no host file (make one with tarniksim init)");
        return false;
    }
    hostFile = fs::absolute(hostFile, ec);
    SetEnv("TORVEX_SIM_HOST", hostFile.string().c_str());
    SetEnv("TORVEX_SIM_JOURNAL", "off");
    SetEnv("TORVEX_SIM_READONLY", "1");
    TvxSimReset();
    char err[1024] = "";
    TvxSimGetLoadError(err, sizeof err);
    if (err[0]) {
        Error(err);
        return false;
    }
    return true;
}

std::string StatusText(TVX_STATUS st) {
    char t[128] = "";
    TvxGetErrorString(st, t, sizeof t);
    char b[160];
    std::snprintf(b, sizeof b, "0x%08X %s", st, t);
    return b;
}

std::string Wwn(const uint8_t *w) {
    char b[32];
    std::snprintf(b, sizeof b, "%02X:%02X:%02X:%02X:%02X:%02X:%02X:%02X", w[0], w[1], w[2], w[3], w[4], w[5], w[6],
                  w[7]);
    return b;
}

// Cut a fixed text field at its NUL or its end.
std::string Text(const char *p, size_t cap) { return std::string(p, strnlen(p, cap)); }

std::vector<TVX_REGION_ENTRY> Layout(uint32_t handle, TVX_STATUS &st) {
    std::vector<TVX_REGION_ENTRY> out;
    TVX_OPTION_ROM_LAYOUT head{};
    head.Size = sizeof head;
    st = TvxGetOptionRomLayout(handle, 0, &head);
    if (st != TVX_STATUS_OK && st != TVX_ERR_BUFFER_TOO_SMALL) return out;
    uint32_t n = head.Count;
    if (n > 4096) {
        st = TVX_ERR_GENERAL;
        return out;
    }
    std::vector<uint32_t> buf(2 + 2 * size_t(n) + 2, 0);
    auto *lay = reinterpret_cast<TVX_OPTION_ROM_LAYOUT *>(buf.data());
    lay->Size = uint32_t((2 + 2 * size_t(n)) * 4);
    lay->Count = n;
    st = TvxGetOptionRomLayout(handle, 0, lay);
    if (st != TVX_STATUS_OK) return out;
    for (uint32_t i = 0; i < lay->Count && i < n; ++i)
        out.push_back(lay->Region[i]);
    return out;
}

// VPD keyword of the read-only list ("" when absent); every step checked
// against the buffer.
std::string VpdKeyword(const std::vector<uint8_t> &v, const char *key) {
    size_t off = 0;
    for (int tags = 0; tags < 16 && off < v.size(); ++tags) {
        uint8_t tag = v[off];
        if (tag == 0x78) break;
        if (off + 3 > v.size()) break;
        size_t len = size_t(v[off + 1]) | (size_t(v[off + 2]) << 8);
        size_t body = off + 3;
        if (body + len > v.size()) break;
        if (tag == 0x90) {
            size_t k = body;
            while (k + 3 <= body + len) {
                size_t l = v[k + 2];
                if (k + 3 + l > body + len) break;
                if (v[k] == uint8_t(key[0]) && v[k + 1] == uint8_t(key[1]))
                    return std::string(reinterpret_cast<const char *>(v.data() + k + 3), l);
                k += 3 + l;
            }
        }
        off = body + len;
    }
    return "";
}

const char *SourceName(uint32_t s) {
    static const char *names[] = {"fill", "host file", "generated", "written", "written (memory)", "whole flash"};
    return s < 6 ? names[s] : "?";
}

uint64_t Fnv1a64(const uint8_t *d, size_t n) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= d[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

struct InstanceRef {
    uint32_t instance;
    std::string card;
    uint32_t chip, port;
};

std::vector<InstanceRef> Instances() {
    std::vector<InstanceRef> v;
    for (uint32_t i = 0; i < 256; ++i) {
        char card[80] = "";
        uint32_t chip = 0, port = 0;
        if (TvxSimGetInstanceInfo(i, card, sizeof card, &chip, &port) == TVX_ERR_NO_MORE_DEVICES) break;
        v.push_back({i, card, chip, port});
    }
    return v;
}

// Opens an instance, retrying while it is not ready (a few times).
TVX_STATUS Open(uint32_t instance, uint32_t &handle) {
    TVX_STATUS st = TVX_ERR_NOT_READY;
    for (int tries = 0; tries < 8 && st == TVX_ERR_NOT_READY; ++tries)
        st = TvxOpenDevice(instance, &handle);
    return st;
}

void ShowChip(uint32_t instance, uint32_t handle) {
    TVX_STATUS st;
    std::vector<TVX_REGION_ENTRY> regions = Layout(handle, st);
    if (st != TVX_STATUS_OK) {
        std::printf("    layout: %s\n", StatusText(st).c_str());
        return;
    }
    std::printf("    regions:\n");
    std::vector<uint8_t> fw;
    for (const TVX_REGION_ENTRY &r : regions) {
        std::vector<uint8_t> data(r.Size);
        TVX_STATUS rs =
            data.empty() ? TVX_ERR_INVALID_SIZE : TvxGetOptionRomEx(handle, 0, data.data(), r.Size, r.Region);
        uint64_t offset = 0;
        uint32_t source = 0;
        TVX_STATUS is = TvxSimGetRegionInfo(instance, r.Region, &offset, nullptr, &source);
        std::printf("      0x%02X offset 0x%06llX size 0x%06X", unsigned(r.Region), (unsigned long long)offset,
                    unsigned(r.Size));
        if (is == TVX_STATUS_OK) std::printf(" %-11s", SourceName(source));
        if (rs == TVX_STATUS_OK)
            std::printf(" fnv1a64 %016llx", (unsigned long long)Fnv1a64(data.data(), data.size()));
        else
            std::printf(" read %s", StatusText(rs).c_str());
        std::printf("\n");
        if (r.Region == 0x01 && rs == TVX_STATUS_OK) fw = std::move(data);
    }
    if (fw.size() >= 0x40000) {
        const uint8_t *b = fw.data() + 0x3FFC0;
        if (std::memcmp(b, "OMBV", 4) == 0)
            std::printf("    multi-boot image %u.%02u.%02u\n", b[4], b[5], b[6]);
        else
            std::printf("    multi-boot image: no version block\n");
    }
    std::vector<uint8_t> vpd(4096);
    uint32_t vsize = uint32_t(vpd.size());
    st = TvxGetVpd(handle, 0, vpd.data(), &vsize);
    if (st == TVX_STATUS_OK) {
        vpd.resize(std::min<size_t>(vsize, vpd.size()));
        std::printf("    VPD %u bytes, SN \"%s\"\n", unsigned(vsize), VpdKeyword(vpd, "SN").c_str());
    } else {
        std::printf("    VPD: %s\n", StatusText(st).c_str());
    }
    tarniksim::ShowDualBank(instance, handle);
}

void ShowPort(const InstanceRef &ref, uint32_t handle) {
    TVX_CHIP_PROPERTY cp{};
    TVX_DRIVER_PROPERTY dp{};
    TVX_NODE_PROPERTY np{};
    TVX_PORT_PROPERTY pp{};
    TVX_STATUS a = TvxGetHbaDeviceChipProperty(handle, &cp);
    TVX_STATUS b = TvxGetHbaDeviceDriverProperty(handle, &dp);
    TVX_STATUS c = TvxGetHbaDeviceNodeProperty(handle, &np);
    TVX_STATUS d = TvxGetHbaDevicePortProperty(handle, 0, &pp);
    std::printf("    port %u: instance %u\n", ref.port, ref.instance);
    if (a == TVX_STATUS_OK)
        std::printf("      PCI %04X:%04X subsystem %04X:%04X bus %u device %u function %u\n", cp.PciVendorId,
                    cp.PciDeviceId, cp.SubsysVendorId, cp.SubsysDeviceId, cp.PciBusNumber, cp.PciSlotNumber & 15u,
                    (cp.PciSlotNumber >> 5) & 7u);
    else
        std::printf("      chip property: %s\n", StatusText(a).c_str());
    if (d == TVX_STATUS_OK)
        std::printf("      WWPN %s speed %u state %u\n", Wwn(pp.PortWWN).c_str(), unsigned(pp.PortSpeed),
                    unsigned(pp.PortState));
    else
        std::printf("      port property: %s\n", StatusText(d).c_str());
    if (c == TVX_STATUS_OK) {
        std::printf("      WWNN %s model \"%s\" serial bytes %02X %02X %02X\n", Wwn(np.NodeWWN).c_str(),
                    Text(np.Model, sizeof np.Model).c_str(), np.SerialNum[0], np.SerialNum[1], np.SerialNum[2]);
        std::printf("      running firmware %s, option ROM \"%s\"\n",
                    Text(np.FirmwareVersion, sizeof np.FirmwareVersion).c_str(),
                    Text(np.OptRomVersion, sizeof np.OptRomVersion).c_str());
        std::printf("      flash:");
        if (np.FlashImageFlags & TVX_FLASH_IMAGE_FW)
            std::printf(" firmware %u.%02u.%02u", np.FlashFwVersion[0], np.FlashFwVersion[1], np.FlashFwVersion[2]);
        if (np.FlashImageFlags & TVX_FLASH_IMAGE_FCODE)
            std::printf(" FCode %u.%02u", np.FlashFcodeVersion[0], np.FlashFcodeVersion[1]);
        if (np.FlashImageFlags & TVX_FLASH_IMAGE_EFI)
            std::printf(" EFI %u.%02u", np.FlashEfiVersion[0], np.FlashEfiVersion[1]);
        std::printf(" (flags 0x%X)\n", unsigned(np.FlashImageFlags));
    } else {
        std::printf("      node property: %s\n", StatusText(c).c_str());
    }
    if (b == TVX_STATUS_OK)
        std::printf("      driver %s on %s\n", Text(dp.DriverVersion, sizeof dp.DriverVersion).c_str(),
                    Text(dp.OsName, sizeof dp.OsName).c_str());
    else
        std::printf("      driver property: %s\n", StatusText(b).c_str());
}

int Show(const std::vector<std::string> &args) {
    if (args.size() != 1) {
        Usage();
        return kUsage;
    }
    fs::path hostFile;
    if (!UseHost(args[0], hostFile)) return kFailed;
    char version[64] = "";
    TvxGetVersion(version, sizeof version);
    std::vector<InstanceRef> refs = Instances();
    std::printf("host %s: library %s, %zu instance(s)\n", hostFile.string().c_str(), version, refs.size());
    std::string lastCard;
    uint32_t lastChip = UINT32_MAX;
    for (const InstanceRef &ref : refs) {
        bool newChip = ref.card != lastCard || ref.chip != lastChip;
        if (ref.card != lastCard) std::printf("card %s\n", ref.card.c_str());
        lastCard = ref.card;
        lastChip = ref.chip;
        uint32_t handle = 0;
        TVX_STATUS st = Open(ref.instance, handle);
        if (newChip) std::printf("  chip %u\n", ref.chip);
        if (st != TVX_STATUS_OK) {
            std::printf("    port %u: instance %u open: %s\n", ref.port, ref.instance, StatusText(st).c_str());
            lastChip = UINT32_MAX; // the next port of the chip shows the flash
            continue;
        }
        if (newChip) ShowChip(ref.instance, handle);
        ShowPort(ref, handle);
        TvxCloseDevice(handle);
    }
    return kOk;
}

// ---- dump --------------------------------------------------------------------

int Dump(const std::vector<std::string> &args) {
    if (args.size() != 4) {
        Usage();
        return kUsage;
    }
    const std::string &where = args[1];
    size_t slash = where.rfind('/');
    uint32_t chip = 0, code = 0;
    if (slash == std::string::npos || slash == 0 || !ParseCode(where.substr(slash + 1), chip) ||
        !ParseCode(args[2], code)) {
        Usage();
        return kUsage;
    }
    std::string card = where.substr(0, slash);
    fs::path hostFile;
    if (!UseHost(args[0], hostFile)) return kFailed;
    for (const InstanceRef &ref : Instances()) {
        if (ref.card != card || ref.chip != chip) continue;
        uint32_t handle = 0;
        TVX_STATUS st = Open(ref.instance, handle);
        if (st != TVX_STATUS_OK) continue; // another port of the chip may open
        std::vector<TVX_REGION_ENTRY> regions = Layout(handle, st);
        const TVX_REGION_ENTRY *entry = nullptr;
        for (const TVX_REGION_ENTRY &r : regions)
            if (r.Region == code) entry = &r;
        if (!entry) {
            TvxCloseDevice(handle);
            return Error(hostFile.string() + ": " + where + " has no region " + args[2]);
        }
        std::vector<uint8_t> data(entry->Size);
        st = data.empty() ? TVX_ERR_INVALID_SIZE : TvxGetOptionRomEx(handle, 0, data.data(), entry->Size, code);
        TvxCloseDevice(handle);
        if (st != TVX_STATUS_OK)
            return Error(hostFile.string() + ": reading region " + args[2] + ": " + StatusText(st));
        if (!WriteBytes(args[3], data.data(), data.size())) return Error(args[3] + ": cannot write");
        return kOk;
    }
    return Error(hostFile.string() + ": no open port of chip " + where);
}

// ---- journal -------------------------------------------------------------------

std::string Value(const json &v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

int Journal(const std::vector<std::string> &args) {
    if (args.size() != 1) {
        Usage();
        return kUsage;
    }
    fs::path dir = args[0];
    fs::path file = dir / "journal.jsonl";
    std::ifstream hf(dir / "host.json", std::ios::binary);
    if (hf) {
        json h = json::parse(hf, nullptr, false);
        if (h.is_object() && h.contains("journal") && h["journal"].is_string())
            file = dir / h["journal"].get<std::string>();
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) return Error(file.string() + ": no journal");
    std::string line;
    int bad = 0;
    for (size_t n = 1; std::getline(in, line); ++n) {
        if (line.empty()) continue;
        json j = json::parse(line, nullptr, false);
        if (!j.is_object()) {
            std::fprintf(stderr, "tarniksim: %s:%zu: not a journal record\n", file.string().c_str(), n);
            bad++;
            continue;
        }
        std::string out;
        auto take = [&](const char *k) -> std::string {
            if (!j.contains(k)) return "";
            std::string v = Value(j[k]);
            j.erase(k);
            return v;
        };
        std::string seq = take("seq"), pid = take("pid"), op = take("op"), status = take("status");
        out = "#" + (seq.empty() ? "?" : seq) + " pid " + (pid.empty() ? "?" : pid) + " " + (op.empty() ? "?" : op);
        std::string fn = take("fn");
        if (!fn.empty()) out += " " + fn;
        if (j.contains("instance")) {
            std::string inst = take("instance"), card = take("card"), chip = take("chip"), port = take("port");
            out += " instance " + inst + " (" + card + "/" + chip + "/" + port + ")";
        }
        for (const char *k : {"region", "size", "options", "handle", "session", "fnv1a64"}) {
            std::string v = take(k);
            if (!v.empty()) out += std::string(" ") + k + " " + v;
        }
        for (auto it = j.begin(); it != j.end(); ++it)
            out += " " + it.key() + " " + Value(*it);
        if (!status.empty()) out += " -> " + status;
        std::printf("%s\n", out.c_str());
    }
    return bad ? kFailed : kOk;
}

} // namespace

int main(int argc, char **argv) {
    try {
        if (argc < 2) {
            Usage();
            return kUsage;
        }
        std::string cmd = argv[1];
        std::vector<std::string> args(argv + 2, argv + argc);
        if (cmd == "init") return Init(args);
        if (cmd == "show") return Show(args);
        if (cmd == "dump") return Dump(args);
        if (cmd == "journal") return Journal(args);
        if (cmd == "reset") {
            int st = tarniksim::ResetCommand(args);
            if (st == kUsage) Usage();
            return st;
        }
        if (cmd == "-h" || cmd == "--help" || cmd == "help") {
            Usage();
            return kOk;
        }
        std::fprintf(stderr, "tarniksim: unknown command \"%s\"\n", cmd.c_str());
        Usage();
        return kUsage;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tarniksim: %s\n", e.what());
        return kFailed;
    }
}
