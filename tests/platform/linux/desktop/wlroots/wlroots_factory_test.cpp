#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/linux/factory/backends.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "support/qt_spin.h"
#include "support/sway_server.h"

namespace tamborix {
namespace {

using testing::SwayServer;

// In a session of a wlroots compositor the helper's own protocols are chosen before the portal
// (which would ask for consent) and uinput, and report where each capability comes from.
TEST(WlrootsFactory, WaylandSessionOfSway_ChoosesWlrootsAndFollowsOutputs) {
    SwayServer sway;
    if (!sway.running()) GTEST_SKIP() << sway.why();
    sway.exportToProcess();
    ::unsetenv("DISPLAY");
    ::unsetenv("TAMBORIX_BACKEND");
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tamborix-test-bus", 1);
    QtMainLoop loop;
    BackendRequest request;
    request.uinputDevice = "/nonexistent/uinput";
    PlatformBackends b = makePlatformBackends(loop, request);
    EXPECT_EQ(b.backendName, "wlroots") << b.backendLine;
    ASSERT_TRUE(b.input->mayPost()) << b.input->reason();
    const auto displays = b.displays->displays();
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0].bounds, (Rect{0, 0, 1280, 720}));
    EXPECT_EQ(displays[1].bounds, (Rect{1280, 0, 1024, 768}));
    bool inputLine = false;
    for (const auto& line : b.report) inputLine = inputLine || line.rfind("Input: a virtual pointer", 0) == 0;
    EXPECT_TRUE(inputLine);
    EXPECT_EQ(b.overlay->unavailableReason(), "");

    // An output plugged in joins the list as the compositor reports it, without a poll.
    ASSERT_TRUE(sway.swaymsg({"create_output"}));
    EXPECT_TRUE(testing::spinUntil([&] { return b.displays->displays().size() == 3; }));
    ::unsetenv("WAYLAND_DISPLAY");
}

}  // namespace
}  // namespace tamborix
