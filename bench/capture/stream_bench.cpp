// The real helper streaming its live view of a private 1920 x 1080 X server to one phone (the
// real tamborix-remote, acknowledging every frame as it arrives) while a second phone moves the
// pointer at 120 Hz, beside the same helper with the view off, and beside another build of the
// helper (--baseline-helper) in the same run, round by round:
// - the MAIN thread's CPU time (its own schedstat, /proc/PID/task/PID) per streamed frame, while
//   it streams with nothing else to do, less what it spends idle per second, divided by the frames
//   (the moves' own cost, 15-20 ms a second at 120 Hz, varies too much with the load to subtract);
// - how long a command waits: a ping timed after every sixth move of the second phone (20 Hz),
//   p50 / p99 / worst, with the view off and while streaming; the ping's own round trip is in it;
// - the main thread's mean wait for a core each time it was woken.
// The main thread is pinned to CPU 0 and the capture thread to CPU 1 where the machine has two.
// A backdrop of noise under a repainting window keeps every frame new and its JPEG large
// (--noise sets its amplitude, 0…255, and with it the picture's size).
//
//   stream_bench [--rounds 3] [--seconds 15] [--noise 255] [--baseline-helper PATH]

#include <sched.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "e2e/helper_fixture.h"
#include "bench_support.h"
#include "support/pattern_window.h"
#include "support/x_server.h"

namespace {

using namespace std::chrono_literals;
using tamborix::bench::loadAverage;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using tamborix::bench::meanWaitUs;
using tamborix::bench::threadSchedule;
using tamborix::testing::HelperRun;
using tamborix::testing::PatternWindow;
using tamborix::testing::XServer;

struct Options {
    int rounds = 3;
    int seconds = 15;
    int noise = 255;
    std::string baseline;
};

constexpr int moveRate = 120;
constexpr int probeEvery = 6;

// A window over the whole screen whose background the server paints from a pixmap of noise.
class NoiseBackdrop {
public:
    NoiseBackdrop(const std::string& display, int width, int height, int amplitude) {
        conn_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(conn_)) throw std::runtime_error("cannot connect to " + display);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data;
        const xcb_pixmap_t pixmap = xcb_generate_id(conn_);
        xcb_create_pixmap(conn_, screen->root_depth, pixmap, screen->root, static_cast<std::uint16_t>(width),
                          static_cast<std::uint16_t>(height));
        const xcb_gcontext_t gc = xcb_generate_id(conn_);
        xcb_create_gc(conn_, gc, pixmap, 0, nullptr);
        std::mt19937 random(28);
        constexpr int strip = 16;  // rows per request, well under the core request limit
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * strip);
        const auto mask = static_cast<std::uint32_t>(amplitude & 0xFF) * 0x010101u;
        for (int y = 0; y < height; y += strip) {
            for (auto& p : pixels) p = (random() & mask) + 0x202020u * ((y / 135) % 4);
            xcb_put_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, static_cast<std::uint16_t>(width), strip, 0,
                          static_cast<std::int16_t>(y), 0, screen->root_depth,
                          static_cast<std::uint32_t>(pixels.size() * 4),
                          reinterpret_cast<const std::uint8_t*>(pixels.data()));
        }
        const xcb_window_t window = xcb_generate_id(conn_);
        const std::uint32_t values[2] = {pixmap, 1};
        xcb_create_window(conn_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, static_cast<std::uint16_t>(width),
                          static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(conn_, window);
        xcb_free_gc(conn_, gc);
        xcb_free_pixmap(conn_, pixmap);
        free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
    }
    ~NoiseBackdrop() { xcb_disconnect(conn_); }
    NoiseBackdrop(const NoiseBackdrop&) = delete;
    NoiseBackdrop& operator=(const NoiseBackdrop&) = delete;

private:
    xcb_connection_t* conn_ = nullptr;
};

// Keeps part of the screen changing, one quadrant per 16 ms, as a video on the screen would.
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

bool pin(pid_t tid, int cpu) {
    if (static_cast<int>(std::thread::hardware_concurrency()) <= cpu) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return ::sched_setaffinity(tid, sizeof set, &set) == 0;
}

