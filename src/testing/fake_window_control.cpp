#include "testing/fake_window_control.h"

namespace tamborix::testing {

std::optional<Rect> FakeWindowControl::frame(WindowHandle window) const {
    if (!frameReadable || focused != window) return std::nullopt;
    return windowFrame;
}

bool FakeWindowControl::setFrame(WindowHandle window, const Rect& frame) {
    if (focused != window) return false;
    setFrames.push_back(frame);
    if (setResult) windowFrame = frame;
    return setResult;
}

}  // namespace tamborix::testing
