// Plumbing of the entry points: host loading, handles, faults, the journal
// and the accounting of flash writes.
#include "sim_calls.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include <process.h>
#define SIM_GETPID _getpid
#else
#include <sched.h>
#include <signal.h>
#include <unistd.h>
#define SIM_GETPID getpid
#endif

namespace tsim {

using json = nlohmann::json;

State &S() {
    static State s;
    return s;
}

static const char *EnvHost() {
    const char *e = std::getenv("TORVEX_SIM_HOST");
    return e ? e : "";
}

// Loads the host named by TORVEX_SIM_HOST on first use, and again when it
// names another file while no handle is open.
Host *GetHost() {
    State &s = S();
    std::string want = EnvHost();
    if (s.attempted && (want == s.loadedFrom || s.openHandles != 0)) return s.host.get();
    s.attempted = true;
    s.loadedFrom = want;
    s.host.reset();
    s.lastError.clear();
    s.seq = 0;
    if (want.empty()) return nullptr;
    std::string err;
    s.host = LoadHost(want, err);
    if (!s.host) {
        s.lastError = err;
        if (s.reported.insert(err).second) std::fprintf(stderr, "torvex-sim: %s\n", err.c_str());
        return nullptr;
    }
    if (const char *ro = std::getenv("TORVEX_SIM_READONLY"); ro && *ro && std::strcmp(ro, "0") != 0)
        s.host->readOnly = true;
    if (const char *j = std::getenv("TORVEX_SIM_JOURNAL"); j && *j) s.host->journal = j;
    if (s.host->journal == "off") s.host->journal.clear();
    if (const char *a = std::getenv("TORVEX_SIM_JOURNAL_ALL"); a && *a && std::strcmp(a, "0") != 0)
        s.host->journalAll = true;
    return s.host.get();
}

std::string Hex32(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}
std::string HexCode(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%02X", v);
    return b;
}

void Journal(Host &h, json line) {
    State &s = S();
    if (h.journal.empty()) return;
    json out = json::object();
    out["seq"] = ++s.seq;
    out["pid"] = int(SIM_GETPID());
    for (auto it = line.begin(); it != line.end(); ++it)
        out[it.key()] = *it;
    std::string text = out.dump();
    text += '\n';
    // The journal stays open while the host is loaded. It is unbuffered:
    // every line goes out in one write at once, for a power cut and for
    // readers of the file.
    File &f = h.journalOut;
    if (!f) {
        f = OpenFile(h.journal, "ab");
        if (!f) return;
        std::setvbuf(f.get(), nullptr, _IONBF, 0);
    }
    if (!WriteAll(f.get(), text.data(), text.size()))
        f.reset(); // a failed line closes the file; the next line opens it again
}

void AddPortInfo(json &j, const Host &h, int port) {
    const Port &p = h.ports[size_t(port)];
    j["instance"] = port;
    j["card"] = p.cardName;
    j["chip"] = p.chipIndex;
    j["port"] = p.portIndex;
}

// Scripted fault for this call, if any (0: none).
uint32_t CheckFault(Host &h, const char *fn, int instance, std::optional<uint32_t> region, bool isWrite, bool isRead) {
    for (tsim::Fault &f : h.faults) {
        bool match = f.op == fn || f.op == "any" || (f.op == "write" && isWrite) || (f.op == "read" && isRead) ||
                     (f.op == "open" && std::strcmp(fn, "TvxOpenDevice") == 0);
        if (!match) continue;
        if (f.instance && *f.instance != instance) continue;
        if (f.region && (!region || *f.region != *region)) continue;
        uint64_t idx = f.seen++;
        if (idx < f.skip) continue;
        idx -= f.skip;
        uint32_t st = idx < f.statuses.size() ? f.statuses[size_t(idx)] : f.then.value_or(0);
        if (st != 0) return st;
    }
    return 0;
}

// Records a call in the journal when every call is to be recorded.
TVX_STATUS Done(Host *h, const char *fn, int port, TVX_STATUS st) {
    if (h && h->journalAll) {
        json j = {{"op", "call"}, {"fn", fn}, {"status", Hex32(st)}};
        if (S().detailKey) j[S().detailKey] = HexCode(S().detailValue);
        if (port >= 0) AddPortInfo(j, *h, port);
        Journal(*h, j);
    }
    return st;
}

Handle *FindHandle(uint32_t handle) {
    State &s = S();
    if (handle < s.handleBase || handle - s.handleBase >= s.handles.size()) return nullptr;
    Handle &h = s.handles[handle - s.handleBase];
    return h.port < 0 ? nullptr : &h;
}

// Resolves a handle; on failure sets st.
Port *Resolve(uint32_t handle, Host *&h, int &port, TVX_STATUS &st) {
    h = S().host.get();
    port = -1;
    if (!h) {
        st = TVX_ERR_INVALID_HANDLE;
        return nullptr;
    }
    const Handle *hd = FindHandle(handle);
    if (!hd) {
        st = TVX_ERR_INVALID_HANDLE;
        return nullptr;
    }
    port = hd->port;
    st = TVX_STATUS_OK;
    return &h->ports[size_t(port)];
}

TVX_STATUS CopyOut(char *text, uint32_t size, const std::string &s) {
    if (!text || size == 0) return TVX_ERR_INVALID_PARAMETER;
    size_t n = std::min<size_t>(size - 1, s.size());
    std::memcpy(text, s.data(), n);
    text[n] = 0;
    return n < s.size() ? TVX_ERR_BUFFER_TOO_SMALL : TVX_STATUS_OK;
}

void RefreshRunning(Host &h, Port &p) {
    if (p.runningFwFixed) return;
    FlashVersions v = ReadFlashVersions(h, *p.chip);
    char t[24];
    if (v.fw)
        std::snprintf(t, sizeof t, "%u.%02u.%02u", v.fwV[0], v.fwV[1], v.fwV[2]);
    else
        std::snprintf(t, sizeof t, "0.00.00");
    std::memcpy(p.nodeProp.FirmwareVersion, t, sizeof t);
    p.runningFwFixed = true;
}

// An operator's Ctrl-C (or Ctrl-Break) while a flash write is in flight.
// POSIX: SIGINT (SIGQUIT) to the whole process, then a bounded wait until a
// signal thread has taken it, so the program sees the stop while it still
// holds the write. Windows: what the system does for a console event, the
// console control routine of kernelbase started on a new thread of the
// process with the event; the write returns once the handlers have run.
static void InterruptProcess(bool ctrlBreak) {
#ifdef _WIN32
    HMODULE kernelBase = GetModuleHandleW(L"kernelbase.dll");
    FARPROC routine = kernelBase != nullptr ? GetProcAddress(kernelBase, "CtrlRoutine") : nullptr;
    if (routine == nullptr) {
        std::fprintf(stderr, "torvex simulator: no console control routine to raise the interrupt\n");
        return;
    }
    // void (*)(void) converts to any function pointer type without a warning.
    auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)(void)>(routine));
    const DWORD event = ctrlBreak ? CTRL_BREAK_EVENT : CTRL_C_EVENT;
    HANDLE thread =
        CreateThread(nullptr, 0, start, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(event)), 0, nullptr);
    if (thread != nullptr) {
        WaitForSingleObject(thread, 30000);
        CloseHandle(thread);
    }
