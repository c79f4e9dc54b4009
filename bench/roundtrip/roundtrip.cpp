// The reply round trip on a pseudo-terminal, the component against its peers: the far end (this
// process) writes three bytes, the program under test answers with one byte as soon as it has
// them, the far end reads it; 20 000 round trips a round. Each contender runs as a child process
// of its own, started afresh for each round; the rounds go through the contenders in turn, so
// that a change in the machine's load falls on all of them. Printed per contender: the median
// and 99th percentile of the round trip (as the far end sees it), and per round trip the
// program's processor time and context switches (getrusage in the program, over the measured
// trips only) and its system calls (strace -c -f, runs of their own, the difference between a
// short and a long run so that start-up and shut-down fall out; perf's count of the same, where
// perf is installed, since strace's stops lengthen hand-overs and so change what they cost).
//
// Usage: bench_roundtrip [--rounds N] [--trips N] [--strace-trips N] [--no-strace] [--calls]
//                       [--only c-loop,qt,smNone,smThreadSync]
//        bench_roundtrip serve CONTENDER PATH WARMUP TRIPS   (the program side, run by the above)

#include "bench/roundtrip/Contenders.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using Clock = std::chrono::steady_clock;

namespace {

struct Contender {
    const char* name;
    const char* label;
};

constexpr Contender contenders[] = {
    {"c-loop", "C read/write loop"},
    {"qt", "QSerialPort readyRead"},
    {"smNone", "TComPort smNone"},
    {"smThreadSync", "TComPort smThreadSync"},
};
constexpr int contenderCount = static_cast<int>(std::size(contenders));

constexpr long warmUp = 500;

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench_roundtrip: %s\n", what.c_str());
    std::exit(1);
}

struct Pty {
    int controller = -1, terminal = -1;
    std::string path;
    Pty() {
        char name[256];
        if (::openpty(&controller, &terminal, name, nullptr, nullptr) < 0) die("openpty failed");
        path = name;
        termios t{};
        tcgetattr(terminal, &t);
        cfmakeraw(&t);
        tcsetattr(terminal, TCSANOW, &t);
    }
    ~Pty() {
        ::close(controller);
        ::close(terminal);
    }
};

// A child running `argv`, its standard input and output on pipes.
struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
    int in = -1;

    explicit Child(std::vector<std::string> args) {
        int fds[2], toChild[2];
        if (::pipe2(fds, O_CLOEXEC) < 0 || ::pipe2(toChild, O_CLOEXEC) < 0) die("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            die("cannot start " + args[0]);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        ::close(toChild[0]);
        in = toChild[1];
        out = ::fdopen(fds[0], "r");
    }
    // Tells the child that the far end has read every answer.
    void release() {
        if (::write(in, "end\n", 4) != 4) die("cannot reach the program under test");
    }
    std::string line() {
        char buffer[512];
        if (!std::fgets(buffer, sizeof buffer, out)) return {};
        std::string s(buffer);
        if (!s.empty() && s.back() == '\n') s.pop_back();
        return s;
    }
    bool finish() {
        std::fclose(out);
        ::close(in);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

std::string selfPath() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) die("cannot find the program's own path");
    return std::string(buffer, static_cast<std::size_t>(n));
}

