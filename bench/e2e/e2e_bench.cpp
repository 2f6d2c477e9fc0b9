// End-to-end figures of the real helper, driven by the real tamborix-remote over loopback, each
// beside a raw TCP echo measured in the same run with the same line sizes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "e2e/helper_fixture.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using tamborix::testing::HelperRun;

struct ProcSample {
    double cpuSeconds = 0;
    double memMiB = 0;  // RssAnon + VmSwap
};

ProcSample sample(pid_t pid) {
    ProcSample s;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close != std::string::npos) {
        std::istringstream rest(text.substr(close + 2));
        std::string field;
        unsigned long long utime = 0;
        unsigned long long stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) utime = std::stoull(field);
            if (i == 15) stime = std::stoull(field);
        }
        s.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        long kb = 0;
        if (std::sscanf(line.c_str(), "RssAnon: %ld kB", &kb) == 1 || std::sscanf(line.c_str(), "VmSwap: %ld kB", &kb) == 1) {
            s.memMiB += static_cast<double>(kb) / 1024.0;
        }
    }
    return s;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

// A plain TCP line echo on loopback, served by another process as the helper is: the floor under
// any request and reply over these sockets.
json rawEcho(std::size_t lineLength, int rounds) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    ::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(server, 1);
    socklen_t len = sizeof addr;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
    const pid_t echoPid = ::fork();
    if (echoPid == 0) {
        const int c = ::accept(server, nullptr, nullptr);
        const int one = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string buf;
        char chunk[16384];
        for (;;) {
            const auto n = ::recv(c, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            buf.append(chunk, static_cast<std::size_t>(n));
            for (auto nl = buf.find('\n'); nl != std::string::npos; nl = buf.find('\n')) {
                const std::string line = buf.substr(0, nl + 1);
                buf.erase(0, nl + 1);
                ::send(c, line.data(), line.size(), MSG_NOSIGNAL);
            }
        }
        ::close(c);
        ::_exit(0);
    }
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const std::string line = std::string(lineLength, 'A') + "\n";
    std::vector<double> us;
    char chunk[16384];
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        ::send(client, line.data(), line.size(), MSG_NOSIGNAL);
        std::size_t got = 0;
        while (got < line.size()) {
            const auto n = ::recv(client, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    ::close(client);
    ::waitpid(echoPid, nullptr, 0);
    ::close(server);
    return {{"test", "raw echo"}, {"n", rounds}, {"p50Us", percentile(us, 50)}, {"p99Us", percentile(us, 99)}};
}

// A sealed {"t":"ping"} or {"t":"pong"}: 12 bytes of JSON + 33 of frame = 45 bytes, 60 in base64url.
constexpr std::size_t pingLineLength = 60;

}  // namespace

int main(int argc, char** argv) {
    int moves = 100000;
    int pings = 10000;
    int conns = 16;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--moves") moves = std::stoi(argv[i + 1]);
        if (a == "--pings") pings = std::stoi(argv[i + 1]);
        if (a == "--conns") conns = std::stoi(argv[i + 1]);
    }
    HelperRun run;
    const auto paired = run.pair();
    if (paired.exitCode != 0) {
        std::cerr << "pairing failed: " << paired.err << "\n";
        return 1;
    }
    const pid_t pid = run.helper().pid();

    // Idle: paired, nothing connected, console mode.
    std::this_thread::sleep_for(2s);
    const auto idle0 = sample(pid);
    const auto idleStart = Clock::now();
    std::this_thread::sleep_for(5s);
    const auto idle1 = sample(pid);
    const double idleWall = std::chrono::duration<double>(Clock::now() - idleStart).count();
    const json idle = {{"test", "idle helper"},
                       {"cpuPercent", 100.0 * (idle1.cpuSeconds - idle0.cpuSeconds) / idleWall},
                       {"memMiB", idle1.memMiB}};

    const json echo = rawEcho(pingLineLength, pings);

    const auto logBefore = run.dryRunLines().size();
    const auto load0 = sample(pid);
    double peakMem = load0.memMiB;
    const auto loadStart = Clock::now();
    auto remote = run.startRemote({"bench", run.address(), "--handshakes", "10", "--pings", std::to_string(pings),
                                   "--moves", std::to_string(moves), "--conns", std::to_string(conns)});
    std::optional<int> rc;
    while (!(rc = remote->wait(200ms))) peakMem = std::max(peakMem, sample(pid).memMiB);
    const auto load1 = sample(pid);
    const double loadWall = std::chrono::duration<double>(Clock::now() - loadStart).count();
    if (*rc != 0) {
        std::cerr << "bench failed:\n" << remote->transcript();
        return 1;
    }
    std::vector<json> figures;
    for (const auto& l : remote->lines()) figures.push_back(json::parse(l));

    // Nothing lost: the dry-run log must account for every unit of motion sent.
    std::this_thread::sleep_for(200ms);
    const auto log = run.dryRunLines();
    double dxLogged = 0;
    for (std::size_t i = logBefore; i < log.size(); ++i) {
        double dx = 0;
        double dy = 0;
        if (std::sscanf(log[i].c_str(), "move %lf %lf", &dx, &dy) == 2) dxLogged += dx;
    }
    long long dxSent = 0;
    for (const auto& f : figures) {
        if (f["test"] == "move") dxSent += f["dxSum"].get<long long>();
    }

    json report = json::array({idle, echo});
    for (auto& f : figures) report.push_back(f);
    report.push_back({{"test", "helper under load"},
                      {"cpuPercent", 100.0 * (load1.cpuSeconds - load0.cpuSeconds) / loadWall},
                      {"peakMemMiB", peakMem},
                      {"seconds", loadWall}});
    report.push_back({{"test", "dry-run log"}, {"dxSent", dxSent}, {"dxLogged", dxLogged},
                      {"nothingLost", std::llround(dxLogged) == dxSent}});
    for (const auto& r : report) std::cout << r.dump() << "\n";

    double pingP99 = 0;
    for (const auto& f : figures) {
        if (f["test"] == "ping") pingP99 = f["p99Us"];
    }
    std::cout << "ping p99 / raw echo p99 = " << pingP99 / echo["p99Us"].get<double>() << "\n";
    return std::llround(dxLogged) == dxSent ? 0 : 1;
}
