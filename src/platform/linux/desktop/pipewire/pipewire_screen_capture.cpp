#include "platform/linux/desktop/pipewire/pipewire_screen_capture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/linux/support/jpeg/frame_encoder.h"
#include "platform/linux/desktop/pipewire/pipewire_stream.h"

namespace tamborix::pipewire {

namespace {

// `source` (the display's own coordinates) in the stream's pixels, which may be more than the
// monitor's logical size on a scaled monitor; empty when nothing of it is in the frame.
struct Cut {
    int x = 0, y = 0, width = 0, height = 0;
};
Cut cutOf(const Rect& source, const Rect& bounds, int frameWidth, int frameHeight) {
    const double sx = frameWidth / bounds.width;
    const double sy = frameHeight / bounds.height;
    const auto at = [](double v, double scale, int limit, int low) {
        return std::clamp(static_cast<int>(std::lround(v * scale)), low, limit);
    };
    const int x0 = at(source.x, sx, frameWidth, 0);
    const int y0 = at(source.y, sy, frameHeight, 0);
    const int x1 = at(source.x + source.width, sx, frameWidth, x0);
    const int y1 = at(source.y + source.height, sy, frameHeight, y0);
    return {x0, y0, x1 - x0, y1 - y0};
}

}  // namespace

struct PipeWireScreenCapture::WorkerState {
    jpeg::FrameEncoder encoder;
    std::vector<std::uint8_t> cut;  // the region, as 0xAARRGGBB words, reused between requests
    struct Last {
        CaptureRequest request;
        std::uint64_t generation = 0;
        std::uint64_t serial = 0;
        Bytes jpeg;
    };
    std::optional<Last> last;
};

PipeWireScreenCapture::PipeWireScreenCapture(MainLoop& loop, std::string reason,
                                             std::chrono::milliseconds setupLimit)
    : setupLimit_(setupLimit), reason_(std::move(reason)), worker_(std::make_unique<WorkerState>()) {
    jobs_ = std::make_unique<jpeg::CaptureJobs>(loop, "tamborix-cast",
                                                [this](const CaptureRequest& r) { return make(r); });
}

PipeWireScreenCapture::~PipeWireScreenCapture() = default;

void PipeWireScreenCapture::setStreams(UniqueFd fd, std::vector<CastDisplay> displays, std::string reason) {
    std::shared_ptr<PipeWireStreams> streams;
    if (fd) {
        std::vector<std::uint32_t> nodes;
        for (const auto& d : displays) nodes.push_back(d.node);
        std::string error;
        streams = PipeWireStreams::open(std::move(fd), nodes, setupLimit_, error);
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
    return streams_ != nullptr && !displays_.empty() && streams_->error().empty();
}

std::string PipeWireScreenCapture::unavailableReason() const {
    std::lock_guard lock(mutex_);
    if (streams_) return streams_->error();
    return reason_;
}

PipeWireScreenCapture::Counters PipeWireScreenCapture::counters() const { return jobs_->counters(); }

void PipeWireScreenCapture::capture(const CaptureRequest& request, Done done) {
    jobs_->add(request, std::move(done));
}

void PipeWireScreenCapture::captureFinished(const CaptureRequest& request, Finish finish, FinishedDone done) {
    jobs_->add(request, std::move(finish), std::move(done));
}

jpeg::CaptureJobs::Made PipeWireScreenCapture::make(const CaptureRequest& request) {
    WorkerState& w = *worker_;
    std::shared_ptr<PipeWireStreams> streams;
    std::optional<CastDisplay> display;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        streams = streams_;
        generation = generation_;
        for (const auto& d : displays_) {
            if (d.display == request.display) display = d;
        }
    }

    std::optional<Bytes> jpeg;
    bool reused = false;
    if (streams && display && display->bounds.width > 0 && display->bounds.height > 0) {
        std::uint64_t serial = 0;
        Cut cut;
        const bool framed = streams->read(display->node, [&](const MappedFrame& f) {
            serial = f.serial;
            if (w.last && w.last->request == request && w.last->generation == generation &&
                w.last->serial == serial) {
                return;  // nothing new on the screen: the last answer still holds
            }
            cut = cutOf(request.sourceRect(), display->bounds, f.width, f.height);
            if (cut.width <= 0 || cut.height <= 0) return;
            // Copied out while the stream waits; converted as copied, encoded after.
            const std::size_t row = std::size_t(cut.width) * 4;
            w.cut.resize(row * std::size_t(cut.height));
            for (int y = 0; y < cut.height; ++y) {
                const std::uint8_t* in = f.data + std::size_t(cut.y + y) * std::size_t(f.stride) +
                                         std::size_t(cut.x) * 4;
                std::uint8_t* out = w.cut.data() + std::size_t(y) * row;
                if (!f.redFirst) {
                    std::memcpy(out, in, row);
                    continue;
                }
                for (int x = 0; x < cut.width; ++x, in += 4, out += 4) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                    out[3] = in[3];
                }
            }
        });
        if (framed && w.last && w.last->request == request && w.last->generation == generation &&
            w.last->serial == serial) {
            jpeg = w.last->jpeg;
            reused = true;
        } else if (framed && cut.width > 0 && cut.height > 0) {
            jpeg = w.encoder.encode({w.cut.data(), cut.width * 4, cut.width, cut.height}, request.width,
                                    request.height, request.quality);
        }
        if (jpeg && !reused) {
            w.last = WorkerState::Last{request, generation, serial, *jpeg};
        } else if (!jpeg) {
            w.last.reset();
        }
    }

    return {std::move(jpeg), reused, std::nullopt};
}

}  // namespace tamborix::pipewire
