#pragma once
// The one owner of a memory mapping (a shared buffer, a keymap a compositor hands over):
// unmapped when dropped, moved never copied.

#include <sys/mman.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

namespace tamborix {

class Mapping {
public:
    Mapping() noexcept = default;
    // `size` bytes of `fd` from its start; invalid when mmap refuses (errno says why).
    Mapping(int fd, std::size_t size, int protection, int flags) noexcept
        : data_(size > 0 ? ::mmap(nullptr, size, protection, flags, fd, 0) : MAP_FAILED),
          size_(data_ == MAP_FAILED ? 0 : size) {}
    Mapping(Mapping&& other) noexcept
        : data_(std::exchange(other.data_, MAP_FAILED)), size_(std::exchange(other.size_, 0)) {}
    Mapping& operator=(Mapping&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, MAP_FAILED);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping() { reset(); }

    [[nodiscard]] bool valid() const noexcept { return data_ != MAP_FAILED; }
    [[nodiscard]] void* data() const noexcept { return valid() ? data_ : nullptr; }
    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    void reset() noexcept {
        if (valid()) ::munmap(std::exchange(data_, MAP_FAILED), std::exchange(size_, 0));
    }

private:
    void* data_ = MAP_FAILED;
    std::size_t size_ = 0;
};

// The text in the first `size` bytes of `fd`, up to its first NUL (a keymap as a Wayland
// compositor hands it over); empty when it cannot be mapped.
[[nodiscard]] inline std::string mappedText(int fd, std::size_t size) {
    const Mapping map(fd, size, PROT_READ, MAP_PRIVATE);
    if (!map.valid()) return {};
    const auto* text = static_cast<const char*>(map.data());
    return std::string(text, ::strnlen(text, size));
}

}  // namespace tamborix