#else
    const int sig = ctrlBreak ? SIGQUIT : SIGINT;
    kill(getpid(), sig);
    for (int i = 0; i < 1000000; ++i) {
        sigset_t pending;
        if (sigpending(&pending) != 0 || !sigismember(&pending, sig)) break;
        sched_yield();
    }
    for (int i = 0; i < 1000; ++i)
        sched_yield();
#endif
}

// After a successful flash write: count it, and end the process when the
// host asks for a power cut after this many writes.
static void CountWrite(Host &h, int port) {
    h.flashWrites++;
    if (h.powerCutAfter && h.flashWrites == h.powerCutAfter) {
        json j = {{"op", "power_cut"}, {"writes", h.flashWrites}};
        AddPortInfo(j, h, port);
        Journal(h, j);
        std::fflush(nullptr);
        std::_Exit(99);
    }
    if (h.interruptAfter && h.flashWrites == h.interruptAfter) {
        json j = {
            {"op", "interrupt"}, {"writes", h.flashWrites}, {"event", h.interruptBreak ? "ctrl_break" : "ctrl_c"}};
        AddPortInfo(j, h, port);
        Journal(h, j);
        InterruptProcess(h.interruptBreak);
    }
}

// FNV-1a digest of the data of a flash write. A region written earlier in
// this process that still holds exactly these bytes gives its digest: the
// comparison reads at memory speed, the digest one byte at a time.
static uint64_t WriteDigest(Host &h, const uint8_t *buffer, uint32_t size, Chip *chip, const Region *r) {
    auto &recent = h.recentDigests;
    std::optional<uint64_t> digest;
    for (const Host::WriteDigest &m : recent) {
        if (m.size != size || m.chip->regionWrites[m.code] != m.writes) continue;
        const Region *held = FindRegion(*m.chip, m.code);
        if (held && WrittenRegionHolds(h, *m.chip, *held, buffer, size)) {
            digest = m.digest;
            break;
        }
    }
    if (!digest) digest = Fnv1a64(buffer, size);
    if (chip && r && !r->whole) {
        recent.erase(std::remove_if(recent.begin(), recent.end(),
                                    [&](const Host::WriteDigest &m) {
                                        return m.chip->regionWrites[m.code] != m.writes ||
                                               (m.chip == chip && m.code == r->code);
                                    }),
                     recent.end());
        if (recent.size() >= 8) recent.erase(recent.begin());
        recent.push_back({*digest, size, chip, r->code, chip->regionWrites[r->code]});
    }
    return *digest;
}

uint32_t FinishWrite(Host &h, json &j, int port, const uint8_t *buffer, uint32_t size, uint32_t st, Chip *chip,
                     const Region *r) {
    const bool written = st == TVX_STATUS_OK || st == TVX_ERR_RESET_DISABLED;
    if (buffer && !h.journal.empty()) { // the digest is for the journal only
        char d[20];
        std::snprintf(d, sizeof d, "%016llx", (unsigned long long)WriteDigest(h, buffer, size, chip, r));
        j["fnv1a64"] = d;
    }
    j["status"] = Hex32(st);
    Journal(h, j);
    if (written) CountWrite(h, port);
    return st;
}

} // namespace tsim
