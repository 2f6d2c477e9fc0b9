#pragma once
// One virtual input device made through uinput. The file-descriptor layer is injectable so that
// tests can hand over one end of a socketpair and record the set-up ioctls as data.

#include <linux/uinput.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/unique_fd.h"

namespace tamborix::uinput {

struct FdLayer {
    // Returns a file descriptor, or -errno.
    std::function<int()> open;
    // `arg` is the integer argument, or the address of the structure for UI_DEV_SETUP and
    // UI_ABS_SETUP. Returns 0, or -errno.
    std::function<int(int fd, unsigned long request, std::uintptr_t arg)> ioctl;
    // What open() opens, for the user's messages.
    std::string path = "/dev/uinput";
};

// The kernel's uinput device (or another path for tests) and the real ioctl.
[[nodiscard]] FdLayer kernelFdLayer(const std::string& path = "/dev/uinput");

struct DeviceCapabilities {
    std::string name;
    std::vector<int> keys;  // EV_KEY codes (keys and buttons)
    std::vector<int> rels;  // EV_REL codes
    struct Axis {
        int code = 0;
        int maximum = 0;
    };
    std::vector<Axis> axes;  // EV_ABS codes, 0…maximum
    std::vector<int> properties;
};

class Device {
public:
    // Null with `error` set ("/dev/uinput not writable (Permission denied)") when the device cannot
    // be made; nothing is left open then.
    [[nodiscard]] static std::unique_ptr<Device> create(const FdLayer& layer, const DeviceCapabilities& wanted,
                                                        std::string& error);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Queues one event; send() writes the queue and a SYN_REPORT in one write.
    void add(std::uint16_t type, std::uint16_t code, std::int32_t value);
    void send();

private:
    Device(FdLayer layer, int fd) : layer_(std::move(layer)), fd_(fd) {}

    FdLayer layer_;
    UniqueFd fd_;
    std::vector<input_event> queue_;
};

}  // namespace tamborix::uinput
