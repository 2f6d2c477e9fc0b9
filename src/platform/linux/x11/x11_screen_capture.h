#pragma once
// ScreenCapture for an X11 display: grabbing, the pointer, scaling and JPEG encoding all happen on
// one worker thread of this object; each answer comes back through the main loop's post. A request
// equal to one already waiting or being made joins it instead of being made twice, and when the
// server saw nothing drawn in the region and the pointer stayed put, the last JPEG is sent again.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

    // "MIT-SHM" or "GetImage" (what the probe found), for the start-up report.
    [[nodiscard]] const std::string& method() const { return method_; }

    struct Counters {
        std::uint64_t encoded = 0;  // pictures grabbed and encoded
        std::uint64_t reused = 0;   // answered with the previous JPEG
        std::uint64_t joined = 0;   // requests that joined an equal one
        std::uint64_t failed = 0;   // answered with nothing
    };
    [[nodiscard]] Counters counters() const;

private:
    struct Job {
        CaptureRequest request;
        std::vector<Done> waiting;
    };
    struct Worker;

    void run();
    void finish(std::vector<Done> waiting, std::optional<Bytes> jpeg);

    MainLoop& loop_;
    const std::string displayName_;
    const Options options_;
    std::string method_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    std::unique_ptr<Job> current_;  // being made; joined by equal requests
    bool stopping_ = false;
    bool available_ = false;
    std::string reason_;
    Counters counters_;
    std::unique_ptr<Worker> worker_;  // only the worker thread touches it after construction
    std::thread thread_;
};

}  // namespace tamborix::x11
