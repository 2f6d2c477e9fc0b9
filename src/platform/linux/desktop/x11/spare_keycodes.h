#pragma once
// Keycodes with no symbol, lent to characters the layout cannot type. The rules, and why:
//
// - A program looks a key's symbol up when it reads the event, which may be long after the
//   press (a busy or stopped program, an Xlib client that fetches the mapping again only when it
//   next needs it). So a binding is changed, or given back, only once its key's last event was
//   delivered `hold` ago: a program up to that late still reads the symbol that was pressed.
//   Delivery is taken as the end of a round trip after the press, not the time it was sent.
// - Every mapping change makes every X client fetch the keymap again, so all bindings wanted at
//   one moment are made in one XkbSetMap, and all are given back in one when the pool is idle.
// - The mapping must be exactly as it was found once the helper is idle, ends or crashed: the
//   server's own entry of each key is kept and written back (not a core mapping guessed from
//   symbols), and what is lent is noted in a file before the server sees it, so that the next
//   start gives back what a crashed run left, `hold` after it starts, and only where the key
//   still holds the lent symbol (a binding somebody changed since is theirs).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/linux/desktop/x11/x_connection.h"
#include "platform/linux/desktop/x11/xkb_key_syms.h"
#include "platform/linux/desktop/x11/xkb_keymap.h"
#include "ports/main_loop.h"

namespace tamborix::x11 {

class SpareKeycodes {
public:
    struct Options {
        std::filesystem::path note;  // empty: no note
        // How long a binding stays as it is after its key's last event was delivered: programs
        // up to 1.5 s behind read the symbol that was pressed, with a quarter second for such a
        // program's own request for the mapping to reach the server.
        Duration hold = seconds(1.75);
        std::size_t maxSlots = 255;
    };

    SpareKeycodes(XConnection& conn, XkbKeymap& keymap, MainLoop& loop, Options options);
    // Gives every binding back, first waiting (at most `hold`) until the last key is old enough.
    ~SpareKeycodes();
    SpareKeycodes(const SpareKeycodes&) = delete;
    SpareKeycodes& operator=(const SpareKeycodes&) = delete;

    // The keycode typing `sym` now, if one is bound to it.
    [[nodiscard]] std::optional<xcb_keycode_t> keycodeOf(std::uint32_t sym);
    // Binds, in one mapping change, as many of `wanted` (keysyms in the order they will be
    // pressed; repeats and those bound already are skipped) as there are keycodes free to
    // rebind now. A keycode needed sooner is never taken for one needed later. When not all
    // could be bound, `readyAt` says when the next keycode becomes free.
    void bind(const std::vector<std::uint32_t>& wanted, MonoTime& readyAt);
    // Every event of `keycode` sent so far had been delivered by `at`.
    void delivered(xcb_keycode_t keycode, MonoTime at);
    // A key held down keeps its binding until released.
    void setHeld(xcb_keycode_t keycode, bool held);
    [[nodiscard]] bool isBorrowed(xcb_keycode_t keycode) const;
    [[nodiscard]] bool available() const { return !slots_.empty(); }
    // Gives everything back in one mapping change once no binding was used for `hold`; returns
    // when to try again, nullopt when nothing is lent any more.
    std::optional<MonoTime> releaseIdle();
    // Mapping changes made so far (bindings and give-backs), for the benchmark and the tests.
    [[nodiscard]] std::uint64_t changes() const { return changes_; }

private:
    struct Slot {
        xcb_keycode_t keycode = 0;
        std::uint32_t sym = 0;  // NoSymbol while the keycode is not lent
        KeySymMap original;     // the server's entry before it was lent
        MonoTime lastUsed = MonoTime::min();
        bool held = false;
    };
    void refresh();
    [[nodiscard]] bool giveBack(const std::vector<Slot*>& lent);
    void writeNote() const;

    XConnection& conn_;
    XkbKeymap& keymap_;
    MainLoop& loop_;
    Options options_;
    std::vector<Slot> slots_;
    std::vector<Slot> inherited_;  // lent by a run that crashed
    std::uint64_t seenSerial_ = ~std::uint64_t{0};
    std::uint64_t changes_ = 0;
};

}  // namespace tamborix::x11
