// Host description loader: a JSON file naming cards, chips, ports, flash
// regions, targets and faults. Every field is checked; an unknown field, a
// wrong type or an out-of-range value gives one message naming the file and
// the field, and no host.
#include "sim_model.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>

namespace tsim {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

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

// Reads the fields of one JSON object; Finish() rejects any field not asked for.
class Obj {
  public:
    Obj(const json &j, std::string path) : j_(j), path_(std::move(path)) {
        if (!j.is_object()) Fail(path_.empty() ? "(top)" : path_, "expected an object");
    }
    std::string Path(const std::string &k) const { return path_.empty() ? k : path_ + "." + k; }
    const json *Get(const std::string &k) {
        used_.insert(k);
        auto it = j_.find(k);
        if (it == j_.end() || it->is_null()) return nullptr;
        return &*it;
    }
    bool Has(const std::string &k) const { return j_.contains(k) && !j_.at(k).is_null(); }
    uint64_t Num(const std::string &k, uint64_t def, uint64_t lo, uint64_t hi) {
        const json *v = Get(k);
        return v ? ToNumber(*v, Path(k), lo, hi) : def;
    }
    std::optional<uint64_t> OptNum(const std::string &k, uint64_t lo, uint64_t hi) {
        const json *v = Get(k);
        if (!v) return std::nullopt;
        return ToNumber(*v, Path(k), lo, hi);
    }
    bool Bool(const std::string &k, bool def) {
        const json *v = Get(k);
        if (!v) return def;
        if (!v->is_boolean()) Fail(Path(k), "expected true or false");
        return v->get<bool>();
    }
    std::string Str(const std::string &k, const std::string &def, size_t maxLen) {
        const json *v = Get(k);
        if (!v) return def;
        if (!v->is_string()) Fail(Path(k), "expected a text");
        std::string s = v->get<std::string>();
        if (s.size() > maxLen) Fail(Path(k), "text longer than " + std::to_string(maxLen) + " characters");
        return s;
    }
    Bytes Hex(const std::string &k, const Bytes &def, size_t minLen, size_t maxLen) {
        const json *v = Get(k);
        return v ? ToBytes(*v, Path(k), minLen, maxLen) : def;
    }
    const json *Array(const std::string &k) {
        const json *v = Get(k);
        if (v && !v->is_array()) Fail(Path(k), "expected a list");
        return v;
    }
    void Finish() const {
        for (auto it = j_.begin(); it != j_.end(); ++it)
            if (!used_.count(it.key())) Fail(Path(it.key()), "unknown field");
    }

