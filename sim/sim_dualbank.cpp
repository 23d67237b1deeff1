// Dual-bank chips: the flash memo block and flash descriptor table a host
// description can put into a region, and the set a chip runs. The running
// set is latched when a process first asks for versions (or taken from the
// state folder, where an earlier process left it) and changes only on
// activation or a simulated reset, as a real adapter keeps running its old
// code until then.
#include "sim_file.h"
#include "sim_model.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <system_error>

namespace tsim {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

void PutLe16(uint8_t *p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
uint32_t GetLe32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// 48-byte memo block: "FMBS", 12 dwords, version 3, checksum, FFV, image
// version, build date, tool "ZVFL", time of the last update, tool version.
void PutMemo(const RegionInit &in, uint8_t *p) {
    std::memset(p, 0xFF, 48);
    std::memcpy(p, "FMBS", 4);
    PutLe32(p + 4, 12);
    PutLe32(p + 8, 3);
    std::memcpy(p + 16, in.memoFfv, 4);
    std::memcpy(p + 20, in.memoMbi, 3);
    std::memcpy(p + 24, in.memoDate.data(), std::min<size_t>(8, in.memoDate.size()));
    std::memcpy(p + 32, "ZVFL", 4);
    PutLe16(p + 36, 2026);
    const uint8_t when[5] = {1, 15, 10, 30, 0};
    std::memcpy(p + 38, when, 5);
    const uint8_t tool[4] = {2, 2, 0, 3};
    std::memcpy(p + 44, tool, 4);
    PutLe32(p + 12, 0);
    uint32_t sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += GetLe32(p + 4 * i);
    PutLe32(p + 12, uint32_t(0) - sum);
}

// Flash descriptor table of 0x80 bytes whose 16-bit words sum to zero. A
// balance word at 0x7E is chosen so that the table, once its erase code is
// D8 20, sums to zero with the checksum 95 F6 (the value the repair writes).
constexpr size_t kFdtSize = 0x80;
uint16_t WordSum(const uint8_t *t) {
    uint16_t sum = 0;
    for (size_t i = 0; i < kFdtSize; i += 2)
        sum = uint16_t(sum + (t[i] | (t[i + 1] << 8)));
    return sum;
}
void PutFdt(const RegionInit &in, uint8_t *t) {
    std::memset(t, 0, kFdtSize);
    std::memcpy(t, "TFDT", 4);
    PutLe16(t + 4, 1);
    PutLe16(t + 6, uint16_t(kFdtSize));
    std::memcpy(t + 0x1C, in.fdtFlashId, 4);
    t[0x21] = 0xD8;
    t[0x22] = 0x20;
    t[0x08] = 0x95;
    t[0x09] = 0xF6;
    PutLe16(t + 0x7E, uint16_t(0u - WordSum(t)));
    t[0x21] = in.fdtErase[0];
    t[0x22] = in.fdtErase[1];
    PutLe16(t + 0x08, 0);
    PutLe16(t + 0x08, uint16_t(0u - WordSum(t)));
}

fs::path RunningFile(const Host &host, const Chip &chip) { return host.stateDir / chip.dirName / "running.json"; }

json VersionsJson(const FlashVersions &v) {
    json j = json::object();
    if (v.bios) j["bios"] = {v.biosV[0], v.biosV[1]};
    if (v.fcode) j["fcode"] = {v.fcodeV[0], v.fcodeV[1]};
    if (v.efi) j["efi"] = {v.efiV[0], v.efiV[1]};
    if (v.fw) j["fw"] = {v.fwV[0], v.fwV[1], v.fwV[2]};
    return j;
}

bool TakeVersion(const json &j, const char *key, bool &has, uint8_t *out, size_t n) {
    has = false;
    if (!j.contains(key)) return true;
    const json &a = j[key];
    if (!a.is_array() || a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (!a[i].is_number_unsigned() || a[i].get<unsigned>() > 255) return false;
        out[i] = uint8_t(a[i].get<unsigned>());
    }
    has = true;
    return true;
}

// The running set an earlier process left in the state folder.
bool LoadRunning(const Host &host, Chip &chip) {
    File in = OpenFile(RunningFile(host, chip), "rb");
    if (!in) return false;
    FileReader bytes(in.get());
    json j = json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!j.is_object() || !j.contains("set") || !j["set"].is_number_unsigned() || !j.contains("versions") ||
        !j["versions"].is_object())
        return false;
    unsigned set = j["set"].get<unsigned>();
    if (set != 1 && set != 2) return false;
    FlashVersions v;
    const json &vj = j["versions"];
    if (!TakeVersion(vj, "bios", v.bios, v.biosV, 2) || !TakeVersion(vj, "fcode", v.fcode, v.fcodeV, 2) ||
        !TakeVersion(vj, "efi", v.efi, v.efiV, 2) || !TakeVersion(vj, "fw", v.fw, v.fwV, 3))
        return false;
    chip.runningSet = uint8_t(set);
    chip.runningGeneration = uint16_t(j.value("generation", 0u) & 0xFFFFu);
    chip.runningVersions = v;
    chip.runningLatched = true;
    return true;
}

void SaveRunning(const Host &host, const Chip &chip) {
    if (host.readOnly) return;
    std::error_code ec;
    fs::create_directories(RunningFile(host, chip).parent_path(), ec);
    json j = {{"set", chip.runningSet},
              {"generation", chip.runningGeneration},
              {"versions", VersionsJson(chip.runningVersions)}};
    std::string text = j.dump();
    text += '\n';
    // Nothing to report a failure to: a missing or short file reads as no
    // running set, which the next process latches again.
    if (File out = OpenFile(RunningFile(host, chip), "wb")) WriteAll(out.get(), text.data(), text.size());
}

} // namespace

bool IsDualBank(const Chip &chip) { return FindRegion(chip, 0x95) && FindRegion(chip, 0x96); }

bool HasGeneratedOverlay(const RegionInit &in) { return in.hasStatus || in.hasMemo || in.hasFdt; }

void ApplyDualBankContents(const Region &r, uint64_t off, uint8_t *out, size_t len) {
    const RegionInit &in = r.init;
    if (in.hasMemo && r.size >= 48) {
        uint8_t memo[48];
        PutMemo(in, memo);
        PutPiece(out, off, len, 0, memo, sizeof memo);
    }
    if (in.hasFdt && uint64_t(in.fdtOffset) + kFdtSize <= r.size) {
        uint8_t fdt[kFdtSize];
        PutFdt(in, fdt);
        PutPiece(out, off, len, in.fdtOffset, fdt, sizeof fdt);
    }
}

const FlashVersions &RunningVersions(const Host &host, Chip &chip) {
    if (!chip.runningLatched && !LoadRunning(host, chip)) RelatchRunningSet(host, chip);
    return chip.runningVersions;
}

void RelatchRunningSet(const Host &host, Chip &chip) {
    bool known = false;
    uint16_t generation = 0;
    TVX_ACTIVE_REGIONS a = DeriveFromRecords(host, chip, known, &generation);
    chip.runningSet = a.ActiveGlobalRegions == 2 ? 2 : 1;
    chip.runningGeneration = generation;
    chip.runningVersions = ReadSetVersions(host, chip, chip.runningSet == 2);
    chip.runningLatched = true;
    SaveRunning(host, chip);
}

} // namespace tsim