// The helper's thread named `name`, or 0.
pid_t threadNamed(pid_t pid, const std::string& name) {
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "comm");
        std::string comm;
        std::getline(in, comm);
        if (comm == name) return static_cast<pid_t>(std::stol(task.path().filename().string()));
    }
    return 0;
}

// The second phone: moves at 120 Hz for `seconds`, a timed ping after every sixth.
json pacedMoves(HelperRun& run, int seconds) {
    const auto r = run.runRemote({"bench", run.address(), "--handshakes", "0", "--pings", "0", "--moves", "0",
                                  "--paced", std::to_string(seconds * moveRate), "--rate", std::to_string(moveRate),
                                  "--probe", std::to_string(probeEvery)},
                                 std::chrono::seconds(seconds + 60));
    for (const auto& m : r.messages()) {
        if (m.value("test", "") == "paced move") return m;
    }
    throw std::runtime_error("no paced move figure: " + r.err);
}

struct Round {
    double load = 0;
    double idleMainMsPerS = 0;
    double offMainMsPerS = 0;
    json off;
    json on;
    double offWaitUs = 0;
    double onWaitUs = 0;
    double mainMsPerFrame = 0;
    double fps = 0;
    double jpegKB = 0;
    bool pinned = false;
    bool overlapped = false;
};

double mainMsPerSecond(const tamborix::bench::ThreadSchedule& a, const tamborix::bench::ThreadSchedule& b,
                       double seconds) {
    return (b.runNs - a.runNs) / 1e6 / seconds;
}

Round measure(const XServer& server, const std::string& binary, const Options& o) {
    HelperRun run(true, false, {"DISPLAY=" + server.display()}, true, {}, binary);
    if (run.pair().exitCode != 0) throw std::runtime_error("pairing failed");
    const pid_t helper = run.helper().pid();
    Round r;
    r.load = loadAverage();
    r.pinned = pin(helper, 0);

    // Nothing to do: what the main thread spends anyway (its lag probe, while a phone is there).
    auto s0 = threadSchedule(helper, helper);
    auto t0 = Clock::now();
    std::this_thread::sleep_for(3s);
    auto s1 = threadSchedule(helper, helper);
    r.idleMainMsPerS = mainMsPerSecond(s0, s1, std::chrono::duration<double>(Clock::now() - t0).count());

    // The view off: the moving phone alone.
    s0 = threadSchedule(helper, helper);
    t0 = Clock::now();
    r.off = pacedMoves(run, o.seconds);
    s1 = threadSchedule(helper, helper);
    r.offMainMsPerS = mainMsPerSecond(s0, s1, std::chrono::duration<double>(Clock::now() - t0).count());
    r.offWaitUs = meanWaitUs(s0, s1);

    // Streaming to one phone, first alone (the main thread's CPU per frame), then with the other
    // phone moving as before (the waits). The streaming phone outlasts both.
    const int frames = 8 * (2 * o.seconds + 8);
    const auto file = run.dir() / "stream.jpg";
    auto phone = run.startRemote({"screen", run.address(), file.string(), "--frames", std::to_string(frames)});
    if (!run.helper().waitForLine([](const std::string& l) { return l.ends_with("[y/N]"); }, 20000ms)) {
        throw std::runtime_error("no screen prompt:\n" + run.helper().transcript());
    }
    run.helper().write("y\n");
    const auto started = Clock::now();
    // Counted from the second second of streaming on, so the start does not count.
    std::this_thread::sleep_for(1500ms);
    if (const pid_t grab = threadNamed(helper, "tamborix-grab")) r.pinned = pin(grab, 1) && r.pinned;
    else r.pinned = false;
    s0 = threadSchedule(helper, helper);
    t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(o.seconds));
    s1 = threadSchedule(helper, helper);
    const double alone = std::chrono::duration<double>(Clock::now() - t0).count();
    const double mainMs = (s1.runNs - s0.runNs) / 1e6 - r.idleMainMsPerS * alone;

    s0 = threadSchedule(helper, helper);
    r.on = pacedMoves(run, o.seconds);
    s1 = threadSchedule(helper, helper);
    r.onWaitUs = meanWaitUs(s0, s1);
    r.overlapped = !phone->wait(0ms).has_value();
    const auto code = phone->wait(300s);
    if (code != std::optional<int>(0)) throw std::runtime_error("the streaming phone failed:\n" + phone->transcript());
    const auto saved = json::parse(phone->lines().back());
    // The rate over the whole stream, which the phone's pace keeps steady, times the stretch.
    r.fps = saved["frames"].get<double>() / std::chrono::duration<double>(Clock::now() - started).count();
    r.jpegKB = saved["bytes"].get<double>() / 1000.0;
    const double streamed = r.fps * alone;
    r.mainMsPerFrame = streamed > 0 ? mainMs / streamed : 0;
    return r;
}