// Plays the far end for warmUp + trips round trips; adds the measured ones to `samples`.
void farEnd(const char* who, const Pty& pty, long trips, std::vector<double>* samples) {
    const char request[3] = {'a', 'b', 'c'};
    for (long i = 0; i < warmUp + trips; ++i) {
        const auto sent = Clock::now();
        if (::write(pty.controller, request, 3) != 3) die("the far end cannot write");
        char answer;
        for (;;) {
            // A program that has died leaves the line open (this process holds the terminal
            // end too), so silence is the only sign.
            pollfd p{pty.controller, POLLIN, 0};
            if (::poll(&p, 1, 10000) == 0)
                die(std::string(who) + ": no answer for 10 s at round trip " + std::to_string(i));
            const ssize_t n = ::read(pty.controller, &answer, 1);
            if (n == 1) break;
            if (n < 0 && errno == EINTR) continue;
            die("the program under test stopped answering");
        }
        if (samples && i >= warmUp)
            samples->push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
}

struct Totals {
    std::vector<double> samples;
    double cpu = 0;
    long voluntary = 0, involuntary = 0, trips = 0;
    double syscalls = -1, perfCalls = -1;
    std::map<std::string, double> calls;
};

void runRound(const std::string& self, int c, long trips, Totals& totals) {
    Pty pty;
    Child child({self, "serve", contenders[c].name, pty.path, std::to_string(warmUp),
                 std::to_string(trips)});
    if (child.line() != "ready") die(std::string(contenders[c].name) + " did not start");
    farEnd(contenders[c].name, pty, trips, &totals.samples);
    child.release();
    const std::string usage = child.line();
    double cpu = 0;
    long vol = 0, invol = 0;
    if (std::sscanf(usage.c_str(), "usage %lf %ld %ld", &cpu, &vol, &invol) != 3)
        die(std::string(contenders[c].name) + " gave no usage");
    if (!child.finish()) die(std::string(contenders[c].name) + " failed");
    totals.cpu += cpu;
    totals.voluntary += vol;
    totals.involuntary += invol;
    totals.trips += trips;
}

// System calls of one counted run of `trips` round trips: the total and (strace) each call's
// count. strace stops the program at every call, which stretches a hand-over past any spin, so
// perf's kernel-side count (no stops) is given beside it where perf is there.
std::map<std::string, double> tracedCalls(const std::string& self, int c, long trips,
                                          bool withPerf) {
    Pty pty;
    char file[] = "/tmp/bench-roundtrip-count.XXXXXX";
    const int fd = ::mkstemp(file);
    if (fd < 0) die("cannot create the count's output file");
    ::close(fd);
    std::vector<std::string> args = {"strace", "-f", "-c", "-o", file};
    if (withPerf) args = {"perf", "stat", "-x,", "-e", "raw_syscalls:sys_enter", "-o", file};
    for (const std::string& a : {self, std::string("serve"), std::string(contenders[c].name),
                                 pty.path, std::to_string(warmUp), std::to_string(trips)})
        args.push_back(a);
    Child child(args);
    if (child.line() != "ready")
        die(std::string(contenders[c].name) + " did not start under strace");
    farEnd(contenders[c].name, pty, trips, nullptr);
    child.release();
    child.line();
    if (!child.finish()) die(std::string(contenders[c].name) + " failed under strace");
    std::map<std::string, double> calls;
    FILE* in = std::fopen(file, "r");
    char line[512];
    while (in && withPerf && std::fgets(line, sizeof line, in))
        if (std::strstr(line, "raw_syscalls:sys_enter")) calls["total"] = std::atof(line);
    while (in && !withPerf && std::fgets(line, sizeof line, in)) {
        // "% time seconds usecs/call calls errors syscall"; errors may be empty.
        std::vector<std::string> words;
        for (char* w = std::strtok(line, " \t\n"); w; w = std::strtok(nullptr, " \t\n"))
            words.emplace_back(w);
        if (words.size() < 5 || words[0][0] == '%' || words[0][0] == '-') continue;
        const std::string name = words.back();
        const double count = std::atof(words[3].c_str());
        calls[name] = count;
    }
    if (in) std::fclose(in);
    ::unlink(file);
    return calls;
}

double percentile(std::vector<double>& v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(static_cast<double>(v.size()) * p))];
}

