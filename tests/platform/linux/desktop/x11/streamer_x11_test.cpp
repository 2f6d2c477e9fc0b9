// The streamer over the real capture: what the phone reassembles shows the right part of the
// right monitor, and a tap maps back to where it was shown.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>

#include "core/screen/screen_streamer.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/desktop/x11/x11_screen_capture.h"
#include "support/jpeg_decode.h"
#include "capture_support.h"
#include "support/pattern_window.h"
#include "protocol/secure_session.h"
#include "protocol/wire.h"
#include "testing/fake_display_source.h"
#include "support/x_server.h"

namespace tamborix::x11 {
namespace {

using namespace tamborix::testing;

struct Phone {
    HelperConnPtr conn = std::make_shared<HelperConn>();
    std::unique_ptr<SecureSession> session;
    std::vector<nlohmann::json> received;

    Phone() {
        SecureSession::Key toPhone{}, toHelper{};
        toPhone.fill(0x11);
        toHelper.fill(0x22);
        const Bytes sid(8, 0x5A);
        conn->session = std::make_unique<SecureSession>(sid, Bytes(32, 1), toPhone, toHelper);
        session = std::make_unique<SecureSession>(sid, Bytes(32, 1), toHelper, toPhone);
        conn->push = [this](const Bytes& frame) {
            received.push_back(nlohmann::json::parse(toString(session->open(frame))));
        };
    }

    // Frame `id` put together from its chunks, once all have arrived.
    struct Frame {
        int width = 0, height = 0;
        Bytes jpeg;
    };
    [[nodiscard]] std::optional<Frame> frame(std::int64_t id) const {
        std::string text;
        Frame f;
        std::size_t seen = 0, count = 0;
        for (const auto& m : received) {
            if (m.at("id") != id) continue;
            if (m.at("i") != seen) return std::nullopt;
            count = m.at("n");
            if (seen == 0) f.width = m.at("w"), f.height = m.at("h");
            text += m.at("d").get<std::string>();
            ++seen;
        }
        if (seen == 0 || seen != count) return std::nullopt;
        f.jpeg = Wire::b64d(text, 1 << 24);
        return f;
    }
};

void expectColour(const DecodedJpeg& d, int x, int y, std::uint32_t rgb, int tolerance = 24) {
    const auto c = d.at(x, y);
    EXPECT_NEAR(c.r, static_cast<int>((rgb >> 16) & 0xFF), tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(c.g, static_cast<int>((rgb >> 8) & 0xFF), tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(c.b, static_cast<int>(rgb & 0xFF), tolerance) << "at " << x << "," << y;
}

TEST(StreamerOnX11, Start_CursorModeAndBluetoothFit_FramesShowTheRegionsAndTapsMapBack) {
    XServer server;
    server.splitIntoTwoMonitors();
    PatternWindow pattern(server.display(), 2320, 200);
    pattern.warpPointer(2700, 550);
    QtMainLoop loop;
    X11ScreenCapture capture(loop, server.display());
    FakeDisplaySource displays(FakeDisplaySource::withBounds({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}}),
                               Point{2700, 550});

    {
        Phone phone;
        ScreenStreamer streamer(loop, displays, capture, phone.conn);
        streamer.start(ScreenStreamer::Mode::cursor, 2, false);
        ASSERT_TRUE(spinUntil([&] { return phone.frame(1).has_value(); }));
        const auto f = *phone.frame(1);
        EXPECT_EQ(f.width, 900);
        EXPECT_EQ(f.height, 560);
        const auto d = decodeJpeg(f.jpeg);
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(d->width, 900);
        EXPECT_EQ(d->height, 560);
        // The region around the pointer: x 2700 − 450 = 2250, y 550 − 280 = 270.
        expectColour(*d, 2520 - 2250, 300 - 270, PatternWindow::red);
        expectColour(*d, 2920 - 2250, 500 - 270, PatternWindow::white);
        expectColour(*d, 450, 280, 0xFF00FF, 40);  // the pointer, at the middle

        // A tap on the white quadrant of the picture lands on the white quadrant of monitor 2.
        const auto p = streamer.point(1, (2920.0 - 2250) / 900, (500.0 - 270) / 560);
        ASSERT_TRUE(p.has_value());
        EXPECT_NEAR(p->x, 2920, 1);
        EXPECT_NEAR(p->y, 500, 1);
        streamer.stop();
    }
    {
        Phone phone;
        ScreenStreamer streamer(loop, displays, capture, phone.conn);
        streamer.start(ScreenStreamer::Mode::fit, 2, true);
        ASSERT_TRUE(spinUntil([&] { return phone.frame(1).has_value(); }));
        const auto f = *phone.frame(1);
        EXPECT_EQ(f.width, 480);
        EXPECT_EQ(f.height, 270);
        const auto d = decodeJpeg(f.jpeg);
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(d->width, 480);
        expectColour(*d, (2520 - 1920) / 4, 300 / 4, PatternWindow::red, 32);
        const auto p = streamer.point(1, 1.0, 1.0);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(*p, (Point{3840, 1080}));
        streamer.stop();
    }
}

// The display source is asked once; after that each frame follows the pointer the capture saw,
// so a source that has lost track of it (here: never told of the move) is not believed.
TEST(StreamerOnX11, Start_PointerMovedToOtherMonitor_NextFrameFollowsTheCapturedPointer) {
    XServer server;
    server.splitIntoTwoMonitors();
    PatternWindow pattern(server.display(), 2320, 200);
    pattern.warpPointer(2000, 900);
    QtMainLoop loop;
    X11ScreenCapture capture(loop, server.display());
    FakeDisplaySource displays(FakeDisplaySource::withBounds({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}}),
                               Point{100, 100});
    Phone phone;
    ScreenStreamer streamer(loop, displays, capture, phone.conn);
    streamer.start(ScreenStreamer::Mode::cursor, 0, false);
    ASSERT_TRUE(spinUntil([&] { return phone.frame(1).has_value(); }));
    EXPECT_EQ(streamer.rects().at(1), (Rect{0, 0, 900, 560}));
    streamer.ack(1);
    ASSERT_TRUE(spinUntil([&] { return phone.frame(2).has_value(); }));
    // Monitor 2, around (2000, 900) and kept inside it.
    EXPECT_EQ(streamer.rects().at(2), (Rect{1920, 520, 900, 560}));
    streamer.stop();
}

TEST(StreamerOnX11, Start_DisplayGone_NoFrameAndNoIdUsed) {
    XServer server;
    QtMainLoop loop;
    X11ScreenCapture capture(loop, server.display());
    FakeDisplaySource displays(FakeDisplaySource::withBounds({{0, 0, 1920, 1080}}), Point{10, 10});
    server.stop();
    // A new server at the same display number must not be taken for the one that went away.
    std::unique_ptr<XServer> successor;
    try {
        successor = std::make_unique<XServer>(XServer::Options{.display = std::stoi(server.display().substr(1))});
    } catch (const std::runtime_error&) {
        // Another server took the number first, which is the same case.
    }
    Phone phone;
    ScreenStreamer streamer(loop, displays, capture, phone.conn);
    streamer.start(ScreenStreamer::Mode::fit, 0, false);
    // The loop keeps its pace and keeps asking; every answer is nothing.
    ASSERT_TRUE(spinUntil([&] { return capture.counters().failed >= 3; }));
    EXPECT_TRUE(phone.received.empty());
    EXPECT_EQ(streamer.nextID(), 0);
    EXPECT_TRUE(streamer.rects().empty());
}

}  // namespace
}  // namespace tamborix::x11
