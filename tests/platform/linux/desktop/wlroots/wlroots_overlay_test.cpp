#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/desktop/wlroots/wlr_overlay_surface.h"
#include "platform/linux/desktop/wlroots/wlroots_session.h"
#include "probe.h"
#include "support/qt_spin.h"
#include "support/sway_server.h"

namespace tamborix {
namespace {

using testing::Probe;
using testing::SwayServer;

struct Rgb {
    int r, g, b;
};

// What is on the screen in `box` (global coordinates), as grim sees it: the compositor's own
// picture, not the helper's capture.
struct Screenshot {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    [[nodiscard]] Rgb at(int x, int y) const {
        const auto* p = &rgb[(std::size_t(y) * width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

std::optional<Screenshot> grim(const SwayServer& sway, Rect box) {
    char name[] = "/tmp/tamborix-grim-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) return std::nullopt;
    ::close(fd);
    const std::string geometry = std::to_string(int(box.x)) + "," + std::to_string(int(box.y)) + " " +
                                 std::to_string(int(box.width)) + "x" + std::to_string(int(box.height));
    const bool ok = testing::runTool("/usr/bin/grim", {"-t", "ppm", "-g", geometry, name}, sway.clientEnv()).has_value();
    std::ifstream in(name, std::ios::binary);
    std::string magic;
    Screenshot shot;
    int depth = 0;
    in >> magic >> shot.width >> shot.height >> depth;
    in.get();
    shot.rgb.assign(std::istreambuf_iterator<char>(in), {});
    ::unlink(name);
    if (!ok || magic != "P6" || shot.rgb.size() != std::size_t(shot.width) * shot.height * 3) return std::nullopt;
    return shot;
}

bool isDotRed(Rgb c) { return c.r > 200 && c.g < 90 && c.b < 90; }
bool isProbeBlue(Rgb c) { return std::abs(c.r - 0x20) < 16 && std::abs(c.g - 0x80) < 16 && std::abs(c.b - 0xe0) < 16; }

// The laser dot is drawn above the probe window where the pointer is, yet a click at the dot
// reaches the window; the finder's rings appear around a point and go when hidden.
TEST(WlrootsOverlay, LaserAndFinder_AboveTheWindow_ClicksPassThrough) {
    SwayServer sway;
    if (!sway.running()) GTEST_SKIP() << sway.why();
    Probe window(sway, "probe-overlay");
    ASSERT_EQ(window.ready(), "ready 1280 720");
    std::string why;
    auto session = wlroots::WlrootsSession::open(sway.display(), why);
    ASSERT_TRUE(session) << why;
    session->connection().watchWithQt();
    auto sink = session->makeInput();
    ASSERT_TRUE(sink && sink->mayPost());
    auto overlay = wlroots::WlrOverlaySurface::create(session->connection(), session->outputs(), why);
    ASSERT_TRUE(overlay) << why;

    const Point at{400, 300};
    sink->mouse({MouseEventType::moved, MouseButton::left, at});
    ASSERT_TRUE(window.saw("enter 400 300"));
    overlay->showLaser({at.x - 23, at.y - 23});
    const Rect around{at.x - 40, at.y - 40, 80, 80};
    std::optional<Screenshot> shot;
    // sway draws its own cursor above every layer, down and right of the pointer: the dot is
    // looked for just up and left of it.
    const auto dotAt = [](const std::optional<Screenshot>& s) { return s && isDotRed(s->at(37, 37)); };
    ASSERT_TRUE(testing::spinUntil([&] { return dotAt(shot = grim(sway, around)); }, 5000));
    // Only the dot and its glow: the window shows beyond them.
    EXPECT_TRUE(isProbeBlue(shot->at(2, 2)));
    EXPECT_FALSE(isProbeBlue(shot->at(30, 40)));

    sink->mouse({MouseEventType::leftDown, MouseButton::left, at});
    sink->mouse({MouseEventType::leftUp, MouseButton::left, at});
    EXPECT_TRUE(window.saw("button 272 down")) << window.window().transcript();
    EXPECT_TRUE(window.saw("button 272 up"));

    // Moved onto the second output, the dot leaves the first.
    overlay->moveLaser({1280 + 100 - 23, 100 - 23});
    EXPECT_TRUE(testing::spinUntil([&] {
        const auto right = grim(sway, {1280 + 60, 60, 80, 80});
        const auto left = grim(sway, around);
        return dotAt(right) && left && isProbeBlue(left->at(37, 37));
    }, 5000));
    overlay->hideLaser();

    // Away from the pointer, whose cursor sway draws.
    const Rect finder{800 - 110, 450 - 110, 220, 220};
    overlay->showFinder(finder);
    const auto ringPixels = [&] {
        const auto s = grim(sway, finder);
        int n = 0;
        for (int y = 0; s && y < s->height; y += 2) {
            for (int x = 0; x < s->width; x += 2) n += isProbeBlue(s->at(x, y)) ? 0 : 1;
        }
        return s ? n : -1;
    };
    EXPECT_TRUE(testing::spinUntil([&] { return ringPixels() > 100; }, 1000));
    overlay->hideFinder();
    EXPECT_FALSE(overlay->finderPulsing());
    EXPECT_TRUE(testing::spinUntil([&] { return ringPixels() == 0; }, 5000));
}

}  // namespace
}  // namespace tamborix
