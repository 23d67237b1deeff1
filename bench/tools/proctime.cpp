// proctime: runs a command several times and reports, per run and as
// medians, its wall time, its CPU time (user + system, the command and every
// process it waited for) and its peak resident set, from wait4().
//
//   proctime [--runs N] [--before CMD] [--out FILE] [--status S] -- program [args...]
//
// --before CMD runs `sh -c CMD` ahead of every run, outside the timed span
// (the benchmark resets the simulated host's state with it). --out sends the
// command's standard output and error to FILE (default /dev/null), rewritten
// each run, so the last run's output can be checked. --status S (default 0)
// is the exit status every run must end with; any other ends proctime with
// status 3 after the run. Output, one line per run and a last line:
//   run <i> wall_ms <w> cpu_ms <c> user_ms <u> sys_ms <s> rss_kb <r> status <st>
//   median wall_ms <w> cpu_ms <c> user_ms <u> sys_ms <s> rss_kb <r> runs <n>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct Sample {
    double wall = 0, user = 0, sys = 0;
    long rss = 0;
};

double Ms(const timeval &t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; }

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

template <typename T> T Median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int Usage() {
    std::fprintf(stderr, "usage: proctime [--runs N] [--before CMD] [--out FILE] [--status S] -- program [args...]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    int runs = 5, expect = 0;
    std::string before, out = "/dev/null";
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (i + 1 >= argc) return Usage();
        if (a == "--runs")
            runs = std::atoi(argv[++i]);
        else if (a == "--before")
            before = argv[++i];
        else if (a == "--out")
            out = argv[++i];
        else if (a == "--status")
            expect = std::atoi(argv[++i]);
        else
            return Usage();
    }
    if (i >= argc || runs < 1) return Usage();
    char **cmd = argv + i;

    std::vector<Sample> samples;
    for (int r = 0; r < runs; ++r) {
        if (!before.empty()) {
            const int st = std::system(before.c_str());
            if (st != 0) {
                std::fprintf(stderr, "proctime: the command before run %d failed (%d): %s\n", r, st, before.c_str());
                return 3;
            }
        }
        const double start = Now();
        const pid_t pid = fork();
        if (pid < 0) {
            std::perror("proctime: fork");
            return 3;
        }
        if (pid == 0) {
            const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0) _exit(126);
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
            execvp(cmd[0], cmd);
            _exit(127);
        }
        int status = 0;
        rusage ru{};
        pid_t w;
        do
            w = wait4(pid, &status, 0, &ru);
        while (w < 0 && errno == EINTR);
        const double wall = Now() - start;
        if (w < 0) {
            std::perror("proctime: wait4");
            return 3;
        }
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        Sample s{wall, Ms(ru.ru_utime), Ms(ru.ru_stime), ru.ru_maxrss};
        std::printf("run %d wall_ms %.3f cpu_ms %.3f user_ms %.3f sys_ms %.3f rss_kb %ld status %d\n", r, s.wall,
                    s.user + s.sys, s.user, s.sys, s.rss, code);
        std::fflush(stdout);
        if (code != expect) {
            std::fprintf(stderr, "proctime: %s ended with status %d, expected %d (output: %s)\n", cmd[0], code, expect,
                         out.c_str());
            return 3;
        }
        samples.push_back(s);
    }
    std::vector<double> wall, cpu, user, sys;
    std::vector<long> rss;
    for (const Sample &s : samples) {
        wall.push_back(s.wall);
        cpu.push_back(s.user + s.sys);
        user.push_back(s.user);
        sys.push_back(s.sys);
        rss.push_back(s.rss);
    }
    std::printf("median wall_ms %.3f cpu_ms %.3f user_ms %.3f sys_ms %.3f rss_kb %ld runs %d\n", Median(wall),
                Median(cpu), Median(user), Median(sys), Median(rss), runs);
    return 0;
}
