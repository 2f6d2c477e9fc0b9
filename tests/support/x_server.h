#pragma once
// A private X server for one test: Xvfb on a display number it picks itself (-displayfd), no TCP,
// optionally openbox as the window manager, stopped with everything it started. Programs run
// through it (xrandr, setxkbmap, xdotool, xclip…) get its DISPLAY and a disabled session bus, so
// nothing autolaunches a bus that outlives the test.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tamborix::testing {

class XServer {
public:
    struct Options {
        int width = 3840;
        int height = 1080;
        bool windowManager = false;  // openbox --sm-disable, waited for until it manages the screen
        int display = -1;            // this display number rather than the first free one
    };

    XServer();  // default Options
    explicit XServer(const Options& options);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    [[nodiscard]] const std::string& display() const noexcept { return display_; }  // ":N"
    [[nodiscard]] const std::filesystem::path& dir() const noexcept { return dir_; }
    // The Xvfb process, for benchmarks that count the server's CPU time too.
    [[nodiscard]] pid_t serverPid() const noexcept { return server_; }
    // The environment of this process with DISPLAY, DBUS_SESSION_BUS_ADDRESS=disabled:, HOME and
    // the XDG folders pointed at this server and its temporary folder ("NAME=value" entries).
    [[nodiscard]] std::vector<std::string> environment() const;
    // Sets DISPLAY and DBUS_SESSION_BUS_ADDRESS in this process, for code that reads them.
    void exportToThisProcess() const;

    // Runs a program with environment(); returns its exit status (-1 if it could not run or was
    // killed at the deadline). `output` receives its standard output when given.
    int run(const std::vector<std::string>& argv, std::string* output = nullptr,
            std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

    // Splits the screen into two monitors side by side with `xrandr --setmonitor` (left primary).
    void splitIntoTwoMonitors() const;

    // Stops the server now (to test a display that goes away).
    void stop();

private:
    void startServer(const Options& options);
    void startWindowManager();

    std::filesystem::path dir_;
    std::string display_;
    pid_t server_ = -1;
    pid_t windowManager_ = -1;
};

}  // namespace tamborix::testing
