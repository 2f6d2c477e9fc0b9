// The windows as a screen reader meets them: a private session bus, the AT-SPI bus launcher on it
// (which starts the accessibility bus and its registry) and Qt's accessibility switched on, all
// before the QApplication, since Qt connects to the accessibility bus once per process.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "atspi_bus.h"
#include "desktop_fixture.h"
#include "support/child_process.h"

namespace tamborix::testing {
namespace {
XServer* server = nullptr;
std::vector<std::string>* readerEnvironment = nullptr;
}  // namespace
XServer& desktopServer() { return *server; }
const std::vector<std::string>& atspiEnvironment() { return *readerEnvironment; }
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

    // Only the accessibility bus may be activated on this bus: its launcher's service file.
    const auto services = xserver.dir() / "services";
    std::filesystem::create_directories(services);
    std::ofstream(services / "org.a11y.Bus.service")
        << "[D-BUS Service]\nName=org.a11y.Bus\nExec=" << TAMBORIX_ATSPI_LAUNCHER << "\n";
    const auto config = xserver.dir() / "bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:path="
                          << (xserver.dir() / "bus").string() << "</listen><servicedir>" << services.string()
                          << "</servicedir><policy context=\"default\"><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
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
    readerEnvironment = &env;
    ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("QT_NO_GLIB", "1", 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");
    int rc = 0;
    {
        QApplication app(argc, argv);
        QApplication::setApplicationName("tamborix-atspi-test");
        QApplication::setQuitOnLastWindowClosed(false);
        rc = RUN_ALL_TESTS();
    }
    return rc;
}
