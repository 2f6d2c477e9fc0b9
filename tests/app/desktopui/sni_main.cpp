// The tray on a desktop whose panel speaks StatusNotifierItem over D-Bus: a private session bus
// and a stand-in panel (fake_status_notifier_watcher.py) exist before the QApplication, since Qt
// decides once per process whether its tray icons go over D-Bus.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <utility>

#include "desktop_fixture.h"
#include "sni_panel.h"

namespace tamborix::testing {
namespace {
XServer* server = nullptr;
ChildProcess* panelProcess = nullptr;
}  // namespace
XServer& desktopServer() { return *server; }
ChildProcess& panel() { return *panelProcess; }
}  // namespace tamborix::testing

int main(int argc, char** argv) {
    using namespace tamborix::testing;
    ::testing::InitGoogleTest(&argc, argv);
    XServer xserver({.width = 1280, .height = 800, .windowManager = true});
    server = &xserver;
    xserver.exportToThisProcess();
    const std::pair<const char*, const char*> folders[] = {
        {"XDG_RUNTIME_DIR", "runtime"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"},
        {"XDG_CACHE_HOME", "cache"}, {"HOME", "home"}};
    for (const auto& [name, sub] : folders) ::setenv(name, (xserver.dir() / sub).c_str(), 1);

    // No <servicedir>: nothing is activated, only what the test starts is on the bus.
    const auto config = xserver.dir() / "bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:path="
                          << (xserver.dir() / "bus").string()
                          << "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/>"
                             "<allow own=\"*\"/></policy></busconfig>\n";
    ChildProcess bus("/usr/bin/dbus-daemon",
                     {"--config-file=" + config.string(), "--nofork", "--nopidfile", "--print-address=1"},
                     xserver.environment(), false);
    const auto address = bus.waitForLine([](const std::string& l) { return !l.empty(); });
    if (!address) {
        std::fprintf(stderr, "dbus-daemon did not start: %s\n", bus.transcript().c_str());
        return 1;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address->c_str(), 1);
    std::vector<std::string> env = xserver.environment();
    for (auto& e : env) {
        if (e.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0) e = "DBUS_SESSION_BUS_ADDRESS=" + *address;
    }
    ChildProcess fake("/usr/bin/python3", {TAMBORIX_SNI_PANEL}, env, true);
    if (!fake.waitForPrefix("ready", std::chrono::seconds(20))) {
        std::fprintf(stderr, "the stand-in panel did not start: %s\n", fake.transcript().c_str());
        return 1;
    }
    panelProcess = &fake;
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("QT_NO_GLIB", "1", 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");
    int rc = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        rc = RUN_ALL_TESTS();
    }
    fake.closeStdin();
    (void)fake.wait(std::chrono::seconds(5));
    return rc;
}
