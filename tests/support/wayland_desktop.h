#pragma once
// A real Wayland desktop for tests, started in temporary folders: a compositor with two outputs
// side by side, the desktop portal and its backend on a private session bus, and a recorder
// window on every output that reports what the compositor delivered. Everything started here is
// stopped by stop() or the destructor, also when a test failed halfway.
//
// KDE: kwin_wayland (virtual outputs, 1280x720 twice) with xdg-desktop-portal-kde, which grants
// remote input without a dialog.
// GNOME: headless mutter (virtual monitors 1280x720 and 1024x768 side by side) with
// xdg-desktop-portal-gnome, whose consent dialog a MutterUser (mutter_user.h) answers.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/private_session_bus.h"

namespace tamborix::testing {

// The recorder's report, read line by line (see wayland_input_recorder.cpp for the lines).
class InputRecorder {
public:
    InputRecorder(const std::string& program, const std::vector<std::string>& env);
    // Empty when it reported its outputs, else why not.
    [[nodiscard]] std::string waitReady();
    // The next line after those already taken that starts with `prefix` (the rest of it).
    std::optional<std::string> next(const std::string& prefix, ChildProcess::Ms timeout = ChildProcess::Ms(10000));
    // The keys and buttons the recorder sees held down right now.
    [[nodiscard]] std::optional<int> held();
    [[nodiscard]] std::string transcript() { return process_.transcript(); }
    ChildProcess& process() { return process_; }

private:
    ChildProcess process_;
};

class WaylandDesktop {
public:
    enum class Kind { kde, gnome };
    explicit WaylandDesktop(Kind kind) : kind_(kind) {}
    ~WaylandDesktop() { stop(); }
    WaylandDesktop(const WaylandDesktop&) = delete;
    WaylandDesktop& operator=(const WaylandDesktop&) = delete;

    // Empty when the desktop and its portal are up; else why they could not start (the caller
    // skips). Points this process's DBUS_SESSION_BUS_ADDRESS at the private bus.
    [[nodiscard]] std::string start();
    void stop();

    // Its XDG_CURRENT_DESKTOP.
    [[nodiscard]] std::string currentDesktop() const { return kind_ == Kind::kde ? "KDE" : "GNOME"; }
    [[nodiscard]] const std::string& waylandDisplay() const { return display_; }
    [[nodiscard]] const std::string& busAddress() const { return bus_.address(); }
    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }
    // The environment a client of this desktop runs with.
    [[nodiscard]] std::vector<std::string> clientEnv() const;
    // The last lines each started program printed, for failure messages.
    [[nodiscard]] std::string logs() const;
    // A recorder window on every output, ready.
    [[nodiscard]] std::unique_ptr<InputRecorder> startRecorder(std::string* why);
    // One ordinary recorder window (configure lines with its size and states), ready.
    [[nodiscard]] std::unique_ptr<InputRecorder> startWindowedRecorder(std::string* why);

private:
    [[nodiscard]] std::string startKde();
    [[nodiscard]] std::string startGnome();
    [[nodiscard]] std::string waitForSocket(ServerProcess& compositor, const std::string& what);
    [[nodiscard]] std::string startPipeWire();
    [[nodiscard]] std::string startPortal(const std::string& backend, const std::string& backendName,
                                          const std::vector<std::string>& backendArgs);
    ServerProcess& spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& log);

    Kind kind_;
    std::filesystem::path folder_;
    std::string display_;
    PrivateSessionBus bus_;
    std::vector<std::unique_ptr<ServerProcess>> processes_;  // stopped last-started first
};

}  // namespace tamborix::testing
