#include "support/wayland_desktop.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

extern char** environ;

namespace tamborix::testing {
namespace {

using namespace std::chrono_literals;

const char* const portalProgram = "/usr/libexec/xdg-desktop-portal";
const char* const gnomePortalProgram = "/usr/libexec/xdg-desktop-portal-gnome";
const char* const kdePortalProgram = "/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde";

std::string tail(const std::filesystem::path& log) {
    std::ifstream in(log);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (all.size() > 1500) all = "..." + all.substr(all.size() - 1500);
    return all;
}

}  // namespace

InputRecorder::InputRecorder(const std::string& program, const std::vector<std::string>& env)
    : process_(program, {}, env) {}

std::string InputRecorder::waitReady() {
    if (process_.waitForLine([](const std::string& l) { return l == "ready"; }, ChildProcess::Ms(20000)))
        return {};
    return "the recorder window did not come up: " + process_.transcript();
}

std::optional<std::string> InputRecorder::next(const std::string& prefix, ChildProcess::Ms timeout) {
    auto line = process_.waitForPrefix(prefix, timeout);
    if (!line) return std::nullopt;
    return line->substr(prefix.size());
}

std::optional<int> InputRecorder::held() {
    process_.write("held\n");
    auto answer = next("held ");
    if (!answer) return std::nullopt;
    return std::stoi(*answer);
}

std::string WaylandDesktop::start() {
    char pattern[] = "/tmp/tamborix-desktop-XXXXXX";
    if (!::mkdtemp(pattern)) return "no temporary folder";
    folder_ = pattern;
    for (const char* sub : {"runtime", "home", "config", "data", "cache"})
        std::filesystem::create_directories(folder_ / sub);
    std::filesystem::permissions(folder_ / "runtime", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    if (auto why = bus_.start(folder_); !why.empty()) return why;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().c_str(), 1);
    switch (kind_) {
        case Kind::kde: return startKde();
        case Kind::gnome: return startGnome();
    }
    return "unknown desktop";
}

void WaylandDesktop::stop() {
    while (!processes_.empty()) {
        processes_.back()->stop();
        processes_.pop_back();
    }
    bus_.stop();
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        folder_.clear();
    }
}

std::vector<std::string> WaylandDesktop::clientEnv() const {
    std::vector<std::string> env{"DBUS_SESSION_BUS_ADDRESS=" + bus_.address(),
                                 "XDG_RUNTIME_DIR=" + (folder_ / "runtime").string(),
                                 "HOME=" + (folder_ / "home").string(),
                                 "XDG_CONFIG_HOME=" + (folder_ / "config").string(),
                                 "XDG_DATA_HOME=" + (folder_ / "data").string(),
                                 "XDG_CACHE_HOME=" + (folder_ / "cache").string(),
                                 "WAYLAND_DISPLAY=" + display_,
                                 "XDG_SESSION_TYPE=wayland",
                                 "PATH=/usr/bin:/bin"};
    env.push_back("XDG_CURRENT_DESKTOP=" + currentDesktop());
    if (kind_ == Kind::kde) env.push_back("QT_QPA_PLATFORM=wayland");
    if (kind_ == Kind::gnome) env.push_back("GDK_BACKEND=wayland");
    return env;
}

std::string WaylandDesktop::logs() const {
    std::string out;
    for (const char* log : {"compositor.log", "pipewire.log", "wireplumber.log", "portal-backend.log",
                            "portal.log"}) {
        if (std::filesystem::exists(folder_ / log))
            out += std::string("--- ") + log + "\n" + tail(folder_ / log) + "\n";
    }
    return out;
}

std::unique_ptr<InputRecorder> WaylandDesktop::startRecorder(std::string* why) {
    auto recorder = std::make_unique<InputRecorder>(TAMBORIX_INPUT_RECORDER, clientEnv());
    *why = recorder->waitReady();
    if (!why->empty()) return nullptr;
    return recorder;
}

std::unique_ptr<InputRecorder> WaylandDesktop::startWindowedRecorder(std::string* why) {
    auto env = clientEnv();
    env.push_back("TAMBORIX_RECORDER_WINDOWED=1");
    auto recorder = std::make_unique<InputRecorder>(TAMBORIX_INPUT_RECORDER, env);
    *why = recorder->waitReady();
    if (!why->empty()) return nullptr;
    return recorder;
}

