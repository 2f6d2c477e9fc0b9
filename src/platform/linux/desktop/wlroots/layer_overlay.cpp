#include "platform/linux/desktop/wlroots/layer_overlay.h"

#include <unistd.h>

#include <cmath>

namespace tamborix::wlroots {

namespace {

const wl_buffer_listener bufferListener{
    [](void* data, wl_buffer*) { static_cast<ShmPicture*>(data)->busy = false; },
};

const zwlr_layer_surface_v1_listener layerListener{
    [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t, std::uint32_t) {
        static_cast<LayerOverlay*>(data)->configured(serial);
    },
    [](void* data, zwlr_layer_surface_v1*) { static_cast<LayerOverlay*>(data)->closed(); },
};

const wl_callback_listener frameListener{
    [](void* data, wl_callback*, std::uint32_t) { static_cast<LayerOverlay*>(data)->frameDone(); },
};

std::int32_t whole(double v) { return static_cast<std::int32_t>(std::lround(v)); }

}  // namespace

ShmPicture::ShmPicture(wl_shm* shm, int size) : bytes(std::size_t(size) * size * 4) {
    fd.reset(::memfd_create("tamborix-overlay", MFD_CLOEXEC));
    if (!fd || ::ftruncate(fd.get(), static_cast<off_t>(bytes)) != 0) return;
    data = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (data == MAP_FAILED) return;
    wayland::Proxy<wl_shm_pool> pool(wl_shm_create_pool(shm, fd.get(), static_cast<std::int32_t>(bytes)));
    buffer.reset(wl_shm_pool_create_buffer(pool.get(), 0, size, size, size * 4, WL_SHM_FORMAT_ARGB8888));
    if (buffer) wl_buffer_add_listener(buffer.get(), &bufferListener, this);
}

ShmPicture::~ShmPicture() {
    buffer.reset();
    if (data != MAP_FAILED) ::munmap(data, bytes);
}

LayerOverlay::LayerOverlay(wayland::WaylandConnection& conn, const OutputLayout& layout,
                           const WlrOverlaySurface::Globals& globals, int size, std::string name, Draw draw,
                           bool animated)
    : conn_(conn), layout_(layout), globals_(globals), size_(size), name_(std::move(name)), draw_(std::move(draw)),
      animated_(animated) {}

LayerOverlay::~LayerOverlay() {
    drop();
    conn_.flush();
}

void LayerOverlay::show(Point origin) {
    shown_ = true;
    finished_ = false;
    start_ = std::chrono::steady_clock::now();
    place(origin);
    // A surface already configured shows the picture from its start now; a new one once the
    // compositor has configured it.
    if (configured_) present();
    conn_.flush();
}

void LayerOverlay::move(Point origin) {
    if (!shown_) return;
    place(origin);
    conn_.flush();
}

void LayerOverlay::hide() {
    shown_ = false;
    drop();
    conn_.flush();
}

void LayerOverlay::place(Point origin) {
    origin_ = origin;
    const Point centre{origin.x + size_ / 2.0, origin.y + size_ / 2.0};
    // The output under the centre; off every output, the first (the pointer is clamped to the
    // layout, so this is only an overlay placed by hand outside it).
    const Output* target = nullptr;
    for (const auto& o : layout_.outputs()) {
        if (!o->complete) continue;
        if (!target) target = o.get();
        if (o->logical.contains(centre)) {
            target = o.get();
            break;
        }
    }
    if (!target) {
        drop();
        return;
    }
    if (!layer_ || target->globalName != outputName_ || target->logical != outputBounds_) {
        drop();
        make(*target);
        return;
    }
    zwlr_layer_surface_v1_set_margin(layer_.get(), whole(origin.y - outputBounds_.y), 0, 0,
                                     whole(origin.x - outputBounds_.x));
    if (configured_) wl_surface_commit(surface_.get());
}

void LayerOverlay::make(const Output& output) {
    outputName_ = output.globalName;
    outputBounds_ = output.logical;
    configured_ = false;
    surface_.reset(wl_compositor_create_surface(globals_.compositor.get()));
    // An empty region: every click goes through to what lies below.
    wayland::Proxy<wl_region> none(wl_compositor_create_region(globals_.compositor.get()));
    wl_surface_set_input_region(surface_.get(), none.get());
    layer_.reset(zwlr_layer_shell_v1_get_layer_surface(globals_.shell.get(), surface_.get(), output.output.get(),
                                                       ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, name_.c_str()));
    zwlr_layer_surface_v1_add_listener(layer_.get(), &layerListener, this);
    zwlr_layer_surface_v1_set_size(layer_.get(), size_, size_);
    zwlr_layer_surface_v1_set_anchor(layer_.get(),
                                     ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
    // Placed where asked, whatever panels reserve.
    zwlr_layer_surface_v1_set_exclusive_zone(layer_.get(), -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(layer_.get(),
                                                     ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    zwlr_layer_surface_v1_set_margin(layer_.get(), whole(origin_.y - outputBounds_.y), 0, 0,
                                     whole(origin_.x - outputBounds_.x));
    wl_surface_commit(surface_.get());
}

void LayerOverlay::drop() {
    frame_.reset();
    layer_.reset();
    surface_.reset();
    outputName_ = 0;
    configured_ = false;
}

void LayerOverlay::configured(std::uint32_t serial) {
    if (!layer_) return;
    zwlr_layer_surface_v1_ack_configure(layer_.get(), serial);
    if (!configured_) {
        configured_ = true;
        present();
    } else {
        wl_surface_commit(surface_.get());
    }
    conn_.flush();
}

void LayerOverlay::closed() {
    // The compositor took the surface away (its output went): made again at the next move.
    drop();
}

void LayerOverlay::frameDone() {
    frame_.reset();
    if (shown_ && !finished_) present();
    conn_.flush();
}

void LayerOverlay::present() {
    if (!surface_ || !configured_) return;
    // The still picture is drawn once; every frame of an animation into a buffer the compositor
    // no longer reads.
    ShmPicture* free = nullptr;
    for (auto& p : pictures_) {
        if (!p->busy) {
            free = p.get();
            break;
        }
    }
    const bool drawn = !animated_ && !pictures_.empty();
    if (!drawn && !free) {
        if (pictures_.size() >= 2) {
            // Both still read: try again at the next frame.
            frame_.reset(wl_surface_frame(surface_.get()));
            wl_callback_add_listener(frame_.get(), &frameListener, this);
            wl_surface_commit(surface_.get());
            return;
        }
        pictures_.push_back(std::make_unique<ShmPicture>(globals_.shm.get(), size_));
        free = pictures_.back().get();
        if (!free->valid()) {
            pictures_.pop_back();
            return;
        }
    }
    ShmPicture* picture = drawn ? pictures_.front().get() : free;
    if (!drawn) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        finished_ = !draw_(picture->pixels(), size_, seconds) && animated_;
    }
    picture->busy = true;
    wl_surface_attach(surface_.get(), picture->buffer.get(), 0, 0);
    wl_surface_damage(surface_.get(), 0, 0, size_, size_);
    if (animated_ && !finished_) {
        frame_.reset(wl_surface_frame(surface_.get()));
        wl_callback_add_listener(frame_.get(), &frameListener, this);
    }
    wl_surface_commit(surface_.get());
}

}  // namespace tamborix::wlroots
