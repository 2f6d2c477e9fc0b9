#pragma once
// The one owner of a file descriptor: closed when dropped, moved never copied.

#include <unistd.h>

#include <utility>

namespace tamborix {

class UniqueFd {
public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    [[nodiscard]] int get() const noexcept { return fd_; }
    [[nodiscard]] bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }

    // Hands the descriptor over; this one owns nothing afterwards.
    [[nodiscard]] int release() noexcept { return std::exchange(fd_, -1); }
    void reset(int fd = -1) noexcept {
        const int old = std::exchange(fd_, fd);
        if (old >= 0) ::close(old);
    }
    // Closes now and says whether close succeeded: on some file systems the last write error
    // shows only here.
    [[nodiscard]] bool close() noexcept {
        const int old = std::exchange(fd_, -1);
        return old < 0 || ::close(old) == 0;
    }

private:
    int fd_ = -1;
};

}  // namespace tamborix
