#pragma once
// The kernel's button codes, which the uinput device and the portal's pointer calls both speak.

#include <linux/input-event-codes.h>

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

}  // namespace tamborix
