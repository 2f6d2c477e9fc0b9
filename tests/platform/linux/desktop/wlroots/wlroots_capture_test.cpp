#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/linux/desktop/wlroots/wlr_screen_capture.h"
#include "platform/linux/desktop/wlroots/wlroots_session.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "probe.h"
#include "support/jpeg_decode.h"
#include "support/qt_spin.h"
#include "support/sway_server.h"

namespace tamborix {
namespace {

using testing::Probe;
using testing::SwayServer;

// A picture of the chosen output: the probe window's blue fills the first output and appears
// nowhere on the second; a region of the first is scaled to the asked size.
TEST(WlrootsCapture, Capture_EachOutput_ShowsWhatIsOnIt) {
    SwayServer sway;
    if (!sway.running()) GTEST_SKIP() << sway.why();
    Probe window(sway, "probe-capture");
    ASSERT_EQ(window.ready(), "ready 1280 720");
    std::string why;
    auto session = wlroots::WlrootsSession::open(sway.display(), why);
    ASSERT_TRUE(session) << why;
    const auto displays = session->outputs().displays();
    ASSERT_EQ(displays.size(), 2u);

    QtMainLoop loop;
    wlroots::WlrScreenCapture capture(loop, sway.display(), session->offers("zwlr_screencopy_manager_v1"));
    ASSERT_TRUE(capture.available()) << capture.unavailableReason();
    auto shoot = [&](const DisplayInfo& d, Rect region, int w, int h) {
        CaptureRequest r;
        r.display = d.id;
        r.displayBounds = d.bounds;
        r.region = region;
        r.width = w;
        r.height = h;
        r.showCursor = false;
        std::optional<std::optional<Bytes>> got;
        capture.capture(r, [&](std::optional<Bytes> jpeg) { got = std::move(jpeg); });
        EXPECT_TRUE(testing::spinUntil([&] { return got.has_value(); }));
        return got && *got ? testing::decodeJpeg(**got) : std::nullopt;
    };
    const auto first = shoot(displays[0], {640, 360, 640, 360}, 320, 180);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width, 320);
    EXPECT_EQ(first->height, 180);
    const auto p = first->at(160, 90);
    EXPECT_NEAR(p.r, 0x20, 12);
    EXPECT_NEAR(p.g, 0x80, 12);
    EXPECT_NEAR(p.b, 0xe0, 12);

    const auto second = shoot(displays[1], displays[1].bounds, 256, 192);
    ASSERT_TRUE(second);
    const auto q = second->at(128, 96);
    EXPECT_FALSE(std::abs(q.b - 0xe0) < 24 && std::abs(q.g - 0x80) < 24) << int(q.r) << "," << int(q.g) << "," << int(q.b);
}

// An output nothing changed on is neither copied nor encoded again; the cursor drawn in anew (sway
// draws it itself: damage) or the pointer moved by the helper brings a new picture.
TEST(WlrootsCapture, Capture_UnchangedOutput_SameBytesUntilTheCompositorDamagesIt) {
    SwayServer sway;
    if (!sway.running()) GTEST_SKIP() << sway.why();
    Probe window(sway, "probe-damage");
    ASSERT_EQ(window.ready(), "ready 1280 720");
    std::string why;
    auto session = wlroots::WlrootsSession::open(sway.display(), why);
    ASSERT_TRUE(session) << why;
    auto sink = session->makeInput();
    ASSERT_TRUE(sink && sink->mayPost());
    const auto displays = session->outputs().displays();
    ASSERT_FALSE(displays.empty());

    QtMainLoop loop;
    std::optional<Point> helperPointer;
    wlroots::WlrScreenCapture capture(loop, sway.display(), true, [&] { return helperPointer; });
    CaptureRequest r;
    r.display = displays[0].id;
    r.displayBounds = displays[0].bounds;
    r.region = {0, 0, 640, 360};
    r.width = 640;
    r.height = 360;
    const auto shoot = [&] {
        std::optional<std::optional<Bytes>> got;
        capture.capture(r, [&](std::optional<Bytes> jpeg) { got = std::move(jpeg); });
        EXPECT_TRUE(testing::spinUntil([&] { return got.has_value(); }));
        return got && *got ? **got : Bytes{};
    };
    // Until a picture stays the same while nothing changes; the compositor may first report the
    // damage it gathered before the first copy.
    const auto steady = [&] {
        const auto reused = capture.counters().reused;
        return testing::spinUntil([&] {
            shoot();
            return capture.counters().reused > reused;
        });
    };
    const Bytes first = shoot();
    ASSERT_FALSE(first.empty());
    ASSERT_TRUE(steady());
    EXPECT_EQ(shoot(), first);
    EXPECT_LE(capture.counters().encoded, 2u);

    // Moved by another program: the compositor's damage tells, from its next frame on.
    sink->mouse({MouseEventType::moved, MouseButton::left, {300, 200}});
    ASSERT_TRUE(window.window().waitForLine([](const std::string& l) { return l.ends_with(" 300 200"); }))
        << window.window().transcript();
    EXPECT_TRUE(testing::spinUntil([&] { return shoot() != first; }));

    // Where the helper says it put the pointer counts even before any damage.
    ASSERT_TRUE(steady());
    const auto encoded = capture.counters().encoded;
    helperPointer = Point{300, 200};
    shoot();
    EXPECT_EQ(capture.counters().encoded, encoded + 1);
}

}  // namespace
}  // namespace tamborix
