#pragma once
// Keycodes with no symbol, lent to characters the layout cannot type. A program that receives a
// key event looks its symbol up in the mapping as it is when it gets round to reading the event,
// not as it was when the key was pressed; so a binding is kept until it is the least recently
// used, has not been pressed for `grace`, and a round trip has shown the server done with the
// key events before it (see acquire). What was lent is noted in a file first, so that a helper
// that crashed gives it back at its next start; an orderly end gives everything back at once.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/linux/desktop/x11/x_connection.h"
#include "platform/linux/desktop/x11/xkb_keymap.h"
#include "ports/main_loop.h"

namespace tamborix::x11 {

class SpareKeycodes {
public:
    struct Options {
        std::filesystem::path note;  // empty: no note (tests of the eviction alone)
        Duration grace = seconds(1.0);
        std::size_t maxSlots = 32;
    };

    SpareKeycodes(XConnection& conn, XkbKeymap& keymap, Options options);
    ~SpareKeycodes();  // gives every binding back
    SpareKeycodes(const SpareKeycodes&) = delete;
    SpareKeycodes& operator=(const SpareKeycodes&) = delete;

    // Gives back what a note of an earlier run lent and that still holds the lent symbol.
    static void restoreFromNote(XConnection& conn, XkbKeymap& keymap, const std::filesystem::path& note);

    // The keycode typing `sym` now, binding a slot if needed; nullopt while every slot is too
    // fresh to rebind (then `readyAt` says when one will be free) or none exists.
    [[nodiscard]] std::optional<xcb_keycode_t> acquire(std::uint32_t sym, MonoTime now, MonoTime& readyAt);
    void used(xcb_keycode_t keycode, MonoTime now, bool held);
    [[nodiscard]] bool isBorrowed(xcb_keycode_t keycode) const;
    [[nodiscard]] bool available() const { return !slots_.empty(); }
    // Gives back the bindings not used for `grace`; true when none is left.
    bool releaseIdle(MonoTime now);

private:
    struct Slot {
        xcb_keycode_t keycode = 0;
        std::uint32_t sym = 0;  // 0: not lent
        MonoTime lastUsed = MonoTime::min();
        bool held = false;
    };
    void forgetOverwritten();
    void bind(Slot& slot, std::uint32_t sym);
    void writeNote() const;

    XConnection& conn_;
    XkbKeymap& keymap_;
    Options options_;
    std::vector<Slot> slots_;
    std::uint64_t seenSerial_ = 0;
};

}  // namespace tamborix::x11
