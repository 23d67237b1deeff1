// Host description loader: a JSON file naming cards, chips, ports, flash
// regions, targets and faults. Every field is checked; an unknown field, a
// wrong type or an out-of-range value gives one message naming the file and
// the field, and no host.
#include "sim_file.h"
#include "sim_hostjson.h"

#include <cctype>
#include <cstdio>
#include <set>
#include <type_traits>

namespace tsim {

namespace hostfile {

[[noreturn]] void Fail(const std::string &path, const std::string &what) {
    throw LoadError("field '" + path + "': " + what);
}

// Number from a JSON integer or a text ("0x1D7A" or decimal).
uint64_t ToNumber(const json &j, const std::string &path, uint64_t lo, uint64_t hi) {
    uint64_t v = 0;
    if (j.is_number_unsigned()) {
        v = j.get<uint64_t>();
    } else if (j.is_number_integer()) {
        int64_t s = j.get<int64_t>();
        if (s < 0) Fail(path, "negative value");
        v = uint64_t(s);
    } else if (j.is_string()) {
        const std::string &t = j.get_ref<const std::string &>();
        if (t.empty()) Fail(path, "empty number");
        size_t i = 0;
        int base = 10;
        if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
            base = 16;
            i = 2;
        }
        for (; i < t.size(); ++i) {
            int d;
            char c = char(std::tolower(static_cast<unsigned char>(t[i])));
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else
                Fail(path, "not a number: \"" + t + "\"");
            if (v > (UINT64_MAX - uint64_t(d)) / uint64_t(base)) Fail(path, "number too large");
            v = v * uint64_t(base) + uint64_t(d);
        }
    } else {
        Fail(path, "expected a number");
    }
    if (v < lo || v > hi) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "value %llu out of range %llu..%llu", (unsigned long long)v,
                      (unsigned long long)lo, (unsigned long long)hi);
        Fail(path, buf);
    }
    return v;
}

// Bytes from a hex text; ':', '-' and blanks may separate the digits.
Bytes ToBytes(const json &j, const std::string &path, size_t minLen, size_t maxLen) {
    if (!j.is_string()) Fail(path, "expected a hex byte text");
    Bytes out;
    int nib = -1;
    for (char ch : j.get_ref<const std::string &>()) {
        if (ch == ':' || ch == '-' || ch == ' ') continue;
        int d;
        char c = char(std::tolower(static_cast<unsigned char>(ch)));
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            Fail(path, "not a hex digit in byte text");
        if (nib < 0)
            nib = d;
        else {
            out.push_back(uint8_t(nib * 16 + d));
            nib = -1;
        }
    }
    if (nib >= 0) Fail(path, "odd number of hex digits");
    if (out.size() < minLen || out.size() > maxLen)
        Fail(path, "expected " + std::to_string(minLen) + (minLen == maxLen ? "" : ".." + std::to_string(maxLen)) +
                       " bytes, got " + std::to_string(out.size()));
    return out;
}

// Version text "a.b.c" into up to n bytes.
void ParseVersion(const json &j, const std::string &path, uint8_t *out, int n) {
    if (!j.is_string()) Fail(path, "expected a version text like \"3.21\"");
    const std::string &t = j.get_ref<const std::string &>();
    int idx = 0;
    unsigned cur = 0;
    bool digit = false;
    for (size_t i = 0; i <= t.size(); ++i) {
        if (i == t.size() || t[i] == '.') {
            if (!digit || idx >= n) Fail(path, "bad version text \"" + t + "\"");
            out[idx++] = uint8_t(cur);
            cur = 0;
            digit = false;
        } else if (t[i] >= '0' && t[i] <= '9') {
            cur = cur * 10 + unsigned(t[i] - '0');
            if (cur > 255) Fail(path, "version part above 255");
            digit = true;
        } else {
            Fail(path, "bad version text \"" + t + "\"");
        }
    }
    for (; idx < n; ++idx)
        out[idx] = 0;
}

} // namespace hostfile

namespace fs = std::filesystem;
using namespace hostfile;

