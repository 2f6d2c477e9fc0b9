#pragma once
// The helper's connection to a wlroots compositor and the globals the backends of this folder
// share: the seat, the virtual-device managers, the output layout. Every backend made from it
// holds a reference, so the session outlives them (the factory keeps it in the session slot).

#include <memory>
#include <string>
#include <vector>

#include "base/owned.h"
#include "platform/linux/desktop/wlroots/output_layout.h"
#include "platform/linux/desktop/wlroots/wlr_input_sink.h"
#include "platform/linux/support/wayland/wayland_connection.h"
#include "wayland/virtual-keyboard.h"
#include "wayland/virtual-pointer.h"

namespace tamborix::wlroots {

class WlrootsSession {
public:
    // Null with `why` set when no compositor answers or it lacks the output layout.
    [[nodiscard]] static std::unique_ptr<WlrootsSession> open(const std::string& display, std::string& why);
    ~WlrootsSession();

    [[nodiscard]] wayland::WaylandConnection& connection() noexcept { return *conn_; }
    [[nodiscard]] OutputLayout& outputs() noexcept { return *layout_; }
    [[nodiscard]] wl_seat* seat() const noexcept { return seat_.get(); }
    // Whether the compositor offers both virtual devices; `missing` names what it lacks.
    [[nodiscard]] bool offersInput(std::string& missing) const;
    // Whether the compositor announced a global of `interface` ("zwlr_screencopy_manager_v1").
    [[nodiscard]] bool offers(const char* interface) const {
        for (const auto& g : conn_->globals()) {
            if (g.interface == interface) return true;
        }
        return false;
    }
    // Null when the compositor lacks a device manager.
    [[nodiscard]] std::unique_ptr<WlrInputSink> makeInput();

    // The seat's listener.
    std::uint32_t seatCapabilities = 0;

private:
    WlrootsSession() = default;
    std::unique_ptr<wayland::WaylandConnection> conn_;
    wayland::Proxy<wl_seat> seat_;
    wayland::Proxy<zwlr_virtual_pointer_manager_v1> pointers_;
    wayland::Proxy<zwp_virtual_keyboard_manager_v1> keyboards_;
    std::unique_ptr<OutputLayout> layout_;
};

}  // namespace tamborix::wlroots
