// Helpers for end-to-end scenarios: run the real binaries in a scratch
// folder with a chosen environment and capture what they print.
//
// One suite serves both builds. By default the programs are those of this
// build (TF_BINARY, TF_SIMTOOL, TF_IMAGEKIT). The environment can point the
// suite at another build instead:
//   TF_E2E_PROGRAM  the tarnikflasher to test
//   TF_E2E_SIMTOOL  the tarniksim to use
//   TF_E2E_IMAGEKIT the tfimagekit to use
// A program whose name ends in ".exe" is a Windows build: it runs under
// Wine (TF_E2E_WINE, default "wine") with WINEDEBUG=-all, in the prefix of
// WINEPREFIX (scripts/wine-checks.sh sets one up for the whole run and keeps
// one wineserver alive for it). What a Windows program writes differs from
// the Linux build in two ways, and Run() and ReadFile() (for the program's
// log) check each on the Windows text, then hand the test the Linux form,
// so one expectation serves both builds:
//   - line ends are CR LF: a bare LF fails the test; CR LF becomes LF;
//   - paths are Wine drive paths ("Z:\tmp\x\a.dat" for /tmp/x/a.dat): one
//     that mixes in a '/' fails the test; each becomes its Unix path.
// RunResult::rawOut and rawErr keep what the program really wrote;
// NativePath() gives a path in the form the program under test prints.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

struct RunResult {
    int status = -1; // exit status, or -1 when the process did not exit
    std::string out; // standard output
    std::string err; // standard error
    // What the program wrote, before a Windows build's line ends and paths
    // were made Linux ones (the same as out and err for a Linux build).
    std::string rawOut;
    std::string rawErr;
};

namespace detail {

inline std::string EnvOr(const char *name, const std::string &fallback) {
    const char *v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::string(v) : fallback;
}

inline bool EndsWithExe(const std::string &path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char &c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".exe";
}

#ifdef TF_BINARY
inline const char *kBuiltProgram = TF_BINARY;
#else
inline const char *kBuiltProgram = "";
#endif
#ifdef TF_SIMTOOL
inline const char *kBuiltSimTool = TF_SIMTOOL;
#else
inline const char *kBuiltSimTool = "";
#endif
#ifdef TF_IMAGEKIT
inline const char *kBuiltImageKit = TF_IMAGEKIT;
#else
inline const char *kBuiltImageKit = "";
#endif

// The binary that really runs for a requested one: a build's program is
// replaced by the one the environment names.
inline std::string Resolve(const std::string &program) {
    if (*kBuiltProgram != '\0' && program == kBuiltProgram) return EnvOr("TF_E2E_PROGRAM", program);
    if (*kBuiltSimTool != '\0' && program == kBuiltSimTool) return EnvOr("TF_E2E_SIMTOOL", program);
    if (*kBuiltImageKit != '\0' && program == kBuiltImageKit) return EnvOr("TF_E2E_IMAGEKIT", program);
    return program;
}

// Checks that every line end of a Windows program's text output is CR LF
// (a bare LF fails the running test) and returns the text with LF ends.
// A CR before the CR LF stays: it is part of the program's own text.
inline std::string FromCrLf(const std::string &text, const std::string &what) {
    std::string out;
    out.reserve(text.size());
    size_t bare = 0;
    size_t firstBare = std::string::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            if (bare++ == 0) firstBare = i;
        }
        out.push_back(text[i]);
    }
    if (bare != 0) {
        ADD_FAILURE() << what << ": " << bare << " line end(s) without CR, the first at offset " << firstBare
                      << " after \""
                      << text.substr(firstBare > 40 ? firstBare - 40 : 0, std::min<size_t>(firstBare, 40)) << "\"";
    }
    return out;
}

// Characters that end a path in a message: blanks, quotes, brackets and the
// characters that no Windows file name holds.
inline bool EndsPath(char c) {
    return static_cast<unsigned char>(c) <= ' ' || std::string_view("\"'()<>|*?,;:!").find(c) != std::string_view::npos;
}