namespace {

std::vector<std::pair<std::string, std::string>> ParseKeywords(const json *j, const std::string &path) {
    std::vector<std::pair<std::string, std::string>> v;
    if (!j) return v;
    if (!j->is_object()) Fail(path, "expected an object of keyword texts");
    for (auto it = j->begin(); it != j->end(); ++it) {
        if (it.key().size() != 2) Fail(path + "." + it.key(), "keywords have two characters");
        if (it.key() == "RV") Fail(path + ".RV", "the checksum keyword is made by the simulator");
        if (!it->is_string() || it->get<std::string>().size() > 255)
            Fail(path + "." + it.key(), "expected a text of at most 255 characters");
        v.emplace_back(it.key(), it->get<std::string>());
    }
    return v;
}

void ParseVpdSpec(Obj &o, std::string &id, std::vector<std::pair<std::string, std::string>> &ro,
                  std::vector<std::pair<std::string, std::string>> &rw, const Defaults &d) {
    id = o.Str("id", d.model + " Fibre Channel Adapter", 255);
    ro = ParseKeywords(o.Get("ro"), o.Path("ro"));
    rw = ParseKeywords(o.Get("rw"), o.Path("rw"));
    if (!o.Has("ro") && !d.serial.empty()) {
        ro = {{"PN", d.model}, {"EC", "A01"}, {"SN", d.serial}, {"MN", "1D7A"}};
    }
}

// A flash memo block at offset 0 ("memo") and a flash descriptor table
// ("fdt") over the region's other contents.
void ParseDualBankContents(Obj &o, Region &r) {
    RegionInit &in = r.init;
    if (const json *m = o.Get("memo")) {
        Obj mo(*m, o.Path("memo"));
        const json *mbi = mo.Get("mbi");
        if (!mbi) Fail(mo.Path("mbi"), "missing");
        ParseVersion(*mbi, mo.Path("mbi"), in.memoMbi, 3);
        if (const json *f = mo.Get("ffv")) ParseVersion(*f, mo.Path("ffv"), in.memoFfv, 4);
        in.memoDate = mo.Str("date", "20260101", 8);
        if (in.memoDate.size() != 8 || in.memoDate.find_first_not_of("0123456789") != std::string::npos)
            Fail(mo.Path("date"), "expected eight digits YYYYMMDD");
        mo.Finish();
        if (r.size < 48) Fail(o.Path("memo"), "region too small for a memo block");
        in.hasMemo = true;
    }
    if (const json *f = o.Get("fdt")) {
        Obj fo(*f, o.Path("fdt"));
        in.fdtOffset = uint32_t(fo.Num("offset", 0x3F0000, 0, 0x10000000));
        Bytes id = fo.Hex("flash_id", Bytes{0xEF, 0x00, 0x18, 0x40}, 4, 4);
        std::memcpy(in.fdtFlashId, id.data(), 4);
        Bytes erase = fo.Hex("erase_code", Bytes{0x20, 0x20}, 2, 2);
        std::memcpy(in.fdtErase, erase.data(), 2);
        fo.Finish();
        if (uint64_t(in.fdtOffset) + 0x80 > r.size)
            Fail(o.Path("fdt"), "the table (0x80 bytes) does not fit the region");
        in.hasFdt = true;
    }
}

void ParseRegion(const json &j, const std::string &path, Region &r, const Defaults &d, const fs::path &hostDir) {
    Obj o(j, path);
    r.code = uint32_t(o.Num("code", 0, 1, 0xFFFF));
    if (!o.Has("code")) Fail(o.Path("code"), "missing");
    r.whole = r.code == 0xFF;
    r.size = uint32_t(o.Num("size", 0, 0, 0x10000000));
    if (!r.whole && !o.Has("size")) Fail(o.Path("size"), "missing");
    if (auto off = o.OptNum("offset", 0, 0x10000000))
        r.offset = *off;
    else
        r.offset = UINT64_MAX; // placed after the previous region
    RegionInit &in = r.init;
    in.fill = uint8_t(o.Num("fill", 0xFF, 0, 255));
    int kinds = 0;
    if (const json *f = o.Get("file")) {
        if (!f->is_string()) Fail(o.Path("file"), "expected a file name");
        fs::path p = f->get<std::string>();
        in.file = p.is_absolute() ? p : hostDir / p;
        std::error_code ec;
        if (!fs::is_regular_file(in.file, ec)) Fail(o.Path("file"), "no such file: " + in.file.string());
        in.kind = RegionInit::File;
        kinds++;
    }
    if (const json *v = o.Get("vpd")) {
        Obj vo(*v, o.Path("vpd"));
        ParseVpdSpec(vo, in.vpdId, in.vpdRo, in.vpdRw, d);
        vo.Finish();
        Bytes test = BuildVpd(in.vpdId, in.vpdRo, in.vpdRw, 0);
        if (test.size() > r.size)
            Fail(o.Path("vpd"), "VPD of " + std::to_string(test.size()) + " bytes does not fit the region");
        in.kind = RegionInit::Vpd;
        kinds++;
    }
    if (const json *b = o.Get("boot")) {
        Obj bo(*b, o.Path("boot"));
        if (const json *x = bo.Get("bios")) {
            ParseVersion(*x, bo.Path("bios"), in.bios, 2);
            in.hasBios = true;
        }
        if (const json *x = bo.Get("fcode")) {
            ParseVersion(*x, bo.Path("fcode"), in.fcode, 2);
            in.hasFcode = true;
        }
        if (const json *x = bo.Get("efi")) {
            ParseVersion(*x, bo.Path("efi"), in.efi, 2);
            in.hasEfi = true;
        }
        in.deviceId = uint16_t(bo.Num("device_id", d.deviceId, 0, 0xFFFF));
        if (const json *x = bo.Get("defaults")) {
            Obj xo(*x, bo.Path("defaults"));
            Bytes svid = xo.Hex("svid", Bytes{0x00, 0x00}, 2, 2);
            std::memcpy(in.biosSvid, svid.data(), 2);
            in.biosSettings = xo.Bool("settings", true);
            xo.Finish();
            if (!in.hasBios) Fail(bo.Path("defaults"), "a BIOS default area needs a BIOS image");
            in.hasBiosDefaults = true;
        }
        bo.Finish();
        in.kind = RegionInit::Boot;
        kinds++;
    }
    if (const json *f = o.Get("firmware")) {
        Obj fo(*f, o.Path("firmware"));
        const json *x = fo.Get("version");
        if (!x) Fail(fo.Path("version"), "missing");
        ParseVersion(*x, fo.Path("version"), in.fw, 3);
        char dev[8];
        std::snprintf(dev, sizeof dev, "%04X", unsigned(d.deviceId));
        in.fwChip = fo.Str("chip", dev, 4);
        if (const json *m = fo.Get("mbi")) {
            ParseVersion(*m, fo.Path("mbi"), in.mbi, 3);
            in.hasMbi = true;
            if (r.size < 0x40000) Fail(fo.Path("mbi"), "the version block needs a region of at least 0x40000 bytes");
        }
        fo.Finish();
        if (r.size < 0x500) Fail(o.Path("firmware"), "region too small for a firmware image");
        in.kind = RegionInit::Firmware;
        kinds++;
    }
    if (const json *s = o.Get("status")) {
        Obj so(*s, o.Path("status"));
        in.hasStatus = true;
        in.statusMask = uint8_t(so.Num("mask", 0, 0, 255));
        in.statusGeneration = uint16_t(so.Num("generation", 0, 0, 0xFFFF));
        in.statusSignature = uint32_t(so.Num("signature", 0xFACEFADEu, 0, 0xFFFFFFFFu));
        in.statusBitmap = uint8_t(so.Num("bitmap", 0, 0, 255));
        so.Finish();
        if (r.size < 16) Fail(o.Path("status"), "region too small for a status record");
    }
    ParseDualBankContents(o, r);
    if (kinds > 1) Fail(path, "give only one of file, vpd, boot, firmware");
    if (r.whole && (kinds > 0 || HasGeneratedOverlay(in)))
        Fail(path, "region 0xFF is a view of the whole flash and has no contents of its own");
    o.Finish();
}

void ParseChip(const json &j, const std::string &path, Host &h, Card &card, int chipIndex, const Defaults &d, int &fn) {
    Obj o(j, path);
    auto chip = std::make_unique<Chip>();
    chip->dirName = card.name + "-" + std::to_string(chipIndex);
    if (const json *rs = o.Array("regions")) {
        uint64_t next = 0;
        for (size_t i = 0; i < rs->size(); ++i) {
            Region r;
            ParseRegion((*rs)[i], o.Path("regions") + "[" + std::to_string(i) + "]", r, d, h.dir);
            if (FindRegion(*chip, r.code))
                Fail(o.Path("regions") + "[" + std::to_string(i) + "].code", "region listed twice");
            if (!r.whole) {
                if (r.offset == UINT64_MAX) r.offset = next;
                next = r.offset + r.size;
            } else {
                r.offset = 0;
            }
            chip->regions.push_back(std::move(r));
        }
    }
    uint64_t end = 0;
    for (size_t a = 0; a < chip->regions.size(); ++a) {
        const Region &r = chip->regions[a];
        if (r.whole) continue;
        end = std::max(end, r.offset + r.size);
        for (size_t b = a + 1; b < chip->regions.size(); ++b) {
            const Region &q = chip->regions[b];
            if (!q.whole && r.offset < q.offset + q.size && q.offset < r.offset + r.size)
                Fail(o.Path("regions") + "[" + std::to_string(b) + "]", "region overlaps an earlier one in the flash");
        }
    }
    chip->flashSize = o.Num("flash_size", end, end, 0x40000000);
    for (Region &r : chip->regions)
        if (r.whole) {
            if (r.size == 0) r.size = uint32_t(chip->flashSize);
            if (r.size > chip->flashSize) Fail(o.Path("regions"), "region 0xFF is larger than the flash");
        }
    chip->partialWrites = o.Bool("partial_writes", false);
    std::string rm = o.Str("reset_disabled", "on_request", 16);
    if (rm == "on_request")
        chip->resetMode = Chip::OnRequest;
    else if (rm == "always")
        chip->resetMode = Chip::Always;
    else if (rm == "never")
        chip->resetMode = Chip::Never;
    else
        Fail(o.Path("reset_disabled"), "expected on_request, always or never");
    if (auto c = o.OptNum("update_caps", 0, 0xFFFFFFFFu)) chip->updateCaps = uint32_t(*c);
    if (const json *a = o.Get("active_regions")) {
        Obj ao(*a, o.Path("active_regions"));
        TVX_ACTIVE_REGIONS ar{};
        ar.ActiveGlobalRegions = uint8_t(ao.Num("global", 1, 0, 2));
        ar.ActiveBoardConfig = uint8_t(ao.Num("board_config", 1, 0, 2));
        ar.ActiveVpdNvram = uint8_t(ao.Num("vpd_nvram", 1, 0, 2));
        ar.ActiveNpivConfig01 = uint8_t(ao.Num("npiv01", 1, 0, 2));
        ar.ActiveNpivConfig23 = uint8_t(ao.Num("npiv23", 1, 0, 2));
        ao.Finish();
        chip->activeOverride = ar;
    }
    if (auto b = o.OptNum("boot_region", 1, 0xFFFF)) {
        if (!FindRegion(*chip, uint32_t(*b))) Fail(o.Path("boot_region"), "not a region of this chip");
        chip->bootRegion = uint32_t(*b);
    }
    if (auto b = o.OptNum("fw_region", 1, 0xFFFF)) {
        if (!FindRegion(*chip, uint32_t(*b))) Fail(o.Path("fw_region"), "not a region of this chip");
        chip->fwRegion = uint32_t(*b);
    }
    chip->sessionBusy = o.Bool("session_busy", false);
    if (const json *v = o.Get("vpd")) {
        Obj vo(*v, o.Path("vpd"));
        if (auto r = vo.OptNum("region", 1, 0xFFFF)) {
            if (!FindRegion(*chip, uint32_t(*r))) Fail(vo.Path("region"), "not a region of this chip");
            chip->vpdRegion = uint32_t(*r);
            if (vo.Has("id") || vo.Has("ro") || vo.Has("rw"))
                Fail(vo.Path("region"), "give a region or an inline VPD, not both");
        } else {
            std::string id;
            std::vector<std::pair<std::string, std::string>> ro, rw;
            ParseVpdSpec(vo, id, ro, rw, d);
            size_t size = size_t(vo.Num("size", 512, 16, 4096));
            chip->vpdInline = BuildVpd(id, ro, rw, 0);
            if (chip->vpdInline.size() > size) Fail(vo.Path("size"), "VPD does not fit");
            chip->vpdInline = BuildVpd(id, ro, rw, size);
        }
        vo.Finish();
    } else if (FindRegion(*chip, 0x14)) {
        chip->vpdRegion = 0x14;
    } else {
        chip->vpdInline = BuildVpd(d.model + " Fibre Channel Adapter",
                                   {{"PN", d.model}, {"EC", "A01"}, {"SN", d.serial}, {"MN", "1D7A"}}, {}, 512);
    }
    int bus = int(o.Num("bus", uint64_t(d.cardIndex + 1), 0, 0xFFFF));
    int slot = int(o.Num("slot", uint64_t(d.cardIndex & 15), 0, 15));
    const json *ports = o.Array("ports");
    if (!ports || ports->empty()) Fail(o.Path("ports"), "a chip needs at least one port");
    if (ports->size() > 4) Fail(o.Path("ports"), "at most 4 ports per chip");
    card.chips.push_back(std::move(chip));
    Chip *cp = card.chips.back().get();
    for (size_t i = 0; i < ports->size(); ++i) {
        Port p;
        p.cardName = card.name;
        p.cardIndex = d.cardIndex;
        p.chipIndex = chipIndex;
        p.portIndex = int(i);
        p.chip = cp;
        ParsePort((*ports)[i], o.Path("ports") + "[" + std::to_string(i) + "]", p, d, fn++, bus, slot, h.dir);
        h.ports.push_back(std::move(p));
    }
    o.Finish();
}

Fault ParseFault(const json &j, const std::string &path) {
    Obj o(j, path);
    Fault f;
    f.op = o.Str("op", "", 64);
    if (f.op.empty()) Fail(o.Path("op"), "missing");
    static const char *ops[] = {"write",
                                "read",
                                "open",
                                "any",
                                "TvxOpenDevice",
                                "TvxCloseDevice",
                                "TvxEnableAen",
                                "TvxDisableAen",
                                "TvxGetHbaDeviceChipProperty",
                                "TvxGetHbaDeviceDriverProperty",
                                "TvxGetHbaDeviceNodeProperty",
                                "TvxGetHbaDevicePortProperty",
                                "TvxGetStatistics",
                                "TvxGetBeaconControl",
                                "TvxGetNVRam",
                                "TvxGetVariableValue",
                                "TvxGetHbaSupportedFeatureList",
                                "TvxGetOptionRomLayout",
                                "TvxGetOptionRomEx",
                                "TvxUpdateOptionRomEx",
                                "TvxUpdateOptionRomEx2",
                                "TvxUpdateOptionRom",
                                "TvxGetOptionRomOffset",
                                "TvxGetActiveRegions",
                                "TvxGetVpd",
                                "TvxGetFlashUpdateCapabilities",
                                "TvxStartFlashUpdate",
                                "TvxSendFlashUpdateFWAttributes",
                                "TvxEndFlashUpdate",
                                "TvxOnlineActivateFlashUpdate",
                                "TvxGetDiscTargetProperty",
                                "TvxGetPortDatabase",
                                "ITvxFoGetTargetData",
                                "ITvxFoGetLunData",
                                "TvxSendScsiInquiryCmdFC",
                                "TvxSendScsiReportLunsCmdFC",
                                "TvxSendScsiReadCapacityCmdFC",
                                "TvxSendScsiPassThruFC",
                                "TvxGetVersion",
                                "TvxGetErrorString"};
    bool known = false;
    for (const char *k : ops)
        known = known || f.op == k;
    if (!known) Fail(o.Path("op"), "unknown operation \"" + f.op + "\"");
    if (auto i = o.OptNum("instance", 0, 255)) f.instance = int(*i);
    if (auto r = o.OptNum("region", 0, 0xFFFF)) f.region = uint32_t(*r);
    f.skip = uint32_t(o.Num("skip", 0, 0, 0xFFFFFFFFu));
    if (const json *s = o.Array("statuses"))
        for (size_t i = 0; i < s->size(); ++i)
            f.statuses.push_back(StatusValue((*s)[i], o.Path("statuses") + "[" + std::to_string(i) + "]"));
    if (const json *t = o.Get("then")) f.then = StatusValue(*t, o.Path("then"));
    o.Finish();
    return f;
}

void ParseFaultList(Obj &o, Host &h) {
    if (const json *fl = o.Array("faults"))
        for (size_t i = 0; i < fl->size(); ++i)
            h.faults.push_back(ParseFault((*fl)[i], o.Path("faults") + "[" + std::to_string(i) + "]"));
    if (auto pc = o.OptNum("power_cut_after_writes", 1, UINT32_MAX)) h.powerCutAfter = *pc;
    if (auto in = o.OptNum("interrupt_after_writes", 1, UINT32_MAX)) h.interruptAfter = *in;
    if (o.Get("interrupt_event") != nullptr) {
        const std::string event = o.Str("interrupt_event", "", 16);
        if (event != "ctrl_c" && event != "ctrl_break")
            Fail(o.Path("interrupt_event"), "expected ctrl_c or ctrl_break");
        h.interruptBreak = event == "ctrl_break";
    }
}

json ReadJson(const fs::path &file) {
    File in = OpenFile(file, "rb");
    if (!in) throw LoadError("cannot open the file");
    FileReader bytes(in.get());
    try {
        return json::parse(bytes.begin(), bytes.end());
    } catch (const json::parse_error &e) {
        throw LoadError(std::string("not valid JSON: ") + e.what());
    }
}

// One card of the host file and its chips and ports.
void ParseCard(const json &j, size_t ci, Host &h, std::set<std::string> &names) {
    std::string cp = "cards[" + std::to_string(ci) + "]";
    Obj co(j, cp);
    auto card = std::make_unique<Card>();
    card->name = co.Str("name", "card" + std::to_string(ci), 64);
    for (char c : card->name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.')
            Fail(co.Path("name"), "letters, digits, '_' and '.' only (it names a state folder)");
    if (!names.insert(card->name).second) Fail(co.Path("name"), "two cards with the same name");
    Defaults d;
    d.cardIndex = int(ci);
    d.deviceId = uint16_t(co.Num("device_id", 0x2532, 0, 0xFFFF));
    d.ssvid = uint16_t(co.Num("subsys_vendor", 0x1D7A, 0, 0xFFFF));
    d.ssdid = uint16_t(co.Num("subsys_device", 0x0301, 0, 0xFFFF));
    char model[32];
    std::snprintf(model, sizeof model, "CXR%04X", unsigned(d.deviceId));
    d.model = co.Str("model", model, 31);
    char serial[32];
    std::snprintf(serial, sizeof serial, "SIM%02zu%05u", ci, unsigned(d.deviceId));
    d.serial = co.Str("serial", serial, 31);
    const json *chips = co.Array("chips");
    if (!chips || chips->empty() || chips->size() > 2) Fail(co.Path("chips"), "a card has one or two chips");
    int fn = 0;
    h.cards.push_back(std::move(card));
    Card &cr = *h.cards.back();
    for (size_t k = 0; k < chips->size(); ++k)
        ParseChip((*chips)[k], co.Path("chips") + "[" + std::to_string(k) + "]", h, cr, int(k), d, fn);
    co.Finish();
}

// Reads the host file as the parser meets its values: everything but the
// elements of the top-level "cards" list is kept as JSON values; each card
// goes to the card parser as soon as it is complete and is dropped, so at
// most one card's tree is held however large the host. A card's failure is
// kept until the whole file has parsed and the fields read before "cards"
// have been checked, so the message is the one a check of the whole file in
// field order gives.
class HostReader {
  public:
    explicit HostReader(Host &h) : h_(h) {}

    json root;
    std::string parseError;   // the parser's message
    bool syntaxError = false; // the parser's message is a syntax error
    bool cardFailed = false;
    std::string cardError; // the first failing card's message

    bool null() { return Put(json(nullptr)); }
    bool boolean(bool v) { return Put(json(v)); }
    bool number_integer(json::number_integer_t v) { return Put(json(v)); }
    bool number_unsigned(json::number_unsigned_t v) { return Put(json(v)); }
    bool number_float(json::number_float_t v, const std::string &) { return Put(json(v)); }
    bool string(std::string &v) { return Put(json(std::move(v))); }
    bool binary(json::binary_t &v) { return Put(json::binary(std::move(v))); }
    bool start_object(std::size_t) { return Open(json::object()); }
    bool end_object() { return Close(); }
    bool key(std::string &k) {
        key_ = std::move(k);
        // A repeated "cards" replaces the earlier one, as its value would.
        if (stack_.size() == 1 && root.is_object() && key_ == "cards") ResetCards();
        return true;
    }
    bool start_array(std::size_t) {
        const bool cards = stack_.size() == 1 && root.is_object() && key_ == "cards";
        Open(json::array());
        if (cards) cards_ = stack_.back();
        return true;
    }
    bool end_array() {
        if (stack_.back() == cards_) cards_ = nullptr;
        return Close();
    }
    template <class Exception> bool parse_error(std::size_t, const std::string &, const Exception &ex) {
        parseError = ex.what();
        syntaxError = std::is_same_v<Exception, json::parse_error>;
        return false;
    }

  private:
    json *Insert(json &&v) {
        if (stack_.empty()) {
            root = std::move(v);
            return &root;
        }
        json &top = *stack_.back();
        if (top.is_array()) {
            top.push_back(std::move(v));
            return &top.back();
        }
        json &slot = top[key_];
        slot = std::move(v);
        return &slot;
    }
    bool Put(json &&v) {
        Insert(std::move(v));
        Ended();
        return true;
    }
    bool Open(json &&v) {
        stack_.push_back(Insert(std::move(v)));
        return true;
    }
    bool Close() {
        stack_.pop_back();
        Ended();
        return true;
    }
    // A value has ended: when it is an element of the cards list, the card
    // is read and dropped.
    void Ended() {
        if (cards_ == nullptr || stack_.empty() || stack_.back() != cards_) return;
        if (!cardFailed) {
            try {
                ParseCard(cards_->back(), cardIndex_, h_, names_);
            } catch (const std::exception &e) {
                cardFailed = true;
                cardError = e.what();
            }
        }
        cardIndex_++;
        cards_->get_ref<json::array_t &>().pop_back();
    }
    void ResetCards() {
        h_.cards.clear();
        h_.ports.clear();
        names_.clear();
        cardIndex_ = 0;
        cardFailed = false;
        cardError.clear();
    }

    Host &h_;
    std::vector<json *> stack_; // the open objects and lists
    std::string key_;           // key of the next value of the innermost object
    json *cards_ = nullptr;     // the top-level cards list while it is read
    size_t cardIndex_ = 0;
    std::set<std::string> names_;
};

} // namespace

std::unique_ptr<Host> LoadHost(const fs::path &file, std::string &error) {
    auto h = std::make_unique<Host>();
    fs::path current = file;
    try {
        std::error_code ec;
        h->file = fs::absolute(file, ec);
        h->dir = h->file.parent_path();
        HostReader reader(*h);
        {
            File in = OpenFile(file, "rb");
            if (!in) throw LoadError("cannot open the file");
            FileReader bytes(in.get());
            if (!json::sax_parse(bytes.begin(), bytes.end(), &reader)) {
                if (reader.syntaxError) throw LoadError("not valid JSON: " + reader.parseError);
                throw std::runtime_error(reader.parseError);
            }
        }
        Obj o(reader.root, "");
        h->version = o.Str("version", h->version, 63);
        h->stateDir = h->dir / o.Str("state_dir", "state", 255);
        std::string journal = o.Str("journal", "journal.jsonl", 255);
        if (journal == "off")
            h->journal.clear(); // no journal, as with TORVEX_SIM_JOURNAL=off
        else
            h->journal = h->dir / journal;
        h->journalAll = o.Bool("journal_all", false);
        h->readOnly = o.Bool("read_only", false);
        ParseFaultList(o, *h);
        // The cards were read as the file was parsed.
        if (o.Array("cards") && reader.cardFailed) throw LoadError(reader.cardError);
        if (h->ports.size() > 256) Fail("cards", "at most 256 ports");
        o.Finish();
        // A separate fault file named by the environment adds its faults.
        if (const char *ff = std::getenv("TORVEX_SIM_FAULTS"); ff && *ff) {
            current = ff;
            json fj = ReadJson(current);
            Obj fo(fj, "");
            ParseFaultList(fo, *h);
            fo.Finish();
        }
    } catch (const LoadError &e) {
        error = current.string() + ": " + e.what();
        return nullptr;
    } catch (const std::exception &e) {
        error = current.string() + ": " + e.what();
        return nullptr;
    }
    return h;
}

} // namespace tsim
