// Placing the focused window through a real window manager, with a panel taking space.

#include "core/desktop/desktop_control.h"
#include "core/desktop/window_layout.h"
#include "desk_fixture.h"
#include "platform/linux/desktop/x11/ewmh_window_control.h"
#include "platform/linux/desktop/x11/work_areas.h"
#include "testing/fake_display_source.h"
#include "testing/fake_overlay_surface.h"
#include "testing/fake_workspace.h"
#include "testing/manual_loop.h"
#include "testing/recording_input_sink.h"

namespace tamborix::testing {
namespace {

constexpr Rect leftMonitor{0, 0, 1920, 1080};
constexpr Rect rightMonitor{1920, 0, 1920, 1080};

class WindowPlacement : public Desk {
protected:
    // The monitors as the display backend reports them, with the window manager's work areas.
    void readAreas() {
        const std::vector<Rect> monitors{leftMonitor, rightMonitor};
        const auto areas = x11::usableAreas(monitors, x11::readWorkAreaHints(*x));
        displays.setDisplays({DisplayInfo{1, leftMonitor, areas[0]}, DisplayInfo{2, rightMonitor, areas[1]}});
        usable = areas;
    }
    bool placedAt(xcb_window_t w, const Rect& expected) {
        return spinUntil([&] { return control.frame(w) == expected; });
    }

    x11::EwmhWindowControl control{*x};
    ManualLoop loop;
    FakeDisplaySource displays;
    FakeWorkspace workspace;
    RecordingInputSink sink;
    FakeOverlaySurface surface;
    CursorFinder finder{loop, displays, surface};
    DesktopControl desktop{displays, workspace, control, sink, finder};
    std::vector<Rect> usable;
};

TEST_F(WindowPlacement, Window_MaximisedWindowBesidePanel_PlacedInTheUsableAreasAndReadBack) {
    (void)client->create({.instance = "panel", .klass = "Panel", .pid = 0x7ffffff0,
                                       .x = 0, .y = 1040, .width = 1920, .height = 40, .dock = true});
    ASSERT_TRUE(spinUntil([&] {
        readAreas();
        return usable[0].height < leftMonitor.height;
    })) << "the window manager never took the panel out of the work area: "
        << ::testing::PrintToString(client->rootCardinals("_NET_WORKAREA"));
    EXPECT_EQ(usable[0], (Rect{0, 0, 1920, 1040}));

    const auto w = client->create({.instance = "editor", .klass = "TestEditor", .pid = 0x7ffffff1,
                                   .x = 300, .y = 200, .width = 500, .height = 400});
    ASSERT_TRUE(managed(w));
    client->activate(w);
    ASSERT_TRUE(active(w));
    ASSERT_EQ(control.frontWindow(), WindowHandle{w});
    client->sendState(w, 1, "_NET_WM_STATE_MAXIMIZED_VERT");
    client->sendState(w, 1, "_NET_WM_STATE_MAXIMIZED_HORZ");
    ASSERT_TRUE(spinUntil([&] { return client->hasState(w, "_NET_WM_STATE_MAXIMIZED_HORZ"); }));

    ASSERT_TRUE(desktop.window("left"));
    EXPECT_TRUE(placedAt(w, Rect{0, 0, 960, 1040}));
    // The frame is the decorated window: the client inside is smaller by the decorations. The
    // window manager gives back the borders of a maximised window in a step of its own, so the
    // two are read until they agree.
    std::vector<std::uint32_t> extents;
    EXPECT_TRUE(spinUntil([&] {
        extents = client->cardinalsOf(w, "_NET_FRAME_EXTENTS");
        return extents.size() == 4 && client->geometryOf(w).width + extents[0] + extents[1] == 960u;
    })) << ::testing::PrintToString(extents) << " around a client " << client->geometryOf(w).width << " wide";
    ASSERT_EQ(extents.size(), 4u);
    EXPECT_GT(extents[2], 0u);
    EXPECT_TRUE(spinUntil([&] { return !client->hasState(w, "_NET_WM_STATE_MAXIMIZED_HORZ"); }));
    ASSERT_TRUE(desktop.window("right"));
    EXPECT_TRUE(placedAt(w, Rect{960, 0, 960, 1040}));
    ASSERT_TRUE(desktop.window("next"));
    // openbox publishes one work area for the whole screen, so the panel's band is cut from the
    // right monitor too.
    const Rect right = usable[1];
    EXPECT_EQ(right.x, 1920);
    EXPECT_TRUE(placedAt(w, Rect{right.midX(), right.y, right.width / 2, right.height}));
    ASSERT_TRUE(desktop.window("max"));
    EXPECT_TRUE(placedAt(w, right));
    ASSERT_TRUE(desktop.window("next"));
    EXPECT_TRUE(placedAt(w, Rect{0, 0, 1920, 1040}));
}

TEST_F(WindowPlacement, FrontWindow_NoActiveWindow_False) {
    readAreas();
    // openbox leaves nothing active on an empty desktop.
    EXPECT_EQ(control.frontWindow(), std::nullopt);
    EXPECT_FALSE(desktop.window("max"));
}

TEST(WindowPlacementWithoutManager, FrontWindow_NoWindowManager_False) {
    XServer server;
    std::string error;
    auto x = x11::XConnection::open(server.display(), error);
    ASSERT_NE(x, nullptr) << error;
    Client client(server.display());
    client.create({.instance = "editor", .klass = "TestEditor", .pid = 0x7ffffff1});
    x11::EwmhWindowControl control(*x);
    EXPECT_EQ(control.frontWindow(), std::nullopt);
}

}  // namespace
}  // namespace tamborix::testing

namespace tamborix::testing {
namespace {

TEST(WorkAreas, ReadWorkAreaHints_PerMonitorAreasWin_ElseTheWholeScreenAreaCut) {
    XServer server;
    server.splitIntoTwoMonitors();
    std::string error;
    auto x = x11::XConnection::open(server.display(), error);
    ASSERT_NE(x, nullptr) << error;
    Client client(server.display());
    const std::vector<Rect> monitors{leftMonitor, rightMonitor};
    // Nothing published: the monitors themselves.
    EXPECT_EQ(x11::usableAreas(monitors, x11::readWorkAreaHints(*x)), monitors);

    // Desktop 1 is current; its whole-screen area leaves out a bar along the top of both.
    client.setRootCardinals("_NET_CURRENT_DESKTOP", {1});
    client.setRootCardinals("_NET_WORKAREA", {0, 0, 3840, 1080, 0, 30, 3840, 1050});
    EXPECT_EQ(x11::usableAreas(monitors, x11::readWorkAreaHints(*x)),
              (std::vector<Rect>{{0, 30, 1920, 1050}, {1920, 30, 1920, 1050}}));

    // Per-monitor areas (in any order) are preferred: the bar is only on the right monitor.
    client.setRootCardinals("_GTK_WORKAREAS_D1", {1920, 30, 1920, 1050, 0, 0, 1920, 1080});
    client.setRootCardinals("_GTK_WORKAREAS_D0", {0, 0, 100, 100});
    EXPECT_EQ(x11::usableAreas(monitors, x11::readWorkAreaHints(*x)),
              (std::vector<Rect>{{0, 0, 1920, 1080}, {1920, 30, 1920, 1050}}));
}

}  // namespace
}  // namespace tamborix::testing
