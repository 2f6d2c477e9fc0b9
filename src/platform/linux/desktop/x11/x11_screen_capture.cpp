#include "platform/linux/desktop/x11/x11_screen_capture.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include "base/user_text.h"
#include "platform/linux/support/jpeg/frame_encoder.h"
#include "platform/linux/desktop/x11/screen_grabber.h"

namespace tamborix::x11 {
namespace {

PixelRect pixels(const Rect& r) {
    // Regions come from integer monitor bounds and an integer pointer, less half of 900 or 560;
    // rounding only guards against a stray fraction.
    return {static_cast<int>(std::lround(r.x)), static_cast<int>(std::lround(r.y)),
            static_cast<int>(std::lround(r.width)), static_cast<int>(std::lround(r.height))};
}

struct PointerState {
    int x = 0;
    int y = 0;
    std::uint32_t serial = 0;
    friend bool operator==(const PointerState&, const PointerState&) = default;
};

}  // namespace

// Everything the worker thread owns.
struct X11ScreenCapture::WorkerState {
    std::unique_ptr<ScreenGrabber> grabber;
    jpeg::FrameEncoder encoder;
    // The last picture made, for the unchanged-screen shortcut.
    struct Last {
        CaptureRequest request;
        std::optional<PointerState> pointer;
        Bytes jpeg;
    };
    std::optional<Last> last;
};

X11ScreenCapture::X11ScreenCapture(MainLoop& loop, std::string displayName, Options options)
    : displayName_(std::move(displayName)), options_(options), worker_(std::make_unique<WorkerState>()) {
    std::string why;
    worker_->grabber = ScreenGrabber::open(displayName_, why, options_.sharedMemory);
    available_ = worker_->grabber != nullptr;
    reason_ = available_ ? std::string() : why;
    method_ = available_ ? worker_->grabber->method() : std::string();
    jobs_ = std::make_unique<jpeg::CaptureJobs>(loop, "tamborix-grab",
                                                [this](const CaptureRequest& r) { return make(r); });
}

X11ScreenCapture::~X11ScreenCapture() = default;

bool X11ScreenCapture::available() const {
    std::lock_guard lock(mutex_);
    return available_;
}

std::string X11ScreenCapture::unavailableReason() const {
    std::lock_guard lock(mutex_);
    return reason_;
}

X11ScreenCapture::Counters X11ScreenCapture::counters() const { return jobs_->counters(); }

void X11ScreenCapture::capture(const CaptureRequest& request, Done done) { jobs_->add(request, std::move(done)); }

void X11ScreenCapture::captureFinished(const CaptureRequest& request, Finish finish, FinishedDone done) {
    jobs_->add(request, std::move(finish), std::move(done));
}

jpeg::CaptureJobs::Made X11ScreenCapture::make(const CaptureRequest& request) {
    WorkerState& w = *worker_;
    // A lost connection is not opened again: whatever answers at the same display name later
    // is another server (display numbers are handed out afresh), not the session the helper
    // was started in and whose input and windows it controls. Every request then gets nothing.
    if (w.grabber && !w.grabber->alive()) {
        w.grabber.reset();
        w.last.reset();
    }
    std::string why;

    std::optional<Bytes> jpeg;
    bool reused = false;
    std::optional<PointerState> pointerSeen;
    if (w.grabber) {
        const PixelRect area = pixels(request.region);
        // Asked before grabbing: whatever is drawn from now on shows in the next answer.
        const bool changed = w.grabber->changedSince(area);
        std::optional<CursorImage> cursor;
        if (request.showCursor) cursor = w.grabber->cursor();
        std::optional<PointerState> pointer;
        if (cursor) pointer = PointerState{cursor->pointerX, cursor->pointerY, cursor->serial};
        pointerSeen = pointer;

        if (!changed && w.last && w.last->request == request && w.last->pointer == pointer) {
            jpeg = w.last->jpeg;
            reused = true;
        } else if (auto g = w.grabber->grab(area)) {
            if (cursor) drawCursor(g->data, g->stride, g->width, g->height, area.x, area.y, *cursor);
            jpeg = w.encoder.encode({g->data, g->stride, g->width, g->height}, request.width,
                                    request.height, request.quality);
        }
        if (jpeg && !reused) {
            w.last = WorkerState::Last{request, pointer, *jpeg};
        } else if (!jpeg) {
            w.last.reset();
        }
        if (!w.grabber->alive()) why = userText("X11", "the X connection to %1 was lost").with({displayName_});
    }

    {
        std::lock_guard lock(mutex_);
        const bool up = w.grabber && w.grabber->alive();
        available_ = up;
        if (!up && !why.empty()) reason_ = why;
        if (up) reason_.clear();
    }
    std::optional<Point> at;
    if (pointerSeen) at = Point{static_cast<double>(pointerSeen->x), static_cast<double>(pointerSeen->y)};
    return {std::move(jpeg), reused, at};
}

}  // namespace tamborix::x11
