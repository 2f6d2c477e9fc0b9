#pragma once
// ScreenCapture from screen-cast PipeWire streams: each display is one stream, whose newest frame
// is cropped to the region, scaled and encoded by the same encoder as the X11 capture, on a worker
// thread of this object; the answer comes back through the main loop's post. The desktop draws the
// pointer into the stream itself. A request equal to one already waiting or being made joins it,
// and while the stream sent no new frame the last JPEG of the same request is sent again.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "platform/linux/support/capture/capture_jobs.h"
#include "ports/main_loop.h"
#include "ports/screen_capture.h"

namespace tamborix::pipewire {

class PipeWireStreams;

struct CastDisplay {
    std::uint32_t display = 0;  // DisplayInfo::id
    std::uint32_t node = 0;     // the PipeWire node of its stream
    Rect bounds;                // global coordinates
};

class PipeWireScreenCapture final : public ScreenCapture {
public:
    // Unavailable, with `reason`, until setStreams() hands over streams. Streams that are not
    // running `setupLimit` after they were handed over count as failed.
    PipeWireScreenCapture(MainLoop& loop, std::string reason,
                          std::chrono::milliseconds setupLimit = std::chrono::seconds(5));
    ~PipeWireScreenCapture() override;
    PipeWireScreenCapture(const PipeWireScreenCapture&) = delete;
    PipeWireScreenCapture& operator=(const PipeWireScreenCapture&) = delete;

    // Connects through `fd` (a PipeWire remote) to the streams of `displays`; without one
    // capture stops and `reason` says why.
    void setStreams(UniqueFd fd, std::vector<CastDisplay> displays, std::string reason);

    [[nodiscard]] bool available() const override;
    [[nodiscard]] std::string unavailableReason() const override;
    void capture(const CaptureRequest& request, Done done) override;
    void captureFinished(const CaptureRequest& request, Finish finish, FinishedDone done) override;

    // Encoded: cut from a frame and encoded; reused: no new frame since, the previous JPEG.
    using Counters = jpeg::CaptureJobs::Counters;
    [[nodiscard]] Counters counters() const;

private:
    struct WorkerState;
    [[nodiscard]] jpeg::CaptureJobs::Made make(const CaptureRequest& request);

    const std::chrono::milliseconds setupLimit_;
    mutable std::mutex mutex_;  // guards what follows, up to the worker
    std::string reason_;
    std::vector<CastDisplay> displays_;
    std::shared_ptr<PipeWireStreams> streams_;  // shared with the request being made
    std::uint64_t generation_ = 0;              // counts setStreams()
    std::unique_ptr<WorkerState> worker_;            // only the worker thread touches it
    // Last: its thread, which uses everything above, ends first.
    std::unique_ptr<jpeg::CaptureJobs> jobs_;
};

}  // namespace tamborix::pipewire
