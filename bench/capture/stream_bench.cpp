// The real helper streaming its live view of a private 1920 x 1080 X server to one phone (the
// real tamborix-remote, acknowledging every frame as it arrives) while a test client keeps the
// screen changing, beside the same helper with the view off, in the same run:
// - the helper's main-thread lag (its own probe: the worst tick of the last 3 s, as the console's
//   statistics line shows it, whole milliseconds), read every second;
//   beside it the main thread's mean wait for a core each time it was woken (its schedstat);
// - the helper's CPU time (all threads) per streamed frame and as a share of one core;
// - a second phone's ping round trips (tamborix-remote bench), p50 and p99.
//
//   stream_bench [--rounds 3] [--frames 400] [--pings 3000]

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "e2e/helper_fixture.h"
#include "bench_support.h"
#include "support/pattern_window.h"
#include "support/x_server.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using tamborix::bench::cpuSecondsPrecise;
using tamborix::bench::meanWaitUs;
using tamborix::bench::threadSchedule;
using tamborix::testing::HelperRun;
using tamborix::testing::PatternWindow;
using tamborix::testing::XServer;

struct Options {
    int rounds = 3;
    int frames = 400;
    int pings = 3000;
};

json pingFigure(HelperRun& run, int pings) {
    auto remote = run.startRemote({"bench", run.address(), "--handshakes", "0", "--pings", std::to_string(pings),
                                   "--moves", "0"});
    if (remote->wait(120s) != std::optional<int>(0)) throw std::runtime_error("ping bench failed:\n" + remote->transcript());
    for (const auto& l : remote->lines()) {
        const auto j = json::parse(l);
        if (j.value("test", "") == "ping") return j;
    }
    throw std::runtime_error("no ping figure");
}

// The worst main-thread lag of the last 3 s as the helper reports it to a phone ("stats_get").
int lagMs(HelperRun& run) {
    const auto r = run.runRemote({"send", run.address(), R"({"t":"stats_get"})"});
    for (const auto& m : r.messages()) {
        if (m.value("t", "") == "stats") return m.value("lag", -1);
    }
    throw std::runtime_error("no stats from the helper: " + r.err);
}

// The worst of `samples` readings a second apart, which covers that many seconds and three more.
int worstLagMs(HelperRun& run, int samples) {
    int worst = 0;
    for (int i = 0; i < samples; ++i) {
        if (i > 0) std::this_thread::sleep_for(1s);
        worst = std::max(worst, lagMs(run));
    }
    return worst;
}

// Keeps the pattern changing, one quadrant per 16 ms, as a video on the screen would.
class Animator {
public:
    explicit Animator(const std::string& display) : window_(display, 560, 340) {
        thread_ = std::thread([this] {
            for (std::uint32_t n = 0; !stop_; ++n) {
                window_.repaint(static_cast<int>(n % 4), 0x101010u * (n % 15) + 0x203040u);
                std::this_thread::sleep_for(16ms);
            }
        });
    }
    ~Animator() {
        stop_ = true;
        thread_.join();
    }

private:
    PatternWindow window_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const tamborix::bench::Args args(argc, argv);
    o.rounds = args.number("--rounds", o.rounds);
    o.frames = args.number("--frames", o.frames);
    o.pings = args.number("--pings", o.pings);
    XServer server(XServer::Options{.width = 1920, .height = 1080});
    Animator animator(server.display());
    HelperRun run(true, false, {"DISPLAY=" + server.display()});
    if (run.pair().exitCode != 0) throw std::runtime_error("pairing failed");
    const pid_t helper = run.helper().pid();

    std::printf("%-6s %-9s %12s %12s %9s %12s %14s %12s %10s\n", "round", "view", "ping p50 us", "ping p99 us",
                "lag ms", "core wait us", "CPU ms/frame", "CPU % core", "frames/s");
    bool approved = false;
    for (int round = 1; round <= o.rounds; ++round) {
        // The view off: the second phone alone, and the probe read beside it.
        const auto quietSchedule0 = threadSchedule(helper, helper);
        const auto quiet = pingFigure(run, o.pings);
        const int quietLag = worstLagMs(run, 3);
        const double quietWait = meanWaitUs(quietSchedule0, threadSchedule(helper, helper));
        std::printf("%-6d %-9s %12.1f %12.1f %9d %12.1f %14s %12s %10s\n", round, "off", quiet["p50Us"].get<double>(),
                    quiet["p99Us"].get<double>(), quietLag, quietWait, "", "", "");

        const auto file = run.dir() / "stream.jpg";
        auto phone = run.startRemote({"screen", run.address(), file.string(), "--frames", std::to_string(o.frames)});
        if (!approved) {
            if (!run.helper().waitForLine([](const std::string& l) { return l.ends_with("[y/N]"); }, 20000ms)) {
                throw std::runtime_error("no screen prompt:\n" + run.helper().transcript());
            }
            run.helper().write("y\n");
            approved = true;
        }
        // Counted from the first second of streaming on, so the start does not count.
        std::this_thread::sleep_for(1s);
        const double cpu0 = cpuSecondsPrecise(helper);
        const auto schedule0 = threadSchedule(helper, helper);
        const auto t0 = Clock::now();
        const auto busy = pingFigure(run, o.pings);
        const int lag = worstLagMs(run, 3);
        const double wait = meanWaitUs(schedule0, threadSchedule(helper, helper));
        // Figures taken after the phone stopped would not be figures under streaming.
        const bool overlapped = !phone->wait(0ms).has_value();
        const auto code = phone->wait(300s);
        const double cpu1 = cpuSecondsPrecise(helper);
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        if (code != std::optional<int>(0)) throw std::runtime_error("the streaming phone failed:\n" + phone->transcript());
        // The frames of the measured stretch: the rate over the whole run, times its length.
        const auto saved = json::parse(phone->lines().back());
        const double total = std::chrono::duration<double>(Clock::now() - t0).count() + 1.0;
        const double fps = saved["frames"].get<double>() / total;
        const double frames = fps * wall;
        std::printf("%-6d %-9s %12.1f %12.1f %9d %12.1f %14.2f %12.1f %10.1f\n", round, "streaming",
                    busy["p50Us"].get<double>(), busy["p99Us"].get<double>(), lag, wait, (cpu1 - cpu0) * 1000 / frames,
                    (cpu1 - cpu0) * 100 / wall, fps);
        std::printf("%-6d ping p99 streaming / off: %.2fx%s\n", round,
                    busy["p99Us"].get<double>() / quiet["p99Us"].get<double>(),
                    overlapped ? "" : "  (void: the stream ended first; raise --frames)");
        std::fflush(stdout);
    }
    return 0;
}
