// One frame of the live view on a real X server: grab 1920 x 1080, draw the pointer, scale to
// 1280 x 720 and encode as JPEG, beside ffmpeg doing the same (x11grab over shared memory,
// swscale, mjpeg, one thread) on the same display in the same run.
//
//   capture_bench [--frames N]
//
// Figures per frame: wall time, this process's CPU (the helper's own), and the X server's CPU
// (both pipelines make the server copy the screen). ffmpeg runs twice (few and many frames) and
// the difference is divided by the extra frames, so its start-up does not count.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/support/jpeg/frame_encoder.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/desktop/x11/screen_grabber.h"
#include "platform/linux/desktop/x11/x11_screen_capture.h"
#include "support/x_server.h"

namespace tamborix {
namespace {

using Clock = std::chrono::steady_clock;

double cpuSecondsOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double selfCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A desktop-like picture: a gradient, light panels and dark text-like strokes.
void paintDesktop(const std::string& display) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const int w = s->width_in_pixels, h = s->height_in_pixels;
    const xcb_window_t win = xcb_generate_id(c);
    const std::uint32_t values[2] = {0, 1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, win, s->root, 0, 0, static_cast<std::uint16_t>(w),
                      static_cast<std::uint16_t>(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, win);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, win, 0, nullptr);
    const int strip = 32;
    std::vector<std::uint32_t> rows(static_cast<std::size_t>(w) * strip);
    for (int y0 = 0; y0 < h; y0 += strip) {
        const int n = std::min(strip, h - y0);
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < w; ++x) {
                const int Y = y0 + y;
                std::uint32_t px = (static_cast<std::uint32_t>(x * 255 / w) << 16) |
                                   (static_cast<std::uint32_t>(Y * 255 / h) << 8) | 0x60;
                // Panels with "text": dark strokes on light ground in a grid of windows.
                if ((x / 480 + Y / 270) % 2 == 0 && (x % 480) > 20 && (Y % 270) > 30) {
                    px = 0xF0F0F0;
                    if ((Y % 14) < 9 && ((x * 7 + (Y / 14) * 13) % 23) < 9) px = 0x202020;
                }
                rows[static_cast<std::size_t>(y) * w + x] = px;
            }
        }
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, win, gc, static_cast<std::uint16_t>(w),
                      static_cast<std::uint16_t>(n), 0, static_cast<std::int16_t>(y0), 0, 24,
                      static_cast<std::uint32_t>(n * w * 4),
                      reinterpret_cast<const std::uint8_t*>(rows.data()));
    }
    xcb_warp_pointer(c, XCB_NONE, s->root, 0, 0, 0, 0, 700, 400);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    // The window must outlive this call: leave the connection open for the process's life.
}

struct Figure {
    double wallMs = 0;
    double cpuMs = 0;
    double serverCpuMs = 0;
};

Figure ourPipeline(const testing::XServer& server, int frames) {
    std::string error;
    auto grabber = x11::ScreenGrabber::open(server.display(), error);
    if (!grabber) throw std::runtime_error(error);
    jpeg::FrameEncoder encoder;
    const x11::PixelRect all{0, 0, 1920, 1080};
    std::size_t bytes = 0;
    const auto oneFrame = [&] {
        auto cursor = grabber->cursor();
        auto g = grabber->grab(all);
        if (!g) throw std::runtime_error("grab failed");
        if (cursor) x11::drawCursor(g->data, g->stride, g->width, g->height, 0, 0, *cursor);
        const auto jpeg = encoder.encode({g->data, g->stride, g->width, g->height}, 1280, 720, 0.55);
        if (!jpeg) throw std::runtime_error("encode failed");
        bytes += jpeg->size();
    };
    for (int i = 0; i < 5; ++i) oneFrame();  // warm: segment, buffers
    bytes = 0;
    const double cpu0 = selfCpuSeconds(), srv0 = cpuSecondsOf(server.serverPid());
    const auto t0 = Clock::now();
    for (int i = 0; i < frames; ++i) oneFrame();
    const double wall = seconds(Clock::now() - t0);
    Figure f;
    f.wallMs = wall * 1000 / frames;
    f.cpuMs = (selfCpuSeconds() - cpu0) * 1000 / frames;
    f.serverCpuMs = (cpuSecondsOf(server.serverPid()) - srv0) * 1000 / frames;
    std::printf("  our JPEG: %zu bytes a frame (quality 0.55 = IJG 55)\n", bytes / static_cast<std::size_t>(frames));
    return f;
}

struct Run {
    double wall = 0;
    double cpu = 0;
    double serverCpu = 0;
};

