// Flash of a simulated chip: regions kept as files in the host's state
// folder (read on demand), initial contents made from the host description,
// and the version fields a driver derives from the flash contents.
#include "sim_file.h"
#include "sim_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace tsim {

namespace fs = std::filesystem;

uint64_t Fnv1a64(const uint8_t *data, size_t len) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < len; ++i) {
        h ^= data[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

static void PutBe32(Bytes &b, size_t off, uint32_t v) {
    if (off + 4 > b.size()) return;
    b[off] = uint8_t(v >> 24);
    b[off + 1] = uint8_t(v >> 16);
    b[off + 2] = uint8_t(v >> 8);
    b[off + 3] = uint8_t(v);
}
static uint32_t GetBe32(const Bytes &b, size_t off) {
    if (off + 4 > b.size()) return 0;
    return (uint32_t(b[off]) << 24) | (uint32_t(b[off + 1]) << 16) | (uint32_t(b[off + 2]) << 8) | b[off + 3];
}
static void PutLe16(uint8_t *p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
static uint16_t GetLe16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
static uint32_t GetLe32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
static void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

const Region *FindRegion(const Chip &chip, uint32_t code) {
    for (const Region &r : chip.regions)
        if (r.code == code) return &r;
    return nullptr;
}

// Bytes of the flash that no region of the layout covers live in a state
// file of their own, so that a whole-flash write keeps every byte it was given.
constexpr uint32_t kGapCode = 0xFFFF0000u; // never a region code of a layout

static fs::path StateFile(const Host &host, const Chip &chip, uint32_t code) {
    char name[32];
    if (code == kGapCode)
        std::snprintf(name, sizeof name, "unmapped.bin");
    else
        std::snprintf(name, sizeof name, "region_%02X.bin", unsigned(code));
    return host.stateDir / chip.dirName / name;
}

uint32_t RegionSource(const Host &host, const Chip &chip, const Region &r) {
    if (r.whole) return 5;
    if (chip.overlay.count(r.code)) return 4;
    std::error_code ec;
    if (fs::exists(StateFile(host, chip, r.code), ec)) return 3;
    if (r.init.kind == RegionInit::File) return 1;
    if (r.init.kind == RegionInit::Fill && !HasGeneratedOverlay(r.init)) return 0;
    return 2;
}

// A PCI VPD image: identifier string, read-only list ending with "RV"
// (checksum so that all bytes through it sum to zero), writable list, end.
Bytes BuildVpd(const std::string &id, const std::vector<std::pair<std::string, std::string>> &ro,
               const std::vector<std::pair<std::string, std::string>> &rw, size_t size) {
    Bytes v;
    auto tag = [&](uint8_t t, size_t len) {
        v.push_back(t);
        v.push_back(uint8_t(len));
        v.push_back(uint8_t(len >> 8));
    };
    std::string idText = id.substr(0, 255);
    tag(0x82, idText.size());
    v.insert(v.end(), idText.begin(), idText.end());
    size_t roLen = 0;
    for (auto &kv : ro)
        roLen += 3 + std::min<size_t>(kv.second.size(), 255);
    roLen += 4; // RV with its checksum byte
    tag(0x90, roLen);
    for (auto &kv : ro) {
        std::string val = kv.second.substr(0, 255);
        v.push_back(uint8_t(kv.first.size() > 0 ? kv.first[0] : ' '));
        v.push_back(uint8_t(kv.first.size() > 1 ? kv.first[1] : ' '));
        v.push_back(uint8_t(val.size()));
        v.insert(v.end(), val.begin(), val.end());
    }
    v.push_back('R');
    v.push_back('V');
    v.push_back(1);
    uint8_t sum = 0;
    for (uint8_t b : v)
        sum = uint8_t(sum + b);
    v.push_back(uint8_t(-sum));
    if (!rw.empty()) {
        size_t rwLen = 0;
        for (auto &kv : rw)
            rwLen += 3 + std::min<size_t>(kv.second.size(), 255);
        tag(0x91, rwLen);
        for (auto &kv : rw) {
            std::string val = kv.second.substr(0, 255);
            v.push_back(uint8_t(kv.first.size() > 0 ? kv.first[0] : ' '));
            v.push_back(uint8_t(kv.first.size() > 1 ? kv.first[1] : ' '));
            v.push_back(uint8_t(val.size()));
            v.insert(v.end(), val.begin(), val.end());
        }
    }
    v.push_back(0x78);
    if (v.size() < size) v.resize(size, 0x00);
    if (size != 0 && v.size() > size) v.resize(size); // size 0: the whole VPD, for the loader to check
    return v;
}

// One PCI expansion-ROM image of `blocks` 512-byte blocks.
static void AddRomImage(Bytes &out, uint16_t vendor, uint16_t device, uint8_t codeType, const uint8_t ver[2], bool last,
                        size_t blocks, const RegionInit *defaults = nullptr) {
    size_t base = out.size();
    out.resize(base + blocks * 512, 0x00);
    uint8_t *p = out.data() + base;
    p[0] = 0x55;
    p[1] = 0xAA;
    p[2] = uint8_t(blocks);
    // A BIOS default area takes bytes 28-33, so the data structure moves.
    const bool withDefaults = defaults != nullptr && codeType == 0;
    const size_t pcir = withDefaults ? 0x60 : 0x1C;
    PutLe16(p + 0x18, uint16_t(pcir));
    uint8_t *d = p + pcir;
    std::memcpy(d, "PCIR", 4);
    PutLe16(d + 4, vendor);
    PutLe16(d + 6, device);
    PutLe16(d + 0x0A, 0x18);
    PutLe16(d + 0x10, uint16_t(blocks));
    d[0x12] = ver[1];
    d[0x13] = ver[0];
    d[0x14] = codeType;
    d[0x15] = last ? 0x80 : 0x00;
    static const char *names[] = {"BIOS", "FCODE", "PXE", "EFI"};
    std::snprintf(reinterpret_cast<char *>(p + 0x40), 32, "SIM %s %u.%02u", names[codeType & 3], ver[0], ver[1]);
    if (withDefaults) {
        std::memcpy(p + 28, "SVID", 4);
        p[32] = defaults->biosSvid[0];
        p[33] = defaults->biosSvid[1];
        if (defaults->biosSettings) {
            // The area is the 512 bytes from 2 bytes into the marker: the
            // rest of the marker, then 508 bytes of settings.
            std::memcpy(p + 0x200, "MECXR ", 6);
            for (size_t i = 0; i < 508; ++i)
                p[0x206 + i] = uint8_t(0xC0 ^ (i * 7));
        }
    }
    if (codeType == 0) { // byte checksum of a BIOS image
        uint8_t sum = 0;
        for (size_t i = 0; i + 1 < blocks * 512; ++i)
            sum = uint8_t(sum + p[i]);
        p[blocks * 512 - 1] = uint8_t(-sum);
    }
}

void PutPiece(uint8_t *out, uint64_t off, size_t len, uint64_t at, const uint8_t *src, size_t n) {
    uint64_t a = std::max<uint64_t>(off, at), e = std::min<uint64_t>(off + len, at + n);
    if (a < e) std::memcpy(out + (a - off), src + (a - at), size_t(e - a));
}

// The two segments of a generated firmware image: big-endian words, each
// segment summing to zero through its last word; segment 1 starts with the
// firmware header.
static Bytes FirmwareSegments(const RegionInit &in) {
    const size_t l1 = 0x100, l2 = 0x40;
    Bytes seg(l1 * 4, 0);
    PutBe32(seg, 0, 0x00000001);
    PutBe32(seg, 4, 0x00000000);
    PutBe32(seg, 8, 0x00100000);
    PutBe32(seg, 12, uint32_t(l1));
    PutBe32(seg, 16, in.fw[0]);
    PutBe32(seg, 20, in.fw[1]);
    PutBe32(seg, 24, in.fw[2]);
    PutBe32(seg, 28, 0x00000001);
    PutBe32(seg, 32, 0x00000040);
    PutBe32(seg, 36, 0x00000000);
    std::string marker = "CXR" + in.fwChip.substr(0, 2) + "xxFirmware";
    std::memcpy(seg.data() + 64, marker.data(), std::min<size_t>(marker.size(), 40));
    PutBe32(seg, 116, 0xA5A5A5A5);
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < l1; ++i)
        sum += GetBe32(seg, i * 4);
    PutBe32(seg, (l1 - 1) * 4, uint32_t(0) - sum);
    Bytes seg2(l2 * 4, 0);
    PutBe32(seg2, 0, 0x00000002);
    PutBe32(seg2, 8, 0x00200000);
    PutBe32(seg2, 12, uint32_t(l2));
    sum = 0;
    for (size_t i = 0; i + 1 < l2; ++i)
        sum += GetBe32(seg2, i * 4);
    PutBe32(seg2, (l2 - 1) * 4, uint32_t(0) - sum);
    seg.insert(seg.end(), seg2.begin(), seg2.end());
    return seg;
}

// Initial contents of bytes [off, off + len) of a region (no state file
// yet): a file, generated bytes or fill. Only the generated pieces the
// window touches are made, so nothing of the size of the region is built or
// kept; the reads of one region give the same bytes whatever their windows.
static bool ReadInitial(const Region &r, uint64_t off, uint8_t *out, size_t len) {
    const RegionInit &in = r.init;
    switch (in.kind) {
    case RegionInit::Fill: std::memset(out, in.fill, len); break;
    case RegionInit::File: { // the file's bytes at their own offsets, the rest fill
        std::memset(out, in.fill, len);
        File f = OpenFile(in.file, "rb");
        if (!f) return false;           // the file is gone: no contents
        ReadAt(f.get(), off, out, len); // beyond a short file the fill stays
        break;
    }
    case RegionInit::Vpd: { // the VPD, then zeros
        Bytes v = BuildVpd(in.vpdId, in.vpdRo, in.vpdRw, r.size);
        std::memcpy(out, v.data() + off, len);
        break;
    }
    case RegionInit::Boot: { // the option-ROM chain, then erased bytes
        std::memset(out, 0xFF, len);
        struct Img {
            uint8_t type;
            const uint8_t *v;
        };
        std::vector<Img> imgs;
        if (in.hasBios) imgs.push_back({0, in.bios});
        if (in.hasFcode) imgs.push_back({1, in.fcode});
        if (in.hasEfi) imgs.push_back({3, in.efi});
        Bytes b;
        for (size_t i = 0; i < imgs.size(); ++i)
            AddRomImage(b, 0x1D7A, in.deviceId, imgs[i].type, imgs[i].v, i + 1 == imgs.size(), 4,
                        in.hasBiosDefaults ? &in : nullptr);
        PutPiece(out, off, len, 0, b.data(), std::min<size_t>(b.size(), r.size));
        break;
    }
    case RegionInit::Firmware: {
        std::memset(out, 0xFF, len);
        Bytes seg = FirmwareSegments(in);
        if (r.size < seg.size()) break;
        PutPiece(out, off, len, 0, seg.data(), seg.size());
        if (in.hasMbi && r.size >= 0x40000) { // multi-boot version block
            uint8_t mbi[64] = {'O', 'M', 'B', 'V', in.mbi[0], in.mbi[1], in.mbi[2]};
            PutPiece(out, off, len, 0x3FFC0, mbi, sizeof mbi);
        }
        break;
    }
    }
    if (in.hasStatus && r.size >= 16) { // image status record at offset 0
        uint8_t p[16] = {};
        p[0] = in.statusMask;
        PutLe16(p + 1, in.statusGeneration);
        PutLe16(p + 3, 0x0001);
        p[5] = in.statusBitmap;
        PutLe32(p + 12, in.statusSignature);
        uint32_t sum = 0;
        for (int i = 0; i < 4; ++i)
            sum += GetLe32(p + 4 * i);
        PutLe32(p + 8, uint32_t(0) - sum);
        PutPiece(out, off, len, 0, p, sizeof p);
    }
    ApplyDualBankContents(r, off, out, len);
    return true;
}

bool ReadRegion(const Host &host, Chip &chip, const Region &r, uint64_t off, uint8_t *out, size_t len) {
    if (off > r.size || len > r.size - off) return false;
    if (r.whole) return ReadFlash(host, chip, off, out, len);
    auto ov = chip.overlay.find(r.code);
    if (ov != chip.overlay.end()) {
        std::memcpy(out, ov->second.data() + off, len);
        return true;
    }
    fs::path sf = StateFile(host, chip, r.code);
    if (File f = OpenFile(sf, "rb")) {
        std::memset(out, 0xFF, len); // a short state file reads as erased beyond its end
        ReadAt(f.get(), off, out, len);
        return true;
    }
    return ReadInitial(r, off, out, len);
}

bool WriteRegion(Host &host, Chip &chip, const Region &r, uint64_t off, const uint8_t *data, size_t len) {
    if (off > r.size || len > r.size - off) return false;
    if (r.whole) return WriteFlash(host, chip, off, data, len);
    chip.generation++;
    chip.regionWrites[r.code]++;
    if (host.readOnly) {
        auto ov = chip.overlay.find(r.code);
        if (ov == chip.overlay.end()) {
            Bytes cur(r.size);
            if (!ReadRegion(host, chip, r, 0, cur.data(), cur.size())) return false;
            ov = chip.overlay.emplace(r.code, std::move(cur)).first;
        }
        std::memcpy(ov->second.data() + off, data, len);
        return true;
    }
    fs::path sf = StateFile(host, chip, r.code);
    // A written region takes the bytes in place.
    if (File o = OpenFile(sf, "r+b")) {
        const bool ok = SeekFile(o.get(), off) && WriteAll(o.get(), data, len);
        return CloseFile(o) && ok;
    }
    // The first write of a region makes its state file: the data, or for a
    // part of the region the initial contents around it.
    const uint8_t *bytes = data;
    Bytes cur;
    if (off != 0 || len != r.size) {
        cur.resize(r.size);
        if (!ReadRegion(host, chip, r, 0, cur.data(), cur.size())) return false;
        std::memcpy(cur.data() + off, data, len);
        bytes = cur.data();
    }
    File o = OpenFile(sf, "wb");
    if (!o) {
        std::error_code ec;
        fs::create_directories(sf.parent_path(), ec);
        o = OpenFile(sf, "wb");
    }
    if (!o) return false;
    const bool ok = WriteAll(o.get(), bytes, r.size);
    return CloseFile(o) && ok;
}

bool WrittenRegionHolds(const Host &host, Chip &chip, const Region &r, const uint8_t *data, size_t len) {
    if (r.whole || len > r.size) return false;
    if (auto ov = chip.overlay.find(r.code); ov != chip.overlay.end())
        return std::memcmp(ov->second.data(), data, len) == 0;
    File f = OpenFile(StateFile(host, chip, r.code), "rb");
    if (!f) return false; // not written, or its file is gone
    constexpr size_t kChunk = 64 * 1024;
    Bytes chunk(std::min(len, kChunk));
    for (size_t pos = 0; pos < len; pos += chunk.size()) {
        const size_t n = std::min(chunk.size(), len - pos);
        std::memset(chunk.data(), 0xFF, n); // a short state file reads as erased beyond its end
        ReadBytes(f.get(), chunk.data(), n);
        if (std::memcmp(chunk.data(), data + pos, n) != 0) return false;
    }
    return true;
}

static Region GapRegion(const Chip &chip) {
    Region g;
    g.code = kGapCode;
    g.size = uint32_t(std::min<uint64_t>(chip.flashSize, 0xFFFFFFFFu));
    g.init.kind = RegionInit::Fill;
    g.init.fill = 0xFF;
    return g;
}

// The flat flash: every non-whole region at its offset; bytes between
// regions come from the unmapped state (erased until written).
bool ReadFlash(const Host &host, Chip &chip, uint64_t off, uint8_t *out, size_t len) {
    if (off > chip.flashSize || len > chip.flashSize - off) return false;
    if (!ReadRegion(host, chip, GapRegion(chip), off, out, len)) return false;
    for (const Region &r : chip.regions) {
        if (r.whole) continue;
        uint64_t a = std::max<uint64_t>(off, r.offset), e = std::min<uint64_t>(off + len, r.offset + r.size);
        if (a >= e) continue;
        if (!ReadRegion(host, chip, r, a - r.offset, out + (a - off), size_t(e - a))) return false;
    }
    return true;
}

bool WriteFlash(Host &host, Chip &chip, uint64_t off, const uint8_t *data, size_t len) {
    if (off > chip.flashSize || len > chip.flashSize - off) return false;
    std::vector<std::pair<uint64_t, uint64_t>> covered; // [a, e) spans written through a region
    for (const Region &r : chip.regions) {
        if (r.whole) continue;
        uint64_t a = std::max<uint64_t>(off, r.offset), e = std::min<uint64_t>(off + len, r.offset + r.size);
        if (a >= e) continue;
        if (!WriteRegion(host, chip, r, a - r.offset, data + (a - off), size_t(e - a))) return false;
        covered.emplace_back(a, e);
    }
    std::sort(covered.begin(), covered.end());
    const Region gap = GapRegion(chip);
    // Until bytes outside the regions are first written they read erased, so
    // erased bytes there need no state file.
    std::error_code ec;
    const bool gapErased = !chip.overlay.count(kGapCode) && !fs::exists(StateFile(host, chip, kGapCode), ec);
    uint64_t pos = off;
    covered.emplace_back(off + len, off + len);
    for (const auto &[a, e] : covered) {
        if (a > pos) {
            const uint8_t *span = data + (pos - off);
            const size_t n = size_t(a - pos);
            const bool erased = gapErased && std::all_of(span, span + n, [](uint8_t b) { return b == 0xFF; });
            if (!erased && !WriteRegion(host, chip, gap, pos, span, n)) return false;
        }
        pos = std::max(pos, e);
    }
    return true;
}

// Reads len bytes at off of a region, or of the flash when code is 0.
static bool ReadAt(const Host &host, Chip &chip, uint32_t code, uint64_t off, uint8_t *out, size_t len) {
    if (code == 0) return ReadFlash(host, chip, off, out, len);
    const Region *r = FindRegion(chip, code);
    return r && ReadRegion(host, chip, *r, off, out, len);
}
static uint64_t SizeOf(const Chip &chip, uint32_t code) {
    if (code == 0) return chip.flashSize;
    const Region *r = FindRegion(chip, code);
    return r ? r->size : 0;
}

struct StatusRecord {
    bool valid = false;
    uint8_t mask = 0, bitmap = 0, tool = 0;
    uint16_t gen = 0;
};
static StatusRecord ReadStatus(const Host &host, Chip &chip, uint32_t code, uint32_t sigA, uint32_t sigB) {
    StatusRecord s;
    uint8_t p[16];
    if (!FindRegion(chip, code) || SizeOf(chip, code) < 16 || !ReadAt(host, chip, code, 0, p, 16)) return s;
    uint32_t sum = 0;
    for (int i = 0; i < 4; ++i)
        sum += GetLe32(p + 4 * i);
    uint32_t sig = GetLe32(p + 12);
    if (sum != 0 || (sig != sigA && sig != sigB)) return s;
    s.valid = true;
    s.mask = p[0] & 1;
    s.gen = GetLe16(p + 1);
    s.bitmap = p[5];
    s.tool = p[7];
    return s;
}

TVX_ACTIVE_REGIONS DeriveActiveRegions(const Host &host, Chip &chip, bool &known) {
    if (chip.activeOverride) {
        known = true;
        return *chip.activeOverride;
    }
    return DeriveFromRecords(host, chip, known, nullptr);
}

TVX_ACTIVE_REGIONS DeriveFromRecords(const Host &host, Chip &chip, bool &known, uint16_t *generation) {
    TVX_ACTIVE_REGIONS a{};
    known = FindRegion(chip, 0x95) && FindRegion(chip, 0x96);
    if (!known) return a;
    StatusRecord p = ReadStatus(host, chip, 0x95, 0xFACEFADEu, 0xFACEFADFu);
    StatusRecord s = ReadStatus(host, chip, 0x96, 0xFACEFADEu, 0xFACEFADFu);
    bool secondary = p.mask ? (s.mask && s.gen > p.gen) : (s.mask || s.gen > p.gen);
    a.ActiveGlobalRegions = secondary ? 2 : 1;
    if (generation) *generation = secondary ? s.gen : p.gen;
    uint8_t area[4] = {1, 1, 1, 1};
    if (FindRegion(chip, 0x125) && FindRegion(chip, 0x126)) {
        StatusRecord ap = ReadStatus(host, chip, 0x125, 0xFACEFAEDu, 0xFACEFAEDu);
        StatusRecord as = ReadStatus(host, chip, 0x126, 0xFACEFAEDu, 0xFACEFAEDu);
        for (int i = 0; i < 4; ++i) {
            if (!ap.mask && as.mask)
                area[i] = (as.bitmap >> i) & 1 ? 2 : 1;
            else if (ap.mask && !as.mask)
                area[i] = (ap.bitmap >> i) & 1 ? 2 : 1;
            else
                area[i] = ((p.mask == s.mask) && s.gen > p.gen) ? 2 : 1;
        }
    }
    a.ActiveBoardConfig = area[0];
    a.ActiveVpdNvram = area[1];
    a.ActiveNpivConfig01 = area[2];
    a.ActiveNpivConfig23 = area[3];
    return a;
}

// Walks the PCI option-ROM chain at the start of the boot region (at most
// 16 images, every header inside the region) and reads the firmware header
// of the firmware region.
FlashVersions ReadFlashVersions(const Host &host, Chip &chip) {
    if (IsDualBank(chip)) return RunningVersions(host, chip);
    if (chip.versionsGen == chip.generation) return chip.versions;
    bool known = false;
    TVX_ACTIVE_REGIONS act = DeriveActiveRegions(host, chip, known);
    chip.versions = ReadSetVersions(host, chip, known && act.ActiveGlobalRegions == 2);
    chip.versionsGen = chip.generation;
    return chip.versions;
}

FlashVersions ReadSetVersions(const Host &host, Chip &chip, bool second) {
    FlashVersions v;
    uint32_t boot = 0;
    if (chip.bootRegion)
        boot = *chip.bootRegion;
    else if (second && FindRegion(chip, 0x09))
        boot = 0x09;
    else if (FindRegion(chip, 0x07))
        boot = 0x07;
    else if (FindRegion(chip, 0x05))
        boot = 0x05;
    uint64_t bootSize = SizeOf(chip, boot);
    // The headers of a chain sit near the start of the region: its first
    // 64 KiB are read once, headers further on one by one.
    Bytes start(size_t(std::min<uint64_t>(bootSize, 0x10000)));
    if (!start.empty() && !ReadAt(host, chip, boot, 0, start.data(), start.size())) start.clear();
    auto Read = [&](uint64_t at, uint8_t *out, size_t len) {
        if (at + len <= start.size()) {
            std::memcpy(out, start.data() + at, len);
            return true;
        }
        return ReadAt(host, chip, boot, at, out, len);
    };
    uint64_t off = 0;
    for (int i = 0; i < 16; ++i) {
        uint8_t h[0x1A];
        if (off + sizeof h > bootSize || !Read(off, h, sizeof h)) break;
        if (h[0] != 0x55 || h[1] != 0xAA) break;
        uint64_t pcir = off + GetLe16(h + 0x18);
        uint8_t d[0x18];
        if (pcir + sizeof d > bootSize || !Read(pcir, d, sizeof d)) break;
        if (std::memcmp(d, "PCIR", 4) != 0) break;
        uint8_t type = d[0x14];
        uint8_t ver[2] = {d[0x13], d[0x12]};
        if (type == 0 && !v.bios) {
            v.bios = true;
            std::memcpy(v.biosV, ver, 2);
        } else if (type == 1 && !v.fcode) {
            v.fcode = true;
            std::memcpy(v.fcodeV, ver, 2);
        } else if (type == 3 && !v.efi) {
            v.efi = true;
            std::memcpy(v.efiV, ver, 2);
        }
        uint16_t blocks = GetLe16(d + 0x10);
        if ((d[0x15] & 0x80) || blocks == 0) break;
        off += uint64_t(blocks) * 512;
    }
    uint32_t fwr = 0;
    if (chip.fwRegion)
        fwr = *chip.fwRegion;
    else if (second && FindRegion(chip, 0x02))
        fwr = 0x02;
    else if (FindRegion(chip, 0x01))
        fwr = 0x01;
    if (fwr != 0 && SizeOf(chip, fwr) >= 32) {
        Bytes h(32);
        if (ReadAt(host, chip, fwr, 0, h.data(), h.size())) {
            bool erased = std::all_of(h.begin(), h.end(), [](uint8_t b) { return b == 0xFF; });
            uint32_t a = GetBe32(h, 16), b = GetBe32(h, 20), c = GetBe32(h, 24);
            if (!erased && a < 256 && b < 256 && c < 256 && (a | b | c) != 0) {
                v.fw = true;
                v.fwV[0] = uint8_t(a);
                v.fwV[1] = uint8_t(b);
                v.fwV[2] = uint8_t(c);
            }
        }
    }
    return v;
}

} // namespace tsim
