// Running the program on copies of a prepared host, reading the journal and
// the flash the simulated library holds.
#include "matrix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "torvex_sim.h"

namespace matrix {

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WriteText(const fs::path &p, const std::string &text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out);
}

int TimeLimitSeconds() {
    const char *t = std::getenv("TF_MATRIX_TIMEOUT");
    int v = t != nullptr ? std::atoi(t) : 0;
    return v > 0 ? v : 60;
}

// Runs program in cwd with env changes (empty value: removed); output to
// files in cwd. Killed after the time limit.
RunResult Exec(const std::string &program, const std::vector<std::string> &args, const fs::path &cwd,
               const std::map<std::string, std::string> &env) {
    RunResult r;
    const fs::path outPath = cwd / ".matrix_stdout", errPath = cwd / ".matrix_stderr";
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(127);
        int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0) _exit(127);
        dup2(o, 1);
        dup2(e, 2);
        for (const auto &[k, v] : env) {
            if (v.empty())
                unsetenv(k.c_str());
            else
                setenv(k.c_str(), v.c_str(), 1);
        }
        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (pid < 0) return r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TimeLimitSeconds());
    int ws = 0;
    for (;;) {
        pid_t w = waitpid(pid, &ws, WNOHANG);
        if (w == pid) break;
        if (w < 0) return r;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &ws, 0);
            r.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!r.timedOut && WIFEXITED(ws)) r.status = WEXITSTATUS(ws);
    if (!r.timedOut && WIFSIGNALED(ws)) r.signal = WTERMSIG(ws);
    r.out = ReadText(outPath);
    r.err = ReadText(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return r;
}

std::vector<Call> ReadJournal(const fs::path &path) {
    std::vector<Call> calls;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object()) continue;
        Call c;
        c.seq = j.value("seq", uint64_t(0));
        c.op = j.value("op", "");
        c.fn = j.value("fn", "");
        c.instance = j.value("instance", -1);
        if (j.contains("card")) c.chip = j.value("card", "") + "/" + std::to_string(j.value("chip", 0));
        if (j.contains("region") && j["region"].is_string()) c.region = j["region"].get<std::string>();
        if (j.contains("param") && j["param"].is_string()) c.param = j["param"].get<std::string>();
        c.size = j.value("size", uint64_t(0));
        c.digest = j.value("fnv1a64", "");
        c.status = static_cast<uint32_t>(std::strtoul(j.value("status", "0").c_str(), nullptr, 16));
        calls.push_back(c);
    }
    return calls;
}

uint64_t Fnv1a64(const uint8_t *p, size_t n) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

} // namespace

std::string CallName(const Call &c) {
    if (!c.fn.empty()) return c.fn;
    static const std::map<std::string, std::string> kOps = {
        {"open", "TvxOpenDevice"},
        {"close", "TvxCloseDevice"},
        {"aen_enable", "TvxEnableAen"},
        {"aen_disable", "TvxDisableAen"},
        {"session_start", "TvxStartFlashUpdate"},
        {"session_end", "TvxEndFlashUpdate"},
        {"fw_attributes", "TvxSendFlashUpdateFWAttributes"},
        {"activate", "TvxOnlineActivateFlashUpdate"},
    };
    auto it = kOps.find(c.op);
    return it != kOps.end() ? it->second : std::string();
}

std::string CaseName(const std::string &fn, int occurrence) { return fn + "#" + std::to_string(occurrence); }

int SuccessMessages(const std::string &out) {
    int n = 0;
    for (const char *text : {"Option ROM update complete", "Flash update complete"})
        for (size_t p = out.find(text); p != std::string::npos; p = out.find(text, p + 1))
            ++n;
    return n;
}

int SummaryUpdated(const std::string &out) {
    int best = -1;
    for (const char *text : {"Updates completed successfully (", "Unable to update all HBAs (",
                             "All HBAs that need to be updated failed to be updated ("}) {
        for (size_t p = out.find(text); p != std::string::npos; p = out.find(text, p + 1)) {
            int n = std::atoi(out.c_str() + p + std::strlen(text));
            if (n > best) best = n;
        }
    }
    return best;
}

