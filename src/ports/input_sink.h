#pragma once
// Where synthetic input leaves the process. The injector decides what is posted (event kind,
// absolute target, requested deltas, click numbering, wheel values, keys with their modifier
// flags, text); a sink decides only how: XTEST with absolute positions and XKB keycodes, uinput
// with relative motion and evdev codes, or nothing at all.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/geometry.h"

namespace tamborix {

enum class MouseButton : std::uint8_t { left = 0, right = 1, middle = 2 };

// The values are the classic desktop event-type codes, kept so that logs and tests read the same
// numbers on every backend.
enum class MouseEventType : std::uint8_t {
    leftDown = 1,
    leftUp = 2,
    rightDown = 3,
    rightUp = 4,
    moved = 5,
    leftDragged = 6,
    rightDragged = 7,
    otherDown = 25,
    otherUp = 26,
    otherDragged = 27,
};

[[nodiscard]] constexpr bool isMotion(MouseEventType t) {
    return t == MouseEventType::moved || t == MouseEventType::leftDragged ||
           t == MouseEventType::rightDragged || t == MouseEventType::otherDragged;
}
[[nodiscard]] constexpr bool isPress(MouseEventType t) {
    return t == MouseEventType::leftDown || t == MouseEventType::rightDown ||
           t == MouseEventType::otherDown;
}
[[nodiscard]] constexpr bool isRelease(MouseEventType t) {
    return t == MouseEventType::leftUp || t == MouseEventType::rightUp || t == MouseEventType::otherUp;
}

struct MouseEvent {
    MouseEventType type = MouseEventType::moved;
    MouseButton button = MouseButton::left;
    // Absolute target in global desktop coordinates (already kept on a display).
    Point at;
    // Motion only: the requested relative motion, rounded, before any clamping. A relative
    // backend moves by these; an absolute backend goes to `at`.
    std::int64_t deltaX = 0;
    std::int64_t deltaY = 0;
    // Presses and releases: 1 single, 2 double, 3 triple click.
    std::int64_t clickState = 0;
    friend bool operator==(const MouseEvent&, const MouseEvent&) = default;
};

// Wheel values in pixels, in the sign the system expects (positive vertical = content moves down
// = the finger moved up); the injector has already negated the phone's amounts.
struct ScrollEvent {
    std::int32_t vertical = 0;
    std::int32_t horizontal = 0;
    friend bool operator==(const ScrollEvent&, const ScrollEvent&) = default;
};

// Modifier flags carried by key events; a set bit means that modifier key is down.
using ModifierFlags = std::uint8_t;
namespace modifier {
inline constexpr ModifierFlags super = 0x1;
inline constexpr ModifierFlags shift = 0x2;
inline constexpr ModifierFlags alt = 0x4;
inline constexpr ModifierFlags control = 0x8;
// The third and fifth shift levels (AltGr and its like): never named by a phone, only held for a
// character a layout types at that level.
inline constexpr ModifierFlags level3 = 0x10;
inline constexpr ModifierFlags level5 = 0x20;
}  // namespace modifier

// How a key is named to the sink: by X keysym (named keys, modifiers, media keys; a uinput
// backend maps the few it needs to evdev codes) or by a keycode the sink itself reported in
// layout().
enum class KeyKind : std::uint8_t { keysym, keycode };

struct KeyEvent {
    KeyKind kind = KeyKind::keysym;
    std::uint32_t value = 0;
    bool down = true;
    ModifierFlags flags = 0;
    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

// One key of the current keyboard layout and the character it types at a level: the modifiers
// `shift` and `levelMods` (modifier::level3, modifier::level5) held around the key.
struct LayoutEntry {
    std::uint32_t keycode = 0;
    bool shift = false;
    char32_t character = 0;
    ModifierFlags levelMods = 0;
    friend bool operator==(const LayoutEntry&, const LayoutEntry&) = default;
};

class InputSink {
public:
    virtual ~InputSink() = default;

    // Whether this sink can post input at all; when not, reason() says why in one line for the
    // user (no XTEST, /dev/uinput not writable, ...). Posting while this is false does nothing.
    [[nodiscard]] virtual bool mayPost() const = 0;
    [[nodiscard]] virtual std::string reason() const = 0;
    // The one thing the user can do so that input works, as a sentence; empty when nothing the
    // user does would help or nothing is needed.
    [[nodiscard]] virtual std::string remedy() const { return {}; }
    // The desktop entries of settings pages where the user does what remedy() says (GNOME's,
    // KDE's, …), the most fitting first; the application offers the first one installed.
    [[nodiscard]] virtual std::vector<std::string> settingsPages() const { return {}; }

    virtual void mouse(const MouseEvent& event) = 0;
    virtual void scroll(const ScrollEvent& event) = 0;
    virtual void key(const KeyEvent& event) = 0;
    // Types one chunk of text as a single press and release carrying the characters. Chunks are
    // at most 20 UTF-16 units and never split a surrogate pair. Characters with no key are typed
    // however the backend can (X11 binds the keysym to a spare keycode for the tap).
    virtual void text(std::u16string_view chunk) = 0;
    // A plain mouse-moved event at an absolute point, outside the injector's own bookkeeping
    // (used by a tap on the streamed screen and by a jump to another display).
    virtual void warp(Point at) = 0;

    // The current keyboard layout; read again whenever a character is missing from the last one.
    [[nodiscard]] virtual std::vector<LayoutEntry> layout() = 0;
    // Changes whenever layout() may answer differently (a new layout, another group), so that a
    // key found in the old layout is not pressed in the new one.
    [[nodiscard]] virtual std::uint64_t layoutSerial() { return 0; }

    // Told of every character of text() that this sink skipped because nothing could type it
    // (no key in the layout and no way to lend one), with the reason in a few words. Typing a
    // different character in its place would lose text without a trace.
    using Untypable = std::function<void(char32_t, const std::string&)>;
    void setOnUntypable(Untypable fn) { onUntypable_ = std::move(fn); }

protected:
    void untypable(char32_t c, const std::string& why) const {
        if (onUntypable_) onUntypable_(c, why);
    }

private:
    Untypable onUntypable_;
};

}  // namespace tamborix
