#pragma once
// The laser dot: a glowing red dot that follows the pointer while a phone has laser mode on,
// whether the phone moves the pointer (injected moves) or the local mouse does.

#include <string>

#include "base/user_text.h"
#include "ports/display_source.h"
#include "ports/main_loop.h"
#include "ports/overlay_surface.h"

namespace tamborix {

// What the user is told once when the laser or the finder is asked for where the desktop lets
// nothing be drawn above its windows.
[[nodiscard]] inline std::string overlaysMissingText(const std::string& why) {
    return userText("Desktop", "The laser and the cursor finder cannot be shown on this desktop: %1").with({why});
}

class LaserOverlay {
public:
    LaserOverlay(MainLoop& loop, const DisplaySource& displays, OverlaySurface& surface);
    LaserOverlay(const LaserOverlay&) = delete;
    LaserOverlay& operator=(const LaserOverlay&) = delete;

    // Laser mode as the session core decided it. setOn starts or stops the overlay only when the
    // mode changes, so a repeated request costs nothing.
    [[nodiscard]] bool isOn() const { return isOn_; }
    void setOn(bool on);

    // Shows the dot at the pointer and follows the pointer 60 times a second until stop().
    void start();
    void stop();
    // Moves the dot's centre to `p` (global coordinates); an unchanged point moves nothing.
    // Does nothing before the first start().
    void place(Point p);

    // The injector's move hook: while on, the dot sits where the phone put the pointer, and the
    // local pointer is not followed for the next 0.25 s.
    void onInjectedMove(Point p);

    [[nodiscard]] MonoTime lastInjected() const { return lastInjected_; }
    [[nodiscard]] bool following() const { return timer_ != nullptr; }

private:
    void tick();
    [[nodiscard]] static Point originFor(Point centre);

    MainLoop& loop_;
    const DisplaySource& displays_;
    OverlaySurface& surface_;
    bool windowMade_ = false;
    Timer timer_;
    bool isOn_ = false;
    Point last_{-1, -1};
    MonoTime lastInjected_ = MonoTime::min();
};

}  // namespace tamborix
