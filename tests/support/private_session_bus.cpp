#include "support/private_session_bus.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

extern char** environ;

namespace tamborix::testing {
namespace {

std::string readLine(int fd) {
    std::string line;
    char ch = 0;
    for (;;) {
        const auto n = ::read(fd, &ch, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || ch == '\n') break;
        line += ch;
    }
    return line;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnv, int stdinFd, int stdoutFd,
                             int stderrFd) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& entry : extraEnv) {
        const auto eq = entry.find('=');
        env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& s : args) argp.push_back(s.data());
    argp.push_back(nullptr);

    const pid_t parent = ::getpid();
    // Everything the child needs is prepared above: between fork and exec only async-signal-safe
    // calls are allowed (the GDBus worker thread may hold locks).
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A crashed test program must not leave its daemons behind.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        if (stdinFd >= 0) ::dup2(stdinFd, STDIN_FILENO);
        if (stdoutFd >= 0) ::dup2(stdoutFd, STDOUT_FILENO);
        if (stderrFd >= 0) ::dup2(stderrFd, STDERR_FILENO);
        ::execvpe(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    if (pid > 0) pid_ = pid;
}

ServerProcess::~ServerProcess() { stop(); }

bool ServerProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    pid_ = -1;
    return false;
}

void ServerProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

bool programAvailable(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const auto end = dirs.find(':', start);
        const auto dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

std::string PrivateSessionBus::start(const std::filesystem::path& folder) {
    if (!programAvailable("dbus-daemon")) return "dbus-daemon is not installed";
    const auto socket = folder / "bus";
    const auto config = folder / "bus.conf";
    // No <servicedir>: nothing is ever activated, so an absent service stays absent.
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:path=" << socket.string()
                          << "</listen><policy context=\"default\"><allow send_destination=\"*\""
                             " eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                             "</policy></busconfig>\n";
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
    daemon_ = std::make_unique<ServerProcess>(
        std::vector<std::string>{"dbus-daemon", "--config-file=" + config.string(), "--nofork",
                                 "--nopidfile", "--print-address=1"},
        std::vector<std::string>{}, -1, fds[1]);
    ::close(fds[1]);
    if (!daemon_->started()) {
        ::close(fds[0]);
        return "dbus-daemon could not be started";
    }
    address_ = readLine(fds[0]);  // printed once the bus listens
    ::close(fds[0]);
    if (address_.empty()) return "dbus-daemon printed no address";
    return {};
}

void PrivateSessionBus::stop() {
    if (daemon_) daemon_->stop();
    daemon_.reset();
}

bool waitForBusName(const std::string& name, bool owned, int timeoutMs) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    struct State {
        bool owned;
        bool wanted;
        bool timedOut = false;
    } state{false, owned};
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    bool result = false;
    if (bus) {
        const guint watch = g_bus_watch_name_on_connection(
            bus, name.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, gpointer data) {
                static_cast<State*>(data)->owned = true;
            },
            [](GDBusConnection*, const gchar*, gpointer data) {
                static_cast<State*>(data)->owned = false;
            },
            &state, nullptr);
        GSource* timer = g_timeout_source_new(static_cast<guint>(timeoutMs));
        g_source_set_callback(
            timer,
            [](gpointer data) -> gboolean {
                static_cast<State*>(data)->timedOut = true;
                return G_SOURCE_REMOVE;
            },
            &state, nullptr);
        g_source_attach(timer, context);
        // The watcher reports the initial state first, then every change.
        g_main_context_iteration(context, TRUE);
        while (state.owned != state.wanted && !state.timedOut) g_main_context_iteration(context, TRUE);
        result = state.owned == state.wanted;
        g_source_destroy(timer);
        g_source_unref(timer);
        g_bus_unwatch_name(watch);
        while (g_main_context_pending(context)) g_main_context_iteration(context, FALSE);
        g_object_unref(bus);
    } else {
        g_error_free(error);
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return result;
}

std::string PrivateKeyring::start(const std::filesystem::path& folder,
                                  const std::string& busAddress, const std::string& password) {
    if (!programAvailable("gnome-keyring-daemon")) return "gnome-keyring-daemon is not installed";
    for (const char* sub : {"home", "data", "config", "cache", "runtime"})
        std::filesystem::create_directories(folder / sub);
    std::filesystem::permissions(folder / "runtime", std::filesystem::perms::owner_all);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    daemon_ = std::make_unique<ServerProcess>(
        std::vector<std::string>{"gnome-keyring-daemon", "--foreground", "--unlock",
                                 "--components=secrets"},
        std::vector<std::string>{
            "DBUS_SESSION_BUS_ADDRESS=" + busAddress, "HOME=" + (folder / "home").string(),
            "XDG_DATA_HOME=" + (folder / "data").string(),
            "XDG_CONFIG_HOME=" + (folder / "config").string(),
            "XDG_CACHE_HOME=" + (folder / "cache").string(),
            "XDG_RUNTIME_DIR=" + (folder / "runtime").string(), "DISPLAY=", "WAYLAND_DISPLAY="},
        fds[0], devNull);
    ::close(fds[0]);
    if (devNull >= 0) ::close(devNull);
    // The password unlocks (and on first use creates) the login keyring; EOF ends it.
    const auto written = ::write(fds[1], password.data(), password.size());
    ::close(fds[1]);
    if (!daemon_->started()) return "gnome-keyring-daemon could not be started";
    if (written != static_cast<ssize_t>(password.size())) return "could not pass the password";
    if (!waitForBusName("org.freedesktop.secrets", true))
        return "gnome-keyring-daemon did not take the name org.freedesktop.secrets";
    return {};
}

void PrivateKeyring::stop() {
    if (!daemon_) return;
    daemon_->stop();
    daemon_.reset();
    waitForBusName("org.freedesktop.secrets", false);
}

}  // namespace tamborix::testing