void print(int round, const char* build, const Round& r) {
    std::printf("%-5d %-9s %5.1f %5.2f %6.2f | %8.1f %8.1f %8.1f %6.1f | %8.1f %8.1f %8.1f %6.1f | %8.3f %6.2f %7.0f %s\n",
                round, build, r.load, r.idleMainMsPerS, r.offMainMsPerS, r.off["probeP50Us"].get<double>(),
                r.off["probeP99Us"].get<double>(), r.off["probeMaxUs"].get<double>(), r.offWaitUs,
                r.on["probeP50Us"].get<double>(), r.on["probeP99Us"].get<double>(), r.on["probeMaxUs"].get<double>(),
                r.onWaitUs, r.mainMsPerFrame, r.fps, r.jpegKB,
                !r.overlapped ? "(void: the stream ended first)" : (r.pinned ? "" : "(not pinned)"));
    std::fflush(stdout);
}

void summary(const char* build, const std::vector<Round>& rounds) {
    auto line = [&](const char* what, auto pick) {
        std::vector<double> v;
        for (const auto& r : rounds) v.push_back(pick(r));
        std::sort(v.begin(), v.end());
        std::printf("%-9s %-32s min %9.3f  median %9.3f  max %9.3f\n", build, what, v.front(), v[v.size() / 2],
                    v.back());
    };
    line("main-thread CPU ms per frame", [](const Round& r) { return r.mainMsPerFrame; });
    line("ping p99 us, streaming", [](const Round& r) { return r.on["probeP99Us"].get<double>(); });
    line("ping p99 us, view off", [](const Round& r) { return r.off["probeP99Us"].get<double>(); });
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const tamborix::bench::Args args(argc, argv);
    o.rounds = args.number("--rounds", o.rounds);
    o.seconds = args.number("--seconds", o.seconds);
    o.noise = args.number("--noise", o.noise);
    o.baseline = args.text("--baseline-helper");
    XServer server(XServer::Options{.width = 1920, .height = 1080});
    NoiseBackdrop backdrop(server.display(), 1920, 1080, o.noise);
    Animator animator(server.display());

    std::printf("moves at %d Hz for %d s, a ping after every %d; main thread on CPU 0, capture thread on CPU 1\n",
                moveRate, o.seconds, probeEvery);
    std::printf("%-5s %-9s %5s %12s | %-35s | %-35s | %8s %6s %7s\n", "round", "build", "load", "main ms/s", "view off: ping us p50 / p99 / max, core wait",
                "streaming: ping us p50 / p99 / max, core wait", "main ms", "fps", "JPEG kB");
    std::printf("%-5s %-9s %5s %12s | %-35s | %-35s | %8s\n", "", "", "", "idle / moves", "", "", "per frame");
    std::map<std::string, std::vector<Round>> all;
    for (int round = 1; round <= o.rounds; ++round) {
        auto& mine = all["this"].emplace_back(measure(server, HelperRun::helperBinary(), o));
        print(round, "this", mine);
        if (!o.baseline.empty()) {
            auto& base = all["baseline"].emplace_back(measure(server, o.baseline, o));
            print(round, "baseline", base);
            std::printf("%-5d this / baseline: main-thread CPU per frame %.2fx, streaming ping p99 %.2fx\n", round,
                        mine.mainMsPerFrame / base.mainMsPerFrame,
                        mine.on["probeP99Us"].get<double>() / base.on["probeP99Us"].get<double>());
        }
    }
    for (const auto& [build, rounds] : all) summary(build.c_str(), rounds);
    return 0;
}
