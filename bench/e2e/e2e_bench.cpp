// End-to-end figures of the real helper, driven by the real tamborix-remote over loopback. Every
// figure stands beside a baseline measured in the same run:
// - handshakes with the device store on disk beside the same helper with its store on a RAM disk,
//   quiet and with a synchronous disk writer running, and the five X25519 scalar multiplications
//   a handshake needs;
// - pings of one phone while other phones connect back to back, beside the same pings without;
// - pings interleaved one by one with a raw TCP line echo of the same length;
// - the helper's own CPU time per frame during a flood, and per move of one phone at 120 Hz, with
//   the system calls per move (strace), optionally beside another build of the helper.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sodium.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "e2e/helper_fixture.h"
#include "bench_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using tamborix::testing::HelperRun;
using tamborix::bench::median;
using tamborix::bench::sample;

// A child process that is stopped (SIGTERM, then waited for) when this goes away.
class Child {
public:
    explicit Child(std::vector<std::string> argv, const std::string& out = "/dev/null") {
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd >= 0) {
                ::dup2(fd, STDOUT_FILENO);
                ::dup2(fd, STDERR_FILENO);
            }
            std::vector<char*> args;
            for (auto& a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
    }
    ~Child() { stop(SIGTERM); }
    void stop(int sig) {
        if (pid_ <= 0) return;
        ::kill(pid_, sig);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// A plain TCP line echo on loopback, served by another process as the helper is.
class EchoServer {
public:
    EchoServer() {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
        ::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(server, 4);
        socklen_t len = sizeof addr;
        ::getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        pid_ = ::fork();
        if (pid_ == 0) {
            for (;;) {
                const int c = ::accept(server, nullptr, nullptr);
                if (c < 0) ::_exit(0);
                const int one = 1;
                ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                std::string buf;
                char chunk[16384];
                for (;;) {
                    const auto n = ::recv(c, chunk, sizeof chunk, 0);
                    if (n <= 0) break;
                    buf.append(chunk, static_cast<std::size_t>(n));
                    for (auto nl = buf.find('\n'); nl != std::string::npos; nl = buf.find('\n')) {
                        ::send(c, buf.data(), nl + 1, MSG_NOSIGNAL);
                        buf.erase(0, nl + 1);
                    }
                }
                ::close(c);
            }
        }
        ::close(server);
    }
    ~EchoServer() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    [[nodiscard]] std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

// The five X25519 operations of a handshake's key agreement and key generation, timed here.
json fiveScalarMults(int rounds) {
    unsigned char scalar[crypto_scalarmult_SCALARBYTES];
    unsigned char point[crypto_scalarmult_BYTES];
    unsigned char out[crypto_scalarmult_BYTES];
    randombytes_buf(scalar, sizeof scalar);
    crypto_scalarmult_base(point, scalar);
    std::vector<double> us;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = Clock::now();
        for (int i = 0; i < 5; ++i) {
            if (crypto_scalarmult(out, scalar, point) != 0) throw std::runtime_error("scalarmult failed");
            point[0] ^= out[0] & 1;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    return {{"test", "five X25519 scalar multiplications"}, {"n", rounds}, {"p50Ms", median(us) / 1000}};
}

// Invocations that failed once and were run again (reported with the figures).
std::vector<std::string>& retries() {
    static std::vector<std::string> r;
    return r;
}

// Runs tamborix-remote bench with `args`; the figures it printed. A run that fails is run once
// more (and noted), since a single connection of a long run may go unanswered (see the report).
std::vector<json> remoteBench(HelperRun& run, std::vector<std::string> args) {
    args.insert(args.begin(), {"bench", run.address()});
    for (int attempt = 0;; ++attempt) {
        auto remote = run.startRemote(args);
        // The helper's console output is read meanwhile: a full pipe would stop its console.
        std::optional<int> rc;
        for (const auto deadline = Clock::now() + 300s; !rc && Clock::now() < deadline;) {
            rc = remote->wait(100ms);
            static_cast<void>(run.helper().lines());
        }
        if (rc && *rc == 0) {
            std::vector<json> out;
            for (const auto& l : remote->lines()) out.push_back(json::parse(l));
            return out;
        }
        if (attempt == 1) throw std::runtime_error("remote bench failed:\n" + remote->transcript());
        std::string label;
        for (std::size_t i = 2; i < args.size(); ++i) label += args[i] + " ";
        retries().push_back(label + ": " + remote->errText());
        std::this_thread::sleep_for(2s);
    }
}

json figure(const std::vector<json>& figures, const std::string& test) {
    for (const auto& f : figures)
        if (f["test"] == test) return f;
    throw std::runtime_error("no figure " + test);
}

// Consecutive blocks of peer addresses, so that no address is used twice within a minute.
std::string nextSourceBlock() {
    static int block = 10;
    return "127." + std::to_string(block++) + ".0.1";
}

struct Options {
    int rounds = 3;
    int handshakes = 200;
    int pings = 10000;
    int stall = 2000;
    int moves = 100000;
    int conns = 16;
    int paced = 1200;
    std::string baselineHelper;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const tamborix::bench::Args args(argc, argv);
    o.rounds = args.number("--rounds", o.rounds);
    o.handshakes = args.number("--handshakes", o.handshakes);
    o.pings = args.number("--pings", o.pings);
    o.stall = args.number("--stall", o.stall);
    o.moves = args.number("--moves", o.moves);
    o.conns = args.number("--conns", o.conns);
    o.paced = args.number("--paced", o.paced);
    o.baselineHelper = args.text("--baseline-helper", o.baselineHelper);
    if (sodium_init() < 0) return 1;
    std::vector<json> report;
    try {
        // Two helpers of each build: the store on this machine's disk, and on a RAM disk.
        struct Build {
            std::string name;
            std::unique_ptr<HelperRun> disk;
            std::unique_ptr<HelperRun> ram;
            std::filesystem::path ramHome;
        };
        std::vector<Build> builds;
        const auto addBuild = [&](const std::string& name, const std::string& binary) {
            Build b;
            b.name = name;
            b.ramHome = std::filesystem::path("/dev/shm") /
                        ("tamborix-e2e-ram-" + std::to_string(::getpid()) + "-" + std::to_string(builds.size()));
            b.disk = std::make_unique<HelperRun>(true, std::filesystem::path{}, binary);
            b.ram = std::make_unique<HelperRun>(true, b.ramHome, binary);
            for (auto* run : {b.disk.get(), b.ram.get()}) {
                const auto paired = run->pair();
                if (paired.exitCode != 0) throw std::runtime_error("pairing failed: " + paired.err);
            }
            builds.push_back(std::move(b));
        };
        if (!o.baselineHelper.empty()) addBuild("baseline build", o.baselineHelper);
        addBuild("this build", "");
        HelperRun& disk = *builds.back().disk;
        const pid_t pid = disk.helper().pid();

        // Idle: paired, nothing connected.
        std::this_thread::sleep_for(2s);
        const auto idle0 = sample(pid);
        const auto idleStart = Clock::now();
        std::this_thread::sleep_for(5s);
        const auto idle1 = sample(pid);
        const double idleWall = std::chrono::duration<double>(Clock::now() - idleStart).count();
        report.push_back({{"test", "idle helper"},
                          {"cpuPercent", 100.0 * (idle1.cpuSeconds - idle0.cpuSeconds) / idleWall},
                          {"memMiB", idle1.memMiB}});

        // Handshakes, interleaved: disk, RAM disk, each quiet and beside a synchronous writer.
        std::map<std::string, std::vector<double>> p50, p99;
        const auto hs = std::to_string(o.handshakes);
        for (int r = 0; r < o.rounds; ++r) {
            for (const bool loaded : {false, true}) {
                std::unique_ptr<Child> dd;
                if (loaded) {
                    dd = std::make_unique<Child>(std::vector<std::string>{
                        "dd", "if=/dev/zero", "of=" + (disk.dir() / "dd.out").string(), "bs=4k",
                        "count=10000000", "oflag=sync"});
                    std::this_thread::sleep_for(300ms);
                }
                for (auto& b : builds) {
                    for (auto* run : {b.disk.get(), b.ram.get()}) {
                        const std::string key = b.name + ", store on " + (run == b.disk.get() ? "disk" : "RAM disk") +
                                                (loaded ? " beside a sync writer" : "");
                        const auto f = figure(remoteBench(*run, {"--handshakes", hs, "--pings", "0", "--moves", "0",
                                                                 "--from", nextSourceBlock()}),
                                              "handshake");
                        p50[key].push_back(f["p50Ms"]);
                        p99[key].push_back(f["p99Ms"]);
                    }
                }
                dd.reset();
                std::filesystem::remove(disk.dir() / "dd.out");
            }
        }
        const auto scalar = fiveScalarMults(2000);
        report.push_back(scalar);
        for (const auto& [key, values] : p50) {
            report.push_back({{"test", "handshake, " + key},
                              {"n", o.handshakes},
                              {"rounds", o.rounds},
                              {"medianP50Ms", median(values)},
                              {"medianP99Ms", median(p99[key])},
                              {"p50PerRound", values}});
        }
        for (auto& b : builds) {
            const auto m = [&](const std::string& what) { return median(p50[b.name + ", store on " + what]); };
            report.push_back({{"test", "handshake p50 of the " + b.name + ", disk / RAM disk"},
                              {"quiet", m("disk") / m("RAM disk")},
                              {"besideSyncWriter", m("disk beside a sync writer") / m("RAM disk beside a sync writer")},
                              {"diskOverFiveScalarMults", m("disk") / scalar["p50Ms"].get<double>()}});
        }

        // A phone's pings while others connect back to back, beside the same pings without.
        {
            std::map<std::string, std::vector<double>> burst, quiet, rate;
            std::map<std::string, int> late, lateReady;
            std::map<std::string, std::vector<std::string>> failures;
            for (int r = 0; r < o.rounds && o.stall > 0; ++r) {
                for (auto& b : builds) {
                    json f;
                    try {
                        f = figure(remoteBench(*b.disk, {"--handshakes", "0", "--pings", "0", "--moves", "0",
                                                         "--stall", std::to_string(o.stall), "--from",
                                                         nextSourceBlock()}),
                                   "ping during handshakes");
                    } catch (const std::exception& e) {
                        // Reported with the figure, not hidden: a burst whose phone gets no answer.
                        failures[b.name].push_back(e.what());
                        continue;
                    }
                    burst[b.name].push_back(f["burstP50Us"]);
                    quiet[b.name].push_back(f["quietP50Us"]);
                    rate[b.name].push_back(f["handshakesPerSecond"]);
                    late[b.name] += f["pongsLate"].get<int>();
                    lateReady[b.name] += f["readyFramesLate"].get<int>();
                }
            }
            for (auto& b : builds) {
                if (o.stall == 0) break;
                report.push_back({{"test", "ping during a burst of handshakes, " + b.name + ", store on disk"},
                                  {"n", o.stall},
                                  {"medianBurstP50Us", median(burst[b.name])},
                                  {"medianQuietP50Us", median(quiet[b.name])},
                                  {"stallP50Us", median(burst[b.name]) - median(quiet[b.name])},
                                  {"medianHandshakesPerSecond", median(rate[b.name])},
                                  {"pongsLaterThan2s", late[b.name]},
                                  {"readyFramesLaterThan2s", lateReady[b.name]},
                                  {"roundsFailed", failures[b.name]}});
            }
        }

        // Pings interleaved one by one with a raw echo of the same line length.
        {
            EchoServer echo;
            const auto f = figure(remoteBench(disk, {"--handshakes", "0", "--pings", std::to_string(o.pings), "--moves", "0",
                                                     "--echo", echo.address(), "--from", nextSourceBlock()}),
                                  "ping");
            report.push_back(f);
        }

        // The flood: the helper's own CPU time per frame while it lasts.
        {
            const auto logBefore = disk.dryRunLines().size();
            const auto c0 = sample(pid);
            auto figures = remoteBench(disk, {"--handshakes", "0", "--pings", "0", "--moves", std::to_string(o.moves),
                                              "--conns", std::to_string(o.conns), "--from", nextSourceBlock()});
            const auto c1 = sample(pid);
            double seconds = 0;
            long long frames = 0;
            for (auto& f : figures) {
                if (f["test"] != "move") continue;
                seconds += f["seconds"].get<double>();
                frames += f["frames"].get<long long>();
                report.push_back(f);
            }
            const double cpu = c1.cpuSeconds - c0.cpuSeconds;
            report.push_back({{"test", "helper CPU during the flood"},
                              {"frames", frames},
                              {"cpuUsPerFrame", 1e6 * cpu / static_cast<double>(frames)},
                              {"cpuPercentOfOneCore", 100.0 * cpu / seconds},
                              {"peakMemMiB", c1.memMiB}});
            std::this_thread::sleep_for(300ms);
            const auto log = disk.dryRunLines();
            double dxLogged = 0;
            for (std::size_t i = logBefore; i < log.size(); ++i) {
                double dx = 0;
                double dy = 0;
                if (std::sscanf(log[i].c_str(), "move %lf %lf", &dx, &dy) == 2) dxLogged += dx;
            }
            report.push_back({{"test", "dry-run log"}, {"dxSent", frames}, {"dxLogged", dxLogged},
                              {"nothingLost", std::llround(dxLogged) == frames}});
        }

        // One phone at 120 Hz: CPU per move, and system calls per move under strace.
        std::map<std::string, std::vector<double>> cpuPerMove, callsPerMove;
        for (int r = 0; r < o.rounds; ++r) {
            for (auto& b : builds) {
                const auto& name = b.name;
                HelperRun* run = b.disk.get();
                const pid_t p = run->helper().pid();
                const auto c0 = sample(p);
                remoteBench(*run, {"--handshakes", "0", "--pings", "0", "--moves", "0", "--paced",
                                   std::to_string(o.paced), "--from", nextSourceBlock()});
                const auto c1 = sample(p);
                cpuPerMove[name].push_back(1e6 * (c1.cpuSeconds - c0.cpuSeconds) / o.paced);

                const auto out = run->dir() / "strace.txt";
                {
                    Child strace({"strace", "-c", "-f", "-q", "-o", out.string(), "-p", std::to_string(p)});
                    std::this_thread::sleep_for(500ms);
                    remoteBench(*run, {"--handshakes", "0", "--pings", "0", "--moves", "0", "--paced",
                                       std::to_string(o.paced), "--from", nextSourceBlock()});
                    strace.stop(SIGINT);
                }
                std::ifstream in(out);
                double calls = 0;
                for (std::string line; std::getline(in, line);) {
                    if (line.find("total") == std::string::npos) continue;
                    std::istringstream fields(line);
                    std::vector<std::string> words;
                    for (std::string w; fields >> w;) words.push_back(w);
                    // "100.00 seconds usecs/call calls [errors] total"
                    if (words.size() >= 5) calls = std::stod(words[3]);
                }
                callsPerMove[name].push_back(calls / o.paced);
            }
        }
        for (auto& b : builds) {
            const auto& name = b.name;
            report.push_back({{"test", "one phone at 120 Hz, " + name},
                              {"moves", o.paced},
                              {"rounds", o.rounds},
                              {"medianCpuUsPerMove", median(cpuPerMove[name])},
                              {"medianCpuPercentOfOneCore", median(cpuPerMove[name]) * 120 / 1e4},
                              {"cpuUsPerMovePerRound", cpuPerMove[name]},
                              {"medianSyscallsPerMove", median(callsPerMove[name])},
                              {"syscallsPerMovePerRound", callsPerMove[name]}});
        }
        report.push_back({{"test", "remote runs repeated after a failure"}, {"runs", retries()}});
        for (auto& b : builds) {
            std::error_code ec;
            std::filesystem::remove_all(b.ramHome, ec);
        }
    } catch (const std::exception& e) {
        for (const auto& r : report) std::cout << r.dump() << "\n";
        std::cerr << "e2e bench failed: " << e.what() << "\n";
        return 1;
    }
    for (const auto& r : report) std::cout << r.dump() << "\n";
    return 0;
}
