#pragma once
// The user's own keyboard on the test's sway: a virtual keyboard of the test with a chosen
// layout, pressed once so that the seat reports it as its keyboard, as a physical one would be
// before any window opens.

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <cstring>
#include <memory>
#include <string>

#include "base/owned.h"
#include "base/unique_fd.h"
#include "platform/linux/support/wayland/wayland_connection.h"
#include "wayland/virtual-keyboard.h"

namespace tamborix::testing {

class UserKeyboard {
public:
    UserKeyboard(const std::string& display, const char* layout) {
        std::string why;
        conn_ = wayland::WaylandConnection::connect(display, why);
        if (!conn_) return;
        seat_.reset(conn_->bind<wl_seat>(wl_seat_interface, 1));
        manager_.reset(conn_->bind<zwp_virtual_keyboard_manager_v1>(zwp_virtual_keyboard_manager_v1_interface, 1));
        if (!seat_ || !manager_) return;
        keyboard_.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_.get(), seat_.get()));
        Owned<xkb_context, xkb_context_unref> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        const xkb_rule_names names{nullptr, nullptr, layout, nullptr, nullptr};
        Owned<xkb_keymap, xkb_keymap_unref> keymap(
            xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!keymap) return;
        Owned<char, freeMalloced> text(xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1));
        const std::size_t size = std::strlen(text.get()) + 1;
        UniqueFd fd(::memfd_create("user-keymap", 0));
        if (::write(fd.get(), text.get(), size) != static_cast<ssize_t>(size)) return;
        zwp_virtual_keyboard_v1_keymap(keyboard_.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd.get(), size);
        if (!conn_->roundtrip()) return;
        zwp_virtual_keyboard_v1_key(keyboard_.get(), 0, KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(keyboard_.get(), 1, KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_RELEASED);
        ready_ = conn_->roundtrip();
    }
    [[nodiscard]] bool ready() const noexcept { return ready_; }

private:
    std::unique_ptr<wayland::WaylandConnection> conn_;
    wayland::Proxy<wl_seat> seat_;
    wayland::Proxy<zwp_virtual_keyboard_manager_v1> manager_;
    wayland::Proxy<zwp_virtual_keyboard_v1> keyboard_;
    bool ready_ = false;
};

}  // namespace tamborix::testing
