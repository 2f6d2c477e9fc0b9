// The wlroots backend against a private headless sway (pixman renderer), each figure beside a
// baseline from the same run:
//
//   wlroots_bench [--moves N] [--frames N]
//
// Pointer: the time from the sink's move to the probe window printing the motion, beside the
// same motion sent as bare virtual-pointer requests on a connection of the bench's own, both
// through the same probe and pipe (p50 and p99).
// Screen: one frame of the 1280 x 720 output through the capture port (screencopy into shared
// memory, box scale to 960 x 540, JPEG) while the output changes at every frame (the pointer
// moved by the sink), and the same while nothing changes (the compositor reports no damage, so
// the last JPEG is sent again), beside grim writing the same output (one process per frame, as a
// screenshot tool is used; PPM and PNG, Debian's grim has no JPEG).

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/desktop/wlroots/wlr_screen_capture.h"
#include "platform/linux/desktop/wlroots/wlroots_session.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "support/child_process.h"
#include "support/qt_spin.h"
#include "support/sway_server.h"
#include "wayland/virtual-pointer.h"
#include "bench_support.h"

namespace tamborix {
namespace {

using Clock = std::chrono::steady_clock;
using testing::ChildProcess;
using testing::SwayServer;

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Percentiles {
    double p50 = 0, p99 = 0;
};
Percentiles percentiles(std::vector<double> v) {
    if (v.empty()) return {};
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

// Moves between points of the probe's window, waiting each time for the probe to report it.
template <class Move>
std::vector<double> pointerLatencies(ChildProcess& probe, int moves, Move move) {
    std::vector<double> out;
    for (int i = 0; i < moves; ++i) {
        const int x = 100 + (i % 500), y = 100 + (i % 300);
        const std::string at = " " + std::to_string(x) + " " + std::to_string(y);
        const auto start = Clock::now();
        move(x, y);
        // The first motion into the window arrives as its enter.
        if (!probe.waitForLine([&](const std::string& l) { return l == "motion" + at || l == "enter" + at; },
                               std::chrono::milliseconds(2000))) {
            std::fprintf(stderr, "the probe never saw the pointer at%s\n", at.c_str());
            continue;
        }
        out.push_back(micros(Clock::now() - start));
    }
    return out;
}

int run(int moves, int frames) {
    SwayServer sway;
    if (!sway.running()) {
        std::fprintf(stderr, "no sway: %s\n", sway.why().c_str());
        return 1;
    }
    ChildProcess probe(TAMBORIX_PROBE_WINDOW, {"bench"}, sway.clientEnv(), false);
    if (!probe.waitForPrefix("ready ")) return 1;
    std::string why;
    auto session = wlroots::WlrootsSession::open(sway.display(), why);
    if (!session) return 1;
    auto sink = session->makeInput();
    if (!sink || !sink->mayPost()) return 1;

    // The baseline's own connection and virtual pointer.
    auto bare = wayland::WaylandConnection::connect(sway.display(), why);
    wayland::Proxy<wl_seat> seat(bare->bind<wl_seat>(wl_seat_interface, 1));
    wayland::Proxy<zwlr_virtual_pointer_manager_v1> manager(
        bare->bind<zwlr_virtual_pointer_manager_v1>(zwlr_virtual_pointer_manager_v1_interface, 1));
    wayland::Proxy<zwlr_virtual_pointer_v1> pointer(
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager.get(), seat.get()));
    bare->roundtrip();
    const Rect extent = session->outputs().extent();

    // Interleaved rounds, so that the machine's load falls on both alike.
    std::vector<double> viaSink, viaBare;
    for (int round = 0; round < 4; ++round) {
        auto a = pointerLatencies(probe, moves / 4, [&](int x, int y) {
            sink->mouse({MouseEventType::moved, MouseButton::left, {double(x), double(y)}});
        });
        auto b = pointerLatencies(probe, moves / 4, [&](int x, int y) {
            zwlr_virtual_pointer_v1_motion_absolute(pointer.get(), 0, x, y, std::uint32_t(extent.width),
                                                    std::uint32_t(extent.height));
            zwlr_virtual_pointer_v1_frame(pointer.get());
            bare->flush();
        });
        viaSink.insert(viaSink.end(), a.begin(), a.end());
        viaBare.insert(viaBare.end(), b.begin(), b.end());
        session->connection().roundtrip();
        bare->roundtrip();
    }
    const auto s = percentiles(viaSink), b = percentiles(viaBare);
    std::printf("pointer, move to the client's event (%zu / %zu moves)\n", viaSink.size(), viaBare.size());
    std::printf("  sink move:              p50 %8.1f us  p99 %8.1f us\n", s.p50, s.p99);
    std::printf("  bare virtual pointer:   p50 %8.1f us  p99 %8.1f us\n", b.p50, b.p99);
    std::printf("  sink / bare:            p50 %.2fx  p99 %.2fx\n", s.p50 / b.p50, s.p99 / b.p99);

    QtMainLoop loop;
    wlroots::WlrScreenCapture capture(loop, sway.display(), session->offers("zwlr_screencopy_manager_v1"),
                                      [&] { return sink->lastPosition(); });
    const auto displays = session->outputs().displays();
    CaptureRequest r;
    r.display = displays.at(0).id;
    r.displayBounds = displays.at(0).bounds;
    r.region = displays.at(0).bounds;
    r.width = 960;
    r.height = 540;
    int made = 0;
    // Waits for the answer itself, not in the test helpers' 10 ms steps.
    const auto shoot = [&] {
        std::optional<std::optional<Bytes>> got;
        QEventLoop wait;
        capture.capture(r, [&](std::optional<Bytes> jpeg) {
            got = std::move(jpeg);
            wait.quit();
        });
        if (!got) wait.exec();
        made += got && *got ? 1 : 0;
    };
    auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        sink->mouse({MouseEventType::moved, MouseButton::left, {double(200 + (i % 2) * 40), 200}});
        shoot();
    }
    const double changingMs = micros(Clock::now() - start) / 1000.0 / frames;
    const auto before = capture.counters();
    // Settled: the damage of the last move has been reported.
    for (int i = 0; i < 5; ++i) shoot();
    const auto settled = capture.counters();
    start = Clock::now();
    for (int i = 0; i < frames; ++i) shoot();
    const double unchangedMs = micros(Clock::now() - start) / 1000.0 / frames;
    const auto after = capture.counters();
    // Debian's grim is built without JPEG: its cheapest output (PPM, no encoding at all) and its
    // fastest PNG stand in for it.
    auto grim = [&](std::vector<std::string> args, int& ok) {
        args.insert(args.end(), {"-o", "HEADLESS-1", "/dev/null"});
        const auto t0 = Clock::now();
        for (int i = 0; i < frames; ++i) ok += testing::runTool("/usr/bin/grim", args, sway.clientEnv()) ? 1 : 0;
        return micros(Clock::now() - t0) / 1000.0 / frames;
    };
    int ppmOk = 0, pngOk = 0;
    const double ppmMs = grim({"-t", "ppm"}, ppmOk);
    const double pngMs = grim({"-t", "png", "-l", "1"}, pngOk);
    std::printf("screen, one frame of the 1280 x 720 output (%d / %d made; grim %d, %d)\n", made, 2 * frames + 5,
                ppmOk, pngOk);
    std::printf("  changing: screencopy + scale + JPEG:  %8.2f ms   (%llu encoded)\n", changingMs,
                static_cast<unsigned long long>(before.encoded));
    std::printf("  unchanged: the last JPEG again:       %8.2f ms   (%llu reused, %llu encoded)\n", unchangedMs,
                static_cast<unsigned long long>(after.reused - settled.reused),
                static_cast<unsigned long long>(after.encoded - settled.encoded));
    std::printf("  grim -t ppm (no encoding):            %8.2f ms   changing / grim %.2fx\n", ppmMs, changingMs / ppmMs);
    std::printf("  grim -t png -l 1:                     %8.2f ms   changing / grim %.2fx\n", pngMs, changingMs / pngMs);
    return 0;
}

}  // namespace
}  // namespace tamborix

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const tamborix::bench::Args args(argc, argv);
    return tamborix::run(args.number("--moves", 400), args.number("--frames", 50));
}
