// Fault matrix: each scenario runs once without faults with every library
// call journaled; then once per call of that run, on a fresh copy of the
// host, with that call (function, occurrence) failing. Every run must end
// by itself, write nothing the fault-free run did not write there, claim no
// update that did not complete, and write nothing after a failed read that
// the written bytes rest on.
//
// TF_MATRIX_CASE=<fn>#<n> runs one case and prints its output; see the
// README for running a case by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <sstream>

#include "matrix.h"

namespace matrix {
namespace {

constexpr uint32_t kFault = 0x20000001u;        // general failure
constexpr uint32_t kResetPending = 0x20000075u; // the chip resets: callers wait and retry

// Calls with a wait-and-retry rule: they are also run answering "resetting"
// from the chosen call on, which the retry limit must end.
const char *const kRetried[] = {"TvxGetOptionRomEx", "TvxUpdateOptionRomEx", "TvxUpdateOptionRomEx2",
                                "TvxUpdateOptionRom"};

struct Case {
    std::string fn;
    int occurrence = 0;
    bool resetForever = false; // else one general failure at that call
    uint64_t seq = 0;          // the call's place in the fault-free run
    std::string Name() const { return CaseName(fn, occurrence) + (resetForever ? "+reset" : ""); }
    std::string Faults() const {
        return R"({"faults": [{"op": ")" + fn + R"(", "skip": )" + std::to_string(occurrence) +
               (resetForever ? R"(, "then": "0x20000075"}]})" : R"(, "statuses": ["0x20000001"]}]})");
    }
};

struct Baseline {
    std::map<std::string, std::string> digest;            // "<chip> <region>" -> data written there
    std::map<std::string, std::set<std::string>> updated; // chip -> regions of its update written successfully
    int status = 0;                                       // exit status
    uint64_t lastDataWrite = 0;                           // seq of the last data-file write (0: none)
};

bool IsDataRegion(const Scenario &s, const std::string &region) {
    for (const auto &r : s.dataRegions)
        if (r == region) return true;
    return false;
}

std::string WriteKey(const Call &c) { return c.chip + " " + c.region; }

// True when the call is a guarded read; only names the one region whose
// writes rest on it ("" all of the chip's writes).
bool GuardMatches(const Scenario &s, const Call &c, std::string &only) {
    const std::string fn = CallName(c);
    for (const auto &guard : s.guards) {
        const size_t arrow = guard.find("=>");
        const std::string g = guard.substr(0, arrow);
        if (g == fn || g == fn + "@" + c.param || g == fn + "@" + c.region) {
            only = arrow == std::string::npos ? std::string() : guard.substr(arrow + 2);
            return true;
        }
    }
    return false;
}

const std::string *RecordText(const Scenario &s, const std::string &region) {
    for (const auto &[r, text] : s.records)
        if (r == region) return &text;
    return nullptr;
}

// Everything wrong with one faulted run; empty when it behaved.
std::vector<std::string> Check(const Scenario &s, const Baseline &base, const Case &k, const RunResult &r) {
    const std::string &fn = k.fn;
    std::vector<std::string> bad;
    if (r.timedOut) bad.push_back("did not end (killed at the time limit)");
    if (r.signal != 0) bad.push_back("ended by signal " + std::to_string(r.signal));
    if (r.status == 127) bad.push_back("could not be started");
    if (r.err.find("ERROR: AddressSanitizer") != std::string::npos || r.err.find("runtime error:") != std::string::npos)
        bad.push_back("sanitizer report");

    // The fault hit the call it was meant for.
    const Call *fault = nullptr;
    int seen = 0;
    for (const Call &c : r.journal)
        if (CallName(c) == fn && seen++ == k.occurrence) {
            fault = &c;
            break;
        }
    if (fault == nullptr || fault->status != (k.resetForever ? kResetPending : kFault)) {
        bad.push_back("fault not injected at this call");
        return bad;
    }

    // Bytes written: only what the fault-free run wrote at that place.
    std::map<std::string, std::set<std::string>> written;
    for (const Call &w : r.journal) {
        if (!w.Write()) continue;
        auto it = base.digest.find(WriteKey(w));
        if (it == base.digest.end())
            bad.push_back("wrote " + WriteKey(w) + ", which the fault-free run does not write");
        else if (it->second != w.digest)
            bad.push_back("wrote other bytes to " + WriteKey(w) + " than the fault-free run");
        if (w.Succeeded()) written[w.chip].insert(w.region);
    }

    // No write after a failed read the bytes rest on, unless read again.
    if (std::string only; GuardMatches(s, *fault, only)) {
        for (const Call &w : r.journal) {
            if (!w.Write() || !w.Succeeded() || w.seq < fault->seq || w.chip != fault->chip) continue;
            if (!only.empty() && w.region != only) continue;
            bool reread = false;
            for (const Call &g : r.journal)
                reread = reread || (g.seq > fault->seq && g.seq < w.seq && g.chip == fault->chip && g.status == 0 &&
                                    CallName(g) == fn && g.param == fault->param && g.region == fault->region);
            if (!reread) bad.push_back("wrote " + WriteKey(w) + " after the failed read without reading it again");
        }
    }

    // Claims of success: one per update that completed. An update is a
    // run of writes to one chip; it completed when every region the
    // fault-free run wrote there was written, the records of the update
    // aside.
    auto covers = [&](const std::string &chip, const std::set<std::string> &regions) {
        auto it = base.updated.find(chip);
        if (it == base.updated.end()) return false;
        for (const auto &region : it->second)
            if (RecordText(s, region) == nullptr && regions.count(region) == 0) return false;
        return true;
    };
    int completedUpdates = 0;
    std::string chip;
    std::set<std::string> regions, attempted;
    for (const Call &w : r.journal) {
        if (!w.Write() || IsDataRegion(s, w.region)) continue; // data files: not part of an adapter's update
        if (w.chip != chip || attempted.count(w.region) != 0) {
            completedUpdates += covers(chip, regions) ? 1 : 0;
            chip = w.chip;
            regions.clear();
            attempted.clear();
        }
        attempted.insert(w.region);
        if (w.Succeeded()) regions.insert(w.region);
    }
    completedUpdates += covers(chip, regions) ? 1 : 0;
    int complete = 0;
    for (const auto &[c, want] : base.updated)
        complete += covers(c, written[c]) ? 1 : 0;
    // A record of a completed update that was not written is reported.
    for (const auto &[c, want] : base.updated) {
        if (!covers(c, written[c])) continue;
        for (const auto &region : want) {
            const std::string *text = RecordText(s, region);
            if (text != nullptr && written[c].count(region) == 0 && r.out.find(*text) == std::string::npos)
                bad.push_back("did not report that " + c + " " + region + " was not written (\"" + *text + "\")");
        }
    }

    // Data files: a success reported only for a write that succeeded; a
    // failure up to the last data-file write, with the adapters' update
    // still complete, leaves the exit status as the fault-free run's. A
    // failed open is not such a failure: the port that could not be opened
    // counts as an adapter whose update failed (whether it needed one is
    // not known).
    if (!s.dataRegions.empty()) {
        std::map<std::string, int> dataWrites;
        for (const Call &w : r.journal)
            if (w.Write() && w.Succeeded() && IsDataRegion(s, w.region))
                ++dataWrites[std::to_string(w.instance) + " " + w.region];
        for (const auto &[where, n] : DataFileSuccesses(r.out))
            if (n > dataWrites[where]) bad.push_back("data file reported applied at " + where + " without its write");
        if (k.seq <= base.lastDataWrite && fn != "TvxOpenDevice" && complete == static_cast<int>(base.updated.size()) &&
            r.status != base.status)
            bad.push_back("status " + std::to_string(r.status) +
                          " although the adapters' update completed as in the "
                          "fault-free run (status " +
                          std::to_string(base.status) + ")");
    }
    const int adapters = static_cast<int>(base.updated.size());
    if (SuccessMessages(r.out) > completedUpdates) bad.push_back("success message for an update that did not complete");
    if (SummaryUpdated(r.out) > completedUpdates) bad.push_back("summary counts an update that did not complete");
    if (r.status == 0 || r.status == 201) {
        if (s.allMustSucceed && complete < adapters)
            bad.push_back("status " + std::to_string(r.status) + " although an update did not complete");
        if (!s.allMustSucceed && complete == 0)
            bad.push_back("status " + std::to_string(r.status) + " although no update completed");
    }
    return bad;
}

Baseline MakeBaseline(const Scenario &s, const RunResult &clean) {
    Baseline base;
    for (const Call &c : clean.journal) {
        if (!c.Write()) continue;
        base.digest[WriteKey(c)] = c.digest;
        if (IsDataRegion(s, c.region))
            base.lastDataWrite = c.seq;
        else if (c.Succeeded())
            base.updated[c.chip].insert(c.region);
    }
    base.status = clean.status;
    return base;
}

bool TakesAlternative(const Scenario &s, const std::string &fn) {
    for (const auto &f : s.alternativeAfter)
        if (f == fn) return true;
    return false;
}

class FaultMatrix : public ::testing::TestWithParam<Scenario> {};

TEST_P(FaultMatrix, EveryLibraryCallFails) {
    const Scenario &s = GetParam();
    if (!s.faultPending.empty() && !RunPendingRows()) GTEST_SKIP() << "pending: " << s.faultPending;
    Host host(s);
    ASSERT_TRUE(host.error().empty()) << host.error();
    const RunResult clean = host.Run(host.Fresh("baseline"));
    ASSERT_TRUE(clean.status == 0 || clean.status == 201) << clean.out << clean.err;

    const Baseline base = MakeBaseline(s, clean);
    std::vector<Case> cases;
    std::map<std::string, int> occurrences;
    for (const Call &c : clean.journal) {
        const std::string fn = CallName(c);
        if (fn.empty()) continue;
        const int n = occurrences[fn]++;
        cases.push_back({fn, n, false, c.seq});
        for (const char *retried : kRetried)
            if (fn == retried) cases.push_back({fn, n, true, c.seq});
    }
    ASSERT_FALSE(base.updated.empty()) << "the fault-free run updates nothing:\n" << clean.out;
    ASSERT_TRUE(s.dataRegions.empty() || base.lastDataWrite != 0) << "the fault-free run applies no data file:\n"
                                                                  << clean.out;
    // The path a failed query chooses by design, run without faults.
    std::optional<Baseline> alternative;
    if (s.alternativeHost != nullptr) {
        const std::filesystem::path altDir = host.Fresh("alternative");
        const std::string error = s.alternativeHost(altDir);
        ASSERT_TRUE(error.empty()) << error;
        const RunResult alt = host.Run(altDir);
        ASSERT_TRUE(alt.status == 0 || alt.status == 201) << alt.out << alt.err;
        alternative = MakeBaseline(s, alt);
        ASSERT_FALSE(alternative->updated.empty()) << "the alternative run updates nothing:\n" << alt.out;
        ASSERT_NE(alternative->digest, base.digest) << "the alternative run takes the same path";
    }

    const char *only = std::getenv("TF_MATRIX_CASE");
    int run = 0, failed = 0, withWrites = 0;
    std::string more;
    for (const Case &k : cases) {
        const std::string name = k.Name();
        if (only != nullptr && name != only) continue;
        const std::filesystem::path dir = host.Fresh("case");
        const RunResult r = host.Run(dir, k.Faults());
        ++run;
        for (const Call &c : r.journal)
            if (c.Write() && c.Succeeded()) {
                ++withWrites;
                break;
            }
        auto bad = Check(s, base, k, r);
        // A run that took the other path by design is held to that path's
        // fault-free run instead, whole: its writes, guards and claims.
        if (!bad.empty() && alternative && TakesAlternative(s, k.fn)) {
            auto altBad = Check(s, *alternative, k, r);
            if (altBad.empty()) bad.clear();
        }
        if (only != nullptr)
            std::printf("%s %s: status %d\n--- stdout\n%s--- stderr\n%s--- folder %s\n", s.name.c_str(), name.c_str(),
                        r.status, r.out.c_str(), r.err.c_str(), dir.c_str());
        if (bad.empty()) continue;
        // The first few failures in full; the rest one line each.
        if (++failed > 5) {
            more += "  " + name + " (status " + std::to_string(r.status) + "): " + bad.front() + "\n";
        } else {
            std::ostringstream msg;
            for (const auto &b : bad)
                msg << "  " << b << "\n";
            ADD_FAILURE() << s.name << " " << name << " (status " << r.status << "):\n"
                          << msg.str() << "--- stdout\n"
                          << r.out << "--- stderr\n"
                          << r.err << "rerun: TF_MATRIX_CASE='" << name
                          << "' test_matrix --gtest_filter='*FaultMatrix*/" << s.name << "'";
        }
    }
    if (failed > 5) ADD_FAILURE() << s.name << ": " << failed << " failing cases in all; further ones:\n" << more;
    int calls = 0, resets = 0;
    for (const Case &k : cases)
        (k.resetForever ? resets : calls) += 1;
    std::printf("[ matrix ] fault matrix %s: %d cases (%d library calls failing once, %d answering \"resetting\" "
                "from there on), %d wrote flash, %d failed\n",
                s.name.c_str(), run, calls, resets, withWrites, failed);
    if (only == nullptr) RecordCount("fault", s.name, run);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultMatrix, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) { return info.param.name; });

} // namespace
} // namespace matrix
