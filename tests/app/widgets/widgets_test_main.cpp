#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "support/x_server.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    // Offscreen unless TAMBORIX_TEST_SCREEN ("1366x768") asks for real windows: then a private Xvfb
    // with openbox, so the same views are also checked as a desktop shows and scales them.
    std::unique_ptr<tamborix::testing::XServer> xserver;
    if (const char* screen = std::getenv("TAMBORIX_TEST_SCREEN"); screen && *screen) {
        int width = 0;
        int height = 0;
        if (std::sscanf(screen, "%dx%d", &width, &height) != 2) return 2;
        xserver = std::make_unique<tamborix::testing::XServer>(
            tamborix::testing::XServer::Options{.width = width, .height = height, .windowManager = true});
        xserver->exportToThisProcess();
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    int rc = 0;
    {
        QApplication app(argc, argv);
        if (xserver && QGuiApplication::platformName() != "xcb") {
            std::fprintf(stderr, "asked for real windows, but Qt runs on %s\n",
                         qPrintable(QGuiApplication::platformName()));
            return 2;
        }
        rc = RUN_ALL_TESTS();
    }
    return rc;
}
