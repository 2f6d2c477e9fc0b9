#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/linux/factory/backends.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "support/x_server.h"

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
        // Nothing of this machine's own: no monitors for uinput, no device to open.
        request.uinputDevice = "/nonexistent/uinput";
        request.drmRoot = "/nonexistent/drm";
        // The portal is a plugin found beside an installed program; a test program is not installed.
        if (request.pluginFolder.empty()) request.pluginFolder = TAMBORIX_PLUGIN_FOLDER;
        return makePlatformBackends(loop_, request);
    }
    static BackendRequest dryRun() {
        BackendRequest r;
        r.dryRun = true;
        return r;
    }
    static BackendRequest forced(const std::string& name) {
        BackendRequest r;
        r.forced = name;
        r.forcedBy = "--backend";
        return r;
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
    const std::string noUinput = "uinput: no connected monitor in /nonexistent/drm for a uinput pointer";
    EXPECT_EQ(b.backendLine, "Backend: none, no graphical session (DISPLAY is not set); " + noUinput);
    EXPECT_FALSE(b.input->mayPost());
    EXPECT_EQ(b.input->reason(), "no graphical session (DISPLAY is not set); " + noUinput);

    ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    b = make();
    EXPECT_EQ(b.input->reason(), "Wayland session (WAYLAND_DISPLAY=wayland-0): wlroots: no Wayland compositor answers at "
                                 "wayland-0; portal: no session bus; " + noUinput);

    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("DISPLAY", ":4093", 1);
    b = make();
    EXPECT_EQ(b.input->reason(), "cannot open display :4093; " + noUinput);
    EXPECT_TRUE(b.displays->displays().empty());

    // Dry run still gets its virtual display.
    b = make(dryRun());
    EXPECT_EQ(b.displays->displays().size(), 1u);
}

TEST_F(FactoryProbe, Make_Forced_CommandLineBeatsEnvironmentAndUnknownNamesRefused) {
    XServer server;
    server.exportToThisProcess();
    ::setenv("TAMBORIX_BACKEND", "none", 1);
    auto b = make();
    EXPECT_EQ(b.backendLine, "Backend: none, no desktop backend, forced by TAMBORIX_BACKEND");
    EXPECT_EQ(b.session, nullptr);

    b = make(forced("x11"));
    EXPECT_EQ(b.backendLine, "Backend: x11 on display " + server.display() + " (forced by --backend)");

    ::setenv("TAMBORIX_BACKEND", "wayland", 1);
    b = make();
    EXPECT_EQ(b.backendName, "none");
    EXPECT_EQ(b.input->reason(), "TAMBORIX_BACKEND \"wayland\" is not a backend (x11, wlroots, portal, uinput or none)");

    ::unsetenv("DISPLAY");
    b = make(forced("x11"));
    EXPECT_EQ(b.input->reason(), "no X11 display (DISPLAY is not set), forced by --backend");
}

}  // namespace
}  // namespace tamborix