Run ffmpegRun(const testing::XServer& server, int frames) {
    std::vector<std::string> argv = {
        "ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-f", "x11grab",
        "-framerate", "1000", "-video_size", "1920x1080", "-i", server.display() + "+0,0",
        "-frames:v", std::to_string(frames), "-fps_mode", "passthrough", "-threads", "1",
        "-filter_threads", "1", "-vf", "scale=1280:720", "-c:v", "mjpeg", "-q:v", "8", "-f", "null", "-"};
    std::vector<std::string> env = server.environment();
    std::vector<char*> a, e;
    for (auto& s : argv) a.push_back(s.data());
    a.push_back(nullptr);
    for (auto& s : env) e.push_back(s.data());
    e.push_back(nullptr);
    const double srv0 = cpuSecondsOf(server.serverPid());
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvpe("ffmpeg", a.data(), e.data());
        _exit(127);
    }
    int status = 0;
    rusage u{};
    wait4(pid, &status, 0, &u);
    Run r;
    r.wall = seconds(Clock::now() - t0);
    r.cpu = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
            static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    r.serverCpu = cpuSecondsOf(server.serverPid()) - srv0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("ffmpeg failed");
    return r;
}

Figure ffmpegPipeline(const testing::XServer& server, int frames) {
    const Run few = ffmpegRun(server, 10);
    const Run many = ffmpegRun(server, 10 + frames);
    Figure f;
    f.wallMs = (many.wall - few.wall) * 1000 / frames;
    f.cpuMs = (many.cpu - few.cpu) * 1000 / frames;
    f.serverCpuMs = (many.serverCpu - few.serverCpu) * 1000 / frames;
    return f;
}

// Through the port as the streamer uses it: worker thread, answer posted to the Qt loop.
Figure throughThePort(const testing::XServer& server, int frames, bool changing) {
    QtMainLoop loop;
    x11::X11ScreenCapture capture(loop, server.display());
    CaptureRequest request;
    request.displayBounds = request.region = Rect{0, 0, 1920, 1080};
    request.width = 1280;
    request.height = 720;
    xcb_connection_t* painter = xcb_connect(server.display().c_str(), nullptr);
    xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(painter)).data;
    double busy = 0;
    const double cpu0 = selfCpuSeconds(), srv0 = cpuSecondsOf(server.serverPid());
    for (int i = 0; i < frames; ++i) {
        if (changing) {
            // Something moves on screen between two frames, as a video or a scrolling page would.
            xcb_warp_pointer(painter, XCB_NONE, s->root, 0, 0, 0, 0, static_cast<std::int16_t>(400 + i % 500), 400);
            free(xcb_get_input_focus_reply(painter, xcb_get_input_focus(painter), nullptr));
        }
        const auto t0 = Clock::now();
        bool ok = false;
        QEventLoop wait;
        capture.capture(request, [&](std::optional<Bytes> jpeg) {
            ok = jpeg.has_value();
            wait.quit();
        });
        wait.exec();
        busy += seconds(Clock::now() - t0);
        if (!ok) throw std::runtime_error("capture failed");
    }
    xcb_disconnect(painter);
    Figure f;
    f.wallMs = busy * 1000 / frames;
    f.cpuMs = (selfCpuSeconds() - cpu0) * 1000 / frames;
    f.serverCpuMs = (cpuSecondsOf(server.serverPid()) - srv0) * 1000 / frames;
    const auto c = capture.counters();
    std::printf("  port: %llu encoded, %llu reused\n", static_cast<unsigned long long>(c.encoded),
                static_cast<unsigned long long>(c.reused));
    return f;
}

void print(const char* name, const Figure& f) {
    std::printf("%-44s %8.2f ms wall %8.2f ms CPU %8.2f ms X server CPU\n", name, f.wallMs, f.cpuMs,
                f.serverCpuMs);
}

}  // namespace
}  // namespace tamborix

int main(int argc, char** argv) {
    using namespace tamborix;
    int frames = 200;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0) frames = std::max(10, std::atoi(argv[i + 1]));
    }
    QCoreApplication app(argc, argv);
    testing::XServer::Options options;
    options.width = 1920;
    options.height = 1080;
    testing::XServer server(options);
    paintDesktop(server.display());

    std::printf("1920 x 1080 display to 1280 x 720 JPEG, %d frames, per frame:\n", frames);
    const Figure ours = ourPipeline(server, frames);
    const Figure theirs = ffmpegPipeline(server, frames);
    const Figure port = throughThePort(server, frames, true);
    const Figure still = throughThePort(server, frames, false);
    print("helper: SHM grab + pointer + box scale + JPEG", ours);
    print("helper: the same through the port (changing)", port);
    print("helper: through the port, unchanged screen", still);
    print("baseline: ffmpeg x11grab + scale + mjpeg", theirs);
    std::printf("ratio wall (helper / ffmpeg)             %8.2f   (target <= 0.40)\n", ours.wallMs / theirs.wallMs);
    std::printf("ratio wall+server CPU (helper / ffmpeg)  %8.2f\n",
                (ours.cpuMs + ours.serverCpuMs) / (theirs.cpuMs + theirs.serverCpuMs));
    return 0;
}
