#include "platform/linux/desktop/wlroots/output_layout.h"

#include <algorithm>
#include <cstring>

namespace tamborix::wlroots {

namespace {

void logicalPosition(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
    auto* o = static_cast<Output*>(data);
    o->logical.x = x;
    o->logical.y = y;
}
void logicalSize(void* data, zxdg_output_v1*, std::int32_t w, std::int32_t h) {
    auto* o = static_cast<Output*>(data);
    o->logical.width = w;
    o->logical.height = h;
}
void name(void* data, zxdg_output_v1*, const char* n) { static_cast<Output*>(data)->name = n; }
void description(void*, zxdg_output_v1*, const char*) {}

}  // namespace

std::unique_ptr<OutputLayout> OutputLayout::create(wayland::WaylandConnection& conn, std::string& why) {
    std::unique_ptr<OutputLayout> l(new OutputLayout(conn));
    l->manager_.reset(conn.bind<zxdg_output_manager_v1>(zxdg_output_manager_v1_interface, 3));
    if (!l->manager_) {
        why = "the compositor offers no xdg-output manager (output positions)";
        return nullptr;
    }
    for (const auto& g : conn.globals()) {
        if (g.interface == wl_output_interface.name) l->add(g);
    }
    auto* raw = l.get();
    conn.onGlobal([raw](const wayland::Global& g) {
        if (g.interface == wl_output_interface.name) raw->add(g);
    });
    conn.onGlobalRemoved([raw](std::uint32_t name) {
        const auto before = raw->outputs_.size();
        std::erase_if(raw->outputs_, [name](const auto& o) { return o->globalName == name; });
        if (raw->outputs_.size() != before) raw->changed();
    });
    conn.roundtrip();
    conn.roundtrip();
    l->changed();
    return l;
}

OutputLayout::~OutputLayout() {
    conn_.onGlobal(nullptr);
    conn_.onGlobalRemoved(nullptr);
}

void OutputLayout::changed() {
    for (auto& o : outputs_) o->complete = o->logical.width > 0 && o->logical.height > 0;
    if (onChanged_) onChanged_();
}

void OutputLayout::add(const wayland::Global& g) {
    auto o = std::make_unique<Output>();
    o->globalName = g.name;
    o->output.reset(conn_.bindName<wl_output>(g, wl_output_interface, 3));
    o->xdg.reset(zxdg_output_manager_v1_get_xdg_output(manager_.get(), o->output.get()));
    static const zxdg_output_v1_listener listener{
        logicalPosition, logicalSize,
        // From version 3 on, wl_output's done ends a batch of changes instead.
        [](void*, zxdg_output_v1*) {},
        name, description};
    zxdg_output_v1_add_listener(o->xdg.get(), &listener, o.get());
    static const wl_output_listener outputListener{
        [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, const char*,
           const char*, std::int32_t) {},
        [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
        [](void* data, wl_output*) {
            auto* self = static_cast<OutputLayout*>(data);
            self->changed();
        },
        [](void*, wl_output*, std::int32_t) {},
#ifdef WL_OUTPUT_NAME_SINCE_VERSION
        [](void*, wl_output*, const char*) {},
        [](void*, wl_output*, const char*) {},
#endif
    };
    wl_output_add_listener(o->output.get(), &outputListener, this);
    outputs_.push_back(std::move(o));
}

std::vector<DisplayInfo> OutputLayout::displays() const {
    std::vector<DisplayInfo> out;
    for (const auto& o : outputs_) {
        if (!o->complete) continue;
        out.push_back({o->globalName, o->logical, o->logical});
    }
    // The output at the layout's origin is the main one: first, as callers expect.
    std::stable_sort(out.begin(), out.end(), [](const DisplayInfo& a, const DisplayInfo& b) {
        return (a.bounds.x == 0 && a.bounds.y == 0) && !(b.bounds.x == 0 && b.bounds.y == 0);
    });
    return out;
}

Rect OutputLayout::extent() const {
    bool any = false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    for (const auto& o : outputs_) {
        if (!o->complete) continue;
        const Rect& r = o->logical;
        if (!any) {
            x0 = r.minX(), y0 = r.minY(), x1 = r.maxX(), y1 = r.maxY();
            any = true;
        } else {
            x0 = std::min(x0, r.minX()), y0 = std::min(y0, r.minY());
            x1 = std::max(x1, r.maxX()), y1 = std::max(y1, r.maxY());
        }
    }
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

wl_output* OutputLayout::outputAt(Point p) const {
    for (const auto& o : outputs_) {
        if (o->complete && o->logical.contains(p)) return o->output.get();
    }
    return nullptr;
}

std::optional<Point> WlrDisplaySource::pointer() const {
    if (auto p = pointer_()) return p;
    // Before the helper moved it, the pointer is taken to be at the main display's centre.
    const auto d = layout_.displays();
    if (d.empty()) return std::nullopt;
    return Point{d.front().bounds.midX(), d.front().bounds.midY()};
}

}  // namespace tamborix::wlroots
