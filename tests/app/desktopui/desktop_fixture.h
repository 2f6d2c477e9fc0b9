#pragma once
// The windowed interface in this process on a private Xvfb with openbox: the real model over
// loopback TCP and the Qt loop, fakes for the desktop ports. What a test sees it checks through
// its own X connection, and it clicks with xdotool like a person would.

#include <xcb/xcb.h>

#include <QPoint>
#include <QRect>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/fake_helper_platform.h"
#include "app/helper_model.h"
#include "app/widgets/desktop_ui.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/support/qt/qt_stream.h"
#include "support/child_process.h"
#include "support/x_server.h"

class QWidget;

namespace tamborix::testing {

// The server every test of the executable shares; main() starts it before the QApplication.
XServer& desktopServer();

// Before the QApplication: HOME and the XDG folders in the server's folder, so that nothing the
// windows write (Qt's runtime folder, settings) reaches the real home, and Qt on xcb without GLib
// or a desktop's own integration.
void isolateDesktopProcess(const XServer& server);

// A private session bus in the server's folder that this process uses from now on.
struct DesktopBus {
    std::unique_ptr<ChildProcess> daemon;
    std::string address;
    std::vector<std::string> environment;  // the server's, on this bus: for programs a test starts
};
// `policy`: the bus's <policy> rules; `services`: the only folder of activatable services, none
// when empty. Nothing, with the reason printed, when the bus does not start.
[[nodiscard]] std::optional<DesktopBus> startDesktopBus(const XServer& server, const std::string& policy,
                                                        const std::filesystem::path& services = {});

// A client of its own on the test's X server, for what the window manager and the server see.
class XProbe {
public:
    XProbe();
    ~XProbe();
    XProbe(const XProbe&) = delete;
    XProbe& operator=(const XProbe&) = delete;

    [[nodiscard]] xcb_connection_t* get() const { return c_; }
    [[nodiscard]] xcb_window_t root() const { return root_; }
    [[nodiscard]] bool viewable(xcb_window_t window) const;
    // The window's rectangle on the root window.
    [[nodiscard]] std::optional<QRect> rootGeometry(xcb_window_t window) const;
    // The owner of a selection such as _NET_SYSTEM_TRAY_S0 (0 when nobody owns it).
    [[nodiscard]] xcb_window_t selectionOwner(const std::string& name) const;
    // The deepest window under a root point, as the server routes a click there.
    [[nodiscard]] xcb_window_t windowAt(QPoint rootPoint) const;

private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
};

class DesktopFixture {
public:
    // `launchedBefore`: the settings say the helper ran already, so only a missing tray opens the
    // status window at start.
    explicit DesktopFixture(bool launchedBefore = false);
    ~DesktopFixture();

    [[nodiscard]] HelperModel& model() { return *model_; }
    [[nodiscard]] FakeHelperPlatform& fakes() { return fakes_; }
    [[nodiscard]] ui::DesktopUi& ui() { return *ui_; }
    [[nodiscard]] const std::filesystem::path& dir() const { return dir_; }
    [[nodiscard]] std::string address() const;

    // Runs the Qt loop until `window` is mapped and drawn.
    [[nodiscard]] bool waitShown(QWidget* window);
    // A PNG of the window as the X server has it (ImageMagick's import), or empty on failure.
    [[nodiscard]] std::filesystem::path screenshot(QWidget* window, const std::string& name);
    // Moves the pointer there and presses the first button, through the X server (xdotool).
    [[nodiscard]] bool click(QPoint global);

private:
    std::filesystem::path dir_;
    QtMainLoop loop_;
    FakeHelperPlatform fakes_{loop_, "Xvfb Desk"};
    QtStreamListenerFactory listeners_;
    std::unique_ptr<HelperModel> model_;
    std::unique_ptr<ui::DesktopUi> ui_;
};

}  // namespace tamborix::testing
