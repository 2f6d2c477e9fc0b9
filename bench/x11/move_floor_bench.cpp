// One phone moving the pointer of a private Xvfb at 120 Hz through the real helper (XTEST, not
// dry run), beside a floor program measured in the same run, rounds interleaved. The floor does
// only what a move cannot go without on one network leg: poll, recv, base64, open the sealed
// frame, one XTEST motion written to the X server. Per process: CPU time per move (all threads,
// schedstat), wake-ups per move (schedstat's time slices on a core) and system calls per move
// (strace -c -f, a run of its own).
//
//   move_floor_bench [--rounds 3] [--moves 1200] [--baseline-helper PATH]
//   move_floor_bench --floor    (the floor program itself, started by the bench)

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sodium.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "bench_support.h"
#include "e2e/helper_fixture.h"
#include "protocol/secure_session.h"
#include "protocol/wire.h"
#include "support/child_process.h"
#include "support/x_server.h"
#include "tools/line_socket.h"
#include "tools/remote_address.h"
#include "tools/remote_keys.h"
#include "tools/remote_session.h"

namespace {

using namespace std::chrono_literals;
using tamborix::bench::loadAverage;
using nlohmann::json;
using namespace tamborix;
using testing::ChildProcess;
using testing::HelperRun;

std::string hex(const std::uint8_t* data, std::size_t n) {
    std::string out;
    char two[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", data[i]);
        out += two;
    }
    return out;
}

Bytes unhex(const std::string& text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

// The floor: one connection, one recv per readiness, each line opened and moved with XTEST, one
// flush per recv. Keys: sid, then the key the bench seals with.
int floorProgram(const std::string& sidHex, const std::string& keyHex) {
    if (sodium_init() < 0) return 1;
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) return 1;
    SecureSession::Key key{};
    const auto keyBytes = unhex(keyHex);
    std::memcpy(key.data(), keyBytes.data(), key.size());
    SecureSession session(unhex(sidHex), Bytes(32, 0), key, key);
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 1) != 0) return 1;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("port %d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    std::string pending;
    char buf[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0) continue;
        const auto n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        pending.append(buf, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n', start)) {
            const auto plain = session.open(Wire::b64d(std::string_view(pending).substr(start, nl - start), Wire::frameLineLimit));
            start = nl + 1;
            const std::string_view text(reinterpret_cast<const char*>(plain.data()), plain.size());
            const auto at = text.find("\"dx\":");
            const int dx = at == std::string_view::npos ? 0 : std::atoi(text.data() + at + 5);
            xcb_test_fake_input(x, XCB_MOTION_NOTIFY, 1, XCB_CURRENT_TIME, XCB_NONE, static_cast<std::int16_t>(dx), 0, 0);
        }
        pending.erase(0, start);
        xcb_flush(x);
    }
    xcb_disconnect(x);
    return 0;
}

using tamborix::bench::threadSchedule;

// All threads' CPU time so far, and the times any of them was put on a core (its wake-ups).
struct Sched {
    double cpuSeconds = 0;
    double wakeUps = 0;
};

Sched sched(pid_t pid) {
    Sched total;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        const auto s = threadSchedule(pid, static_cast<pid_t>(std::stol(task.path().filename().string())));
        total.cpuSeconds += s.runNs / 1e9;
        total.wakeUps += s.slices;
    }
    return total;
}

// Sends `moves` lines at 120 Hz through `send`.
template <class Send>
void paced(int moves, Send send) {
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(1.0 / 120));
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < moves; ++i) {
        std::this_thread::sleep_until(t0 + i * period);
        send();
    }
    std::this_thread::sleep_for(100ms);  // the last ones are handled
}

// The total of strace -c's summary ("total" row, calls column).
double straceCalls(const std::filesystem::path& file) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.find("total") == std::string::npos) continue;
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string x; words >> x;) w.push_back(x);
        // "100.00 secs usecs/call calls [errors] total"
        if (w.size() >= 4) return std::stod(w[3]);
    }
    return 0;
}

struct Figures {
    std::vector<double> cpuUs;
    std::vector<double> wakeUps;
    std::vector<double> calls;
};

