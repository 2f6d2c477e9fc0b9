#pragma once
// The screen of a wlroots compositor through screencopy: each request copies the region of its
// output into a shared-memory buffer, with the cursor where the compositor draws it in, then
// scales and encodes it like every capture backend. All of it runs on the capture thread, over a
// Wayland connection of that thread's own; displays are named by their wl_output global, which
// every connection to the compositor shares.
//
// After each picture a second copy of the same region waits for the compositor's next damage of
// the output: while it still waits, a request equal to the last (and the pointer where the helper
// left it) is answered with the last JPEG, neither copied nor encoded again.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/linux/support/capture/capture_jobs.h"
#include "ports/main_loop.h"
#include "ports/screen_capture.h"

namespace tamborix::wlroots {

class WlrScreenCapture final : public ScreenCapture {
public:
    // Where the helper last put the pointer, asked on the main loop at each request: a hardware
    // cursor moves without damaging the output.
    using PointerFn = std::function<std::optional<Point>()>;
    // `display` as WAYLAND_DISPLAY takes it; empty = WAYLAND_DISPLAY. `offered`: the compositor
    // announced the screencopy manager (the helper's main connection saw it).
    WlrScreenCapture(MainLoop& loop, std::string display, bool offered, PointerFn pointer = {});
    ~WlrScreenCapture() override;

    [[nodiscard]] bool available() const override;
    [[nodiscard]] std::string unavailableReason() const override;
    void capture(const CaptureRequest& request, Done done) override;
    void captureFinished(const CaptureRequest& request, Finish finish, FinishedDone done) override;

    // Encoded: copied and encoded; reused: the previous JPEG again.
    using Counters = jpeg::CaptureJobs::Counters;
    [[nodiscard]] Counters counters() const;

private:
    struct Worker;
    jpeg::CaptureJobs::Made make(const CaptureRequest& request);

    const std::string display_;
    const PointerFn pointer_;
    mutable std::mutex mutex_;
    std::string reason_;  // guarded; empty while available
    std::optional<Point> pointerNow_;  // guarded; as of the latest request
    std::unique_ptr<Worker> worker_;  // used on the capture thread only
    std::unique_ptr<jpeg::CaptureJobs> jobs_;  // declared last: stopped first
};

}  // namespace tamborix::wlroots
