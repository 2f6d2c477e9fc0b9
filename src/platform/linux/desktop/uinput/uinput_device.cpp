#include "platform/linux/desktop/uinput/uinput_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/user_text.h"

namespace tamborix::uinput {

FdLayer kernelFdLayer(const std::string& path) {
    return {[path] {
                const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                return fd >= 0 ? fd : -errno;
            },
            [](int fd, unsigned long request, std::uintptr_t arg) {
                return ::ioctl(fd, request, arg) == 0 ? 0 : -errno;
            },
            path};
}

std::unique_ptr<Device> Device::create(const FdLayer& layer, const DeviceCapabilities& wanted, std::string& error) {
    const int fd = layer.open();
    if (fd < 0) {
        error = userText("Backends", "%1 not writable (%2)").with({layer.path, std::strerror(-fd)});
        return nullptr;
    }
    std::unique_ptr<Device> device(new Device(layer, fd));
    auto control = [&](unsigned long request, std::uintptr_t arg) {
        const int r = layer.ioctl(fd, request, arg);
        if (r != 0 && error.empty()) error = userText("Backends", "uinput refused the device (%1)").with({std::strerror(-r)});
        return r == 0;
    };
    bool ok = true;
    if (!wanted.keys.empty()) ok &= control(UI_SET_EVBIT, EV_KEY);
    for (int k : wanted.keys) ok &= control(UI_SET_KEYBIT, static_cast<std::uintptr_t>(k));
    if (!wanted.rels.empty()) ok &= control(UI_SET_EVBIT, EV_REL);
    for (int r : wanted.rels) ok &= control(UI_SET_RELBIT, static_cast<std::uintptr_t>(r));
    if (!wanted.axes.empty()) ok &= control(UI_SET_EVBIT, EV_ABS);
    for (const auto& a : wanted.axes) {
        ok &= control(UI_SET_ABSBIT, static_cast<std::uintptr_t>(a.code));
        uinput_abs_setup abs{};
        abs.code = static_cast<__u16>(a.code);
        abs.absinfo.maximum = a.maximum;
        ok &= control(UI_ABS_SETUP, reinterpret_cast<std::uintptr_t>(&abs));
    }
    for (int p : wanted.properties) ok &= control(UI_SET_PROPBIT, static_cast<std::uintptr_t>(p));
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1209;  // pid.codes, for open-source projects
    setup.id.product = 0x7a4b;
    std::strncpy(setup.name, wanted.name.c_str(), UINPUT_MAX_NAME_SIZE - 1);
    ok &= control(UI_DEV_SETUP, reinterpret_cast<std::uintptr_t>(&setup));
    ok &= control(UI_DEV_CREATE, 0);
    if (!ok) return nullptr;  // the destructor closes the descriptor
    return device;
}

Device::~Device() {
    layer_.ioctl(fd_.get(), UI_DEV_DESTROY, 0);
}

void Device::add(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    queue_.push_back(e);
}

void Device::send() {
    if (queue_.empty()) return;
    add(EV_SYN, SYN_REPORT, 0);
    const auto* data = reinterpret_cast<const char*>(queue_.data());
    std::size_t left = queue_.size() * sizeof(input_event);
    while (left > 0) {
        const ssize_t n = ::write(fd_.get(), data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // a full kernel queue drops this report rather than stalling the loop
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    queue_.clear();
}

}  // namespace tamborix::uinput
