// The 120 Hz timing of the tray application beside the console helper, in the same run, on the
// same private Xvfb and the same device store: one phone (tamborix-remote) sends a move every
// 1/120 s; the pointer's motion is watched on the X server by a window over the whole screen.
// Per mode and round: the intervals between the pointer's moves (median, p99, standard deviation
// = the jitter) and the helper's own CPU time per move.
//
//   windowed_bench [--rounds N] [--moves N]

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "bench_support.h"
#include "e2e/helper_fixture.h"
#include "support/x_server.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using tamborix::testing::ChildProcess;
using tamborix::testing::HelperRun;
using tamborix::testing::XServer;

using tamborix::bench::cpuSecondsPrecise;
using tamborix::bench::median;
using tamborix::bench::quantile;
using tamborix::bench::stddev;

// An override-redirect window over the whole screen, above the helper's windows, that notes when
// each pointer motion arrives.
class MotionWatch {
public:
    explicit MotionWatch(const XServer& server) : c_(xcb_connect(server.display().c_str(), nullptr)) {
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_POINTER_MOTION};
        xcb_create_window(c_, 0, window_, screen->root, 0, 0, screen->width_in_pixels,
                          screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c_, window_);
        const std::uint32_t top[] = {XCB_STACK_MODE_ABOVE};
        xcb_configure_window(c_, window_, XCB_CONFIG_WINDOW_STACK_MODE, top);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    ~MotionWatch() { xcb_disconnect(c_); }

    // Collects motion arrival times until `done` holds (checked at least every 20 ms).
    template <class Done>
    std::vector<Clock::time_point> collect(Done done) {
        std::vector<Clock::time_point> at;
        while (!done()) {
            pollfd p{xcb_get_file_descriptor(c_), POLLIN, 0};
            ::poll(&p, 1, 20);
            const auto now = Clock::now();
            while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
                if ((e->response_type & 0x7f) == XCB_MOTION_NOTIFY) at.push_back(now);
                std::free(e);
            }
        }
        return at;
    }

private:
    xcb_connection_t* c_;
    xcb_window_t window_ = 0;
};

struct Round {
    std::vector<double> intervalsMs;
    double cpuUsPerMove = 0;
    std::size_t motions = 0;
};

Round measure(const XServer& server, HelperRun& run, int moves, int block) {
    MotionWatch watch(server);
    std::this_thread::sleep_for(300ms);  // the helper's start-up windows settle
    const pid_t pid = run.helper().pid();
    const double cpu0 = cpuSecondsPrecise(pid);
    auto remote = run.startRemote({"bench", run.address(), "--handshakes", "0", "--pings", "0", "--moves", "0",
                                   "--paced", std::to_string(moves), "--from",
                                   "127." + std::to_string(block) + ".0.1"});
    std::optional<int> exit;
    const auto arrivals = watch.collect([&] { return (exit = remote->wait(0ms)).has_value(); });
    const double cpu1 = cpuSecondsPrecise(pid);
    if (*exit != 0) throw std::runtime_error("remote bench failed:\n" + remote->transcript());
    Round r;
    r.motions = arrivals.size();
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        r.intervalsMs.push_back(std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count());
    }
    r.cpuUsPerMove = 1e6 * (cpu1 - cpu0) / moves;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const tamborix::bench::Args args(argc, argv);
    const int rounds = args.number("--rounds", 3);
    const int moves = args.number("--moves", 1200);
    std::vector<json> report;
    try {
        XServer server({.width = 1920, .height = 1080, .windowManager = true});
        const auto work = server.dir() / "bench";
        std::filesystem::create_directories(work / "data");
        const std::vector<std::string> env = {"DISPLAY=" + server.display()};
        // One pairing, through the console; both modes then use that store and those keys.
        std::filesystem::path keys = work / "remote-keys";
        {
            HelperRun pairing(true, false, env, true, work / "data");
            const auto paired = pairing.pair();
            if (paired.exitCode != 0) throw std::runtime_error("pairing failed: " + paired.err);
            std::filesystem::copy(pairing.remoteConfig(), keys, std::filesystem::copy_options::recursive);
        }
        std::map<std::string, std::vector<Round>> results;
        int block = 20;
        for (int r = 0; r < rounds; ++r) {
            for (const bool console : {true, false}) {
                HelperRun run(true, false, env, console, work / "data");
                std::filesystem::copy(keys, run.remoteConfig(),
                                      std::filesystem::copy_options::recursive |
                                          std::filesystem::copy_options::overwrite_existing);
                // The remote knows a helper by its address: the same helper key, at this run's port.
                const auto file = run.remoteConfig() / "tamborix-remote" / "helpers.json";
                json helpers = json::parse(std::ifstream(file));
                json moved = json::object();
                for (const auto& [address, key] : helpers.items()) moved[run.address()] = key;
                std::ofstream(file) << moved.dump();
                results[console ? "console" : "tray application"].push_back(measure(server, run, moves, block++));
            }
        }
        for (const auto& [mode, list] : results) {
            std::vector<double> p50, p99, jitter, cpu;
            std::vector<double> motions;
            for (const auto& r : list) {
                p50.push_back(median(r.intervalsMs));
                p99.push_back(quantile(r.intervalsMs, 0.99));
                jitter.push_back(stddev(r.intervalsMs));
                cpu.push_back(r.cpuUsPerMove);
                motions.push_back(static_cast<double>(r.motions));
            }
            report.push_back({{"test", "one phone at 120 Hz, " + mode},
                              {"moves", moves},
                              {"rounds", rounds},
                              {"medianMotionEvents", median(motions)},
                              {"medianIntervalMs", median(p50)},
                              {"medianP99IntervalMs", median(p99)},
                              {"medianJitterMs", median(jitter)},
                              {"medianCpuUsPerMove", median(cpu)},
                              {"jitterMsPerRound", jitter}});
        }
    } catch (const std::exception& e) {
        for (const auto& r : report) std::cout << r.dump() << "\n";
        std::cerr << "windowed bench failed: " << e.what() << "\n";
        return 1;
    }
    for (const auto& r : report) std::cout << r.dump() << "\n";
    return 0;
}
