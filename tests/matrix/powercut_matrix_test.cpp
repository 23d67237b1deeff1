// Power-cut matrix: each scenario's command is cut off after each of the
// flash writes of its fault-free run in turn; the command run again without
// faults must complete the update and leave the flash exactly as the
// fault-free run does; for a default run a third run then needs nothing.
//
// TF_MATRIX_CUT=<n> runs only the cut after write n.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "matrix.h"

namespace matrix {
namespace {

int SuccessfulWrites(const RunResult &r) {
    int n = 0;
    for (const Call &c : r.journal)
        n += c.Write() && c.Succeeded() ? 1 : 0;
    return n;
}

// Writes of a run that needs nothing: none, but for the regions rewritten
// on every run by design, which must get the fault-free run's bytes again.
std::vector<std::string> NeedlessWrites(const Scenario &s, const RunResult &clean, const RunResult &r) {
    std::vector<std::string> bad;
    for (const Call &w : r.journal) {
        if (!w.Write()) continue;
        const std::string where = w.chip + " " + w.region;
        bool allowed = false;
        for (const auto &region : s.rewrittenEachRun)
            allowed = allowed || region == w.region;
        bool same = false;
        for (const Call &c : clean.journal)
            same = same || (c.Write() && c.chip == w.chip && c.region == w.region && c.digest == w.digest);
        if (!allowed)
            bad.push_back("wrote " + where);
        else if (!same)
            bad.push_back("rewrote " + where + " with other bytes than the fault-free run");
    }
    return bad;
}

std::string Describe(const std::map<std::string, std::string> &flash) {
    std::string text;
    for (const auto &[k, v] : flash)
        text += "  " + k + ": " + v + "\n";
    return text;
}

class PowerCutMatrix : public ::testing::TestWithParam<Scenario> {};

TEST_P(PowerCutMatrix, CutAfterEveryWrite) {
    const Scenario &s = GetParam();
    if (!s.cutPending.empty() && !RunPendingRows()) GTEST_SKIP() << "pending: " << s.cutPending;
    Host host(s);
    ASSERT_TRUE(host.error().empty()) << host.error();
    const std::filesystem::path cleanDir = host.Fresh("baseline");
    const RunResult clean = host.Run(cleanDir);
    ASSERT_TRUE(clean.status == 0 || clean.status == 201) << clean.out << clean.err;
    const int writes = SuccessfulWrites(clean);
    ASSERT_GT(writes, 0) << "the fault-free run writes nothing:\n" << clean.out;
    const auto expected = host.Flash(cleanDir);
    ASSERT_FALSE(expected.empty());

    const char *only = std::getenv("TF_MATRIX_CUT");
    int cuts = 0;
    for (int n = 1; n <= writes; ++n) {
        if (only != nullptr && std::atoi(only) != n) continue;
        SCOPED_TRACE(s.name + ": power cut after write " + std::to_string(n));
        ++cuts;
        const std::filesystem::path dir = host.Fresh("cut");
        const RunResult cut = host.Run(dir, R"({"power_cut_after_writes": )" + std::to_string(n) + "}");
        ASSERT_EQ(cut.status, 99) << "the power cut did not happen\n" << cut.out << cut.err;
        ASSERT_EQ(SuccessfulWrites(cut), n);

        const RunResult again = host.Run(dir);
        ASSERT_FALSE(again.timedOut);
        // After the last write was cut off only its messages are missing:
        // a run that compares versions finds nothing to do.
        const bool nothingLeft = s.rerunNeedsNothing && n == writes;
        if (nothingLeft)
            EXPECT_EQ(again.status, s.nothingLeftStatus) << again.out << again.err;
        else
            EXPECT_TRUE(again.status == 0 || again.status == 201)
                << "the run after the cut did not complete the update\n"
                << again.out << again.err;
        const auto flash = host.Flash(dir);
        EXPECT_EQ(flash, expected) << "flash after the cut and a second run:\n"
                                   << Describe(flash) << "fault-free:\n"
                                   << Describe(expected);

        if (s.rerunNeedsNothing) {
            const RunResult third = host.Run(dir);
            EXPECT_EQ(third.status, s.nothingLeftStatus) << third.out << third.err;
            const auto needless = NeedlessWrites(s, clean, third);
            EXPECT_TRUE(needless.empty())
                << "a run after the completed update wrote:\n  " << ::testing::PrintToString(needless) << "\n"
                << third.out;
            EXPECT_EQ(host.Flash(dir), expected) << "flash after a third run";
        }
    }
    std::printf("[ matrix ] power-cut matrix %s: %d cut points of %d writes\n", s.name.c_str(), cuts, writes);
    if (only == nullptr) RecordCount("cut", s.name, cuts);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PowerCutMatrix, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) { return info.param.name; });

} // namespace
} // namespace matrix
