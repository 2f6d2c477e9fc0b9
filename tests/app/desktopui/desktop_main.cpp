#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <utility>

#include "app/widgets/translations.h"
#include "desktop_fixture.h"

namespace tamborix::testing {
namespace {
XServer* server = nullptr;
}
XServer& desktopServer() { return *server; }
}  // namespace tamborix::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // A window manager decides stacking and focus as on a desktop; the screen is 1280 × 800 unless
    // TAMBORIX_TEST_SCREEN says otherwise ("1366x768"), as for the runs at other scales.
    int width = 1280;
    int height = 800;
    if (const char* screen = std::getenv("TAMBORIX_TEST_SCREEN"); screen && *screen) {
        if (std::sscanf(screen, "%dx%d", &width, &height) != 2) return 2;
    }
    tamborix::testing::XServer xserver({.width = width, .height = height, .windowManager = true});
    tamborix::testing::server = &xserver;
    xserver.exportToThisProcess();
    // A desktop's font resolution (TAMBORIX_TEST_XFT_DPI=192: a high-resolution screen), which Qt
    // reads from the server's resources at its start and turns into its scale.
    if (const char* dpi = std::getenv("TAMBORIX_TEST_XFT_DPI"); dpi && *dpi) {
        const auto resources = xserver.dir() / "Xresources";
        std::ofstream(resources) << "Xft.dpi: " << dpi << "\n";
        if (xserver.run({"xrdb", "-merge", resources.string()}) != 0) return 2;
    }
    tamborix::testing::isolateDesktopProcess(xserver);
    int rc = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        // As the helper starts: the language of LANG (the German run sets de_DE.UTF-8).
        (void)tamborix::ui::installTranslations();
        rc = RUN_ALL_TESTS();
    }
    return rc;
}
