// Fault and power-cut matrices: the real program run on simulated hosts of
// a scenario table, once without faults and then once per library call with
// a failure injected there, or cut off after each flash write.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace matrix {

// One row of the scenario table: a simulated host, the program's
// configuration and the command run on it.
struct Scenario {
    std::string name;    // test name: letters, digits and '_'
    std::string preset;  // tarniksim preset of the host
    std::string table;   // adapters.properties
    std::string control; // tarnikflasher.properties ("" for none)
    // Image kit command lines, run in the host folder before the program.
    std::vector<std::vector<std::string>> images;
    std::vector<std::string> args; // the program's command line
    // Status 0 promises that every adapter the fault-free run updated was
    // updated (false: at least one, as "/b ALL" promises).
    bool allMustSucceed = true;
    // A completed update needs nothing more: another run writes nothing and
    // returns 1 (the default run, which compares versions).
    bool rerunNeedsNothing = false;
    // Reads the written bytes or their validation rest on: "<fn>" or
    // "<fn>@<param or region>", optionally "...=><region>" when only that
    // region's writes rest on it. After such a read failed, the adapter (or
    // that region of it) may be written only once the same read succeeded
    // again.
    std::vector<std::string> guards;
    // A defect the row shows that is not mended yet: the matrix skips the
    // row, naming it, unless TF_MATRIX_ALL=1.
    std::string faultPending = {};
    std::string cutPending = {};
    // Exit status of the run that finds nothing left to do (with
    // rerunNeedsNothing): 1 for the default run, another for commands that
    // report "already done" in their own way.
    int nothingLeftStatus = 1;
    // A host written by the test instead of a tarniksim preset (preset ""):
    // host.json and its region files into the folder. Returns "" or what
    // went wrong.
    std::string (*makeHost)(const std::filesystem::path &dir) = nullptr;
    // Configuration data files the command applies before it updates the
    // adapters: the regions they write ("0xCF"). Their writes are not part
    // of an adapter's update, each success they report needs its write,
    // and a failure up to the last of their writes leaves the exit status
    // as it is whenever the adapters' update still completes.
    std::vector<std::string> dataRegions = {};
    // Data regions rewritten on every run by design, even when nothing is
    // needed: a run after a completed update may write them again, with
    // the bytes the fault-free run wrote.
    std::vector<std::string> rewrittenEachRun = {};
    // Regions that record a completed update (VPD version keywords, memo
    // block) and the text by which the run must report a failure to write
    // one: the update counts as completed without them.
    std::vector<std::pair<std::string, std::string>> records = {};
    // A second path the command takes by design when one of these calls
    // fails (a failed version or capability query: the offline update).
    // The fault matrix holds such a run to a fault-free run on the host as
    // alternativeHost changes it to take that path.
    std::vector<std::string> alternativeAfter = {};
    std::string (*alternativeHost)(const std::filesystem::path &dir) = nullptr;
    // Dual-bank chips: the regions kept in two copies (set 1, set 2). After
    // a power cut the chip is reset, and the power-cut matrix compares the
    // set it then runs, not the copy it does not run nor the status records
    // that choose between them.
    std::vector<std::pair<uint32_t, uint32_t>> setPairs = {};
};

// Success reports of the data files per "<instance> <region>".
std::map<std::string, int> DataFileSuccesses(const std::string &out);

// True when rows with a pending defect run too (TF_MATRIX_ALL=1).
bool RunPendingRows();

const std::vector<Scenario> &Scenarios();
// Test names show the scenario's name.
void PrintTo(const Scenario &s, std::ostream *os);

// One line of the simulator's journal.
struct Call {
    uint64_t seq = 0;
    std::string op; // journal op ("call", "write", "open", ...)
    std::string fn; // library function
    int instance = -1;
    std::string chip;   // "<card>/<chip>" of the instance, "" without one
    std::string region; // writes and region reads: the region code
    std::string param;  // NVRAM parameter read
    uint64_t size = 0;
    std::string digest; // writes: FNV-1a 64 of the data
    uint32_t status = 0;
    bool Write() const { return op == "write"; }
    bool Succeeded() const { return status == 0 || status == 0x20000100u; }
};

struct RunResult {
    int status = -1;       // exit status
    int signal = 0;        // terminating signal, 0 when it exited
    bool timedOut = false; // killed after the time limit
    std::string out, err;
    std::vector<Call> journal;
};

// A prepared scenario: the host folder made once; each run gets a fresh
// copy of it.
class Host {
  public:
    explicit Host(const Scenario &s);
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;
    const std::string &error() const { return error_; }
    // A fresh copy of the prepared host, named by tag, replacing one of the
    // same name.
    std::filesystem::path Fresh(const std::string &tag) const;
    // Runs the scenario's command in dir (faults: the TORVEX_SIM_FAULTS
    // JSON, "" none); every call journaled.
    RunResult Run(const std::filesystem::path &dir, const std::string &faults = "") const;
    // Digest of every region of every chip ("<card>/<chip> <region>" ->
    // FNV-1a 64) as the library reads it now.
    std::map<std::string, std::string> Flash(const std::filesystem::path &dir) const;
    // Resets every dual-bank chip (a power loss: it restarts on the set its
    // records designate) and returns the set each one runs ("<card>/<chip>"
    // -> 1 or 2).
    std::map<std::string, uint32_t> ResetChips(const std::filesystem::path &dir) const;
    const std::filesystem::path &root() const { return root_; }

  private:
    const Scenario &s_;
    std::filesystem::path root_, template_;
    std::string error_;
};

// Library function a journal line stands for.
std::string CallName(const Call &c);
// Text of a case for messages and for TF_MATRIX_CASE: "<fn>#<occurrence>".
std::string CaseName(const std::string &fn, int occurrence);
// Success messages of the run that claim an adapter was updated, and the
// count N of "(N out of M)" summaries (-1 without one).
int SuccessMessages(const std::string &out);
int SummaryUpdated(const std::string &out);
// Leaves a full run's count for the test script: <kind>-<scenario> in the
// counts folder holds the number.
void RecordCount(const std::string &kind, const std::string &scenario, int count);
// Scratch root of the matrices (TF_MATRIX_DIR, else the temporary folder).
std::filesystem::path ScratchRoot();
// The folder is kept after the test when TF_MATRIX_KEEP is set.
bool KeepFolders();

} // namespace matrix