// Turns the Wine drive paths of a Windows program's text ("Z:\tmp\x", the
// Unix root on drive Z) into their Unix form ("/tmp/x"). A path that mixes
// in a '/' fails the running test: the program builds its paths with the
// native separator.
inline std::string FromDrivePaths(const std::string &text, const std::string &what) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const bool drive = text.compare(i, 3, "Z:\\") == 0 && (i == 0 || EndsPath(text[i - 1]) || text[i - 1] == '=');
        if (!drive) {
            out.push_back(text[i++]);
            continue;
        }
        size_t end = i + 2;
        while (end < text.size() && !EndsPath(text[end]))
            ++end;
        std::string path = text.substr(i + 2, end - i - 2);
        if (path.find('/') != std::string::npos)
            ADD_FAILURE() << what << ": a path mixes separators: " << text.substr(i, end - i);
        for (char &c : path)
            if (c == '\\') c = '/';
        out += path;
        i = end;
    }
    return out;
}

// A Windows program's text in the Linux form, both differences checked.
inline std::string FromWindowsText(const std::string &text, const std::string &what) {
    return FromDrivePaths(FromCrLf(text, what), what);
}

} // namespace detail

// The tarnikflasher that the suite runs.
inline std::string Program() { return detail::Resolve(detail::kBuiltProgram); }

// True when the suite runs a Windows build (under Wine).
inline bool WindowsTarget() { return detail::EndsWithExe(Program()); }

// An absolute path as the program under test prints it: the Linux path
// itself, or for the Windows build the Wine drive form ("Z:\tmp\x").
inline std::string NativePath(const std::filesystem::path &path) {
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::weakly_canonical(std::filesystem::absolute(path), ec);
    if (ec) abs = std::filesystem::absolute(path);
    std::string text = abs.string();
    if (!WindowsTarget()) return text;
    for (char &c : text)
        if (c == '/') c = '\\';
    return "Z:" + text;
}

// The path separator of the program under test.
inline char NativeSeparator() { return WindowsTarget() ? '\\' : '/'; }

// The program's own text files (its log) are written in text mode.
inline bool IsProgramTextFile(const std::filesystem::path &path) { return path.filename() == "tarnikflasher.log"; }

inline std::string ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    if (WindowsTarget() && IsProgramTextFile(path)) return detail::FromWindowsText(ss.str(), path.filename().string());
    return ss.str();
}

inline void WriteFile(const std::filesystem::path &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Runs program with args in cwd; env entries are added to (or, with an
// empty value, removed from) the inherited environment. TARNIK_NO_SLEEP=1
// is always set so that no wait really sleeps. A Windows program runs
// under Wine; its console output comes back in the Linux form (LF line
// ends, Unix paths) after the checks of both.
inline RunResult Run(const std::string &program, const std::vector<std::string> &args, const std::filesystem::path &cwd,
                     const std::map<std::string, std::string> &env = {}) {
    RunResult result;
    const std::string binary = detail::Resolve(program);
    const bool windows = detail::EndsWithExe(binary);
    std::vector<std::string> argvText;
    if (windows) argvText.push_back(detail::EnvOr("TF_E2E_WINE", "wine"));
    argvText.push_back(binary);
    argvText.insert(argvText.end(), args.begin(), args.end());

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
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0) dup2(in, 0);
        setenv("TARNIK_NO_SLEEP", "1", 1);
        if (windows) setenv("WINEDEBUG", "-all", 1);
        for (const auto &[k, v] : env) {
            if (v.empty())
                unsetenv(k.c_str());
            else
                setenv(k.c_str(), v.c_str(), 1);
        }
        std::vector<char *> argv;
        for (const auto &a : argvText)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        if (windows)
            execvp(argv[0], argv.data());
        else
            execv(argv[0], argv.data());
        _exit(127);
    }
    int ws = 0;
    if (pid > 0 && waitpid(pid, &ws, 0) == pid && WIFEXITED(ws)) result.status = WEXITSTATUS(ws);
    result.rawOut = ReadFile(outPath);
    result.rawErr = ReadFile(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    if (windows) {
        const std::string name = std::filesystem::path(binary).filename().string();
        result.out = detail::FromWindowsText(result.rawOut, name + " standard output");
        result.err = detail::FromWindowsText(result.rawErr, name + " standard error");
    } else {
        result.out = result.rawOut;
        result.err = result.rawErr;
    }
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
