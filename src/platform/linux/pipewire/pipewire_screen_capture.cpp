#include "platform/linux/pipewire/pipewire_screen_capture.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "platform/linux/jpeg/frame_encoder.h"
#include "platform/linux/pipewire/pipewire_stream.h"

namespace tamborix::pipewire {

struct PipeWireScreenCapture::Worker {
    jpeg::FrameEncoder encoder;
    std::map<std::uint32_t, Frame> frames;  // by node, reused between requests
    std::uint64_t framesOf = 0;  // the generation of streams `frames` came from
};

PipeWireScreenCapture::PipeWireScreenCapture(MainLoop& loop, std::string reason)
    : loop_(loop), reason_(std::move(reason)), worker_(std::make_unique<Worker>()) {
    thread_ = std::thread([this] { run(); });
}

PipeWireScreenCapture::~PipeWireScreenCapture() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    // Requests never made are answered like any failed capture, on the loop, as promised.
    for (auto& job : queue_) loop_.post([done = std::move(job.done)] { done(std::nullopt); });
}

void PipeWireScreenCapture::setStreams(int fd, std::vector<CastDisplay> displays, std::string reason) {
    std::shared_ptr<PipeWireStreams> streams;
    if (fd >= 0) {
        std::vector<std::uint32_t> nodes;
        for (const auto& d : displays) nodes.push_back(d.node);
        std::string error;
        streams = PipeWireStreams::open(fd, nodes, error);
        if (!streams) reason = error;
    }
    std::shared_ptr<PipeWireStreams> old;
    {
        std::lock_guard lock(mutex_);
        old = std::move(streams_);
        streams_ = std::move(streams);
        ++generation_;
        displays_ = streams_ ? std::move(displays) : std::vector<CastDisplay>{};
        reason_ = streams_ ? std::string() : std::move(reason);
    }
    // `old` may still be read by the worker; the last owner closes it.
}

bool PipeWireScreenCapture::available() const {
    std::lock_guard lock(mutex_);
    return streams_ != nullptr && !displays_.empty();
}

std::string PipeWireScreenCapture::unavailableReason() const {
    std::lock_guard lock(mutex_);
    if (streams_) return streams_->error();
    return reason_;
}

void PipeWireScreenCapture::capture(const CaptureRequest& request, Done done) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({request, std::move(done)});
    }
    wake_.notify_one();
}

void PipeWireScreenCapture::run() {
    for (;;) {
        Job job;
        std::shared_ptr<PipeWireStreams> streams;
        std::optional<CastDisplay> display;
        std::uint64_t generation = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            streams = streams_;
            generation = generation_;
            for (const auto& d : displays_) {
                if (d.display == job.request.display) display = d;
            }
        }
        std::optional<Bytes> jpeg;
        if (generation != worker_->framesOf) {
            worker_->frames.clear();
            worker_->framesOf = generation;
        }
        if (streams && display) {
            Frame& frame = worker_->frames[display->node];
            (void)streams->newest(display->node, frame);
            const Rect source = job.request.sourceRect();
            if (frame.serial != 0 && display->bounds.width > 0 && display->bounds.height > 0) {
                // The stream may carry more pixels than the monitor's logical size (a scaled
                // monitor): the region is taken in the stream's own pixels.
                const double sx = frame.width / display->bounds.width;
                const double sy = frame.height / display->bounds.height;
                const int x0 = std::clamp(static_cast<int>(std::lround(source.x * sx)), 0, frame.width);
                const int y0 = std::clamp(static_cast<int>(std::lround(source.y * sy)), 0, frame.height);
                const int x1 = std::clamp(static_cast<int>(std::lround((source.x + source.width) * sx)), x0, frame.width);
                const int y1 = std::clamp(static_cast<int>(std::lround((source.y + source.height) * sy)), y0, frame.height);
                if (x1 > x0 && y1 > y0) {
                    jpeg::PixelsView view{frame.pixels.data() + (std::size_t(y0) * std::size_t(frame.width) + std::size_t(x0)) * 4,
                                          frame.width * 4, x1 - x0, y1 - y0};
                    jpeg = worker_->encoder.encode(view, job.request.width, job.request.height,
                                                   job.request.quality);
                }
            }
        }
        loop_.post([done = std::move(job.done), jpeg = std::move(jpeg)]() mutable { done(std::move(jpeg)); });
    }
}

}  // namespace tamborix::pipewire
