// The entry point of tamborix-helper-ui.so: the windowed interface, whose model, core and store
// are the loading program's own (so it has nothing of its own to join to the program).

#include <QApplication>
#include <cstdlib>

#include "app/widgets/desktop_ui.h"
#include "app/windowed_ui.h"

namespace {

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) {
    // Qt would pick Wayland where both exist; the X11 backends need the X11 side.
    ::setenv("QT_QPA_PLATFORM", "xcb", 0);
    auto gui = std::make_unique<QApplication>(argc, argv);
    QGuiApplication::setDesktopFileName("io.tamborix.Helper");
    // Closing the last window leaves the helper running in the tray.
    QApplication::setQuitOnLastWindowClosed(false);
    return gui;
}

std::unique_ptr<tamborix::WindowedUi> makeUi(tamborix::HelperModel& model) {
    return std::make_unique<tamborix::ui::DesktopUi>(model);
}

const tamborix::WindowedUiPlugin table{{TAMBORIX_PLUGIN_BUILD, nullptr}, &makeApplication, &makeUi};

}  // namespace

extern "C" __attribute__((visibility("default"))) const tamborix::plugin::EntryHeader* tamborix_windowed_ui() {
    return &table.header;
}
