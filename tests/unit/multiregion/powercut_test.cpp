// Power cut during a flip of the image status records: after every single
// write of a flip the simulator ends the process, and the records left in
// its flash must still designate exactly one valid set, the old one or the
// new one. The designated set is read from the simulator (its own reading
// of the records) and the records are checked byte by byte here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "inventory/cxrtype.h"
#include "multiregion/activeregions.h"
#include "simchip.h"

namespace {

using mrtest::Status;
using mrtest::ZultRegions;

const char *const kDF = "0xFACEFADF";
const char *const kED = "0xFACEFAED";

// A record as the adapter would judge it, parsed here on its own.
struct Raw {
    bool valid;
    int mask;
    int generation;
};
Raw Parse(const std::vector<uint8_t> &b, uint32_t signature) {
    uint32_t sum = 0, sig = 0;
    for (int i = 0; i < 16; i += 4) {
        uint32_t w =
            uint32_t(b[i]) | (uint32_t(b[i + 1]) << 8) | (uint32_t(b[i + 2]) << 16) | (uint32_t(b[i + 3]) << 24);
        sum += w;
        if (i == 12) sig = w;
    }
    return Raw{sum == 0 && sig == signature, b[0] & 1, b[1] | (b[2] << 8)};
}

enum class Flip { Main, Aux };

struct Start {
    const char *name;
    std::string pri, sec, auxPri, auxSec;
    // With both auxiliary masks set or both clear the adapter takes all
    // four areas from the main records (copy 2 when those have equal masks
    // and the secondary is newer). A cut between the two auxiliary writes
    // passes through that state, so the auxiliary flip keeps the other
    // areas only when the main records send them to the copy they are on:
    // not from a main pair whose flip was itself cut short.
    bool auxFlip;
};

class PowerCut : public mrtest::SimChip {
  protected:
    void WriteHost(const Start &s, int cutAfter) {
        std::string top = R"("journal": "off", )";
        if (cutAfter > 0) top += R"("power_cut_after_writes": )" + std::to_string(cutAfter) + ", ";
        Open("0x2281", ZultRegions(s.pri, s.sec, s.auxPri, s.auxSec), "", top);
        Detach();
    }
    // In the child: the flip as an update does it, then an orderly end.
    [[noreturn]] void RunFlip(Flip flip) {
        Attach();
        TVX_ACTIVE_REGIONS active{};
        int rc = CoreGetActiveRegions(&device_, &active);
        if (rc == 0)
            rc = flip == Flip::Main ? CoreUpdateImageStatus(&device_, &active)
                                    : CoreUpdateAuxImageStatus(&device_, &active);
        std::_Exit(rc == 0 ? 0 : 3);
    }
};

TEST_F(PowerCut, EveryWriteOfAFlip) {
    const Start starts[] = {
        {"primary running", Status(1, 3, kDF), Status(0, 2, kDF), Status(1, 1, kED), Status(0, 0, kED), true},
        {"secondary running", Status(0, 4, kDF), Status(1, 6, kDF), Status(0, 1, kED), Status(1, 2, kED, 1), true},
        {"both masks set, 5/7", Status(1, 5, kDF), Status(1, 7, kDF), Status(1, 3, kED), Status(0, 2, kED), false},
        {"neither mask set, primary newer", Status(0, 8, kDF), Status(0, 2, kDF), Status(0, 4, kED), Status(0, 5, kED),
         true},
        {"primary at 65534", Status(1, 65534, kDF), Status(0, 9, kDF), Status(1, 65534, kED), Status(0, 7, kED), true},
        {"secondary record damaged", Status(1, 4, kDF), Status(1, 9, "0x0BADF00D"), Status(1, 1, kED),
         Status(1, 0, "0x0BADF00D"), true},
    };
    for (const Start &s : starts) {
        for (Flip flip : {Flip::Main, Flip::Aux}) {
            if (flip == Flip::Aux && !s.auxFlip) continue;
            // The state before and after an uninterrupted flip.
            WriteHost(s, 0);
            Attach();
            TVX_ACTIVE_REGIONS before = LibraryActive();
            Detach();
            EXPECT_EXIT(RunFlip(flip), ::testing::ExitedWithCode(0), "");
            Attach();
            TVX_ACTIVE_REGIONS after = LibraryActive();
            Detach();
            if (flip == Flip::Main) {
                EXPECT_NE(after.ActiveGlobalRegions, before.ActiveGlobalRegions) << s.name;
            } else {
                EXPECT_NE(after.ActiveBoardConfig, before.ActiveBoardConfig) << s.name;
            }
            // A flip is two writes: cut after the first and after the second.
            for (int cut = 1; cut <= 2; ++cut) {
                SCOPED_TRACE(std::string(s.name) + (flip == Flip::Main ? ", main" : ", aux") + ", cut after write " +
                             std::to_string(cut));
                WriteHost(s, cut);
                EXPECT_EXIT(RunFlip(flip), ::testing::ExitedWithCode(99), "");
                Attach();
                TVX_ACTIVE_REGIONS now = LibraryActive();
                if (flip == Flip::Main) {
                    uint8_t set = now.ActiveGlobalRegions;
                    EXPECT_TRUE(set == before.ActiveGlobalRegions || set == after.ActiveGlobalRegions);
                    if (cut == 2) {
                        EXPECT_EQ(set, after.ActiveGlobalRegions);
                    }
                    // The designated set's record is intact and carries the
                    // higher generation or the mask bit that designates it.
                    Raw pri = Parse(Read(0x95, 16), 0xFACEFADFu), sec = Parse(Read(0x96, 16), 0xFACEFADFu);
                    const Raw &on = set == 1 ? pri : sec;
                    const Raw &off = set == 1 ? sec : pri;
                    EXPECT_TRUE(on.valid);
                    EXPECT_TRUE(on.mask == 1 || !off.valid || off.mask == 0);
                } else {
                    uint8_t board = now.ActiveBoardConfig;
                    EXPECT_TRUE(board == before.ActiveBoardConfig || board == after.ActiveBoardConfig);
                    if (cut == 2) {
                        EXPECT_EQ(board, after.ActiveBoardConfig);
                    }
                    // The other areas never move, and neither does the set.
                    EXPECT_EQ(now.ActiveVpdNvram, before.ActiveVpdNvram);
                    EXPECT_EQ(now.ActiveNpivConfig01, before.ActiveNpivConfig01);
                    EXPECT_EQ(now.ActiveNpivConfig23, before.ActiveNpivConfig23);
                    EXPECT_EQ(now.ActiveGlobalRegions, before.ActiveGlobalRegions);
                }
                Detach();
            }
        }
    }
}

} // namespace
