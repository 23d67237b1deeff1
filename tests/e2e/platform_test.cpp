// What differs between the Linux and the Windows build end to end: the stop
// events of the console (Ctrl-C, Ctrl-Break during a flash write) and the
// harness's handling of Windows line ends.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "update_hosts.h"

namespace {

// A stop during an adapter's region sequence lets the sequence finish, then
// ends the program with status 130, whichever event it was and whichever
// write it came after; nothing is left half written.
TEST(Platform, StopEventDuringAWriteEndsAfterTheSequence) {
    struct Row {
        const char *event;
        int afterWrites;
    };
    const Row rows[] = {{"ctrl_c", 1}, {"ctrl_break", 1}, {"ctrl_break", 2}};
    const std::string host = upd::Host({upd::MultibootCard("c25", "2532", "0x0301", "RFD2500",
                                                           {upd::MultibootChip("2532", upd::FlashVersions{}, 2)})});
    for (const auto &row : rows) {
        const std::string label = std::string(row.event) + " after write " + std::to_string(row.afterWrites);
        upd::Scene s("stop_event");
        s.Files(host);
        s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
        s.Faults(R"({"interrupt_after_writes": )" + std::to_string(row.afterWrites) + R"(, "interrupt_event": ")" +
                 row.event + "\"}");
        auto r = s.Tf({});
        EXPECT_EQ(r.status, 130) << label << "\n" << r.out << r.err;
        EXPECT_EQ(s.WriteList(), (std::vector<std::string>{"0:0x07", "0:0x01"})) << label;
        const std::string journal = e2e::ReadFile(s.path() / "journal.jsonl");
        EXPECT_EQ(upd::Count(journal, "\"op\":\"interrupt\""), 1u) << label << "\n" << journal;
        EXPECT_EQ(upd::Count(journal, std::string("\"event\":\"") + row.event + "\""), 1u) << label;
        // The summary of a finished run never appears: the program stopped.
        EXPECT_EQ(r.out.find("Updates completed"), std::string::npos) << label << "\n" << r.out;
        auto again = s.Tf({});
        EXPECT_EQ(again.status, 1) << label << "\n" << again.out;
        EXPECT_TRUE(s.Writes().empty()) << label;
    }
}

// The harness turns a Windows program's CR LF line ends into LF and fails
// the test for any line end without CR; a CR of the program's own text
// before the line end stays.
TEST(Platform, WindowsLineEndsAreCheckedAndNormalised) {
    struct Row {
        std::string text;
        std::string expected;
        bool bareLineEnd;
    };
    const Row rows[] = {
        {"", "", false},
        {"Info: one\r\nError: two\r\n", "Info: one\nError: two\n", false},
        {"OPTIONS:\r\r\n\r\n", "OPTIONS:\r\n\n", false},
        {"Updating Adapter FW... ", "Updating Adapter FW... ", false},
        {"a\r\nb\n", "a\nb\n", true},
        {"\n", "\n", true},
        {"lone CR\r", "lone CR\r", false},
    };
    for (const auto &row : rows) {
        std::string got;
        ::testing::TestPartResultArray failures;
        {
            ::testing::ScopedFakeTestPartResultReporter reporter(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
            got = e2e::detail::FromCrLf(row.text, "output");
        }
        EXPECT_EQ(got, row.expected) << ::testing::PrintToString(row.text);
        EXPECT_EQ(failures.size() != 0, row.bareLineEnd) << ::testing::PrintToString(row.text);
    }
}

} // namespace
