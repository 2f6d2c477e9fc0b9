// Screen capture in a Wayland session, against a real PipeWire daemon started by the test: the
// stand-in portal hands the helper a connection to it and names the test's own producer streams,
// whose frames must come out of the helper's capture as JPEG pictures of the right part of the
// right monitor, in the right colours.

#include <gtest/gtest.h>
#include <spa/param/video/raw.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "platform/linux/factory/backends.h"
#include "platform/linux/desktop/pipewire/pipewire_screen_capture.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "support/jpeg_decode.h"
#include "pipewire_daemon.h"
#include "support/fake_portal.h"
#include "support/private_session_bus.h"
#include "support/qt_spin.h"

namespace tamborix {
namespace {

using testing::TestProducer;
using testing::spinUntil;

struct Answer {
    bool answered = false;
    std::optional<Bytes> jpeg;
};

CaptureRequest requestOf(std::uint32_t display, Rect bounds, Rect region, int width, int height) {
    CaptureRequest r;
    r.display = display;
    r.displayBounds = bounds;
    r.region = region;
    r.width = width;
    r.height = height;
    r.quality = 0.9;
    return r;
}

std::shared_ptr<Answer> ask(ScreenCapture& capture, const CaptureRequest& request) {
    auto answer = std::make_shared<Answer>();
    capture.capture(request, [answer](std::optional<Bytes> jpeg) {
        answer->answered = true;
        answer->jpeg = std::move(jpeg);
    });
    return answer;
}

// The first picture once the stream delivers frames (the link is made asynchronously).
std::optional<testing::DecodedJpeg> firstPicture(ScreenCapture& capture, const CaptureRequest& request) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        auto answer = ask(capture, request);
        if (!spinUntil([&] { return answer->answered; })) return std::nullopt;
        if (answer->jpeg) return testing::decodeJpeg(*answer->jpeg);
        spinUntil([] { return false; }, 5);
    }
    return std::nullopt;
}

void expectColour(const testing::DecodedJpeg& d, int x, int y, std::uint32_t rgb) {
    const auto c = d.at(x, y);
    EXPECT_NEAR(c.r, static_cast<int>((rgb >> 16) & 0xFF), 24) << "at " << x << "," << y;
    EXPECT_NEAR(c.g, static_cast<int>((rgb >> 8) & 0xFF), 24) << "at " << x << "," << y;
    EXPECT_NEAR(c.b, static_cast<int>(rgb & 0xFF), 24) << "at " << x << "," << y;
}

class PipeWireCapture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bus_ = new testing::FakePortalBus("pipewire");
        dir_ = bus_->dir();
        ASSERT_TRUE(bus_->error().empty()) << bus_->error();
    }
    static void TearDownTestSuite() { delete bus_; }

    void SetUp() override {
        ++round_;
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "TAMBORIX_BACKEND"})
            ::unsetenv(v);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
        const auto error = daemon_.start(dir_ / ("pw-" + std::to_string(round_)));
        ASSERT_TRUE(error.empty()) << error;
        linker_ = std::make_unique<testing::StreamLinker>(daemon_.socket());
        fake_ = &bus_->open();
        fake_->pipeWireSocket = daemon_.socket();
        fake_->monitors.clear();
    }
    void TearDown() override {
        backends_ = {};
        producers_.clear();
        linker_.reset();
        daemon_.stop();
        bus_->close();
    }

    // A shared monitor at `bounds` whose stream the test paints.
    std::uint32_t addMonitor(Rect bounds, TestProducer::Options options) {
        auto producer = std::make_unique<TestProducer>(daemon_.socket(), options);
        const std::uint32_t node = producer->waitForNode();
        EXPECT_NE(node, 0u) << producer->error();
        fake_->monitors.push_back({node, int(bounds.x), int(bounds.y), int(bounds.width), int(bounds.height)});
        producers_.push_back(std::move(producer));
        return node;
    }

    // The helper's backends through the portal, once the desktop shared the screen.
    ScreenCapture& startHelper() {
        EXPECT_TRUE(bus_->serve());
        BackendRequest request{false, "portal", "--backend", dir_ / ("settings-" + std::to_string(round_)),
                               dir_ / "no-uinput", dir_ / "no-drm"};
        backends_ = makePlatformBackends(loop_, request);
        EXPECT_TRUE(spinUntil([&] { return backends_.capture->available(); }))
            << backends_.capture->unavailableReason();
        return *backends_.capture;
    }

    static inline std::filesystem::path dir_;
    static inline testing::FakePortalBus* bus_ = nullptr;
    static inline int round_ = 0;
    QtMainLoop loop_;
    testing::PipeWireDaemon daemon_;
    std::unique_ptr<testing::StreamLinker> linker_;
    std::vector<std::unique_ptr<TestProducer>> producers_;
    testing::FakePortal* fake_ = nullptr;
    PlatformBackends backends_;
};

