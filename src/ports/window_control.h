#pragma once
// The focused window of the front application: its frame, and moving and resizing it.
// Frames are in global coordinates (top-left origin, the same space as displays), outer frame.

#include <cstdint>
#include <optional>

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
};

}  // namespace tamborix
