#pragma once
// A WindowControl with at most one focused window, whose frame the test sets and reads back.

#include <optional>
#include <string>
#include <vector>

#include "ports/window_control.h"

namespace tamborix::testing {

class FakeWindowControl final : public WindowControl {
public:
    // Test controls: no focused window while `focused` is empty; an unreadable frame while
    // `frameReadable` is false.
    std::optional<WindowHandle> focused;
    Rect windowFrame;
    bool frameReadable = true;
    bool setResult = true;
    std::string unavailable;  // set: a session that cannot place windows at all, and why

    // What happened.
    std::vector<Rect> setFrames;

    [[nodiscard]] std::optional<WindowHandle> frontWindow() const override { return focused; }
    [[nodiscard]] std::optional<Rect> frame(WindowHandle window) const override;
    bool setFrame(WindowHandle window, const Rect& frame) override;
    [[nodiscard]] std::string unavailableReason() const override { return unavailable; }
};

}  // namespace tamborix::testing