ServerProcess& WaylandDesktop::spawn(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env, const std::string& log) {
    const int fd = ::open((folder_ / log).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    processes_.push_back(std::make_unique<ServerProcess>(argv, env, -1, fd, fd));
    if (fd >= 0) ::close(fd);
    return *processes_.back();
}

std::string WaylandDesktop::waitForSocket(ServerProcess& compositor, const std::string& what) {
    const auto socket = folder_ / "runtime" / display_;
    for (auto waited = 0ms; waited < 30'000ms; waited += 50ms) {
        if (std::filesystem::exists(socket)) return {};
        if (!compositor.running()) return what + " exited at start: " + tail(folder_ / "compositor.log");
        std::this_thread::sleep_for(50ms);
    }
    return what + " opened no Wayland socket: " + tail(folder_ / "compositor.log");
}

std::string WaylandDesktop::startPipeWire() {
    if (!programAvailable("pipewire") || !programAvailable("wireplumber"))
        return "pipewire or wireplumber is not installed";
    auto& pipewire = spawn({"pipewire"}, clientEnv(), "pipewire.log");
    const auto socket = folder_ / "runtime" / "pipewire-0";
    for (auto waited = 0ms; !std::filesystem::exists(socket); waited += 50ms) {
        if (waited > 20'000ms || !pipewire.running()) return "pipewire did not start: " + tail(folder_ / "pipewire.log");
        std::this_thread::sleep_for(50ms);
    }
    spawn({"wireplumber"}, clientEnv(), "wireplumber.log");
    return {};
}

std::string WaylandDesktop::startPortal(const std::string& backend, const std::string& backendName,
                                        const std::vector<std::string>& backendArgs) {
    if (::access(backend.c_str(), X_OK) != 0) return backend + " is not installed";
    if (::access(portalProgram, X_OK) != 0) return std::string(portalProgram) + " is not installed";
    auto env = clientEnv();
    std::vector<std::string> argv{backend};
    argv.insert(argv.end(), backendArgs.begin(), backendArgs.end());
    auto& impl = spawn(argv, env, "portal-backend.log");
    if (!waitForBusName(backendName, true, 30'000) || !impl.running())
        return backend + " did not start: " + tail(folder_ / "portal-backend.log");
    auto& portal = spawn({portalProgram, "-r"}, env, "portal.log");
    if (!waitForBusName("org.freedesktop.portal.Desktop", true, 30'000) || !portal.running())
        return std::string(portalProgram) + " did not start: " + tail(folder_ / "portal.log");
    return {};
}

std::string WaylandDesktop::startKde() {
    if (!programAvailable("kwin_wayland")) return "kwin_wayland is not installed";
    // The installed binary carries a file capability that a container may refuse to execute; a
    // plain copy under the same name (KWin looks at its own name) runs anywhere.
    const auto bin = folder_ / "bin";
    std::filesystem::create_directories(bin);
    std::error_code error;
    std::filesystem::copy_file("/usr/bin/kwin_wayland", bin / "kwin_wayland", error);
    if (error) return "kwin_wayland could not be copied: " + error.message();
    display_ = "tamborix-kwin";
    auto env = clientEnv();
    env.erase(std::remove_if(env.begin(), env.end(),
                             [](const std::string& e) { return e.starts_with("WAYLAND_DISPLAY="); }),
              env.end());
    env.push_back("WAYLAND_DISPLAY=");
    env.push_back("KWIN_COMPOSE=Q");  // software painting: no GPU here
    auto& kwin = spawn({(bin / "kwin_wayland").string(), "--virtual", "--width", "1280", "--height",
                        "720", "--output-count", "2", "--socket", display_, "--no-lockscreen",
                        "--no-global-shortcuts"},
                       env, "compositor.log");
    if (auto why = waitForSocket(kwin, "kwin_wayland"); !why.empty()) return why;
    // The portal's remote-desktop session brings its screen-cast streams, which need PipeWire.
    if (auto why = startPipeWire(); !why.empty()) return why;
    return startPortal(kdePortalProgram, "org.freedesktop.impl.portal.desktop.kde", {});
}

std::string WaylandDesktop::startGnome() {
    if (!programAvailable("mutter")) return "mutter is not installed";
    display_ = "tamborix-mutter";
    // Mutter's screen casts need PipeWire from the start.
    if (auto why = startPipeWire(); !why.empty()) return why;
    auto& mutter = spawn({"mutter", "--headless", "--wayland", "--no-x11", "--wayland-display=" + display_,
                          "--virtual-monitor", "1280x720", "--virtual-monitor", "1024x768"},
                         clientEnv(), "compositor.log");
    if (auto why = waitForSocket(mutter, "mutter"); !why.empty()) return why;
    if (!waitForBusName("org.gnome.Mutter.RemoteDesktop", true, 30'000))
        return "mutter offers no remote desktop: " + tail(folder_ / "compositor.log");
    return startPortal(gnomePortalProgram, "org.freedesktop.impl.portal.desktop.gnome", {"-r"});
}

}  // namespace tamborix::testing
