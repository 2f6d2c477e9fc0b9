#pragma once
// A private sway for tests: headless with two outputs (1280 x 720 at 0,0 and 1024 x 768 at
// 1280,0), no borders or gaps, no XWayland, run as a throw-away unprivileged user (sway refuses
// root) in a runtime folder of its own. Root clients reach its socket. Stopped by the destructor.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace tamborix::testing {

class SwayServer {
public:
    // `extraConfig`: lines appended to the configuration.
    explicit SwayServer(const std::string& extraConfig = {});
    ~SwayServer();
    SwayServer(const SwayServer&) = delete;
    SwayServer& operator=(const SwayServer&) = delete;

    // False with why() set when sway cannot run here (not root, no sway, did not start).
    [[nodiscard]] bool running() const noexcept { return running_; }
    [[nodiscard]] const std::string& why() const noexcept { return why_; }
    // The socket's absolute path, as WAYLAND_DISPLAY takes it.
    [[nodiscard]] const std::string& display() const noexcept { return display_; }
    [[nodiscard]] const std::string& ipcSocket() const noexcept { return ipc_; }
    // The environment of a client: the display, the runtime folder, PATH, a disabled session bus.
    [[nodiscard]] std::vector<std::string> clientEnv() const;
    // Sets this process's WAYLAND_DISPLAY and XDG_RUNTIME_DIR to the server's.
    void exportToProcess() const;
    // swaymsg's output for `args` (e.g. {"-t", "get_tree"}), nullopt when it failed.
    [[nodiscard]] std::optional<std::string> swaymsg(const std::vector<std::string>& args) const;

private:
    std::string dir_;
    std::string runtime_;
    std::string display_;
    std::string ipc_;
    std::string why_;
    bool running_ = false;
    std::unique_ptr<ChildProcess> sway_;
};

// Runs `program` with `args` in `env` and returns its standard output once it exits (nullopt
// when it failed or ran longer than 10 s). Input, when given, is written to its standard input.
[[nodiscard]] std::optional<std::string> runTool(const std::string& program, const std::vector<std::string>& args,
                                                 const std::vector<std::string>& env,
                                                 const std::optional<std::string>& input = std::nullopt);

}  // namespace tamborix::testing
