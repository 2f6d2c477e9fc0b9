#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstring>
#include <string>

#include "platform/linux/desktop/x11/x11_display_source.h"
#include "platform/linux/desktop/x11/x_reply.h"
#include "support/qt_spin.h"
#include "support/x_server.h"

namespace tamborix::x11 {
namespace {

using tamborix::testing::spinUntil;
using tamborix::testing::XServer;

void setWorkArea(const XServer& server, std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h) {
    xcb_connection_t* c = xcb_connect(server.display().c_str(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const char* name = "_NET_WORKAREA";
    XReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    const std::uint32_t v[4] = {x, y, w, h};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL, 32, 4, v);
    XReply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
}

TEST(X11DisplaySource, Displays_TwoMonitorsAndAWorkArea_PrimaryFirstWithUsableAreas) {
    XServer server;
    server.splitIntoTwoMonitors();
    // A panel of 30 pixels across the top of the whole screen.
    setWorkArea(server, 0, 30, 3840, 1050);
    std::string error;
    auto conn = XConnection::open(server.display(), error);
    ASSERT_NE(conn, nullptr) << error;
    X11DisplaySource source(*conn);
    ASSERT_EQ(source.source(), X11DisplaySource::Source::randrMonitors);

    const auto d = source.displays();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].bounds, (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(d[0].usable, (Rect{0, 30, 1920, 1050}));
    EXPECT_EQ(d[1].bounds, (Rect{1920, 0, 1920, 1080}));
    EXPECT_EQ(d[1].usable, (Rect{1920, 30, 1920, 1050}));
    EXPECT_NE(d[0].id, d[1].id);

    // Xvfb starts with the pointer at the centre of its screen.
    const auto p = source.pointer();
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, (Point{1920, 540}));
}

TEST(X11DisplaySource, Displays_MonitorAddedOrWorkAreaChanged_NoticedWithoutPolling) {
    XServer server;
    std::string error;
    auto conn = XConnection::open(server.display(), error);
    ASSERT_NE(conn, nullptr) << error;
    X11DisplaySource source(*conn);
    ASSERT_EQ(source.displays().size(), 1u);
    const auto firstId = source.displays()[0].id;

    // `--setmonitor` announces itself only with a root ConfigureNotify.
    server.splitIntoTwoMonitors();
    EXPECT_TRUE(spinUntil([&] { return source.displays().size() == 2; }));
    setWorkArea(server, 0, 0, 3840, 1000);
    EXPECT_TRUE(spinUntil([&] { return source.displays()[1].usable == Rect{1920, 0, 1920, 1000}; }));
    EXPECT_NE(source.displays()[0].id, firstId);
}

TEST(X11DisplaySource, Displays_ServerGone_NoDisplaysAndNoPointer) {
    XServer server;
    std::string error;
    auto conn = XConnection::open(server.display(), error);
    ASSERT_NE(conn, nullptr) << error;
    X11DisplaySource source(*conn);
    ASSERT_EQ(source.displays().size(), 1u);
    server.stop();
    EXPECT_TRUE(spinUntil([&] { return !conn->alive(); }));
    EXPECT_TRUE(source.displays().empty());
    EXPECT_FALSE(source.pointer());
}

}  // namespace
}  // namespace tamborix::x11
