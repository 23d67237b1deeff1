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

// The harness turns a Windows program's text into the Linux form: CR LF
// line ends into LF (a CR of the program's own text before the line end
// stays) and Wine drive paths into Unix paths. A line end without CR, or a
// drive path with a '/' in it, fails the test.
TEST(Platform, WindowsTextIsCheckedAndMadeLinuxText) {
    struct Row {
        std::string text;
        std::string expected;
        bool fails;
    };
    const Row rows[] = {
        {"", "", false},
        {"Info: one\r\nError: two\r\n", "Info: one\nError: two\n", false},
        {"OPTIONS:\r\r\n\r\n", "OPTIONS:\r\n\n", false},
        {"Updating Adapter FW... ", "Updating Adapter FW... ", false},
        {"a\r\nb\n", "a\nb\n", true},
        {"\n", "\n", true},
        {"lone CR\r", "lone CR\r", false},
        {"Unable to open file Z:\\tmp\\tf_x\\tarnikflasher.properties!\r\n",
         "Unable to open file /tmp/tf_x/tarnikflasher.properties!\n", false},
        {"Debug: Configuration Path (Z:\\tmp\\tf_x\\)\r\n", "Debug: Configuration Path (/tmp/tf_x/)\n", false},
        {"invalid data (Z:\\tmp\\d\\\\x1D7Ax0501\\PEP27BC.dat)!", "invalid data (/tmp/d//x1D7Ax0501/PEP27BC.dat)!",
         false},
        {"Z:\\a Z:\\b", "/a /b", false},
        {"mixed Z:\\tmp\\x/y.dat", "mixed /tmp/x/y.dat", true},
        {"XYZ:\\not a drive path, C:\\windows", "XYZ:\\not a drive path, C:\\windows", false},
    };
    for (const auto &row : rows) {
        std::string got;
        ::testing::TestPartResultArray failures;
        {
            ::testing::ScopedFakeTestPartResultReporter reporter(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
            got = e2e::detail::FromWindowsText(row.text, "output");
        }
        EXPECT_EQ(got, row.expected) << ::testing::PrintToString(row.text);
        EXPECT_EQ(failures.size() != 0, row.fails) << ::testing::PrintToString(row.text);
    }
}

// The program under test really writes its own paths: the Windows build a
// drive path with backslashes, the Linux build the Unix path.
TEST(Platform, ProgramWritesNativePaths) {
    e2e::ScratchDir dir("native");
    e2e::WriteFile(dir.path() / "adapters.properties", "");
    auto r = e2e::Run(TF_BINARY, {"-debug"}, dir.path(), {{"TORVEX_SIM_HOST", ""}});
    EXPECT_EQ(r.status, 4) << r.out;
    const std::string control = e2e::NativePath(dir.path() / "tarnikflasher.properties");
    const std::string folder = e2e::NativePath(dir.path()) + e2e::NativeSeparator();
    EXPECT_EQ(control.rfind(e2e::WindowsTarget() ? "Z:\\" : "/", 0), 0u) << control;
    EXPECT_NE(r.rawOut.find("Unable to open file " + control + "!"), std::string::npos) << r.rawOut;
    EXPECT_NE(r.rawOut.find("Debug: Configuration Path (" + folder + ")"), std::string::npos) << r.rawOut;
}

} // namespace
