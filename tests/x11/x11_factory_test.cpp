#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/linux/factory/backends.h"
#include "platform/linux/qt/qt_main_loop.h"
#include "xserver/x_server.h"

namespace tamborix {
namespace {

using tamborix::testing::XServer;

// The factory reads the session's variables; each case sets its own and leaves none behind.
class FactoryProbe : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "TAMBORIX_BACKEND"}) ::unsetenv(v);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tamborix-test-bus", 1);
    }
    void TearDown() override {
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "TAMBORIX_BACKEND"}) ::unsetenv(v);
    }
    PlatformBackends make(BackendRequest request = {}) {
        applyBackendEnvironment(request);
        return makePlatformBackends(loop_, request);
    }
    QtMainLoop loop_;
};

TEST_F(FactoryProbe, Make_DisplayOpens_X11ForDisplaysAndInput) {
    XServer server;
    server.exportToThisProcess();
    auto b = make();
    EXPECT_EQ(b.backendName, "x11");
    EXPECT_EQ(b.backendLine, "Backend: x11 on display " + server.display());
    EXPECT_NE(b.session, nullptr);
    EXPECT_EQ(b.displays->displays().size(), 1u);
    EXPECT_TRUE(b.displays->pointer());
}

TEST_F(FactoryProbe, Make_NoSessionWaylandOnlyOrBadDisplay_NoneWithTheReason) {
    auto b = make();
    EXPECT_EQ(b.backendName, "none");
    EXPECT_EQ(b.backendLine, "Backend: none, no graphical session (DISPLAY is not set)");
    EXPECT_FALSE(b.input->mayPost());
    EXPECT_EQ(b.input->reason(), "no graphical session (DISPLAY is not set)");

    ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    b = make();
    EXPECT_EQ(b.input->reason(), "Wayland sessions are not supported yet (WAYLAND_DISPLAY=wayland-0, no DISPLAY)");

    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("DISPLAY", ":4093", 1);
    b = make();
    EXPECT_EQ(b.input->reason(), "cannot open display :4093");
    EXPECT_TRUE(b.displays->displays().empty());

    // Dry run still gets its virtual display.
    b = make({.dryRun = true, .forced = {}, .forcedBy = {}});
    EXPECT_EQ(b.displays->displays().size(), 1u);
}

TEST_F(FactoryProbe, Make_Forced_CommandLineBeatsEnvironmentAndUnknownNamesRefused) {
    XServer server;
    server.exportToThisProcess();
    ::setenv("TAMBORIX_BACKEND", "none", 1);
    auto b = make();
    EXPECT_EQ(b.backendLine, "Backend: none, no desktop backend, forced by TAMBORIX_BACKEND");
    EXPECT_EQ(b.session, nullptr);

    b = make({.dryRun = false, .forced = "x11", .forcedBy = "--backend"});
    EXPECT_EQ(b.backendLine, "Backend: x11 on display " + server.display() + " (forced by --backend)");

    ::setenv("TAMBORIX_BACKEND", "wayland", 1);
    b = make();
    EXPECT_EQ(b.backendName, "none");
    EXPECT_EQ(b.input->reason(), "TAMBORIX_BACKEND \"wayland\" is not a backend (x11 or none)");

    ::unsetenv("DISPLAY");
    b = make({.dryRun = false, .forced = "x11", .forcedBy = "--backend"});
    EXPECT_EQ(b.input->reason(), "no X11 display (DISPLAY is not set), forced by --backend");
}

}  // namespace
}  // namespace tamborix
