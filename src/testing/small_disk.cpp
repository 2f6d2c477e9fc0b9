#include "testing/small_disk.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/unique_fd.h"

namespace tamborix::testing {

namespace {

std::string mountOptions(std::size_t bytes) {
    return "size=" + std::to_string(bytes) + ",mode=0700";
}

}  // namespace

SmallDisk::SmallDisk(std::size_t bytes) : bytes_(bytes) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tamborix-disk-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) {
        why_ = std::string("mkdtemp: ") + std::strerror(errno);
        return;
    }
    path_ = buffer.data();
    const auto options = mountOptions(bytes_);
    if (::mount("tamborix-test", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) !=
        0) {
        why_ = std::string("cannot mount a tmpfs (needs root): ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    if (!path_.empty()) ::rmdir(path_.c_str());
}

bool SmallDisk::fill() {
    const auto filler = path_ / ".filler";
    const UniqueFd fd(::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!fd) return false;
    const std::vector<char> block(4096, 'x');
    bool full = false;
    for (std::size_t written = 0; written <= bytes_ * 2;) {
        const auto n = ::write(fd.get(), block.data(), block.size());
        if (n < 0) {
            full = errno == ENOSPC;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    // The last partial block may still have fit: take single bytes until nothing does.
    while (full && ::write(fd.get(), "x", 1) == 1) {
    }
    return full;
}

void SmallDisk::drain() { ::unlink((path_ / ".filler").c_str()); }

bool SmallDisk::setReadOnly(bool readOnly) {
    const auto options = mountOptions(bytes_);
    const unsigned long flags =
        MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? static_cast<unsigned long>(MS_RDONLY) : 0UL);
    return ::mount("tamborix-test", path_.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

}  // namespace tamborix::testing
