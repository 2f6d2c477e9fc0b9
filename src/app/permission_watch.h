#pragma once
// Whether input can be posted and whether the screen can be captured. Linux has no way to ask
// the user for either, so both are only watched: looked at every 2 s, and a change announced.
// In dry run input counts as allowed, since none is posted.

#include <functional>
#include <string>

#include "ports/input_sink.h"
#include "ports/main_loop.h"
#include "ports/screen_capture.h"

namespace tamborix {

class PermissionWatch {
public:
    PermissionWatch(MainLoop& loop, const InputSink& input, const ScreenCapture& capture, bool dryRun,
                    std::function<void()> onChanged);

    [[nodiscard]] bool inputAllowed() const noexcept { return inputAllowed_; }
    // Why no phone can see this screen, in one line (empty while it can).
    [[nodiscard]] const std::string& captureReason() const noexcept { return captureReason_; }
    // The input state; a missing permission is two lines: the warning, then why.
    [[nodiscard]] std::string inputLine() const;
    // Why input cannot be posted, in one line for the user (empty while it can).
    [[nodiscard]] std::string inputReason() const;
    // What the user can do about it, in one sentence (empty while input can be posted).
    [[nodiscard]] std::string inputRemedy() const;

    // Every 2 s from start() until stop(); poll() looks at once.
    void start();
    void stop() { timer_.reset(); }
    void poll();

private:
    [[nodiscard]] bool currentInputAllowed() const;
    [[nodiscard]] std::string currentCaptureReason() const;

    MainLoop& loop_;
    const InputSink& input_;
    const ScreenCapture& capture_;
    const bool dryRun_;
    std::function<void()> onChanged_;
    bool inputAllowed_ = false;
    std::string captureReason_;
    Timer timer_;
};

}  // namespace tamborix
