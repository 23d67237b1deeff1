// Power cut at every flash write of the 27xx and 28xx updates. After each
// cut the chip is reset (a power loss restarts it) and what the simulator
// holds is checked against its own journal: the set the records designate
// is the one the chip runs, and it holds either only its old contents or
// every region the update writes into a set, each whole. A rerun of the
// update then completes.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "online_hosts.h"

namespace {

using online::json;
using online::RegionOf;
using online::Scene;

struct PowerCutPath {
    const char *name;
    const char *preset;
    std::function<void(json &)> edit;
    const char *image;
    const std::map<std::string, int> *sets;
    bool setConsistentAfterCut; // false: the running set is rewritten in place
};

// Region writes of the last run with the digest of each region's last
// write, in order.
struct WriteLog {
    std::vector<std::string> order;
    std::map<std::string, std::string> digest;
};

WriteLog Writes(const Scene &s) {
    WriteLog log;
    for (const online::Call &c : s.Calls()) {
        if (c.op != "write" || c.status != "0x00000000") continue;
        log.order.push_back(c.region);
        log.digest[c.region] = c.digest;
    }
    return log;
}

std::set<std::string> InSet(const std::vector<std::string> &regions, const std::map<std::string, int> &sets, int set) {
    std::set<std::string> out;
    for (const std::string &r : regions) {
        auto it = sets.find(r);
        if (it != sets.end() && it->second == set) out.insert(r);
    }
    return out;
}

void Prepare(Scene &s, const PowerCutPath &p) {
    s.Preset(p.preset, p.edit);
    s.Images();
}

// The designated set holds its old contents only, or every region the
// update writes into a set, as written.
void ExpectDesignatedSetWhole(const PowerCutPath &p, const online::ChipView &before, const online::ChipView &after,
                              const WriteLog &run, size_t refSetWrites) {
    const int d = after.designated;
    std::set<std::string> members;
    for (const auto &[region, set] : *p.sets)
        if (set == d && after.digests.count(region) != 0) members.insert(region);
    const std::set<std::string> written = InSet(run.order, *p.sets, d);
    if (!written.empty()) {
        EXPECT_EQ(written.size(), refSetWrites) << "set " << d << " designated half written";
    }
    for (const std::string &r : members) {
        const std::string expected = written.count(r) != 0 ? run.digest.at(r) : before.digests.at(r);
        EXPECT_EQ(after.digests.at(r), expected) << "region " << r;
    }
    // Every region written holds the whole of its last write.
    for (const auto &[region, digest] : run.digest)
        EXPECT_EQ(after.digests.at(region), digest) << "region " << region;
}

class OnlinePowerCut : public ::testing::TestWithParam<int> {};

const PowerCutPath kPaths[] = {
    {"27xx online", "fc27xx", {}, "fenwar.bin", &online::FenwarSets(), true},
    {"28xx online", "fc28xx", {}, "zult.bin", &online::ZultSets(), true},
    {"27xx offline, secondary set running", "fc27xx",
     [](json &h) {
         h["version"] = "1.28.0.121";
         RegionOf(h, "0x95")["status"]["mask"] = 0;
         RegionOf(h, "0x96")["status"] = {{"mask", 1}, {"generation", 4}, {"signature", "0xFACEFADE"}};
     },
     "fenwar.bin", &online::FenwarSets(), true},
    {"27xx offline, primary set running", "fc27xx", [](json &h) { h["version"] = "1.28.0.121"; }, "fenwar.bin",
     &online::FenwarSets(), false},
};

TEST_P(OnlinePowerCut, EveryCutPointLeavesAWholeSetAndARerunCompletes) {
    if (std::string(TF_SIMTOOL).empty()) GTEST_SKIP() << "tarniksim is not built";
    const PowerCutPath &p = kPaths[GetParam()];
    SCOPED_TRACE(p.name);

    // The update without a cut: the writes a complete update makes.
    Scene ref("powercut_ref");
    Prepare(ref, p);
    auto full = ref.Tf({"/b", "0", p.image});
    ASSERT_EQ(full.status, 0) << full.out << full.err;
    const WriteLog refLog = Writes(ref);
    ref.Reset();
    const online::ChipView refAfter = ref.Show();
    const size_t refSetWrites = InSet(refLog.order, *p.sets, refAfter.designated).size();
    ASSERT_GT(refSetWrites, 0u);
    const size_t n = refLog.order.size();
    ASSERT_GE(n, 10u);

    size_t proven = 0;
    for (size_t k = 1; k <= n; ++k) {
        SCOPED_TRACE("cut after write " + std::to_string(k));
        Scene s("powercut");
        Prepare(s, p);
        const online::ChipView before = s.Show();
        s.Faults(R"({"power_cut_after_writes": )" + std::to_string(k) + "}");
        auto cut = s.Tf({"/b", "0", p.image});
        EXPECT_EQ(cut.status, 99) << cut.out << cut.err;
        const WriteLog run = Writes(s);
        EXPECT_EQ(run.order.size(), k);
        EXPECT_TRUE(std::equal(run.order.begin(), run.order.end(), refLog.order.begin()));
        s.Reset();
        const online::ChipView after = s.Show();
        EXPECT_EQ(after.running, after.designated);
        if (p.setConsistentAfterCut) {
            ExpectDesignatedSetWhole(p, before, after, run, refSetWrites);
            // The board configuration copy the auxiliary records designate
            // is whole too.
            if (after.digests.count("0x10B") != 0) {
                const std::string fbc = after.boardConfig == 2 ? "0x10B" : "0xBA";
                const std::string expected = run.digest.count(fbc) != 0 ? run.digest.at(fbc) : before.digests.at(fbc);
                EXPECT_EQ(after.digests.at(fbc), expected);
            }
        }

        // The rerun completes and leaves a whole designated set.
        s.Faults("{}");
        auto again = s.Tf({"/b", "0", p.image});
        EXPECT_EQ(again.status, 0) << again.out << again.err;
        const WriteLog rerun = Writes(s);
        s.Reset();
        const online::ChipView done = s.Show();
        EXPECT_EQ(InSet(rerun.order, *p.sets, done.designated).size(), refSetWrites);
        ExpectDesignatedSetWhole(p, after, done, rerun, refSetWrites);
        if (!::testing::Test::HasFailure()) ++proven;
    }
    EXPECT_EQ(proven, n);
    std::printf("[ POWERCUT ] %s: %zu of %zu cut points proven\n", p.name, proven, n);
}

std::string PathName(const ::testing::TestParamInfo<int> &info) {
    static const char *const names[] = {"FenwarOnline", "ZultOnline", "FenwarOfflineSecondary", "FenwarOfflinePrimary"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Paths, OnlinePowerCut, ::testing::Range(0, int(std::size(kPaths))), PathName);

} // namespace
