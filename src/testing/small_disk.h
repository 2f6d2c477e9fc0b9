#pragma once
// A tmpfs of a few KiB mounted on a temporary folder, which a test can fill up or make read-only
// to see what the helper does when the disk refuses a write. Mounting needs root (or
// CAP_SYS_ADMIN); where that is missing, mounted() is false and why() says so.

#include <cstddef>
#include <filesystem>
#include <string>

namespace tamborix::testing {

class SmallDisk {
public:
    explicit SmallDisk(std::size_t bytes = 64 * 1024);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    [[nodiscard]] bool mounted() const noexcept { return mounted_; }
    [[nodiscard]] const std::string& why() const noexcept { return why_; }
    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }

    // Takes every free byte with a file of its own; false when the disk still takes writes.
    [[nodiscard]] bool fill();
    // Gives the space back.
    void drain();
    // Remounts the disk read-only or writable again.
    [[nodiscard]] bool setReadOnly(bool readOnly);

private:
    std::filesystem::path path_;
    std::size_t bytes_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace tamborix::testing
