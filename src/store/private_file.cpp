#include "store/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#include "base/unique_fd.h"

namespace tamborix {
namespace {

bool writeAll(int fd, ByteView data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const auto n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void syncFolder(const std::filesystem::path& folder) {
    UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
}

}  // namespace

bool writePrivate(ByteView data, const std::filesystem::path& path, std::string* error) {
    return writeWithMode(data, path, 0600, error);
}

bool writeWithMode(ByteView data, const std::filesystem::path& path, unsigned mode,
                   std::string* error) {
    auto fail = [&](const char* step) {
        if (error) *error = std::string(step) + ": " + std::strerror(errno);
        return false;
    };
    auto temp = path;
    temp += ".tmp";
    // A leftover temporary file (or a link planted in its place) is never written through.
    ::unlink(temp.c_str());
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.valid()) return fail("cannot create the temporary file");
    // Created owner-only whatever the umask, and opened up (if at all) only now that it is ours.
    bool ok = ::fchmod(fd.get(), static_cast<mode_t>(mode)) == 0 || fail("cannot set its permissions");
    ok = ok && (writeAll(fd.get(), data) || fail("cannot write"));
    ok = ok && (::fsync(fd.get()) == 0 || fail("cannot write"));
    ok = ok && (fd.close() || fail("cannot write"));
    ok = ok && (::rename(temp.c_str(), path.c_str()) == 0 || fail("cannot replace the file"));
    if (!ok) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    syncFolder(path.parent_path());
    return true;
}

FileRead readWholeFile(const std::filesystem::path& path, std::size_t limit) {
    FileRead result;
    // Without O_NONBLOCK a FIFO planted here would hold the caller in open() for ever.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid()) {
        result.status = errno == ENOENT ? FileRead::Status::missing : FileRead::Status::failed;
        result.error = errno == ELOOP ? "a symbolic link, not a file" : std::strerror(errno);
        return result;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        result.error = std::strerror(errno);
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.error = "not a regular file";
        return result;
    }
    char buffer[8192];
    for (;;) {
        const auto n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = std::strerror(errno);
            return result;
        }
        if (n == 0) break;
        if (result.contents.size() + static_cast<std::size_t>(n) > limit) {
            result.contents.clear();
            result.error = "larger than " + std::to_string(limit) + " bytes";
            return result;
        }
        result.contents.append(buffer, static_cast<std::size_t>(n));
    }
    result.status = FileRead::Status::ok;
    return result;
}

bool createPrivateFolder(const std::filesystem::path& folder) {
    if (folder.empty()) return false;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        const auto parent = folder.parent_path();
        if (!parent.empty() && parent != folder && !std::filesystem::is_directory(parent, ec)) {
            if (!createPrivateFolder(parent)) return false;
        }
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    // A folder that exists already (made by an older version, or by hand) may be open to others:
    // it holds secrets, so it is made owner-only whoever created it, as long as it is ours.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return false;
    struct stat st {};
    if (::fstat(dir.get(), &st) != 0) return false;
    if (st.st_uid == ::getuid() && (st.st_mode & 07777) != 0700) ::fchmod(dir.get(), 0700);
    return true;
}

bool createFolder(const std::filesystem::path& folder, unsigned mode) {
    if (folder.empty()) return false;
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) return true;
    const auto parent = folder.parent_path();
    if (!parent.empty() && parent != folder && !createFolder(parent, mode)) return false;
    return ::mkdir(folder.c_str(), static_cast<mode_t>(mode)) == 0 || errno == EEXIST;
}

bool keepAside(const std::filesystem::path& path, const std::filesystem::path& target) {
    // Acting on the descriptor: a link planted in its place is moved, and what it points to is
    // never touched.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd.get(), 0600);
    if (::rename(path.c_str(), target.c_str()) != 0) return false;
    syncFolder(target.parent_path());
    return true;
}

bool touchFile(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600));
    if (fd.valid()) return true;
    return errno == EEXIST;
}

}  // namespace tamborix
