#include "dualbank_tool.h"

#include "torvex_sim.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

namespace tarniksim {

namespace fs = std::filesystem;

namespace {

uint32_t Le32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// First `len` bytes of a region, or false when it is not there.
bool ReadStart(uint32_t handle, uint32_t region, uint32_t offset, std::vector<uint8_t> &out, size_t len) {
    std::vector<uint8_t> whole;
    // The library reads regions from their start: read up to the end of
    // the wanted bytes.
    whole.resize(size_t(offset) + len);
    if (TvxGetOptionRomEx(handle, 0, whole.data(), uint32_t(whole.size()), region) != TVX_STATUS_OK) return false;
    out.assign(whole.begin() + long(offset), whole.end());
    return true;
}

void ShowStatus(uint32_t handle, uint32_t region) {
    std::vector<uint8_t> r;
    if (!ReadStart(handle, region, 0, r, 16)) return;
    uint32_t sum = 0;
    for (int i = 0; i < 4; ++i)
        sum += Le32(r.data() + 4 * i);
    std::printf("    image status 0x%03X: mask %u generation %u bitmap 0x%02X signature %08X %s\n", unsigned(region),
                r[0] & 1u, unsigned(r[1] | (r[2] << 8)), r[5], Le32(r.data() + 12),
                sum == 0 ? "checksum ok" : "checksum bad");
}

void ShowMemo(uint32_t handle, uint32_t region) {
    std::vector<uint8_t> m;
    if (!ReadStart(handle, region, 0, m, 48)) return;
    if (std::memcmp(m.data(), "FMBS", 4) != 0) {
        std::printf("    memo block 0x%03X: none\n", unsigned(region));
        return;
    }
    uint32_t sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += Le32(m.data() + 4 * i);
    std::printf("    memo block 0x%03X: multi-boot %u.%02u.%02u FFV %u.%u.%u.%u built %.8s by %.4s %u.%u.%u.%u "
                "at %04u-%02u-%02u %02u:%02u:%02u, %s\n",
                unsigned(region), m[20], m[21], m[22], m[16], m[17], m[18], m[19],
                reinterpret_cast<const char *>(m.data() + 24), reinterpret_cast<const char *>(m.data() + 32), m[44],
                m[45], m[46], m[47], unsigned(m[36] | (m[37] << 8)), m[38], m[39], m[40], m[41], m[42],
                sum == 0 ? "checksum ok" : "checksum bad");
}

void ShowFdt(uint32_t handle) {
    const uint32_t at = 0x3F0000;
    std::vector<uint8_t> t;
    if (!ReadStart(handle, 0x1A, at, t, 0x80)) return;
    uint16_t sum = 0;
    for (size_t i = 0; i < t.size(); i += 2)
        sum = uint16_t(sum + (t[i] | (t[i + 1] << 8)));
    std::printf("    descriptor table at 0x%X: flash id %02X %02X %02X %02X, erase code %02X %02X, %s\n", unsigned(at),
                t[0x1C], t[0x1D], t[0x1E], t[0x1F], t[0x21], t[0x22], sum == 0 ? "checksum ok" : "checksum bad");
}

void SetEnv(const char *key, const char *value) {
#ifdef _WIN32
    _putenv_s(key, value);
#else
    setenv(key, value, 1);
#endif
}

} // namespace

void ShowDualBank(uint32_t instance, uint32_t handle) {
    uint32_t running = 0, generation = 0;
    if (TvxSimGetRunningSet(instance, &running, &generation) == TVX_STATUS_OK) {
        TVX_ACTIVE_REGIONS a{};
        TVX_STATUS st = TvxGetActiveRegions(handle, 0, &a);
        std::printf("    running set %u (generation %u)", running, generation);
        if (st == TVX_STATUS_OK)
            std::printf(", records designate set %u (board config %u, VPD/NVRAM %u, NPIV %u/%u)\n",
                        a.ActiveGlobalRegions, a.ActiveBoardConfig, a.ActiveVpdNvram, a.ActiveNpivConfig01,
                        a.ActiveNpivConfig23);
        else
            std::printf(", active regions query 0x%08X\n", st);
        for (uint32_t r : {0x95u, 0x96u, 0x125u, 0x126u})
            ShowStatus(handle, r);
    }
    for (uint32_t r : {0x89u, 0xDFu, 0x124u})
        ShowMemo(handle, r);
    ShowFdt(handle);
}

int ResetCommand(const std::vector<std::string> &args) {
    if (args.empty() || args.size() > 2) return 2;
    fs::path host = fs::absolute(fs::path(args[0]) / "host.json");
    std::error_code ec;
    if (!fs::is_regular_file(host, ec)) {
        std::fprintf(stderr, "tarniksim: %s: no host file (make one with tarniksim init)\n", host.string().c_str());
        return 1;
    }
    std::string card;
    long chip = -1;
    if (args.size() == 2) {
        size_t slash = args[1].rfind('/');
        char *end = nullptr;
        if (slash == std::string::npos || slash == 0) return 2;
        card = args[1].substr(0, slash);
        chip = std::strtol(args[1].c_str() + slash + 1, &end, 10);
        if (end == nullptr || *end != '\0' || chip < 0) return 2;
    }
    // A reset persists the running set, so the host is not read-only here.
    SetEnv("TORVEX_SIM_HOST", host.string().c_str());
    SetEnv("TORVEX_SIM_READONLY", "0");
    TvxSimReset();
    char err[1024] = "";
    TvxSimGetLoadError(err, sizeof err);
    if (err[0]) {
        std::fprintf(stderr, "tarniksim: %s\n", err);
        return 1;
    }
    std::set<std::pair<std::string, uint32_t>> done;
    for (uint32_t i = 0; i < 256; ++i) {
        char name[80] = "";
        uint32_t c = 0, port = 0;
        if (TvxSimGetInstanceInfo(i, name, sizeof name, &c, &port) != TVX_STATUS_OK) break;
        if ((!card.empty() && (card != name || long(c) != chip)) || !done.insert({name, c}).second) continue;
        TvxSimResetChip(i);
        uint32_t running = 0, generation = 0;
        if (TvxSimGetRunningSet(i, &running, &generation) == TVX_STATUS_OK)
            std::printf("%s/%u: reset, running set %u (generation %u)\n", name, c, running, generation);
        else
            std::printf("%s/%u: reset\n", name, c);
    }
    if (done.empty()) {
        std::fprintf(stderr, "tarniksim: %s: no chip %s\n", host.string().c_str(), args[1].c_str());
        return 1;
    }
    return 0;
}

} // namespace tarniksim
