#pragma once
// A private D-Bus session bus (no service activation at all) and a private gnome-keyring for the
// Secret Service tests, each in its own temporary folders. The real session and keyring are never
// reached: the process's DBUS_SESSION_BUS_ADDRESS, HOME and XDG folders point at the private ones.

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tamborix::testing {

// A child process started with extra environment; stopped (SIGTERM, then reaped) on destruction.
class ServerProcess {
public:
    ServerProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                 int stdinFd, int stdoutFd, int stderrFd = -1);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    [[nodiscard]] bool started() const { return pid_ > 0; }
    [[nodiscard]] pid_t pid() const { return pid_; }
    // False once the process has ended (it is reaped then).
    [[nodiscard]] bool running();
    void stop();

private:
    pid_t pid_ = -1;
};

bool programAvailable(const std::string& name);

class PrivateSessionBus {
public:
    // Empty on success, else why the bus could not be started.
    std::string start(const std::filesystem::path& folder);
    void stop();
    [[nodiscard]] const std::string& address() const { return address_; }

private:
    std::unique_ptr<ServerProcess> daemon_;
    std::string address_;
};

// Waits (driving a private GLib context, bounded) until `name` is or is not owned on the session
// bus. False when the deadline passed first.
bool waitForBusName(const std::string& name, bool owned, int timeoutMs = 20'000);

class PrivateKeyring {
public:
    // Starts gnome-keyring-daemon with its secrets component and an unlocked login keyring
    // (created with `password`) in `folder`. Empty on success, else the reason.
    std::string start(const std::filesystem::path& folder, const std::string& busAddress,
                      const std::string& password = "test-password");
    void stop();
    ~PrivateKeyring() { stop(); }

private:
    std::unique_ptr<ServerProcess> daemon_;
};

}  // namespace tamborix::testing