json summary(const std::vector<double>& v) {
    auto s = v;
    std::sort(s.begin(), s.end());
    return {{"min", s.front()}, {"median", s[s.size() / 2]}, {"max", s.back()}};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--floor") return floorProgram(argv[2], argv[3]);
    const tamborix::bench::Args args(argc, argv);
    const int rounds = args.number("--rounds", 3);
    const int moves = args.number("--moves", 1200);
    const std::string baseline = args.text("--baseline-helper");
    if (sodium_init() < 0) return 1;
    const std::string self = std::filesystem::canonical("/proc/self/exe");
    std::vector<json> report;
    try {
        testing::XServer server({.width = 1920, .height = 1080});
        const std::vector<std::string> env = {"DISPLAY=" + server.display()};
        const auto work = server.dir() / "bench";
        std::filesystem::create_directories(work / "data");
        const auto keysFolder = work / "remote-keys";
        Bytes helperKey;
        {
            HelperRun pairing(true, false, env, true, work / "data");
            if (pairing.pair().exitCode != 0) throw std::runtime_error("pairing failed");
            std::filesystem::copy(pairing.remoteConfig() / "tamborix-remote", keysFolder);
            remote::RemoteKeys keys(keysFolder);
            helperKey = *keys.helperKey(remote::parseAddress(pairing.address())->key());
        }
        remote::RemoteKeys keys(keysFolder);

        std::vector<std::pair<std::string, std::string>> helpers;
        if (!baseline.empty()) helpers.emplace_back("baseline build", baseline);
        helpers.emplace_back("this build", HelperRun::helperBinary());

        std::map<std::string, Figures> figures;
        std::vector<double> loads;
        const json move = {{"t", "move"}, {"dx", 1}, {"dy", 0}};
        for (int r = 0; r < rounds; ++r) {
            // The floor.
            for (const bool traced : {false, true}) {
                Bytes sid(8);
                randombytes_buf(sid.data(), sid.size());
                SecureSession::Key key{};
                randombytes_buf(key.data(), key.size());
                ChildProcess floor(self, {"--floor", hex(sid.data(), sid.size()), hex(key.data(), key.size())},
                                   {"DISPLAY=" + server.display(), "PATH=/usr/bin:/bin"}, false);
                const auto port = floor.waitForPrefix("port ");
                if (!port) throw std::runtime_error("the floor did not start: " + floor.transcript());
                remote::LineSocket socket(*remote::parseAddress("127.0.0.1:" + port->substr(5)));
                SecureSession sender(sid, Bytes(32, 0), key, key);
                std::this_thread::sleep_for(300ms);
                const auto out = work / "floor-strace.txt";
                std::unique_ptr<ChildProcess> strace;
                if (traced) {
                    strace = std::make_unique<ChildProcess>(
                        "/usr/bin/strace", std::vector<std::string>{"-c", "-f", "-q", "-o", out.string(), "-p", std::to_string(floor.pid())},
                        std::vector<std::string>{"PATH=/usr/bin:/bin"}, false);
                    std::this_thread::sleep_for(500ms);
                }
                const auto c0 = sched(floor.pid());
                const auto text = move.dump();
                paced(moves, [&] {
                    const auto frame = sender.seal(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
                    socket.writeLine(Wire::b64url(frame));
                });
                const auto c1 = sched(floor.pid());
                if (traced) {
                    strace->signal(SIGINT);
                    strace->wait();
                    figures["floor program"].calls.push_back(straceCalls(out) / moves);
                } else {
                    figures["floor program"].cpuUs.push_back(1e6 * (c1.cpuSeconds - c0.cpuSeconds) / moves);
                    figures["floor program"].wakeUps.push_back((c1.wakeUps - c0.wakeUps) / moves);
                }
            }
            // The helpers.
            for (const auto& [name, binary] : helpers) {
                for (const bool traced : {false, true}) {
                    HelperRun run(false, false, env, true, work / "data", binary);
                    const auto address = *remote::parseAddress(run.address());
                    remote::RemoteSession phone(address, keys.device(), PhoneHandshake::Kind::hello, &helperKey, {});
                    while (phone.receive(300ms)) {
                    }
                    const pid_t pid = run.helper().pid();
                    const auto out = run.dir() / "strace.txt";
                    std::unique_ptr<ChildProcess> strace;
                    if (traced) {
                        strace = std::make_unique<ChildProcess>(
                            "/usr/bin/strace", std::vector<std::string>{"-c", "-f", "-q", "-o", out.string(), "-p", std::to_string(pid)},
                            std::vector<std::string>{"PATH=/usr/bin:/bin"}, false);
                        std::this_thread::sleep_for(500ms);
                    }
                    const auto c0 = sched(pid);
                    paced(moves, [&] { phone.socket().writeLine(phone.sealLine(move)); });
                    const auto c1 = sched(pid);
                    if (traced) {
                        strace->signal(SIGINT);
                        strace->wait();
                        figures[name].calls.push_back(straceCalls(out) / moves);
                        // Where the calls went, for a look at the profile.
                        if (const char* keep = std::getenv("MOVE_BENCH_STRACE_DIR"))
                            std::filesystem::copy_file(out, std::filesystem::path(keep) / (name + "-" + std::to_string(r) + ".txt"),
                                                       std::filesystem::copy_options::overwrite_existing);
                    } else {
                        figures[name].cpuUs.push_back(1e6 * (c1.cpuSeconds - c0.cpuSeconds) / moves);
                        figures[name].wakeUps.push_back((c1.wakeUps - c0.wakeUps) / moves);
                    }
                }
            }
            loads.push_back(loadAverage());
        }
        const auto& floorCpu = figures["floor program"].cpuUs;
        for (const auto& [name, f] : figures) {
            std::vector<double> ratio;
            for (std::size_t i = 0; i < f.cpuUs.size() && i < floorCpu.size(); ++i) ratio.push_back(f.cpuUs[i] / floorCpu[i]);
            report.push_back({{"test", "one phone at 120 Hz on XTEST, " + name},
                              {"moves", moves},
                              {"rounds", rounds},
                              {"cpuUsPerMove", summary(f.cpuUs)},
                              {"wakeUpsPerMove", summary(f.wakeUps)},
                              {"syscallsPerMove", summary(f.calls)},
                              {"cpuOverFloorSameRound", summary(ratio)}});
        }
        report.push_back({{"test", "load average (1 min) after each round"}, {"values", loads}});
    } catch (const std::exception& e) {
        for (const auto& r : report) std::cout << r.dump() << "\n";
        std::cerr << "move floor bench failed: " << e.what() << "\n";
        return 1;
    }
    for (const auto& r : report) std::cout << r.dump() << "\n";
    return 0;
}
