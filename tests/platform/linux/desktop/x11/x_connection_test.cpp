#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstring>
#include <string>

#include "platform/linux/desktop/x11/x_connection.h"
#include "platform/linux/desktop/x11/x_reply.h"
#include "support/x_server.h"
#include "support/qt_spin.h"

namespace tamborix::x11 {
namespace {

using tamborix::testing::XServer;

using tamborix::testing::spinUntil;

void setRootProperty(const XServer& server, const char* name, const std::string& value) {
    xcb_connection_t* other = xcb_connect(server.display().c_str(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    XReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        other, xcb_intern_atom(other, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    xcb_change_property(other, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(value.size()), value.data());
    XReply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
    xcb_disconnect(other);
}

TEST(XConnection, Open_NoServerThere_NamesTheDisplay) {
    std::string error;
    EXPECT_EQ(XConnection::open(":4093", error), nullptr);
    EXPECT_EQ(error, "cannot open display :4093");
}

TEST(XConnection, Subscribe_EventQueuedDuringAReplyWait_StillDeliveredByTheLoop) {
    XServer server;
    std::string error;
    auto conn = XConnection::open(server.display(), error);
    ASSERT_NE(conn, nullptr) << error;
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(conn->get(), conn->root(), XCB_CW_EVENT_MASK, &mask);
    const xcb_atom_t watched = conn->atom("TAMBORIX_TEST");

    int seen = 0;
    auto subscription = conn->subscribe([&](const xcb_generic_event_t& e) {
        if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return;
        if (reinterpret_cast<const xcb_property_notify_event_t&>(e).atom == watched) ++seen;
    });
    setRootProperty(server, "TAMBORIX_TEST", "one");
    // This round trip reads the notify into xcb's queue; the socket then has nothing to wake the loop.
    XReply<xcb_get_input_focus_reply_t>(
        xcb_get_input_focus_reply(conn->get(), xcb_get_input_focus(conn->get()), nullptr));
    EXPECT_TRUE(spinUntil([&] { return seen == 1; }));

    subscription.reset();
    setRootProperty(server, "TAMBORIX_TEST", "two");
    XReply<xcb_get_input_focus_reply_t>(
        xcb_get_input_focus_reply(conn->get(), xcb_get_input_focus(conn->get()), nullptr));
    spinUntil([] { return false; }, 200);
    EXPECT_EQ(seen, 1);
}

TEST(XConnection, OnLost_ServerStops_ReportsOnceAndStopsReading) {
    XServer server;
    std::string error;
    auto conn = XConnection::open(server.display(), error);
    ASSERT_NE(conn, nullptr) << error;
    int lost = 0;
    auto watch = conn->onLost([&] { ++lost; });
    server.stop();
    EXPECT_TRUE(spinUntil([&] { return lost > 0; }));
    spinUntil([] { return false; }, 200);
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(conn->alive());
}

}  // namespace
}  // namespace tamborix::x11

namespace tamborix::testing {
namespace {

TEST(XServer, WindowManagerAndTwoMonitors_AreReadyWhenConstructed) {
    XServer server({.windowManager = true});
    server.splitIntoTwoMonitors();
    std::string monitors;
    ASSERT_EQ(server.run({"xrandr", "--listmonitors"}, &monitors), 0);
    EXPECT_NE(monitors.find("Monitors: 2"), std::string::npos) << monitors;
    EXPECT_NE(monitors.find("*left 1920/508x1080/286+0+0"), std::string::npos) << monitors;
    std::string wm;
    ASSERT_EQ(server.run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, &wm), 0);
    EXPECT_NE(wm.find("window id"), std::string::npos) << wm;
}

}  // namespace
}  // namespace tamborix::testing
