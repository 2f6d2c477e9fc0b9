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

#include "base/owned.h"
#include "platform/linux/desktop/x11/x_connection.h"
#include "ports/input_sink.h"

namespace tamborix::x11 {

using XkbContext = Owned<xkb_context, xkb_context_unref>;
using XkbKeymapPtr = Owned<xkb_keymap, xkb_keymap_unref>;
using XkbState = Owned<xkb_state, xkb_state_unref>;

class XkbKeymap {
public:
    struct Key {
        xcb_keycode_t keycode = 0;
        bool shift = false;
    };

    // Null, with the reason, when the server has no usable XKB.
    [[nodiscard]] static std::unique_ptr<XkbKeymap> create(XConnection& conn, std::string& error);
    ~XkbKeymap();
    XkbKeymap(const XkbKeymap&) = delete;
    XkbKeymap& operator=(const XkbKeymap&) = delete;

    // Level 0 of the current group.
    [[nodiscard]] std::optional<xcb_keycode_t> keycodeFor(xkb_keysym_t sym);
    // Level 0, else the Shift level, of the current group; first keycode wins.
    [[nodiscard]] std::optional<Key> keyFor(char32_t c);
    [[nodiscard]] std::vector<LayoutEntry> entries();
    // Keycodes that carry no symbol at all.
    [[nodiscard]] std::vector<xcb_keycode_t> emptyKeycodes();
    [[nodiscard]] xkb_keysym_t level0(xcb_keycode_t keycode);
    // Grows whenever the tables above may have changed.
    [[nodiscard]] std::uint64_t serial();
    // Keycodes the caller has bound itself; left out of keyFor() and entries().
    void setHidden(std::function<bool(xcb_keycode_t)> hidden) { hidden_ = std::move(hidden); }

private:
    XkbKeymap(XConnection& conn, XkbContext context, std::int32_t device);
    void handle(const xcb_generic_event_t& event);
    void reloadIfStale();
    void rebuild();

    XConnection& conn_;
    XkbContext context_;
    std::int32_t device_;
    std::uint8_t eventBase_ = 0;
    XkbKeymapPtr keymap_;
    XkbState state_;
    bool stale_ = true;
    bool tablesStale_ = true;
    std::uint64_t serial_ = 0;
    std::unordered_map<char32_t, Key> chars_;
    std::unordered_map<xkb_keysym_t, xcb_keycode_t> syms_;
    std::vector<LayoutEntry> entries_;
    std::function<bool(xcb_keycode_t)> hidden_;
    std::unique_ptr<XConnection::Subscription> events_;
};

}  // namespace tamborix::x11
