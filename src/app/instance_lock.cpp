#include "app/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/user_text.h"
#include "store/private_file.h"

namespace tamborix {
namespace {

// A user may run helpers on several data folders (tests, a second HOME); each has its own socket
// in the one runtime folder, named after the folder.
std::string socketNameFor(const std::filesystem::path& dataFolder) {
    std::error_code ec;
    auto canonical = std::filesystem::weakly_canonical(dataFolder, ec);
    const std::string text = ec ? dataFolder.string() : canonical.string();
    std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a: stable across builds and versions
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "tamborix-helper-%016llx.sock",
                  static_cast<unsigned long long>(hash));
    return name;
}

bool fitsSocketAddress(const std::filesystem::path& path) {
    return !path.empty() && path.native().size() < sizeof(sockaddr_un{}.sun_path);
}

// Where the socket may be, best first; both sides look in the same places.
std::vector<std::filesystem::path> socketCandidates(const std::filesystem::path& dataFolder,
                                                    const std::filesystem::path& runtimeFolder) {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    if (!runtimeFolder.empty() && std::filesystem::is_directory(runtimeFolder, ec)) {
        auto path = runtimeFolder / socketNameFor(dataFolder);
        if (fitsSocketAddress(path)) out.push_back(std::move(path));
    }
    auto fallback = dataFolder / "helper.sock";
    if (fitsSocketAddress(fallback)) out.push_back(std::move(fallback));
    return out;
}

sockaddr_un addressOf(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    return address;
}

UniqueFd listenAt(const std::filesystem::path& path) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) return {};
    // Whatever is left there belongs to an earlier run: the lock says no helper is using it.
    ::unlink(path.c_str());
    const auto address = addressOf(path);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return {};
    ::chmod(path.c_str(), 0600);
    if (::listen(fd.get(), 16) != 0) {
        ::unlink(path.c_str());
        return {};
    }
    return fd;
}

// Connecting is the whole message; the helper does not answer. Never blocks.
bool knock(const std::filesystem::path& path) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) return false;
    const auto address = addressOf(path);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    static constexpr char request[] = "show\n";
    (void)!::send(fd.get(), request, sizeof request - 1, MSG_NOSIGNAL);
    return true;
}

// The lock file as a regular file of our own. Anything else in its place (a link, which would
// lock some other file or none; a FIFO) is only a name in our private folder: it is replaced.
int openLockFile(const std::filesystem::path& path) {
    constexpr int flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd fd(::open(path.c_str(), flags, 0600));
        struct stat st {};
        if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) return fd.release();
        if (fd.get() < 0 && errno != ELOOP && errno != ENXIO) return -1;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
    }
    errno = ELOOP;
    return -1;
}

}  // namespace

std::filesystem::path InstanceLock::runtimeFolderFromEnvironment() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/') return {};
    return runtime;
}

InstanceLock::Claim InstanceLock::claim(const std::filesystem::path& dataFolder,
                                        const std::filesystem::path& runtimeFolder,
                                        std::chrono::milliseconds patience) {
    Claim out;
    auto cannotTell = [&](const std::string& why) {
        // Refusing to start over this would leave the user with no helper at all.
        out.lock.reset(new InstanceLock);
        out.warning = userText("Application", "Could not make sure that only one helper runs (%1)").with({why});
        return std::move(out);
    };
    if (!createPrivateFolder(dataFolder))
        return cannotTell(userText("Application", "cannot create the folder %1").with({dataFolder.string()}));
    const auto lockPath = dataFolder / lockFileName;
    UniqueFd lockFd(openLockFile(lockPath));
    if (lockFd.get() < 0) return cannotTell(lockPath.string() + ": " + std::strerror(errno));
    const auto candidates = socketCandidates(dataFolder, runtimeFolder);

    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (::flock(lockFd.get(), LOCK_EX | LOCK_NB) == 0) {
            out.lock.reset(new InstanceLock);
            out.lock->lockFd_ = std::move(lockFd);
            for (const auto& path : candidates) {
                auto fd = listenAt(path);
                if (!fd) continue;
                out.lock->listenFd_ = std::move(fd);
                out.lock->socketPath_ = path;
                break;
            }
            if (!out.lock->listenFd_)
                out.warning = "A second start of the helper cannot reach this one (no local socket)";
            return out;
        }
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return cannotTell(lockPath.string() + ": " + std::strerror(errno));
        for (const auto& path : candidates) {
            if (knock(path)) {
                out.reached = true;
                return out;
            }
        }
        // The helper holding the lock is still starting (or just quitting): look again shortly.
        if (std::chrono::steady_clock::now() >= deadline) return out;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

InstanceLock::~InstanceLock() {
    if (listenFd_) {
        listenFd_.reset();
        ::unlink(socketPath_.c_str());
    }
    // Closing releases the lock; the file stays, as removing it would race with a new start.
    lockFd_.reset();
}

int InstanceLock::acceptKnocks() {
    if (!listenFd_) return 0;
    int knocks = 0;
    for (;;) {
        UniqueFd fd(::accept4(listenFd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (fd.get() < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return knocks;  // nothing more waits (or the socket failed: nobody can knock then)
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
            peer.uid == ::getuid())
            ++knocks;
    }
}

}  // namespace tamborix
