#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/desktop/x11/x11_screen_capture.h"
#include "support/jpeg_decode.h"
#include "capture_support.h"
#include "support/pattern_window.h"
#include "support/x_server.h"

namespace tamborix::x11 {
namespace {

using namespace tamborix::testing;

constexpr Rect rightMonitor{1920, 0, 1920, 1080};

void expectColour(const DecodedJpeg& d, int x, int y, std::uint32_t rgb, int tolerance = 24) {
    const auto c = d.at(x, y);
    EXPECT_NEAR(c.r, static_cast<int>((rgb >> 16) & 0xFF), tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(c.g, static_cast<int>((rgb >> 8) & 0xFF), tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(c.b, static_cast<int>(rgb & 0xFF), tolerance) << "at " << x << "," << y;
}

// One server for the suite: two monitors and the pattern on the right one, from x 2320 to 3120
// and y 200 to 600 (red, green above; blue, white below).
class X11Capture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new XServer();
        server_->splitIntoTwoMonitors();
        pattern_ = new PatternWindow(server_->display(), 2320, 200);
    }
    static void TearDownTestSuite() {
        delete pattern_;
        delete server_;
    }

    QtMainLoop loop;
    static XServer* server_;
    static PatternWindow* pattern_;
};
XServer* X11Capture::server_ = nullptr;
PatternWindow* X11Capture::pattern_ = nullptr;

TEST_F(X11Capture, Capture_FitRegionOfSecondMonitor_ShowsPatternColoursAndPointerInPlace) {
    for (const bool shared : {true, false}) {
        SCOPED_TRACE(shared ? "shared memory" : "GetImage");
        pattern_->warpPointer(2700, 550);  // inside the blue quadrant
        X11ScreenCapture capture(loop, server_->display(), {shared});
        ASSERT_TRUE(capture.available()) << capture.unavailableReason();
        EXPECT_EQ(capture.method(), shared ? "MIT-SHM" : "GetImage");

        const auto answer = captureOnce(capture, requestFor(rightMonitor, rightMonitor, 1280, 720));
        ASSERT_TRUE(answer.jpeg.has_value());
        const auto d = decodeJpeg(*answer.jpeg);
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(d->width, 1280);
        EXPECT_EQ(d->height, 720);
        // Screen (x, y) on the right monitor is picture ((x − 1920) × 2/3, y × 2/3).
        expectColour(*d, 400, 200, PatternWindow::red);     // screen 2520, 300
        expectColour(*d, 667, 200, PatternWindow::green);   // screen 2920, 300
        expectColour(*d, 333, 333, PatternWindow::blue);    // screen 2420, 500
        expectColour(*d, 667, 333, PatternWindow::white);   // screen 2920, 500
        // The magenta cursor, centred on the pointer at screen 2700, 550.
        expectColour(*d, 520, 367, 0xFF00FF, 40);
        // …and only there: the same quadrant a cursor's width away is blue.
        expectColour(*d, 520, 380, PatternWindow::blue);
    }
}

TEST_F(X11Capture, Capture_UnchangedScreen_SameBytesUntilTheScreenOrThePointerChanges) {
    pattern_->warpPointer(2100, 900);  // outside the pattern, on the right monitor
    X11ScreenCapture capture(loop, server_->display());
    const Rect region{2320, 200, 900, 560};
    const auto request = requestFor(rightMonitor, region, 900, 560);

    const auto first = captureOnce(capture, request);
    const auto second = captureOnce(capture, request);
    ASSERT_TRUE(first.jpeg && second.jpeg);
    EXPECT_EQ(*first.jpeg, *second.jpeg);
    EXPECT_EQ(capture.counters().encoded, 1u);
    EXPECT_EQ(capture.counters().reused, 1u);

    pattern_->repaint(1, 0x101010);  // the green quadrant turns near black
    const auto third = captureOnce(capture, request);
    ASSERT_TRUE(third.jpeg.has_value());
    EXPECT_NE(*third.jpeg, *second.jpeg);
    const auto d = decodeJpeg(*third.jpeg);
    ASSERT_TRUE(d.has_value());
    expectColour(*d, 600, 100, 0x101010);  // screen 2920, 300
    expectColour(*d, 200, 100, PatternWindow::red);

    // Damage outside the region leaves it unchanged; a moved pointer does not.
    pattern_->warpPointer(2101, 900);
    const auto fourth = captureOnce(capture, request);
    ASSERT_TRUE(fourth.jpeg.has_value());
    EXPECT_EQ(capture.counters().encoded, 3u);
    pattern_->repaint(1, PatternWindow::green);
}

TEST_F(X11Capture, Capture_EqualRequestWhileOneIsMade_JoinsItAndBothGetThePicture) {
    X11ScreenCapture capture(loop, server_->display());
    const auto request = requestFor(rightMonitor, rightMonitor, 1280, 720);
    int answers = 0;
    std::optional<Bytes> a, b;
    capture.capture(request, [&](std::optional<Bytes> jpeg) { a = std::move(jpeg), ++answers; });
    capture.capture(request, [&](std::optional<Bytes> jpeg) { b = std::move(jpeg), ++answers; });
    ASSERT_TRUE(spinUntil([&] { return answers == 2; }));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a, *b);
    EXPECT_EQ(capture.counters().joined, 1u);
    EXPECT_EQ(capture.counters().encoded, 1u);
}

// Joined requests share the picture, not the finishing: each waiter gets what its own Finish made
// of it, made off the main thread, with the pointer where the cursor image saw it.
TEST_F(X11Capture, CaptureFinished_JoinedWaiters_EachGetsItsOwnFinishMadeOffTheMainThread) {
    X11ScreenCapture capture(loop, server_->display());
    pattern_->warpPointer(2101, 900);
    const auto request = requestFor(rightMonitor, rightMonitor, 1280, 720);
    const auto mainThread = std::this_thread::get_id();
    std::atomic<bool> onMain{false};
    auto finishing = [&](std::string tag) {
        return [&, tag](const Bytes& jpeg) {
            if (std::this_thread::get_id() == mainThread) onMain = true;
            return std::vector<std::string>{tag, std::to_string(jpeg.size())};
        };
    };
    std::optional<FinishedPicture> a, b;
    std::optional<Bytes> plain;
    int answers = 0;
    capture.captureFinished(request, finishing("a"), [&](std::optional<FinishedPicture> p) { a = std::move(p), ++answers; });
    capture.captureFinished(request, finishing("b"), [&](std::optional<FinishedPicture> p) { b = std::move(p), ++answers; });
    capture.capture(request, [&](std::optional<Bytes> jpeg) { plain = std::move(jpeg), ++answers; });
    ASSERT_TRUE(spinUntil([&] { return answers == 3; }));
    ASSERT_TRUE(a && b && plain);
    EXPECT_EQ(a->lines, (std::vector<std::string>{"a", std::to_string(plain->size())}));
    EXPECT_EQ(b->lines, (std::vector<std::string>{"b", std::to_string(plain->size())}));
    EXPECT_EQ(a->jpeg, *plain);
    EXPECT_FALSE(onMain);
    EXPECT_EQ(a->pointer, (Point{2101, 900}));
    EXPECT_EQ(capture.counters().encoded, 1u);
}

// The nice value of this process's thread called `name`, if there is one.
std::optional<int> niceOfThread(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string threadName;
        if (!std::getline(comm, threadName) || threadName != name) continue;
        std::ifstream stat(task.path() / "stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream rest(text.substr(text.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 19 && rest >> field; ++i) {
            if (i == 19) return std::stoi(field);
        }
    }
    return std::nullopt;
}

