// A port the library has but that cannot be opened, end to end: the default
// run counts it as an adapter whose update failed (a card of which no port
// opened used to vanish, and the run reported success), on the classic and
// the converged path. The first port of a chip whose second port opened is
// that chip's: the chip's own update covers it, and it is not counted twice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update_hosts.h"

namespace {

using upd::MultibootCard;
using upd::MultibootChip;

std::string OpenFails(int instance) {
    return R"({"faults":[{"op":"TvxOpenDevice","skip":)" + std::to_string(instance) +
           R"(,"statuses":["0x20000001"]}]})";
}

std::string Failed(int instance) {
    return "Flash update failed on this HBA (Instance " + std::to_string(instance) +
           ") with error (0x20000001) (General failure)!\n";
}

// A two-port and a one-port 25xx card.
std::string TwoCards25() {
    return upd::Host({MultibootCard("a", "2532", "0x0301", "RFDA", {MultibootChip("2532", {}, 2)}),
                      MultibootCard("b", "2532", "0x0301", "RFDB", {MultibootChip("2532", {}, 1)})});
}

std::string OneCard25(int ports) {
    return upd::Host({MultibootCard("a", "2532", "0x0301", "RFDA", {MultibootChip("2532", {}, ports)})});
}

// The Lark preset: a two-port card (instances 0, 1) and a one-port card
// (instance 2).
const char kLarkTable[] = "0x0821,0x1D7A,CXR8021,Dual port 10Gb CNA,TRUE\n";
const char kLarkControl[] = "0x0821,0x1D7A,CXR8242,2.20,1.10,2.10,04.02.17,lark.bin,02.01.00\n";
const std::vector<std::string> kLarkKit = {"lark",   "--ssvid",         "0x1D7A", "--ssdid",
                                           "0x0821", "--image-version", "2.1.0",  "lark.bin"};
const std::vector<std::string> kKit25 = {"multiboot", "--chip", "2532", "mbi25.bin"};

TEST(UnopenedPorts, DefaultRunCountsThemFailed) {
    struct Row {
        const char *name;
        std::string host; // "" for the Lark preset
        std::string faults;
        int status;
        std::vector<std::string> lines;
        std::vector<int> written; // instances whose chips were written
    };
    const Row rows[] = {
        {"classic: the second card's only port",
         TwoCards25(),
         OpenFails(2),
         3,
         {Failed(2), "Warning: Unable to update all HBAs (1 out of 2)!\n"},
         {0}},
        {"classic: the only card's only port",
         OneCard25(1),
         OpenFails(0),
         2,
         {Failed(0), "All HBAs that need to be updated failed to be updated (0 out of 1)!\n"},
         {}},
        {"classic: a card's first port, the card updated through its second",
         OneCard25(2),
         OpenFails(0),
         0,
         {"Info: Updates completed successfully (1 out of 1).\n"},
         {1}},
        {"converged: the second card's only port",
         "",
         OpenFails(2),
         3,
         {Failed(2), "Warning: Unable to update all HBAs (1 out of 2)!\n"},
         {0}},
        {"converged: a card's first port, the card updated through its second",
         "",
         OpenFails(0),
         0,
         {"Info: Updates completed successfully (2 out of 2).\n"},
         {2, 1}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        upd::Scene s("unopened");
        if (row.host.empty()) {
            auto init = e2e::Run(TF_SIMTOOL, {"init", s.path().string(), "cna-lark"}, s.path());
            ASSERT_EQ(init.status, 0) << init.err;
            e2e::WriteFile(s.path() / "adapters.properties", kLarkTable);
            e2e::WriteFile(s.path() / "tarnikflasher.properties", kLarkControl);
            s.Kit(kLarkKit);
        } else {
            s.Files(row.host);
            s.Kit(kKit25);
        }
        s.Faults(row.faults);
        auto r = s.Tf({});
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        for (const auto &line : row.lines)
            EXPECT_NE(r.out.find("\n" + line), std::string::npos) << line << r.out;
        if (row.status != 0) {
            EXPECT_EQ(r.out.find("Updates completed successfully"), std::string::npos) << r.out;
        }
        std::vector<int> written;
        for (const auto &w : s.Writes())
            if (written.empty() || written.back() != w.instance) written.push_back(w.instance);
        EXPECT_EQ(written, row.written) << r.out;
    }
}

} // namespace
