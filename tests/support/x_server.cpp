#include "support/x_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tamborix::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tamborix-x.XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Starts `argv` with `env`; standard input from /dev/null, standard output to `outFd` (or the log),
// standard error to `logPath`. `keepFd` survives exec (for -displayfd).
pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, int outFd,
            const std::filesystem::path& logPath, int keepFd = -1) {
    auto args = pointers(argv);
    auto envp = pointers(env);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);  // signals to the test's terminal group do not reach it twice
    // Out of the test's group, a server would outlive a test killed at its time limit.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(in, 0);
    dup2(outFd >= 0 ? outFd : log, 1);
    dup2(log, 2);
    if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

// Waits for `pid` until the deadline; kills it after. Returns the exit status, -1 if killed.
int reap(pid_t pid, Clock::time_point deadline) {
    int status = 0;
    while (true) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0) return -1;
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void terminate(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (reap(pid, Clock::now() + std::chrono::seconds(5)) == -1) kill(pid, SIGKILL);
    pid = -1;
}

}  // namespace

XServer::XServer() : XServer(Options{}) {}

XServer::XServer(const Options& options) : dir_(makeTempDir()) {
    for (const char* sub : {"home", "config", "data", "cache", "runtime"}) {
        std::filesystem::create_directories(dir_ / sub);
    }
    std::filesystem::permissions(dir_ / "runtime", std::filesystem::perms::owner_all);
    try {
        startServer(options);
        if (options.windowManager) startWindowManager();
    } catch (...) {
        terminate(windowManager_);
        terminate(server_);
        std::filesystem::remove_all(dir_);
        throw;
    }
}

XServer::~XServer() {
    terminate(windowManager_);
    terminate(server_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void XServer::stop() {
    terminate(windowManager_);
    terminate(server_);
}

std::vector<std::string> XServer::environment() const {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "DBUS_SESSION_BUS_ADDRESS" ||
            name == "HOME" || name.rfind("XDG_", 0) == 0) {
            continue;
        }
        env.push_back(entry);
    }
    env.push_back("DISPLAY=" + display_);
    env.push_back("DBUS_SESSION_BUS_ADDRESS=disabled:");
    env.push_back("HOME=" + (dir_ / "home").string());
    env.push_back("XDG_CONFIG_HOME=" + (dir_ / "config").string());
    env.push_back("XDG_DATA_HOME=" + (dir_ / "data").string());
    env.push_back("XDG_CACHE_HOME=" + (dir_ / "cache").string());
    env.push_back("XDG_RUNTIME_DIR=" + (dir_ / "runtime").string());
    return env;
}

void XServer::exportToThisProcess() const {
    setenv("DISPLAY", display_.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    unsetenv("WAYLAND_DISPLAY");
}

int XServer::run(const std::vector<std::string>& argv, std::string* output,
                 std::chrono::milliseconds timeout) const {
    int pipeFds[2] = {-1, -1};
    if (output && pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    const pid_t pid = spawn(argv, environment(), output ? pipeFds[1] : -1, dir_ / "tools.log");
    const auto deadline = Clock::now() + timeout;
    if (output) {
        ::close(pipeFds[1]);
        output->clear();
        char buf[4096];
        while (Clock::now() < deadline) {
            pollfd p{pipeFds[0], POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
            if (n <= 0) break;
            output->append(buf, static_cast<std::size_t>(n));
        }
        ::close(pipeFds[0]);
    }
    if (pid < 0) return -1;
    return reap(pid, deadline);
}

void XServer::splitIntoTwoMonitors() const {
    // Xvfb has one output, "screen"; the monitors are virtual, as on a desktop with one wide panel.
    xcb_connection_t* conn = xcb_connect(display_.c_str(), nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn)).data;
    const int w = screen->width_in_pixels / 2;
    const int h = screen->height_in_pixels;
    xcb_disconnect(conn);
    const std::string half = std::to_string(w) + "/508x" + std::to_string(h) + "/286";
    if (run({"xrandr", "--setmonitor", "*left", half + "+0+0", "screen"}) != 0 ||
        run({"xrandr", "--setmonitor", "right", half + "+" + std::to_string(w) + "+0", "none"}) != 0) {
        throw std::runtime_error("xrandr --setmonitor failed");
    }
}

void XServer::startServer(const Options& options) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string screen = std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
    std::vector<std::string> argv{"Xvfb", "-displayfd", std::to_string(fds[1]), "-noreset", "-nolisten", "tcp",
                                  "-screen", "0", screen};
    if (options.display >= 0) argv.insert(argv.begin() + 1, ":" + std::to_string(options.display));
    server_ = spawn(argv, environment(), -1, dir_ / "xvfb.log", fds[1]);
    ::close(fds[1]);
    std::string number;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline && number.find('\n') == std::string::npos) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[32];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) throw std::runtime_error("Xvfb did not start");
    display_ = ":" + number.substr(0, number.find('\n'));
}

void XServer::startWindowManager() {
    windowManager_ = spawn({"openbox", "--sm-disable"}, environment(), -1, dir_ / "openbox.log");
    // Ready once a window manager announces itself on the root window.
    xcb_connection_t* conn = xcb_connect(display_.c_str(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    auto* atomReply = xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, sizeof name - 1, name), nullptr);
    const xcb_atom_t atom = atomReply ? atomReply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(atomReply);
    bool ready = false;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!ready && Clock::now() < deadline) {
        auto* reply = xcb_get_property_reply(
            conn, xcb_get_property(conn, 0, root, atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
        ready = reply && xcb_get_property_value_length(reply) == 4;
        std::free(reply);
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    xcb_disconnect(conn);
    if (!ready) throw std::runtime_error("openbox did not start");
}

}  // namespace tamborix::testing
