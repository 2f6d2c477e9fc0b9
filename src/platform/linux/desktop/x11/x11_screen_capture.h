#pragma once
// ScreenCapture for an X11 display: grabbing, the pointer, scaling and JPEG encoding all happen on
// one worker thread of this object; each answer comes back through the main loop's post. A request
// equal to one already waiting or being made joins it instead of being made twice, and when the
// server saw nothing drawn in the region and the pointer stayed put, the last JPEG is sent again.

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/linux/support/capture/capture_jobs.h"
#include "ports/main_loop.h"
#include "ports/screen_capture.h"

namespace tamborix::x11 {

class ScreenGrabber;

class X11ScreenCapture final : public ScreenCapture {
public:
    struct Options {
        bool sharedMemory = true;  // false: always GetImage, as for a server on another machine
    };
    // Probes `displayName` (DISPLAY when empty) at once, on the calling thread.
    X11ScreenCapture(MainLoop& loop, std::string displayName, Options options);
    X11ScreenCapture(MainLoop& loop, std::string displayName)
        : X11ScreenCapture(loop, std::move(displayName), Options{}) {}
    ~X11ScreenCapture() override;
    X11ScreenCapture(const X11ScreenCapture&) = delete;
    X11ScreenCapture& operator=(const X11ScreenCapture&) = delete;

    [[nodiscard]] bool available() const override;
    [[nodiscard]] std::string unavailableReason() const override;
    void capture(const CaptureRequest& request, Done done) override;
    void captureFinished(const CaptureRequest& request, Finish finish, FinishedDone done) override;

    // "MIT-SHM" or "GetImage" (what the probe found), for the start-up report.
    [[nodiscard]] const std::string& method() const { return method_; }

    // Encoded: grabbed and encoded; reused: the previous JPEG again.
    using Counters = jpeg::CaptureJobs::Counters;
    [[nodiscard]] Counters counters() const;

private:
    struct WorkerState;
    [[nodiscard]] jpeg::CaptureJobs::Made make(const CaptureRequest& request);

    const std::string displayName_;
    const Options options_;
    std::string method_;
    mutable std::mutex mutex_;  // guards available_ and reason_
    bool available_ = false;
    std::string reason_;
    std::unique_ptr<WorkerState> worker_;  // only the worker thread touches it after construction
    // Last: its thread, which uses everything above, ends first.
    std::unique_ptr<jpeg::CaptureJobs> jobs_;
};

}  // namespace tamborix::x11
