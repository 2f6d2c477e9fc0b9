#pragma once
// The focused window of the front application: its frame, and moving and resizing it.
// Frames are in global coordinates (top-left origin, the same space as displays), outer frame.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ports/geometry.h"

namespace tamborix {

using WindowHandle = std::uint64_t;

class WindowControl {
public:
    virtual ~WindowControl() = default;

    // nullopt when there is no focused window or it cannot be reached (no permission).
    [[nodiscard]] virtual std::optional<WindowHandle> frontWindow() const = 0;
    [[nodiscard]] virtual std::optional<Rect> frame(WindowHandle window) const = 0;
    // Best effort, as the window manager allows; false when the request could not be made.
    virtual bool setFrame(WindowHandle window, const Rect& frame) = 0;

    // A desktop that places its windows itself when asked (its own keyboard shortcuts) performs
    // the placement `op` ("left", "right", "max", "next") on its focused window and answers
    // whether it could be asked; nullopt where the helper computes frames and sets them instead.
    [[nodiscard]] virtual std::optional<bool> place(std::string_view op) {
        (void)op;
        return std::nullopt;
    }
    // Why windows cannot be placed at all in this session; empty when they can (a placement may
    // still fail now and then, with no window in front).
    [[nodiscard]] virtual std::string unavailableReason() const { return {}; }
};

}  // namespace tamborix
