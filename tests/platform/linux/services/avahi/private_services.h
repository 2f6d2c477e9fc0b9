#pragma once
// The servers the DNS-SD tests need, all private to the test: a dbus-daemon acting as the system
// bus on a socket in a temporary folder, and an avahi-daemon on that bus inside its own network
// and mount namespaces, where the only interface is a loopback of its own. Nothing touches the
// host's bus, its interfaces or its /run, and no packet leaves the namespace.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tamborix::testing {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string path_;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs `argv` with the current environment plus `extraEnv` ("NAME=value" entries); output
    // goes to `logFile`. Returns false when it could not be started.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
               const std::string& logFile);
    [[nodiscard]] bool running();
    // SIGTERM, then waits for it (SIGKILL if it lingers).
    void stop();

private:
    pid_t pid_ = -1;
};

// libdbus reads the system bus address once per process, so every test of a program shares one
// address: a socket in this folder, set up by main() before any test runs. Tests start and stop
// the daemon behind it as they need.
void useSharedBusFolder(const std::string& folder);
[[nodiscard]] const std::string& sharedBusFolder();
[[nodiscard]] std::string sharedBusAddress();

// A dbus-daemon with the system bus configuration, listening on the shared address.
class PrivateBus {
public:
    PrivateBus();
    // Empty when it is up; otherwise why not.
    [[nodiscard]] const std::string& failure() const { return failure_; }
    [[nodiscard]] const std::string& address() const { return address_; }

private:
    ChildProcess process_;
    std::string address_;
    std::string failure_;
};

// avahi-daemon on `busAddress`, restricted to the loopback of a private network namespace.
class PrivateAvahi {
public:
    PrivateAvahi(const std::string& folder, const std::string& busAddress);
    [[nodiscard]] const std::string& failure() const { return failure_; }
    void stop() { process_.stop(); }
    bool restart();
    [[nodiscard]] std::string log() const;

private:
    bool launch();

    std::string folder_;
    std::string busAddress_;
    ChildProcess process_;
    std::string failure_;
};

// Why the namespaced daemon cannot run here, or nothing when it can.
std::optional<std::string> avahiSandboxUnavailable();

// Runs a command with the given environment additions and returns what it printed.
std::string captureOutput(const std::string& command);

}  // namespace tamborix::testing
