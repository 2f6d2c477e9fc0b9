// The windows as a screen reader meets them: a private session bus, the AT-SPI bus launcher on it
// (which starts the accessibility bus and its registry) and Qt's accessibility switched on, all
// before the QApplication, since Qt connects to the accessibility bus once per process.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
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
    isolateDesktopProcess(xserver);

    // Only the accessibility bus may be activated on this bus: its launcher's service file.
    const auto services = xserver.dir() / "services";
    std::filesystem::create_directories(services);
    std::ofstream(services / "org.a11y.Bus.service")
        << "[D-BUS Service]\nName=org.a11y.Bus\nExec=" << TAMBORIX_ATSPI_LAUNCHER << "\n";
    auto bus = startDesktopBus(
        xserver, "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow own=\"*\"/>", services);
    if (!bus) return 1;
    readerEnvironment = &bus->environment;
    ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    int rc = 0;
    {
        QApplication app(argc, argv);
        QApplication::setApplicationName("tamborix-atspi-test");
        QApplication::setQuitOnLastWindowClosed(false);
        rc = RUN_ALL_TESTS();
    }
    return rc;
}
