#pragma once
// The kernel's button and media key codes, which the uinput device, the wlroots virtual devices
// and the portal's pointer calls all speak, and how those sinks play a mouse event.

#include <linux/input-event-codes.h>

#include <cstdint>
#include <optional>

#include "ports/input_sink.h"

namespace tamborix {

[[nodiscard]] constexpr int evdevButton(MouseButton b) {
    switch (b) {
        case MouseButton::left: return BTN_LEFT;
        case MouseButton::right: return BTN_RIGHT;
        case MouseButton::middle: return BTN_MIDDLE;
    }
    return BTN_LEFT;
}

// The key code of an XF86 media keysym, which layouts do not always carry though the codes are
// the same everywhere; 0 for any other keysym.
[[nodiscard]] constexpr int evdevMediaKey(std::uint32_t keysym) {
    switch (keysym) {
        case 0x1008ff14: return KEY_PLAYPAUSE;
        case 0x1008ff17: return KEY_NEXTSONG;
        case 0x1008ff16: return KEY_PREVIOUSSONG;
        case 0x1008ff13: return KEY_VOLUMEUP;
        case 0x1008ff11: return KEY_VOLUMEDOWN;
        case 0x1008ff12: return KEY_MUTE;
    }
    return 0;
}

struct ButtonChange {
    int code = 0;
    bool down = false;
};
// Plays a mouse event on a sink that places the pointer itself: a motion moves it; a press or
// release first moves it where the event happened unless it was last asked there, and then
// leaves the button change to the caller. `asked` is where the sink was last asked to move.
template <class MoveTo>
[[nodiscard]] std::optional<ButtonChange> moveForButton(const MouseEvent& event, const std::optional<Point>& asked,
                                                        MoveTo&& moveTo) {
    if (isMotion(event.type)) {
        moveTo(event.at);
        return std::nullopt;
    }
    if (!asked || !(*asked == event.at)) moveTo(event.at);
    const bool down = isPress(event.type);
    if (!down && !isRelease(event.type)) return std::nullopt;
    return ButtonChange{evdevButton(event.button), down};
}

}  // namespace tamborix
