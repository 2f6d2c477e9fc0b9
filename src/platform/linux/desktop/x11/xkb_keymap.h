#pragma once
// The core keyboard's current XKB keymap and group, read through libxkbcommon-x11 and read again
// after the server announces a new keyboard, a changed map or a group switch.

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/desktop/x11/x_connection.h"
#include "platform/linux/support/xkb/keymap_index.h"
#include "ports/input_sink.h"

namespace tamborix::x11 {

class XkbKeymap {
public:
    // A key and the level modifiers (modifier::shift, level3, level5) held around it.
    struct Key {
        xcb_keycode_t keycode = 0;
        ModifierFlags mods = 0;
    };

    // Null, with the reason, when the server has no usable XKB.
    [[nodiscard]] static std::unique_ptr<XkbKeymap> create(XConnection& conn, std::string& error);
    ~XkbKeymap();
    XkbKeymap(const XkbKeymap&) = delete;
    XkbKeymap& operator=(const XkbKeymap&) = delete;

    // Level 0 of the current group.
    [[nodiscard]] std::optional<xcb_keycode_t> keycodeFor(xkb_keysym_t sym);
    // The lowest level of the current group that types `c` (plain, Shift, level 3, level 3 +
    // Shift, level 5…), with the locked modifiers as they are now; first keycode wins.
    [[nodiscard]] std::optional<Key> keyFor(char32_t c);
    // The key that holds one level modifier (modifier::shift, level3 or level5) in the current
    // group, when the layout has one.
    [[nodiscard]] std::optional<xcb_keycode_t> modifierKey(ModifierFlags one);
    [[nodiscard]] std::vector<LayoutEntry> entries();
    // Keycodes that carry no symbol at all.
    [[nodiscard]] std::vector<xcb_keycode_t> emptyKeycodes();
    [[nodiscard]] xkb_keysym_t level0(xcb_keycode_t keycode);
    // Grows whenever the tables above may have changed.
    [[nodiscard]] std::uint64_t serial();
    // Keycodes the caller has bound itself; left out of keyFor() and entries().
    void setHidden(std::function<bool(xcb_keycode_t)> hidden) { hidden_ = std::move(hidden); }

private:
    XkbKeymap(XConnection& conn, xkb::Context context, std::int32_t device);
    void handle(const xcb_generic_event_t& event);
    void reloadIfStale();
    void rebuild();

    XConnection& conn_;
    xkb::Context context_;
    std::int32_t device_;
    std::uint8_t eventBase_ = 0;
    xkb::Keymap keymap_;
    xkb::State state_;
    bool stale_ = true;
    bool tablesStale_ = true;
    std::uint64_t serial_ = 0;
    std::unordered_map<char32_t, Key> chars_;
    std::unordered_map<ModifierFlags, xcb_keycode_t> modifierKeys_;
    std::unordered_map<xkb_keysym_t, xcb_keycode_t> syms_;
    std::vector<LayoutEntry> entries_;
    std::function<bool(xcb_keycode_t)> hidden_;
    std::unique_ptr<XConnection::Subscription> events_;
};

}  // namespace tamborix::x11
