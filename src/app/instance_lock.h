#pragma once
// One helper per user and data folder. The first start holds an exclusive lock on a file in the
// data folder for as long as it runs and listens on a local socket; a later start finds the lock
// taken, knocks on that socket (which asks the running helper to show itself) and leaves.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "base/unique_fd.h"

namespace tamborix {

class InstanceLock {
public:
    static constexpr const char* lockFileName = "helper.lock";

    struct Claim {
        // Set when this process is the one helper (it then holds the lock until `lock` goes).
        std::unique_ptr<InstanceLock> lock;
        // Another helper holds the lock: whether it was reached.
        bool reached = false;
        // Something did not work as it should, said for the console; the claim still stands.
        std::string warning;
    };

    // Takes the lock in `dataFolder` (created owner-only when missing) before anything else there
    // is touched, or reaches the helper that holds it. The socket goes in `runtimeFolder` (the
    // user's $XDG_RUNTIME_DIR; empty or unusable: the data folder). A helper that holds the lock
    // but does not listen yet (it is starting) is waited for at most `patience`.
    [[nodiscard]] static Claim claim(const std::filesystem::path& dataFolder,
                                     const std::filesystem::path& runtimeFolder,
                                     std::chrono::milliseconds patience = std::chrono::seconds(3));
    // $XDG_RUNTIME_DIR when it is an absolute path, else empty.
    [[nodiscard]] static std::filesystem::path runtimeFolderFromEnvironment();

    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Readable when a later start knocked; -1 when there is no socket.
    [[nodiscard]] int listenFd() const noexcept { return listenFd_.get(); }
    [[nodiscard]] const std::filesystem::path& socketPath() const noexcept { return socketPath_; }
    // Takes every knock that waits, without blocking; returns how many came from this user.
    [[nodiscard]] int acceptKnocks();

private:
    InstanceLock() = default;

    UniqueFd lockFd_;
    UniqueFd listenFd_;
    std::filesystem::path socketPath_;
};

}  // namespace tamborix