  private:
    // Held by value: callers often pass a temporary (an absent sub-object read as {}).
    json j_;
    std::string path_;
    std::set<std::string> used_;
};

void CopyText(char *dst, size_t cap, const std::string &s) {
    size_t n = std::min(cap - 1, s.size());
    std::memcpy(dst, s.data(), n);
    dst[n] = 0;
}

void CopyWwn(uint8_t *dst, const Bytes &b) { std::memcpy(dst, b.data(), 8); }

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

uint32_t StatusValue(const json &j, const std::string &path) { return uint32_t(ToNumber(j, path, 0, 0xFFFFFFFFu)); }

ScsiAnswer ParseAnswer(const json &j, const std::string &path) {
    ScsiAnswer a;
    if (j.is_string()) {
        static const struct {
            const char *name;
            uint32_t status;
            uint8_t k, asc, q;
        } names[] = {
            {"ready", 0, 0, 0, 0},
            {"ok", 0, 0, 0, 0},
            {"not_ready", TVX_ERR_TARGET_NOT_READY, 0, 0, 0},
            {"busy", TVX_ERR_BUSY, 0, 0, 0},
            {"timeout", TVX_ERR_SCSI_TIMEOUT, 0, 0, 0},
            {"transport", TVX_ERR_SCSI_TRANSPORT, 0, 0, 0},
            {"reservation", TVX_ERR_RESERVATION, 0, 0, 0},
            {"unit_attention", TVX_ERR_CHECK_CONDITION, 6, 0x29, 0},
            {"becoming_ready", TVX_ERR_CHECK_CONDITION, 2, 4, 1},
            {"access_denied", TVX_ERR_CHECK_CONDITION, 2, 0x20, 0},
            {"not_configured", TVX_ERR_CHECK_CONDITION, 2, 0x68, 0},
            {"no_media", TVX_ERR_CHECK_CONDITION, 2, 0x3A, 0},
            {"lun_not_supported", TVX_ERR_CHECK_CONDITION, 5, 0x25, 0},
            {"medium_error", TVX_ERR_CHECK_CONDITION, 3, 0x11, 0},
        };
        for (auto &n : names)
            if (j.get_ref<const std::string &>() == n.name) {
                a.status = n.status;
                a.key = n.k;
                a.asc = n.asc;
                a.ascq = n.q;
                return a;
            }
        a.status = StatusValue(j, path);
        return a;
    }
    Obj o(j, path);
    a.status = uint32_t(o.Num("status", TVX_ERR_CHECK_CONDITION, 0, 0xFFFFFFFFu));
    if (const json *s = o.Array("sense")) {
        if (s->size() != 3) Fail(o.Path("sense"), "expected [key, asc, ascq]");
        a.key = uint8_t(ToNumber((*s)[0], o.Path("sense[0]"), 0, 15));
        a.asc = uint8_t(ToNumber((*s)[1], o.Path("sense[1]"), 0, 255));
        a.ascq = uint8_t(ToNumber((*s)[2], o.Path("sense[2]"), 0, 255));
    }
    o.Finish();
    return a;
}

std::vector<ScsiAnswer> ParseAnswers(const json *j, const std::string &path) {
    std::vector<ScsiAnswer> v;
    if (!j) return v;
    for (size_t i = 0; i < j->size(); ++i)
        v.push_back(ParseAnswer((*j)[i], path + "[" + std::to_string(i) + "]"));
    return v;
}

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

struct Defaults { // card-wide values the chips and ports start from
    std::string model, serial;
    uint16_t deviceId = 0x2532, ssvid = 0x1D7A, ssdid = 0x0301;
    int cardIndex = 0;
};

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

void ParseNvram(const json *j, const std::string &path, uint8_t *nv, const fs::path &hostDir) {
    if (!j) return;
    Obj o(*j, path);
    if (const json *f = o.Get("file")) {
        if (!f->is_string()) Fail(o.Path("file"), "expected a file name");
        fs::path p = f->get<std::string>();
        if (!p.is_absolute()) p = hostDir / p;
        std::ifstream in(p, std::ios::binary);
        if (!in) Fail(o.Path("file"), "cannot read " + p.string());
        in.read(reinterpret_cast<char *>(nv), TVX_NVRAM_SIZE);
    }
    if (const json *b = o.Get("bytes")) {
        if (!b->is_object()) Fail(o.Path("bytes"), "expected an object of offset: hex bytes");
        for (auto it = b->begin(); it != b->end(); ++it) {
            std::string p = o.Path("bytes") + "." + it.key();
            uint64_t off = ToNumber(json(it.key()), p, 0, TVX_NVRAM_SIZE - 1);
            Bytes v = ToBytes(*it, p, 1, TVX_NVRAM_SIZE);
            if (off + v.size() > TVX_NVRAM_SIZE) Fail(p, "bytes run past the 512-byte image");
            std::memcpy(nv + off, v.data(), v.size());
        }
    }
    if (const json *pm = o.Get("params")) {
        if (!pm->is_object()) Fail(o.Path("params"), "expected an object of parameter: value");
        for (auto it = pm->begin(); it != pm->end(); ++it) {
            std::string p = o.Path("params") + "." + it.key();
            uint64_t n = ToNumber(json(it.key()), p, 1, 255);
            if (n == TVX_NVRAM_PARAM_SSVID || n == TVX_NVRAM_PARAM_SSDID) {
                uint64_t v = ToNumber(*it, p, 0, 0xFFFF);
                size_t off = n == TVX_NVRAM_PARAM_SSVID ? 0x0C : 0x0E;
                nv[off] = uint8_t(v);
                nv[off + 1] = uint8_t(v >> 8);
            } else if (it->is_string() && it->get<std::string>().find(':') != std::string::npos) {
                Bytes v = ToBytes(*it, p, 1, 32); // consecutive parameters from n on
                for (size_t i = 0; i < v.size(); ++i) {
                    size_t q = n + i;
                    if (q > 255 || q == 127 || q == 128) Fail(p, "byte run crosses parameter 127/128 or 255");
                    nv[0x100 + q] = v[i];
                }
            } else {
                nv[0x100 + n] = uint8_t(ToNumber(*it, p, 0, 255));
            }
        }
    }
    o.Finish();
}

PortDbEntry ParseDbEntry(const json &j, const std::string &path) {
    Obj o(j, path);
    PortDbEntry e;
    CopyWwn(e.nodeWwn, o.Hex("node_wwn", Bytes(8, 0), 8, 8));
    CopyWwn(e.portWwn, o.Hex("port_wwn", Bytes(8, 0), 8, 8));
    Bytes pid = o.Hex("port_id", Bytes(3, 0), 3, 3);
    std::memcpy(e.portId, pid.data(), 3);
    e.word1 = uint16_t(o.Num("word1", 0, 0, 0xFFFF));
    e.word2 = uint16_t(o.Num("word2", 0, 0, 0xFFFF));
    e.marker = uint8_t(o.Num("marker", 0, 0, 255));
    o.Finish();
    return e;
}

void ParseTarget(const json &j, const std::string &path, Target &t, int index) {
    Obj o(j, path);
    Bytes defPort = {0x50, 0x06, 0x0B, 0x00, 0x00, 0x00, 0x10, uint8_t(index)};
    Bytes defNode = defPort;
    defNode[0] = 0x50;
    defNode[6] = 0x00;
    CopyWwn(t.portWwn, o.Hex("port_wwn", defPort, 8, 8));
    CopyWwn(t.nodeWwn, o.Hex("node_wwn", defNode, 8, 8));
    Bytes pid = o.Hex("port_id", Bytes{0x01, 0x00, uint8_t(0xE0 + index)}, 3, 3);
    std::memcpy(t.portId, pid.data(), 3);
    t.word1 = uint16_t(o.Num("word1", uint64_t(index), 0, 0xFFFF));
    t.word2 = uint16_t(o.Num("word2", 0, 0, 0xFFFF));
    t.marker = uint8_t(o.Num("marker", 0, 0, 255));
    t.discovered = o.Bool("discovered", true);
    t.reportLuns = ParseAnswers(o.Array("report_luns"), o.Path("report_luns"));
    const json *luns = o.Array("luns");
    if (luns) {
        for (size_t i = 0; i < luns->size(); ++i) {
            std::string lp = o.Path("luns") + "[" + std::to_string(i) + "]";
            Obj lo((*luns)[i], lp);
            Lun l;
            l.number = uint16_t(lo.Num("lun", i, 0, 0x3FFF));
            l.tur = ParseAnswers(lo.Array("tur"), lo.Path("tur"));
            if (const json *tt = lo.Get("tur_then")) l.turThen = ParseAnswer(*tt, lo.Path("tur_then"));
            l.reserved = lo.Bool("reserved", false);
            uint8_t type = uint8_t(lo.Num("type", 0, 0, 0x1F));
            uint8_t qual = uint8_t(lo.Num("qualifier", 0, 0, 7));
            std::string vendor = lo.Str("vendor", "SIMSTOR", 8), product = lo.Str("product", "VDISK", 16),
                        rev = lo.Str("revision", "0001", 4);
            l.inquiry.assign(36, ' ');
            l.inquiry[0] = uint8_t((qual << 5) | type);
            l.inquiry[1] = 0;
            l.inquiry[2] = 5;
            l.inquiry[3] = 2;
            l.inquiry[4] = 31;
            l.inquiry[5] = l.inquiry[6] = l.inquiry[7] = 0;
            std::memcpy(l.inquiry.data() + 8, vendor.data(), vendor.size());
            std::memcpy(l.inquiry.data() + 16, product.data(), product.size());
            std::memcpy(l.inquiry.data() + 32, rev.data(), rev.size());
            if (const json *ih = lo.Get("inquiry_hex")) l.inquiry = ToBytes(*ih, lo.Path("inquiry_hex"), 36, 36);
            l.inquiryStatus = uint32_t(lo.Num("inquiry_status", 0, 0, 0xFFFFFFFFu));
            Bytes defId = {
                0x60, 0x01, 0xD7, 0xA0, t.portWwn[6], t.portWwn[7], uint8_t(l.number >> 8), uint8_t(l.number)};
            l.deviceId = lo.Hex("naa", defId, 8, 16);
            l.blocks = lo.Num("blocks", 0x200000, 0, UINT64_MAX);
            l.blockSize = uint32_t(lo.Num("block_size", 512, 1, 0x100000));
            l.capacity = ParseAnswers(lo.Array("capacity"), lo.Path("capacity"));
            lo.Finish();
            t.luns.push_back(std::move(l));
        }
    } else {
        t.luns.push_back(Lun{});
        Lun &l = t.luns.back();
        l.inquiry.assign(36, ' ');
        l.inquiry[0] = 0;
        l.inquiry[1] = 0;
        l.inquiry[2] = 5;
        l.inquiry[3] = 2;
        l.inquiry[4] = 31;
        l.inquiry[5] = l.inquiry[6] = l.inquiry[7] = 0;
        std::memcpy(l.inquiry.data() + 8, "SIMSTOR ", 8);
        std::memcpy(l.inquiry.data() + 16, "VDISK           ", 16);
        std::memcpy(l.inquiry.data() + 32, "0001", 4);
        l.deviceId = {0x60, 0x01, 0xD7, 0xA0, t.portWwn[6], t.portWwn[7], 0, 0};
        l.blocks = 0x200000;
    }
    o.Finish();
}

void ParsePort(const json &j, const std::string &path, Port &p, const Defaults &d, int fn, int bus, int slot,
               const fs::path &hostDir) {
    Obj o(j, path);
    std::string open = o.Str("open", "ready", 16);
    if (open == "ready")
        p.openMode = Port::Ready;
    else if (open == "not_ready")
        p.openMode = Port::NotReady;
    else if (open == "fail")
        p.openMode = Port::Fail;
    else if (open == "unsupported") {
        p.openMode = Port::NotReady;
        p.notReadyLeft = INT32_MAX;
    } else
        Fail(o.Path("open"), "expected ready, not_ready, unsupported or fail");
    if (p.openMode == Port::NotReady && open == "not_ready")
        p.notReadyLeft = int(o.Num("not_ready_count", 1, 0, INT32_MAX));
    else if (o.Has("not_ready_count"))
        Fail(o.Path("not_ready_count"), "only with open: not_ready");
    else
        o.Get("not_ready_count");
    p.openFailStatus = uint32_t(o.Num("open_status", TVX_ERR_GENERAL, 1, 0xFFFFFFFFu));

    uint8_t c = uint8_t(d.cardIndex), ch = uint8_t(p.chipIndex), pi = uint8_t(p.portIndex);
    Bytes defPort = {0x21, 0x00, 0x00, 0x1D, 0x7A, c, ch, pi};
    Bytes defNode = {0x20, 0x00, 0x00, 0x1D, 0x7A, c, ch, pi};

    // PCI identity
    {
        Obj q(o.Get("pci") ? *o.Get("pci") : json::object(), o.Path("pci"));
        TVX_CHIP_PROPERTY &cp = p.chipProp;
        cp.PciVendorId = uint16_t(q.Num("vendor_id", 0x1D7A, 0, 0xFFFF));
        cp.PciDeviceId = uint16_t(q.Num("device_id", d.deviceId, 0, 0xFFFF));
        cp.SubsysVendorId = uint16_t(q.Num("subsys_vendor", d.ssvid, 0, 0xFFFF));
        cp.SubsysDeviceId = uint16_t(q.Num("subsys_device", d.ssdid, 0, 0xFFFF));
        cp.PciBusNumber = uint16_t(q.Num("bus", uint64_t(bus), 0, 0xFFFF));
        cp.PciSlotNumber = uint16_t(q.Num("slot", uint64_t((slot & 15) | ((fn & 7) << 5)), 0, 0xFFFF));
        cp.ChipType = uint16_t(q.Num("chip_type", 0x54, 0, 0xFFFF));
        cp.ApiPortNumber = uint8_t(q.Num("api_port", 0, 0, 255));
        cp.PcieLinkCap = uint16_t(q.Num("link_cap", 0x82, 0, 0xFFFF));
        cp.PcieLinkStat = uint16_t(q.Num("link_stat", 0x82, 0, 0xFFFF));
        q.Finish();
    }
    std::string drv;
    {
        Obj q(o.Get("driver") ? *o.Get("driver") : json::object(), o.Path("driver"));
        TVX_DRIVER_PROPERTY &dp = p.driverProp;
        drv = q.Str("version", "9.2.3.20", 31);
        CopyText(dp.DriverVersion, sizeof dp.DriverVersion, drv);
        dp.LunsPerTarget = uint16_t(q.Num("luns_per_target", 256, 0, 0xFFFF));
        dp.NumberOfBuses = uint16_t(q.Num("buses", 1, 0, 0xFFFF));
        CopyText(dp.OsName, sizeof dp.OsName, q.Str("os", "Windows Server 2019", 63));
        q.Finish();
    }
    {
        Obj q(o.Get("node") ? *o.Get("node") : json::object(), o.Path("node"));
        TVX_NODE_PROPERTY &np = p.nodeProp;
        CopyWwn(np.NodeWWN, q.Hex("wwn", defNode, 8, 8));
        CopyText(np.Model, sizeof np.Model, q.Str("model", d.model, 31));
        unsigned n = 100000u + unsigned(d.cardIndex) * 10u + 1u;
        Bytes defSer = {uint8_t(n >> 16), uint8_t(n & 0xFF), uint8_t((n >> 8) & 0xFF)};
        Bytes ser = q.Hex("serial_bytes", defSer, 3, 3);
        std::memcpy(np.SerialNum, ser.data(), 3);
        CopyText(np.DriverVersion, sizeof np.DriverVersion, q.Str("driver_version", drv, 31));
        if (const json *x = q.Get("firmware_version")) {
            if (!x->is_string() || x->get<std::string>().size() > 23)
                Fail(q.Path("firmware_version"), "expected a text of at most 23 characters");
            CopyText(np.FirmwareVersion, sizeof np.FirmwareVersion, x->get<std::string>());
            p.autoRunningFw = false;
            p.runningFwFixed = true;
        }
        if (const json *x = q.Get("optrom_version")) {
            if (!x->is_string() || x->get<std::string>().size() > 39)
                Fail(q.Path("optrom_version"), "expected a text of at most 39 characters");
            CopyText(np.OptRomVersion, sizeof np.OptRomVersion, x->get<std::string>());
            p.autoOptRom = false;
        }
        if (auto f = q.OptNum("flash_flags", 0, 0xFFFFFFFFu)) {
            np.FlashImageFlags = uint32_t(*f);
            p.autoFlags = false;
        }
        if (const json *x = q.Get("flash_fw")) {
            ParseVersion(*x, q.Path("flash_fw"), np.FlashFwVersion, 3);
            p.autoFw = false;
        }
        if (const json *x = q.Get("flash_efi")) {
            ParseVersion(*x, q.Path("flash_efi"), np.FlashEfiVersion, 2);
            p.autoEfi = false;
        }
        if (const json *x = q.Get("flash_fcode")) {
            ParseVersion(*x, q.Path("flash_fcode"), np.FlashFcodeVersion, 3);
            p.autoFcode = false;
        }
        if (const json *x = q.Get("running_mpi")) ParseVersion(*x, q.Path("running_mpi"), np.RunningMpiVersion, 3);
        if (const json *x = q.Get("running_pep")) ParseVersion(*x, q.Path("running_pep"), np.RunningPepVersion, 3);
        if (const json *x = q.Get("flash_mpi")) {
            ParseVersion(*x, q.Path("flash_mpi"), np.FlashMpiVersion, 3);
            if (p.autoFlags) np.FlashImageFlags |= TVX_FLASH_IMAGE_MPI;
        }
        if (const json *x = q.Get("flash_pep")) {
            ParseVersion(*x, q.Path("flash_pep"), np.FlashPepVersion, 3);
            if (p.autoFlags) np.FlashImageFlags |= TVX_FLASH_IMAGE_PEP;
        }
        np.VirtualPortId = uint16_t(q.Num("vport_id", 0, 0, 0xFFFF));
        np.InterfaceKind = uint16_t(q.Num("interface", TVX_INTERFACE_PHYSICAL, 0, 0xFFFF));
        q.Finish();
    }
    {
        Obj q(o.Get("port") ? *o.Get("port") : json::object(), o.Path("port"));
        TVX_PORT_PROPERTY &pp = p.portProp;
        CopyWwn(pp.PortWWN, q.Hex("wwn", defPort, 8, 8));
        Bytes pid = q.Hex("port_id", Bytes{0x01, uint8_t(0x10 + c), uint8_t(ch * 4 + pi)}, 3, 3);
        std::memcpy(pp.PortId, pid.data(), 3);
        pp.PortSpeed = uint32_t(q.Num("speed", 8, 0, 0xFFFFFFFFu));
        pp.PortState = uint16_t(q.Num("state", TVX_PORT_STATE_UP, 0, 0xFFFF));
        pp.ConnectionMode = uint16_t(q.Num("mode", 1, 0, 0xFFFF));
        pp.LinkState2 = uint16_t(q.Num("link_state2", 0, 0, 0xFFFF));
        pp.LinkState3 = uint16_t(q.Num("link_state3", 0, 0, 0xFFFF));
        pp.LinkState6 = uint16_t(q.Num("link_state6", 0, 0, 0xFFFF));
        if (auto tc = q.OptNum("target_count", 0, 0xFFFF)) {
            pp.DiscoveredTargetCount = uint16_t(*tc);
            p.autoTargetCount = false;
        }
        q.Finish();
    }
    // beacon: absent reads 0; null means the port has no beacon control.
    if (const json *b = o.Get("beacon"))
        p.beacon = uint32_t(ToNumber(*b, o.Path("beacon"), 0, 0xFFFFFFFFu));
    else if (!j.contains("beacon"))
        p.beacon = 0;
    if (const json *s = o.Array("statistics")) {
        if (s->size() > 16) Fail(o.Path("statistics"), "at most 16 counters");
        for (size_t i = 0; i < s->size(); ++i)
            p.stats.Counters[i] =
                ToNumber((*s)[i], o.Path("statistics") + "[" + std::to_string(i) + "]", 0, UINT64_MAX);
    }
    p.aenSupported = o.Bool("aen", true);

    // NVRAM images: signature, subsystem IDs, ENode MAC, then the host's values.
    for (int k = 0; k < 2; ++k) {
        uint8_t *nv = p.nvram[k];
        std::memcpy(nv, "ISP ", 4);
        nv[4] = 1;
    }
    uint8_t *nv1 = p.nvram[0];
    nv1[0x0C] = uint8_t(p.chipProp.SubsysVendorId);
    nv1[0x0D] = uint8_t(p.chipProp.SubsysVendorId >> 8);
    nv1[0x0E] = uint8_t(p.chipProp.SubsysDeviceId);
    nv1[0x0F] = uint8_t(p.chipProp.SubsysDeviceId >> 8);
    uint8_t mac[6] = {0x00, 0x1D, 0x7A, p.portProp.PortWWN[5], p.portProp.PortWWN[6], p.portProp.PortWWN[7]};
    std::memcpy(nv1 + 64, mac, 6);
    ParseNvram(o.Get("nvram1"), o.Path("nvram1"), p.nvram[0], hostDir);
    ParseNvram(o.Get("nvram2"), o.Path("nvram2"), p.nvram[1], hostDir);

    if (const json *f = o.Array("features")) {
        for (size_t i = 0; i < f->size(); ++i) {
            Obj fo((*f)[i], o.Path("features") + "[" + std::to_string(i) + "]");
            TVX_FEATURE_ENTRY e{};
            e.Kind = uint32_t(fo.Num("kind", 0, 0, 0xFFFFFFFFu));
            e.Value = uint32_t(fo.Num("value", 0, 0, 0xFFFFFFFFu));
            CopyText(e.Name, sizeof e.Name, fo.Str("name", "", 79));
            fo.Finish();
            p.features.push_back(e);
        }
    } else {
        TVX_FEATURE_ENTRY a{}, b{};
        a.Kind = 1;
        a.Value = 1;
        CopyText(a.Name, sizeof a.Name, "NPIV");
        b.Kind = 4;
        b.Value = 0;
        CopyText(b.Name, sizeof b.Name, "Failover");
        p.features = {a, b};
    }
    if (const json *t = o.Array("targets")) {
        for (size_t i = 0; i < t->size(); ++i) {
            Target tg;
            ParseTarget((*t)[i], o.Path("targets") + "[" + std::to_string(i) + "]", tg, int(i));
            p.targets.push_back(std::move(tg));
        }
    }
    if (const json *db = o.Get("port_db")) {
        Obj dbo(*db, o.Path("port_db"));
        for (const char *mode : {"7", "8", "16"}) {
            if (const json *l = dbo.Array(mode)) {
                auto &v = p.portDb[uint32_t(std::stoul(mode))];
                for (size_t i = 0; i < l->size(); ++i)
                    v.push_back(ParseDbEntry((*l)[i], dbo.Path(mode) + "[" + std::to_string(i) + "]"));
                if (std::string(mode) == "7") p.portDbFromTargets = false;
            }
        }
        dbo.Finish();
    }
    if (const json *ft = o.Array("fo_targets")) {
        for (size_t i = 0; i < ft->size(); ++i) {
            Obj fo((*ft)[i], o.Path("fo_targets") + "[" + std::to_string(i) + "]");
            TVX_FO_TARGET_DATA r{};
            CopyWwn(r.NodeWWN, fo.Hex("node_wwn", Bytes(8, 0), 8, 8));
            CopyWwn(r.PortWWN, fo.Hex("port_wwn", Bytes(8, 0), 8, 8));
            Bytes pid = fo.Hex("port_id", Bytes(3, 0), 3, 3);
            std::memcpy(r.PortId, pid.data(), 3);
            r.TargetId = uint16_t(fo.Num("target_id", i, 0, 0xFFFF));
            r.Flags = uint16_t(fo.Num("flags", 0, 0, 0xFFFF));
            fo.Finish();
            p.foTargets.push_back(r);
        }
    }
    if (const json *fl = o.Array("fo_luns")) {
        for (size_t i = 0; i < fl->size(); ++i) {
            Obj fo((*fl)[i], o.Path("fo_luns") + "[" + std::to_string(i) + "]");
            TVX_FO_LUN_DATA r{};
            CopyWwn(r.PortWWN, fo.Hex("port_wwn", Bytes(8, 0), 8, 8));
            r.Lun = uint16_t(fo.Num("lun", 0, 0, 0xFFFF));
            r.Flags = uint16_t(fo.Num("flags", 0, 0, 0xFFFF));
            fo.Finish();
            p.foLuns.push_back(r);
        }
    }
    if (p.autoTargetCount) {
        uint16_t n = 0;
        for (const Target &t : p.targets)
            n = uint16_t(n + (t.discovered ? 1 : 0));
        p.portProp.DiscoveredTargetCount = n;
    }
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
    std::ifstream in(file, std::ios::binary);
    if (!in) throw LoadError("cannot open the file");
    try {
        return json::parse(in);
    } catch (const json::parse_error &e) {
        throw LoadError(std::string("not valid JSON: ") + e.what());
    }
}

} // namespace

std::unique_ptr<Host> LoadHost(const fs::path &file, std::string &error) {
    auto h = std::make_unique<Host>();
    fs::path current = file;
    try {
        std::error_code ec;
        h->file = fs::absolute(file, ec);
        h->dir = h->file.parent_path();
        json j = ReadJson(file);
        Obj o(j, "");
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
        if (const json *cards = o.Array("cards")) {
            std::set<std::string> names;
            for (size_t ci = 0; ci < cards->size(); ++ci) {
                std::string cp = "cards[" + std::to_string(ci) + "]";
                Obj co((*cards)[ci], cp);
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
                if (!chips || chips->empty() || chips->size() > 2)
                    Fail(co.Path("chips"), "a card has one or two chips");
                int fn = 0;
                h->cards.push_back(std::move(card));
                Card &cr = *h->cards.back();
                for (size_t k = 0; k < chips->size(); ++k)
                    ParseChip((*chips)[k], co.Path("chips") + "[" + std::to_string(k) + "]", *h, cr, int(k), d, fn);
                co.Finish();
            }
        }
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
