#include "platform/linux/desktop/wlroots/wlr_screen_capture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "base/user_text.h"
#include "base/mapping.h"
#include "base/unique_fd.h"
#include "platform/linux/support/jpeg/frame_encoder.h"
#include "platform/linux/support/wayland/proxy.h"
#include "platform/linux/support/wayland/wayland_connection.h"
#include "wayland/screencopy.h"

namespace tamborix::wlroots {

namespace {

// A compositor that does not answer within this long is taken to have failed the frame.
constexpr int frameTimeoutMs = 2000;

struct FrameState {
    std::uint32_t format = 0, width = 0, height = 0, stride = 0, flags = 0;
    bool buffer = false, bufferDone = false, ready = false, failed = false, damaged = false;
};

const zwlr_screencopy_frame_v1_listener frameListener{
    [](void* d, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t w, std::uint32_t h, std::uint32_t stride) {
        auto* f = static_cast<FrameState*>(d);
        // The first shared-memory format offered is taken.
        if (f->buffer) return;
        *f = FrameState{format, w, h, stride, f->flags, true, false, false, false};
    },
    [](void* d, zwlr_screencopy_frame_v1*, std::uint32_t flags) { static_cast<FrameState*>(d)->flags = flags; },
    [](void* d, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {
        static_cast<FrameState*>(d)->ready = true;
    },
    [](void* d, zwlr_screencopy_frame_v1*) { static_cast<FrameState*>(d)->failed = true; },
    [](void* d, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
        static_cast<FrameState*>(d)->damaged = true;
    },
    [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {},
    [](void* d, zwlr_screencopy_frame_v1*) { static_cast<FrameState*>(d)->bufferDone = true; },
};

bool blueFirst(std::uint32_t format) {
    return format == WL_SHM_FORMAT_ARGB8888 || format == WL_SHM_FORMAT_XRGB8888;
}
bool redFirst(std::uint32_t format) {
    return format == WL_SHM_FORMAT_ABGR8888 || format == WL_SHM_FORMAT_XBGR8888;
}

}  // namespace

struct WlrScreenCapture::Worker {
    std::unique_ptr<wayland::WaylandConnection> conn;
    wayland::Proxy<zwlr_screencopy_manager_v1> manager;
    wayland::Proxy<wl_shm> shm;
    std::map<std::uint32_t, wayland::Proxy<wl_output>> outputs;  // by global name
    // The shared-memory buffer, kept while frames keep their size and format.
    struct Buffer {
        UniqueFd fd;
        Mapping data;
        std::size_t size = 0;
        std::uint32_t format = 0, width = 0, height = 0, stride = 0;
        wayland::Proxy<wl_buffer> buffer;  // dropped before the memory it shows
    };
    std::unique_ptr<Buffer> buffer;
    std::vector<std::uint8_t> converted;
    jpeg::FrameEncoder encoder;

    // The last picture and, while nothing on its output has changed since, a copy asked to wait
    // for the next damage into the same buffer (only the capture thread reads that buffer, and
    // never between two requests): while that copy is still waiting, the picture holds.
    struct Last {
        CaptureRequest request;
        std::optional<Point> pointer;
        Bytes jpeg;
        FrameState watchState;
        wayland::Proxy<zwlr_screencopy_frame_v1> watch;
    };
    std::unique_ptr<Last> last;

    struct Region {
        std::int32_t x, y, width, height;
    };
    // Leaves a copy of `region` waiting for the output's next damage, into the buffer just read.
    void watch(const CaptureRequest& request, const std::optional<Point>& pointer, const Bytes& jpeg,
               wl_output* output, const Region& region, const Buffer& b) {
        auto next = std::make_unique<Last>();
        next->request = request;
        next->pointer = pointer;
        next->jpeg = jpeg;
        next->watch.reset(zwlr_screencopy_manager_v1_capture_output_region(
            manager.get(), request.showCursor ? 1 : 0, output, region.x, region.y, region.width, region.height));
        FrameState& f = next->watchState;
        zwlr_screencopy_frame_v1_add_listener(next->watch.get(), &frameListener, &f);
        // The buffer must suit the frame: the same region of an output whose mode did not change.
        const bool announcesAll = wl_proxy_get_version(reinterpret_cast<wl_proxy*>(next->watch.get())) >= 3;
        if (!conn->dispatchUntil([&] { return f.failed || (f.buffer && (!announcesAll || f.bufferDone)); },
                                 frameTimeoutMs) ||
            f.failed || f.format != b.format || f.width != b.width || f.height != b.height || f.stride != b.stride) {
            return;
        }
        zwlr_screencopy_frame_v1_copy_with_damage(next->watch.get(), b.buffer.get());
        conn->flush();
        last = std::move(next);
    }

    [[nodiscard]] bool unchanged(const CaptureRequest& request, const std::optional<Point>& pointer) {
        if (!last || !last->watch || last->request != request || last->pointer != pointer) return false;
        conn->dispatchPending();
        return !last->watchState.ready && !last->watchState.failed && !last->watchState.damaged;
    }

    bool connect(const std::string& display, std::string& why) {
        if (conn && conn->alive()) return true;
        last.reset();
        outputs.clear();
        buffer.reset();
        manager.reset();
        shm.reset();
        conn = wayland::WaylandConnection::connect(display, why);
        if (!conn) return false;
        manager.reset(conn->bind<zwlr_screencopy_manager_v1>(zwlr_screencopy_manager_v1_interface, 3));
        shm.reset(conn->bind<wl_shm>(wl_shm_interface, 1));
        if (!manager || !shm) {
            why = userText("Wlroots", "the compositor offers no screencopy").str();
            conn.reset();
            return false;
        }
        return true;
    }

    wl_output* output(std::uint32_t name) {
        if (auto it = outputs.find(name); it != outputs.end()) return it->second.get();
        for (const auto& g : conn->globals()) {
            if (g.name == name && g.interface == wl_output_interface.name) {
                auto& o = outputs[name];
                o.reset(conn->bindName<wl_output>(g, wl_output_interface, 1));
                return o.get();
            }
        }
        return nullptr;
    }

    Buffer* bufferFor(const FrameState& f) {
        if (buffer && buffer->format == f.format && buffer->width == f.width && buffer->height == f.height &&
            buffer->stride == f.stride) {
            return buffer.get();
        }
        buffer.reset();
        auto b = std::make_unique<Buffer>();
        b->size = std::size_t(f.stride) * f.height;
        b->fd.reset(::memfd_create("tamborix-screencopy", MFD_CLOEXEC));
        if (!b->fd || ::ftruncate(b->fd.get(), static_cast<off_t>(b->size)) != 0) return nullptr;
        b->data = Mapping(b->fd.get(), b->size, PROT_READ | PROT_WRITE, MAP_SHARED);
        if (!b->data.valid()) return nullptr;
        wayland::Proxy<wl_shm_pool> pool(wl_shm_create_pool(shm.get(), b->fd.get(), static_cast<std::int32_t>(b->size)));
        b->buffer.reset(wl_shm_pool_create_buffer(pool.get(), 0, static_cast<std::int32_t>(f.width),
                                                  static_cast<std::int32_t>(f.height),
                                                  static_cast<std::int32_t>(f.stride), f.format));
        b->format = f.format, b->width = f.width, b->height = f.height, b->stride = f.stride;
        buffer = std::move(b);
        return buffer.get();
    }
};

WlrScreenCapture::WlrScreenCapture(MainLoop& loop, std::string display, bool offered, PointerFn pointer)
    : display_(std::move(display)), pointer_(std::move(pointer)), worker_(std::make_unique<Worker>()) {
    if (!offered) reason_ = userText("Wlroots", "the compositor offers no screencopy (zwlr_screencopy_manager_v1)").str();
    jobs_ = std::make_unique<jpeg::CaptureJobs>(loop, "tamborix-grab", [this](const CaptureRequest& r) { return make(r); });
}

WlrScreenCapture::~WlrScreenCapture() { jobs_.reset(); }

bool WlrScreenCapture::available() const {
    std::lock_guard lock(mutex_);
    return reason_.empty();
}

std::string WlrScreenCapture::unavailableReason() const {
    std::lock_guard lock(mutex_);
    return reason_;
}

void WlrScreenCapture::capture(const CaptureRequest& request, Done done) {
    if (pointer_) {
        std::lock_guard lock(mutex_);
        pointerNow_ = pointer_();
    }
    jobs_->add(request, std::move(done));
}

WlrScreenCapture::Counters WlrScreenCapture::counters() const { return jobs_->counters(); }

void WlrScreenCapture::captureFinished(const CaptureRequest& request, Finish finish, FinishedDone done) {
    jobs_->add(request, std::move(finish), std::move(done));
}

jpeg::CaptureJobs::Made WlrScreenCapture::make(const CaptureRequest& request) {
    Worker& w = *worker_;
    std::string why;
    if (!available() || !w.connect(display_, why)) return {};
    std::optional<Point> pointer;
    {
        std::lock_guard lock(mutex_);
        pointer = pointerNow_;
    }
    if (w.unchanged(request, pointer)) return {w.last->jpeg, true, std::nullopt};
    w.last.reset();
    wl_output* output = w.output(request.display);
    if (!output) return {};
    const Rect src = request.sourceRect();
    const auto x = static_cast<std::int32_t>(std::lround(src.x));
    const auto y = static_cast<std::int32_t>(std::lround(src.y));
    const auto width = static_cast<std::int32_t>(std::lround(src.width));
    const auto height = static_cast<std::int32_t>(std::lround(src.height));
    if (width <= 0 || height <= 0) return {};

    FrameState f;
    wayland::Proxy<zwlr_screencopy_frame_v1> frame(zwlr_screencopy_manager_v1_capture_output_region(
        w.manager.get(), request.showCursor ? 1 : 0, output, x, y, width, height));
    zwlr_screencopy_frame_v1_add_listener(frame.get(), &frameListener, &f);
    // From version 3 on, every buffer type is announced before buffer_done.
    const bool announcesAll = wl_proxy_get_version(reinterpret_cast<wl_proxy*>(frame.get())) >= 3;
    if (!w.conn->dispatchUntil([&] { return f.failed || (f.buffer && (!announcesAll || f.bufferDone)); }, frameTimeoutMs) ||
        f.failed || !(blueFirst(f.format) || redFirst(f.format))) {
        return {};
    }
    Worker::Buffer* b = w.bufferFor(f);
    if (!b) return {};
    zwlr_screencopy_frame_v1_copy(frame.get(), b->buffer.get());
    if (!w.conn->dispatchUntil([&] { return f.ready || f.failed; }, frameTimeoutMs) || f.failed) return {};

    const auto* pixels = static_cast<const std::uint8_t*>(b->data.data());
    const bool flip = (f.flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
    if (flip || redFirst(f.format)) {
        // Rows upright and blue first, as the encoder reads them.
        w.converted.resize(b->size);
        for (std::uint32_t row = 0; row < f.height; ++row) {
            const std::uint8_t* in = pixels + std::size_t(flip ? f.height - 1 - row : row) * f.stride;
            std::uint8_t* out = w.converted.data() + std::size_t(row) * f.stride;
            std::memcpy(out, in, f.stride);
            if (redFirst(f.format)) {
                for (std::uint32_t i = 0; i < f.width; ++i) std::swap(out[i * 4], out[i * 4 + 2]);
            }
        }
        pixels = w.converted.data();
    }
    jpeg::CaptureJobs::Made made;
    made.jpeg = w.encoder.encode({pixels, static_cast<int>(f.stride), static_cast<int>(f.width), static_cast<int>(f.height)},
                                 request.width, request.height, request.quality);
    if (made.jpeg && wl_proxy_get_version(reinterpret_cast<wl_proxy*>(frame.get())) >=
                         ZWLR_SCREENCOPY_FRAME_V1_COPY_WITH_DAMAGE_SINCE_VERSION) {
        w.watch(request, pointer, *made.jpeg, output, {x, y, width, height}, *b);
    }
    return made;
}

}  // namespace tamborix::wlroots
