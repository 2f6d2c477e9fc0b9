#pragma once
// The requests of a capture backend, made one at a time on a worker thread of its own (lowered
// like every encoding thread). A request equal to one waiting or being made joins it; every
// request is answered once, through the main loop's post, also those never made because the
// backend went away first. A request with a Finish has it applied here, on the worker thread,
// for each of its waiters.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/worker.h"
#include "ports/main_loop.h"
#include "ports/screen_capture.h"

namespace tamborix::jpeg {

class CaptureJobs {
public:
    struct Counters {
        std::uint64_t encoded = 0;  // pictures made and encoded
        std::uint64_t reused = 0;   // answered with the previous JPEG
        std::uint64_t joined = 0;   // requests that joined an equal one
        std::uint64_t failed = 0;   // answered with nothing
    };
    struct Made {
        std::optional<Bytes> jpeg;  // nothing: the capture failed
        bool reused = false;
        std::optional<Point> pointer;  // where the pointer was, if the capture learnt it
    };
    // Runs on the worker thread, one request at a time.
    using Make = std::function<Made(const CaptureRequest&)>;

    CaptureJobs(MainLoop& loop, const char* threadName, Make make);
    // Waits for the request being made; the rest are answered with nothing.
    ~CaptureJobs();
    CaptureJobs(const CaptureJobs&) = delete;
    CaptureJobs& operator=(const CaptureJobs&) = delete;

    void add(const CaptureRequest& request, ScreenCapture::Done done);
    void add(const CaptureRequest& request, ScreenCapture::Finish finish, ScreenCapture::FinishedDone done);
    [[nodiscard]] Counters counters() const;

private:
    struct Waiter {
        ScreenCapture::Finish finish;  // empty for a plain capture
        ScreenCapture::FinishedDone done;
    };
    struct Job {
        CaptureRequest request;
        std::vector<Waiter> waiting;
    };
    void addWaiter(const CaptureRequest& request, Waiter waiter);
    void makeNext();
    // Applies each waiter's Finish (on the calling thread), then answers them on the loop.
    void finish(std::vector<Waiter> waiting, Made made);

    MainLoop& loop_;
    const Make make_;
    mutable std::mutex mutex_;  // guards the members below
    std::deque<Job> queue_;
    std::unique_ptr<Job> current_;
    Counters counters_;
    Worker worker_{Worker::AtStop::dropQueued};  // one job per queued request
};

}  // namespace tamborix::jpeg