TEST_F(PipeWireCapture, Capture_BgrxAndRgbxWithPaddedRows_RegionInPlaceInItsColours) {
    const Rect left{0, 0, 160, 120};
    const Rect right{160, 0, 160, 120};
    const auto bgrx = addMonitor(left, {SPA_VIDEO_FORMAT_BGRx, 160, 120, 160 * 4 + 64});
    const auto rgbx = addMonitor(right, {SPA_VIDEO_FORMAT_RGBx, 160, 120, 160 * 4 + 32});
    // A monitor scaled by 2: its stream has twice the pixels of its logical size.
    const Rect scaled{320, 0, 160, 120};
    const auto hidpi = addMonitor(scaled, {SPA_VIDEO_FORMAT_BGRx, 320, 240, 320 * 4});
    auto& capture = startHelper();
    EXPECT_NE(std::find(backends_.report.begin(), backends_.report.end(),
                        "Screen capture: PipeWire (portal), JPEG through libyuv and libjpeg-turbo"),
              backends_.report.end());
    EXPECT_EQ(fake_->remotesOpened, 1);

    for (const auto& [node, bounds] : {std::pair{bgrx, left}, std::pair{rgbx, right}, std::pair{hidpi, scaled}}) {
        SCOPED_TRACE(node == bgrx ? "BGRx" : node == rgbx ? "RGBx" : "scaled");
        // The middle of the monitor, 80 × 80 around the quadrants' corner, at half size.
        const Rect region{bounds.x + 40, 20, 80, 80};
        const auto d = firstPicture(capture, requestOf(node, bounds, region, 40, 40));
        ASSERT_TRUE(d.has_value()) << capture.unavailableReason();
        ASSERT_EQ(d->width, 40);
        ASSERT_EQ(d->height, 40);
        expectColour(*d, 8, 8, TestProducer::red);
        expectColour(*d, 31, 8, TestProducer::green);
        expectColour(*d, 8, 31, TestProducer::blue);
        expectColour(*d, 31, 31, TestProducer::white);

        // The whole monitor at its own size: the last column is the picture's, not the padding's.
        const auto whole = firstPicture(capture, requestOf(node, bounds, bounds, 160, 120));
        ASSERT_TRUE(whole.has_value());
        expectColour(*whole, 159, 2, TestProducer::green);
        expectColour(*whole, 159, 117, TestProducer::white);
        expectColour(*whole, 0, 117, TestProducer::blue);
    }
    EXPECT_GE(linker_->linksMade(), 3);

    // Asked again while the first waits (behind a large picture that keeps the worker busy):
    // made once, answered twice.
    auto* pw = dynamic_cast<pipewire::PipeWireScreenCapture*>(&capture);
    ASSERT_NE(pw, nullptr);
    const auto before = pw->counters();
    auto large = ask(capture, requestOf(bgrx, left, left, 4000, 3000));
    const auto request = requestOf(bgrx, left, left, 80, 60);
    auto a = ask(capture, request);
    auto b = ask(capture, request);
    ASSERT_TRUE(spinUntil([&] { return large->answered && a->answered && b->answered; }));
    ASSERT_TRUE(a->jpeg && b->jpeg);
    EXPECT_EQ(*a->jpeg, *b->jpeg);
    const auto after = pw->counters();
    EXPECT_EQ(after.joined - before.joined, 1u);
    EXPECT_EQ(after.encoded + after.reused - before.encoded - before.reused, 2u);

    // A display the desktop did not share is not captured.
    auto other = ask(capture, requestOf(bgrx + rgbx + hidpi + 100, left, left, 80, 60));
    ASSERT_TRUE(spinUntil([&] { return other->answered; }));
    EXPECT_FALSE(other->jpeg.has_value());
}

