// The tray on a desktop whose panel speaks StatusNotifierItem over D-Bus: a private session bus
// and a stand-in panel (fake_status_notifier_watcher.py) exist before the QApplication, since Qt
// decides once per process whether its tray icons go over D-Bus.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <memory>

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
    isolateDesktopProcess(xserver);

    // No <servicedir>: nothing is activated, only what the test starts is on the bus.
    const auto bus = startDesktopBus(
        xserver, "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>");
    if (!bus) return 1;
    ChildProcess fake("/usr/bin/python3", {TAMBORIX_SNI_PANEL}, bus->environment, true);
    if (!fake.waitForPrefix("ready", std::chrono::seconds(20))) {
        std::fprintf(stderr, "the stand-in panel did not start: %s\n", fake.transcript().c_str());
        return 1;
    }
    panelProcess = &fake;
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