std::map<std::string, int> DataFileSuccesses(const std::string &out) {
    // "Updating <what> of HBA instance <n> - <model>..." and its outcome,
    // which may follow on later lines (after an error message): the text up
    // to the next report or Info line.
    static const struct {
        const char *lead, *region, *success;
    } kReports[] = {
        {"Updating PEP Board Config of HBA instance ", "0xCF", "Successful"},
        {"Updating Board Config parameters of HBA instance ", "0x71", "Success"},
        {"Updating firmware preload table of HBA instance ", "0x13", "Successful"},
    };
    std::vector<size_t> bounds; // where each report starts, and each Info line
    for (const auto &r : kReports)
        for (size_t p = out.find(r.lead); p != std::string::npos; p = out.find(r.lead, p + 1))
            bounds.push_back(p);
    for (size_t p = out.find("\nInfo:"); p != std::string::npos; p = out.find("\nInfo:", p + 1))
        bounds.push_back(p);
    std::sort(bounds.begin(), bounds.end());
    std::map<std::string, int> found;
    for (const auto &r : kReports) {
        for (size_t p = out.find(r.lead); p != std::string::npos; p = out.find(r.lead, p + 1)) {
            const auto next = std::upper_bound(bounds.begin(), bounds.end(), p);
            const std::string text = out.substr(p, next == bounds.end() ? std::string::npos : *next - p);
            if (text.find(r.success) == std::string::npos) continue;
            const int instance = std::atoi(text.c_str() + std::strlen(r.lead));
            ++found[std::to_string(instance) + " " + r.region];
        }
    }
    return found;
}

void RecordCount(const std::string &kind, const std::string &scenario, int count) {
    std::error_code ec;
    fs::create_directories(TF_MATRIX_COUNTS, ec);
    WriteText(fs::path(TF_MATRIX_COUNTS) / (kind + "-" + scenario), std::to_string(count) + "\n");
}

fs::path ScratchRoot() {
    const char *d = std::getenv("TF_MATRIX_DIR");
    return d != nullptr && *d != '\0' ? fs::path(d) : fs::temp_directory_path();
}

bool RunPendingRows() {
    const char *a = std::getenv("TF_MATRIX_ALL");
    return a != nullptr && *a != '\0' && std::string(a) != "0";
}

bool KeepFolders() {
    const char *k = std::getenv("TF_MATRIX_KEEP");
    return k != nullptr && *k != '\0' && std::string(k) != "0";
}

Host::Host(const Scenario &s) : s_(s) {
    root_ = ScratchRoot() / ("tf_matrix_" + s.name + "_" + std::to_string(getpid()));
    template_ = root_ / "template";
    std::error_code ec;
    fs::remove_all(root_, ec);
    fs::create_directories(root_, ec);
    if (s.makeHost != nullptr) {
        fs::create_directories(template_, ec);
        error_ = s.makeHost(template_);
        if (error_.empty() && !fs::exists(template_ / "host.json")) error_ = "no host.json was written";
        if (!error_.empty()) return;
    } else {
        RunResult init = Exec(TF_SIMTOOL, {"init", template_.string(), s.preset}, root_, {});
        if (init.status != 0) {
            error_ = "tarniksim init " + s.preset + ": " + init.err;
            return;
        }
    }
    if (!WriteText(template_ / "adapters.properties", s.table) ||
        (!s.control.empty() && !WriteText(template_ / "tarnikflasher.properties", s.control))) {
        error_ = "cannot write the configuration files";
        return;
    }
    for (const auto &cmd : s.images) {
        RunResult kit = Exec(TF_IMAGEKIT, cmd, template_, {});
        if (kit.status != 0) {
            error_ = "tfimagekit " + (cmd.empty() ? std::string() : cmd.front()) + ": " + kit.err;
            return;
        }
    }
}

