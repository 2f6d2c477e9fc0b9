// The live view end to end: the real helper captures a private X server with a window manager,
// and tamborix-remote turns the view on, answers the approval, acknowledges frames, puts the
// chunks back together and saves a JPEG that shows what is on the chosen monitor.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "e2e/helper_fixture.h"
#include "support/jpeg_decode.h"
#include "support/pattern_window.h"
#include "support/x_server.h"

namespace tamborix::testing {
namespace {

using namespace std::chrono_literals;

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void expectColour(const DecodedJpeg& d, int x, int y, std::uint32_t rgb) {
    const auto c = d.at(x, y);
    EXPECT_NEAR(c.r, static_cast<int>((rgb >> 16) & 0xFF), 24) << "at " << x << "," << y;
    EXPECT_NEAR(c.g, static_cast<int>((rgb >> 8) & 0xFF), 24) << "at " << x << "," << y;
    EXPECT_NEAR(c.b, static_cast<int>(rgb & 0xFF), 24) << "at " << x << "," << y;
}

TEST(HelperX11ScreenE2E, ScreenOnSecondMonitor_AfterApproval_SavedJpegShowsThePattern) {
    XServer server{XServer::Options{.windowManager = true}};
    server.splitIntoTwoMonitors();
    // Monitor 2 starts at x 1920; the pattern sits 400 px into it, the pointer on monitor 1.
    PatternWindow pattern(server.display(), 2320, 200);
    pattern.warpPointer(100, 900);
    HelperRun run(true, false, {"DISPLAY=" + server.display()});
    const auto report = run.helper().transcript();
    EXPECT_NE(report.find("Screen capture: MIT-SHM"), std::string::npos) << report;
    ASSERT_EQ(run.pair().exitCode, 0);

    const auto file = run.dir() / "screen.jpg";
    auto remote = run.startRemote({"screen", run.address(), file.string(), "--display", "2", "--frames", "2"});
    ASSERT_TRUE(run.helper().waitForLine([](const std::string& l) { return l.ends_with("[y/N]"); }, 20000ms))
        << run.helper().transcript() << remote->transcript();
    run.helper().write("y\n");
    ASSERT_EQ(remote->wait(30s), std::optional<int>(0)) << remote->transcript() << run.helper().transcript();

    const auto saved = nlohmann::json::parse(remote->lines().back());
    EXPECT_EQ(saved["t"], "saved");
    EXPECT_EQ(saved["w"], 1280);
    EXPECT_EQ(saved["h"], 720);
    EXPECT_EQ(saved["frames"], 2);
    const auto picture = decodeJpeg(readFile(file));
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->width, 1280);
    EXPECT_EQ(picture->height, 720);
    // 1920 × 1080 shown at 1280 × 720: every coordinate times 2/3. Quadrant centres of the
    // 800 × 400 pattern at (400, 200) of the monitor:
    expectColour(*picture, 400, 200, PatternWindow::red);
    expectColour(*picture, 667, 200, PatternWindow::green);
    expectColour(*picture, 400, 333, PatternWindow::blue);
    expectColour(*picture, 667, 333, PatternWindow::white);
}

}  // namespace
}  // namespace tamborix::testing