TEST_F(X11Capture, Capture_WhileEncoding_WorkerYieldsTheCoreToTheMainThread) {
    X11ScreenCapture capture(loop, server_->display());
    ASSERT_TRUE(captureOnce(capture, requestFor(rightMonitor, rightMonitor, 1280, 720)).jpeg.has_value());
    const auto workerNice = niceOfThread("tamborix-grab");
    ASSERT_TRUE(workerNice.has_value());
    EXPECT_GT(*workerNice, ::getpriority(PRIO_PROCESS, 0));
}

TEST_F(X11Capture, Capture_RegionOutsideTheScreen_AnswersNothingAndTheNextStillWorks) {
    X11ScreenCapture capture(loop, server_->display());
    const Rect beyond{3500, 0, 900, 560};  // reaches past the right edge at 3840
    EXPECT_FALSE(captureOnce(capture, requestFor(rightMonitor, beyond, 900, 560)).jpeg.has_value());
    const auto next = captureOnce(capture, requestFor(rightMonitor, rightMonitor, 480, 270, 0.35));
    ASSERT_TRUE(next.jpeg.has_value());
    EXPECT_EQ(decodeJpeg(*next.jpeg)->width, 480);
    EXPECT_EQ(capture.method(), "MIT-SHM");
}

TEST(X11CaptureGone, Capture_DisplayGone_AnswersNothingAndSaysWhy) {
    QtMainLoop loop;
    XServer server;
    X11ScreenCapture capture(loop, server.display());
    const auto request = requestFor({0, 0, 1920, 1080}, {0, 0, 1920, 1080}, 1280, 720);
    ASSERT_TRUE(captureOnce(capture, request).jpeg.has_value());
    server.stop();
    const auto answer = captureOnce(capture, request);
    EXPECT_TRUE(answer.answered);
    EXPECT_FALSE(answer.jpeg.has_value());
    EXPECT_FALSE(capture.available());
    EXPECT_NE(capture.unavailableReason(), "");
}

TEST(X11CaptureGone, Construct_NoServer_UnavailableWithTheReason) {
    QtMainLoop loop;
    X11ScreenCapture capture(loop, ":4093");
    EXPECT_FALSE(capture.available());
    EXPECT_EQ(capture.unavailableReason(), "cannot open display :4093");
    EXPECT_FALSE(captureOnce(capture, requestFor({0, 0, 10, 10}, {0, 0, 10, 10}, 10, 10)).jpeg);
}

}  // namespace
}  // namespace tamborix::x11
