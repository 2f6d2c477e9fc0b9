#include "private_services.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace tamborix::testing {

namespace fs = std::filesystem;

namespace {

std::string findProgram(const std::string& name) {
    std::vector<std::string> dirs;
    if (const char* path = std::getenv("PATH")) {
        std::stringstream in(path);
        for (std::string d; std::getline(in, d, ':');)
            if (!d.empty()) dirs.push_back(d);
    }
    for (const char* d : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) dirs.emplace_back(d);
    for (const auto& d : dirs) {
        const auto candidate = d + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
}

// Waiting for a daemon to come up: polls with a bound, the way a person would wait.
bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

// ---- TempFolder

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "tamborix-avahi-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

// ---- ChildProcess

bool ChildProcess::start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv, const std::string& logFile) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (const auto& extra : extraEnv) {
        const auto name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.starts_with(name); });
        env.push_back(extra);
    }
    // Should the test die without stopping it, the daemon goes too (setpriv execs the command in
    // place, so the pid stays the daemon's).
    std::vector<std::string> command;
    if (const auto setpriv = findProgram("setpriv"); !setpriv.empty())
        command = {setpriv, "--pdeathsig", "TERM", "--"};
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (const auto& a : command) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid_ = -1;
    return rc == 0;
}

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
    pid_ = -1;
    return false;
}

void ChildProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const bool ended = waitFor(
        [&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, std::chrono::seconds(5));
    if (!ended) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

// ---- PrivateBus

namespace {
std::string& busFolder() {
    static std::string folder;
    return folder;
}
}  // namespace

void useSharedBusFolder(const std::string& folder) {
    busFolder() = folder;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", sharedBusAddress().c_str(), 1);
}

const std::string& sharedBusFolder() { return busFolder(); }

std::string sharedBusAddress() { return "unix:path=" + busFolder() + "/system_bus_socket"; }

PrivateBus::PrivateBus() {
    const auto& folder = sharedBusFolder();
    const auto daemon = findProgram("dbus-daemon");
    if (daemon.empty()) {
        failure_ = "dbus-daemon is not installed";
        return;
    }
    const auto socket = folder + "/system_bus_socket";
    std::error_code ignored;
    fs::remove(socket, ignored);  // left by an earlier daemon of this run
    const auto config = folder + "/system-bus.conf";
    writeFile(config, R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)" + socket + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)");
    if (!process_.start({daemon, "--config-file=" + config, "--nofork", "--nopidfile"}, {},
                        folder + "/dbus.log")) {
        failure_ = "dbus-daemon could not be started";
        return;
    }
    if (!waitFor([&] { return fs::exists(socket) || !process_.running(); },
                 std::chrono::seconds(10)) ||
        !fs::exists(socket)) {
        failure_ = "dbus-daemon did not come up";
        process_.stop();
        return;
    }
    address_ = "unix:path=" + socket;
}

// ---- PrivateAvahi

PrivateAvahi::PrivateAvahi(const std::string& folder, const std::string& busAddress)
    : folder_(folder), busAddress_(busAddress) {
    writeFile(folder_ + "/avahi-daemon.conf", R"([server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000

[wide-area]
enable-wide-area=no

[publish]
publish-hinfo=no
publish-workstation=no

[reflector]
enable-reflector=no

[rlimits]
)");
    fs::create_directories(folder_ + "/run");
    launch();
}

bool PrivateAvahi::launch() {
    failure_.clear();
    const auto unshare = findProgram("unshare");
    const auto ip = findProgram("ip");
    const auto mount = findProgram("mount");
    const auto daemon = findProgram("avahi-daemon");
    // A network namespace of its own (only a private loopback, brought up here) and a mount
    // namespace in which /run is a folder of the test, for the daemon's pid file and socket.
    const auto script = ip + " link set lo up && " + mount + " --bind '" + folder_ +
                        "/run' /run && mkdir -p /run/avahi-daemon && exec " + daemon + " -f '" +
                        folder_ + "/avahi-daemon.conf' --no-drop-root --no-chroot --no-rlimits";
    if (!process_.start({unshare, "--net", "--mount", "/bin/sh", "-c", script},
                        {"DBUS_SYSTEM_BUS_ADDRESS=" + busAddress_}, folder_ + "/avahi.log")) {
        failure_ = "avahi-daemon could not be started";
        return false;
    }
    return true;
}

bool PrivateAvahi::restart() {
    process_.stop();
    return launch();
}

std::string PrivateAvahi::log() const {
    std::ifstream in(folder_ + "/avahi.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::string> avahiSandboxUnavailable() {
    for (const char* program : {"dbus-daemon", "avahi-daemon", "avahi-browse", "unshare", "ip",
                                "mount"})
        if (findProgram(program).empty()) return std::string(program) + " is not installed";
    if (::geteuid() != 0)
        return std::string("a private network namespace for avahi-daemon needs root");
    if (std::system("unshare --net --mount true >/dev/null 2>&1") != 0)
        return std::string("unshare --net --mount is not permitted in this environment");
    return std::nullopt;
}

std::string captureOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (const auto n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

}  // namespace tamborix::testing