TEST_F(PipeWireCapture, Capture_ProducerEndsThenSessionCloses_NothingCapturedAndTheReasonSaid) {
    const Rect only{0, 0, 160, 120};
    const auto node = addMonitor(only, {SPA_VIDEO_FORMAT_BGRx, 160, 120, 160 * 4});
    auto& capture = startHelper();
    ASSERT_TRUE(firstPicture(capture, requestOf(node, only, only, 160, 120)).has_value());

    producers_.front()->end();
    const std::string ended = "PipeWire: the screen-cast stream of node " + std::to_string(node) + " ended";
    ASSERT_TRUE(spinUntil([&] { return capture.unavailableReason() == ended; })) << capture.unavailableReason();
    EXPECT_FALSE(capture.available());
    auto answer = ask(capture, requestOf(node, only, only, 160, 120));
    ASSERT_TRUE(spinUntil([&] { return answer->answered; }));
    EXPECT_FALSE(answer->jpeg.has_value()) << "an ended stream's last frame is not the screen";

    fake_->closeSession();
    ASSERT_TRUE(spinUntil([&] { return capture.unavailableReason() == "the desktop ended the remote-control session"; }))
        << capture.unavailableReason();
    EXPECT_FALSE(capture.available());
}

TEST_F(PipeWireCapture, Capture_DmaBufOnlyStream_RefusedWithTheReasonOnceSetUpFails) {
    const Rect only{0, 0, 160, 120};
    TestProducer::Options options{SPA_VIDEO_FORMAT_BGRx, 160, 120, 160 * 4};
    options.dmaBufOnly = true;
    const auto node = addMonitor(only, options);
    // Straight to the capture, with the remote the portal would open and a short set-up limit.
    pipewire::PipeWireScreenCapture capture(loop_, "not yet", std::chrono::milliseconds(1000));
    capture.setStreams(UniqueFd(testing::connectUnix(daemon_.socket())), {{7, node, only}}, {});
    EXPECT_TRUE(capture.available()) << "a stream is given its time to start";
    ASSERT_TRUE(spinUntil([&] { return !capture.available(); }));
    EXPECT_EQ(capture.unavailableReason(),
              "PipeWire: the screen-cast stream of node " + std::to_string(node) +
                  " did not start (no format or memory in common; a screen offered only as DMA-BUF "
                  "(GPU memory) cannot be read by this helper)");
    EXPECT_GE(linker_->linksMade(), 1) << "linked, and refused on the way";
    auto answer = ask(capture, requestOf(7, only, only, 160, 120));
    ASSERT_TRUE(spinUntil([&] { return answer->answered; }));
    EXPECT_FALSE(answer->jpeg.has_value());
}

TEST_F(PipeWireCapture, Capture_DaemonGone_NothingCapturedAndTheReasonSaid) {
    const Rect only{0, 0, 160, 120};
    const auto node = addMonitor(only, {SPA_VIDEO_FORMAT_RGBx, 160, 120, 160 * 4});
    auto& capture = startHelper();
    ASSERT_TRUE(firstPicture(capture, requestOf(node, only, only, 160, 120)).has_value());

    daemon_.stop();
    ASSERT_TRUE(spinUntil([&] { return !capture.available(); }));
    EXPECT_EQ(capture.unavailableReason().rfind("PipeWire: the connection to PipeWire was lost", 0), 0u)
        << capture.unavailableReason();
    auto answer = ask(capture, requestOf(node, only, only, 160, 120));
    ASSERT_TRUE(spinUntil([&] { return answer->answered; }));
    EXPECT_FALSE(answer->jpeg.has_value());
}

}  // namespace
}  // namespace tamborix

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
