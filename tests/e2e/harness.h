// Helpers for end-to-end scenarios: run the real binaries in a scratch
// folder with a chosen environment and capture what they print.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace e2e {

struct RunResult {
    int status = -1; // exit status, or -1 when the process did not exit
    std::string out; // standard output
    std::string err; // standard error
};

inline std::string ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFile(const std::filesystem::path &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Runs program with args in cwd; env entries are added to (or, with an
// empty value, removed from) the inherited environment. TARNIK_NO_SLEEP=1
// is always set so that no wait really sleeps.
inline RunResult Run(const std::string &program, const std::vector<std::string> &args, const std::filesystem::path &cwd,
                     const std::map<std::string, std::string> &env = {}) {
    RunResult result;
    std::filesystem::path outPath = cwd / ".e2e_stdout";
    std::filesystem::path errPath = cwd / ".e2e_stderr";
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(127);
        int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0) _exit(127);
        dup2(o, 1);
        dup2(e, 2);
        setenv("TARNIK_NO_SLEEP", "1", 1);
        for (const auto &[k, v] : env) {
            if (v.empty())
                unsetenv(k.c_str());
            else
                setenv(k.c_str(), v.c_str(), 1);
        }
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int ws = 0;
    if (pid > 0 && waitpid(pid, &ws, 0) == pid && WIFEXITED(ws)) result.status = WEXITSTATUS(ws);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return result;
}

// A fresh scratch folder below the system's temporary folder, removed at
// the end of the test.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string &tag) {
        std::string tmpl = (std::filesystem::temp_directory_path() / ("tf_" + tag + "_XXXXXX")).string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        char *made = mkdtemp(buf.data());
        path_ = made != nullptr ? made : tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::filesystem::path &path() const { return path_; }

  private:
    std::filesystem::path path_;
};

} // namespace e2e