int serve(int argc, char** argv) {
    const std::string contender = argv[2];
    const std::string path = argv[3];
    roundtrip::Tally tally(std::atol(argv[4]), std::atol(argv[5]));
    int status = 1;
    if (contender == "c-loop")
        status = roundtrip::serveCLoop(path, tally);
    else if (contender == "qt")
        status = roundtrip::serveQt(path, tally, argc, argv);
    else if (contender == "smNone" || contender == "smThreadSync")
        status = roundtrip::serveComPort(path, contender == "smThreadSync", tally);
    else
        die("no contender " + contender);
    const roundtrip::Usage u = tally.usage();
    std::printf("usage %.0f %ld %ld\n", u.cpuMicros, u.voluntary, u.involuntary);
    std::fflush(stdout);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "serve") == 0) return serve(argc, argv);
    int rounds = 5;
    long trips = 20000, straceTrips = 4000;
    bool traced = true, showCalls = false;
    std::string only; // a comma-separated list of contender names; all when empty
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (a == "--trips" && i + 1 < argc)
            trips = std::atol(argv[++i]);
        else if (a == "--strace-trips" && i + 1 < argc)
            straceTrips = std::atol(argv[++i]);
        else if (a == "--no-strace")
            traced = false;
        else if (a == "--calls")
            showCalls = true;
        else if (a == "--only" && i + 1 < argc)
            only = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: bench_roundtrip [--rounds N] [--trips N] [--strace-trips N] "
                         "[--no-strace] [--calls] [--only NAME,...]\n");
            return 64;
        }
    }
    ::signal(SIGPIPE, SIG_IGN);
    const bool withPerf = traced && std::system("perf --version >/dev/null 2>&1") == 0;
    const std::string self = selfPath();
    double load[3] = {};
    if (::getloadavg(load, 3) != 3) load[0] = load[1] = load[2] = -1;
    std::printf("Load before the runs: %.2f %.2f %.2f (1, 5, 15 min) on %ld processors\n", load[0],
                load[1], load[2], ::sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("Reply round trip on a pseudo-terminal (3 bytes out, 1 byte back), %d rounds of "
                "%ld, contenders in turn\n",
                rounds, trips);
    std::fflush(stdout);

    bool chosen[contenderCount];
    for (int c = 0; c < contenderCount; ++c)
        chosen[c] =
            only.empty() || ("," + only + ",").find(std::string(",") + contenders[c].name + ",") !=
                                std::string::npos;
    Totals totals[contenderCount];
    for (int r = 0; r < rounds; ++r)
        for (int k = 0; k < contenderCount; ++k) {
            // Each round starts with another contender, so none always follows the same one.
            const int c = (k + r) % contenderCount;
            if (chosen[c]) runRound(self, c, trips, totals[c]);
        }
    if (traced) {
        const long shortRun = std::max(1L, straceTrips / 4);
        for (int c = 0; c < contenderCount; ++c) {
            if (!chosen[c]) continue;
            auto few = tracedCalls(self, c, shortRun, false);
            auto many = tracedCalls(self, c, straceTrips, false);
            const double span = static_cast<double>(straceTrips - shortRun);
            for (auto& [name, count] : many)
                totals[c].calls[name] = (count - few[name]) / span;
            totals[c].syscalls = totals[c].calls["total"];
            if (showCalls)
                std::printf("  traced %s: %.0f calls in %ld round trips, %.0f in %ld\n",
                            contenders[c].name, few["total"], shortRun, many["total"], straceTrips);
            if (withPerf)
                totals[c].perfCalls = (tracedCalls(self, c, straceTrips, true)["total"] -
                                       tracedCalls(self, c, shortRun, true)["total"]) /
                                      span;
        }
    }

    std::printf("\n%-24s %8s %8s %10s %9s %9s %9s %9s\n", "per round trip", "median", "p99",
                "processor", "switches", "(volunt.)", "syscalls", "syscalls");
    std::printf("%-24s %8s %8s %10s %9s %9s %9s %9s\n", "", "us", "us", "us", "", "", "(strace)",
                "(perf)");
    double median[contenderCount];
    for (int c = 0; c < contenderCount; ++c) {
        Totals& t = totals[c];
        median[c] = 0;
        if (!chosen[c]) continue;
        median[c] = percentile(t.samples, 0.5);
        const double p99 = percentile(t.samples, 0.99);
        const double n = static_cast<double>(t.trips);
        std::printf("%-24s %8.1f %8.1f %10.1f %9.2f %9.2f ", contenders[c].label, median[c], p99,
                    t.cpu / n, static_cast<double>(t.voluntary + t.involuntary) / n,
                    static_cast<double>(t.voluntary) / n);
        for (double calls : {t.syscalls, t.perfCalls})
            if (calls >= 0)
                std::printf(" %9.2f", calls);
            else
                std::printf(" %9s", "-");
        std::printf("\n");
    }
    if (showCalls && traced) {
        std::printf("\nSystem calls per round trip, by call (0.05 and more):\n");
        for (int c = 0; c < contenderCount; ++c) {
            if (!chosen[c]) continue;
            std::printf("  %-22s", contenders[c].label);
            for (auto& [name, count] : totals[c].calls)
                if (name != "total" && count >= 0.05) std::printf(" %s %.2f", name.c_str(), count);
            std::printf("\n");
        }
    }
    if (!only.empty()) return 0;
    const double threadSyncToQt = median[3] / median[1];
    const double noneToC = median[2] / median[0];
    std::printf("\nsmThreadSync / Qt median  %.2f (goal 0.90: %s)\n", threadSyncToQt,
                threadSyncToQt <= 0.9 ? "met" : "MISSED");
    std::printf("smNone / C loop median    %.2f (goal 1.15: %s)\n", noneToC,
                noneToC <= 1.15 ? "met" : "MISSED");
    return 0;
}
