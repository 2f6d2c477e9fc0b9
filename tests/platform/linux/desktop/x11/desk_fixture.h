#pragma once
// A private desktop for the X11 desktop backends: Xvfb split into two monitors, openbox, the
// helper's XConnection, and client windows of made-up applications created by the test. The
// desktop entries, icons and handlers these applications use live in the temporary XDG folders
// that desk_main.cpp sets up before anything reads them.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/desktop/x11/x_connection.h"
#include "support/x_server.h"
#include "support/qt_spin.h"

namespace tamborix::testing {

// The temporary tree of desk_main.cpp: XDG folders, the recording handler's output.
[[nodiscard]] const std::filesystem::path& deskRoot();
// Each line a handler recorded ("ARGS|DESKTOP_STARTUP_ID").
[[nodiscard]] std::vector<std::string> recordedLaunches();

// A second X client that owns the test's windows, as another application would.
class Client {
public:
    explicit Client(const std::string& display);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    struct WindowRecipe {
        std::string instance;
        std::string klass;
        std::uint32_t pid = 0;
        int x = 100, y = 100, width = 400, height = 300;
        std::vector<std::uint32_t> icon = {};  // _NET_WM_ICON
        bool dock = false;                // a panel with a bottom strut of `height`
    };
    xcb_window_t create(const WindowRecipe& window);
    void remap(xcb_window_t window);
    void destroy(xcb_window_t window);
    void sendState(xcb_window_t window, std::uint32_t action, const char* state);
    void minimise(xcb_window_t window);
    void activate(xcb_window_t window);
    [[nodiscard]] xcb_atom_t atom(const char* name);
    [[nodiscard]] std::vector<std::uint32_t> rootCardinals(const char* name);
    void setRootCardinals(const char* name, const std::vector<std::uint32_t>& values);
    [[nodiscard]] std::vector<std::uint32_t> cardinalsOf(xcb_window_t window, const char* name);
    struct Size {
        std::uint32_t width = 0, height = 0;
    };
    [[nodiscard]] Size geometryOf(xcb_window_t window);
    [[nodiscard]] bool hasState(xcb_window_t window, const char* state);
    void sync();

private:
    xcb_connection_t* conn_;
    xcb_window_t root_;
};

class Desk : public ::testing::Test {
protected:
    Desk();
    // Until the window manager lists `window` among its clients.
    bool managed(xcb_window_t window);
    bool active(xcb_window_t window);
    void settle();

    XServer server{XServer::Options{.windowManager = true}};
    std::unique_ptr<x11::XConnection> x;
    std::unique_ptr<Client> client;
};

}  // namespace tamborix::testing
