#include "support/sway_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace tamborix::testing {

namespace {

namespace fs = std::filesystem;

// A user id no account holds, the same for the whole run of a test program.
unsigned throwAwayUid() { return 61000 + static_cast<unsigned>(::getpid() % 4000); }

}  // namespace

SwayServer::SwayServer(const std::string& extraConfig) {
    if (::geteuid() != 0) {
        why_ = "sway refuses root and the fixture needs root to run it as another user";
        return;
    }
    if (!fs::exists("/usr/bin/sway") || !fs::exists("/usr/bin/setpriv")) {
        why_ = "sway or setpriv is not installed";
        return;
    }
    char tmpl[] = "/tmp/tamborix-sway-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        why_ = "no temporary folder";
        return;
    }
    dir_ = tmpl;
    ::chmod(dir_.c_str(), 0755);
    runtime_ = dir_ + "/run";
    const unsigned uid = throwAwayUid();
    ::mkdir(runtime_.c_str(), 0700);
    if (::chown(runtime_.c_str(), uid, uid) != 0) {
        why_ = "cannot hand the runtime folder to the sway user";
        return;
    }
    const std::string config = dir_ + "/config";
    {
        std::ofstream out(config);
        out << "output HEADLESS-1 resolution 1280x720 position 0 0\n"
               "output HEADLESS-2 resolution 1024x768 position 1280 0\n"
               "default_border none\n"
               "default_floating_border none\n"
               "gaps inner 0\n"
               "focus_follows_mouse no\n"
               "xwayland disable\n"
            << extraConfig << "\n";
    }
    ::chmod(config.c_str(), 0644);
    const std::string id = std::to_string(uid);
    sway_ = std::make_unique<ChildProcess>(
        "/usr/bin/setpriv",
        std::vector<std::string>{"--reuid=" + id, "--regid=" + id, "--clear-groups", "/usr/bin/sway", "-c", config},
        std::vector<std::string>{"PATH=/usr/bin:/bin", "HOME=" + dir_, "XDG_RUNTIME_DIR=" + runtime_,
                                 "WLR_BACKENDS=headless", "WLR_HEADLESS_OUTPUTS=2", "WLR_LIBINPUT_NO_DEVICES=1",
                                 "WLR_RENDERER=pixman", "DBUS_SESSION_BUS_ADDRESS=disabled:"},
        false);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(runtime_, ec)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos) display_ = e.path().string();
            if (name.rfind("sway-ipc.", 0) == 0) ipc_ = e.path().string();
        }
        if (!display_.empty() && !ipc_.empty()) break;
        if (sway_->wait(std::chrono::milliseconds(50))) break;
    }
    if (display_.empty() || ipc_.empty()) {
        why_ = "sway did not start: " + sway_->errText();
        return;
    }
    // Both outputs are laid out once the IPC reports them.
    for (int i = 0; i < 100; ++i) {
        const auto outputs = swaymsg({"-t", "get_outputs"});
        if (outputs && outputs->find("HEADLESS-2") != std::string::npos) {
            running_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why_ = "sway did not report its two outputs";
}

SwayServer::~SwayServer() {
    sway_.reset();
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

std::vector<std::string> SwayServer::clientEnv() const {
    return {"PATH=/usr/bin:/bin", "WAYLAND_DISPLAY=" + display_, "XDG_RUNTIME_DIR=" + runtime_,
            "SWAYSOCK=" + ipc_, "DBUS_SESSION_BUS_ADDRESS=disabled:", "HOME=" + dir_};
}

void SwayServer::exportToProcess() const {
    ::setenv("WAYLAND_DISPLAY", display_.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

std::optional<std::string> SwayServer::swaymsg(const std::vector<std::string>& args) const {
    std::vector<std::string> all{"-s", ipc_, "-r"};
    all.insert(all.end(), args.begin(), args.end());
    return runTool("/usr/bin/swaymsg", all, clientEnv());
}

std::optional<std::string> runTool(const std::string& program, const std::vector<std::string>& args,
                                   const std::vector<std::string>& env, const std::optional<std::string>& input) {
    ChildProcess tool(program, args, env, input.has_value());
    if (input) {
        tool.write(*input);
        tool.closeStdin();
    }
    const auto status = tool.wait(std::chrono::milliseconds(10000));
    if (!status || *status != 0) return std::nullopt;
    std::string out;
    for (const auto& line : tool.lines()) out += line + "\n";
    return out;
}

}  // namespace tamborix::testing
