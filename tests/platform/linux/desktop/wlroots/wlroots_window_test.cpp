#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/linux/desktop/wlroots/sway_ipc.h"
#include "probe.h"
#include "support/sway_server.h"

namespace tamborix {
namespace {

using testing::Probe;
using testing::SwayServer;

// The frames the core asks for (a half of the other output, then its whole) are where sway puts
// the tiled window, read back from sway's own tree, and the probe is given that size.
TEST(SwayWindowControl, SetFrame_TiledWindowOnOtherOutput_LandsThere) {
    SwayServer sway;
    if (!sway.running()) GTEST_SKIP() << sway.why();
    Probe window(sway, "probe-window");
    ASSERT_EQ(window.ready(), "ready 1280 720");
    std::string why;
    auto ipc = wlroots::SwayIpc::connect(sway.ipcSocket(), why);
    ASSERT_TRUE(ipc) << why;
    wlroots::SwayWindowControl control(std::move(ipc));
    const auto front = control.frontWindow();
    ASSERT_TRUE(front);
    EXPECT_EQ(control.frame(*front), (Rect{0, 0, 1280, 720}));

    ASSERT_TRUE(control.setFrame(*front, {1280, 0, 512, 768}));
    EXPECT_EQ(control.frame(*front), (Rect{1280, 0, 512, 768}));
    EXPECT_TRUE(window.saw("size 512 768")) << window.window().transcript();
    ASSERT_TRUE(control.setFrame(*front, {1280, 0, 1024, 768}));
    EXPECT_EQ(control.frame(*front), (Rect{1280, 0, 1024, 768}));
    EXPECT_EQ(control.frontWindow(), front);
}

}  // namespace
}  // namespace tamborix