Host::~Host() {
    if (KeepFolders()) return;
    std::error_code ec;
    fs::remove_all(root_, ec);
}

fs::path Host::Fresh(const std::string &tag) const {
    const fs::path dir = root_ / tag;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::copy(template_, dir, fs::copy_options::recursive, ec);
    return dir;
}

RunResult Host::Run(const fs::path &dir, const std::string &faults) const {
    std::map<std::string, std::string> env = {{"TORVEX_SIM_HOST", (dir / "host.json").string()},
                                              {"TORVEX_SIM_JOURNAL_ALL", "1"},
                                              {"TORVEX_SIM_JOURNAL", ""},
                                              {"TORVEX_SIM_READONLY", ""},
                                              {"TORVEX_SIM_FAULTS", ""},
                                              {"TARNIK_NO_SLEEP", "1"}};
    fs::remove(dir / "journal.jsonl");
    if (!faults.empty()) {
        WriteText(dir / "faults.json", faults);
        env["TORVEX_SIM_FAULTS"] = (dir / "faults.json").string();
    }
    RunResult r = Exec(TF_BINARY, s_.args, dir, env);
    r.journal = ReadJournal(dir / "journal.jsonl");
    return r;
}

std::map<std::string, std::string> Host::Flash(const fs::path &dir) const {
    std::map<std::string, std::string> flash;
    // The library in this process reads the host read-only and unjournaled.
    setenv("TORVEX_SIM_HOST", (dir / "host.json").c_str(), 1);
    setenv("TORVEX_SIM_JOURNAL", "off", 1);
    setenv("TORVEX_SIM_READONLY", "1", 1);
    unsetenv("TORVEX_SIM_FAULTS");
    TvxSimReset();
    for (uint32_t inst = 0; inst < 256; ++inst) {
        char card[64] = {};
        uint32_t chip = 0, port = 0;
        if (TvxSimGetInstanceInfo(inst, card, sizeof card, &chip, &port) != TVX_STATUS_OK) break;
        const std::string where = std::string(card) + "/" + std::to_string(chip);
        if (flash.count(where + " layout")) continue;
        uint32_t h = 0;
        if (TvxOpenDevice(inst, &h) != TVX_STATUS_OK) continue;
        TVX_OPTION_ROM_LAYOUT head{};
        head.Size = 8;
        TvxGetOptionRomLayout(h, 0, &head);
        std::vector<uint32_t> block(2 + 2 * size_t(head.Count), 0);
        auto *layout = reinterpret_cast<TVX_OPTION_ROM_LAYOUT *>(block.data());
        layout->Size = uint32_t(block.size() * sizeof(uint32_t));
        std::string codes;
        if (head.Count > 0 && TvxGetOptionRomLayout(h, 0, layout) == TVX_STATUS_OK) {
            for (uint32_t i = 0; i < layout->Count && i < head.Count; ++i) {
                const uint32_t code = block[2 + 2 * i], size = block[3 + 2 * i];
                std::vector<uint8_t> bytes(size);
                char key[96];
                std::snprintf(key, sizeof key, "%s 0x%02X", where.c_str(), code);
                codes += key + where.size();
                if (size == 0 || TvxGetOptionRomEx(h, 0, bytes.data(), size, code) != TVX_STATUS_OK) {
                    flash[key] = "unreadable";
                    continue;
                }
                char d[20];
                std::snprintf(d, sizeof d, "%016llx", static_cast<unsigned long long>(Fnv1a64(bytes.data(), size)));
                flash[key] = d;
            }
        }
        flash[where + " layout"] = codes;
        TvxCloseDevice(h);
    }
    TvxSimReset();
    unsetenv("TORVEX_SIM_HOST");
    unsetenv("TORVEX_SIM_JOURNAL");
    unsetenv("TORVEX_SIM_READONLY");
    return flash;
}

} // namespace matrix
