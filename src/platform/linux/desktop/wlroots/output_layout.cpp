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

const zwlr_output_mode_v1_listener modeListener{
    [](void*, zwlr_output_mode_v1*, std::int32_t, std::int32_t) {},
    [](void*, zwlr_output_mode_v1*, std::int32_t) {},
    [](void*, zwlr_output_mode_v1*) {},
    [](void* data, zwlr_output_mode_v1* mode) {
        std::erase_if(static_cast<OutputLayout*>(data)->modes, [mode](const auto& m) { return m.get() == mode; });
    },
};

const zwlr_output_head_v1_listener headListener{
    [](void* data, zwlr_output_head_v1* h, const char* name) {
        if (auto* head = static_cast<OutputLayout*>(data)->head(h)) head->name = name;
    },
    [](void*, zwlr_output_head_v1*, const char*) {},
    [](void*, zwlr_output_head_v1*, std::int32_t, std::int32_t) {},
    [](void* data, zwlr_output_head_v1*, zwlr_output_mode_v1* mode) {
        auto* layout = static_cast<OutputLayout*>(data);
        layout->modes.emplace_back(mode);
        zwlr_output_mode_v1_add_listener(mode, &modeListener, layout);
    },
    [](void* data, zwlr_output_head_v1* h, std::int32_t enabled) {
        if (auto* head = static_cast<OutputLayout*>(data)->head(h)) {
            head->enabled = enabled != 0;
            head->seenOn = head->seenOn || head->enabled;
        }
    },
    [](void*, zwlr_output_head_v1*, zwlr_output_mode_v1*) {},
    [](void*, zwlr_output_head_v1*, std::int32_t, std::int32_t) {},
    [](void*, zwlr_output_head_v1*, std::int32_t) {},
    [](void*, zwlr_output_head_v1*, wl_fixed_t) {},
    [](void* data, zwlr_output_head_v1* h) { static_cast<OutputLayout*>(data)->removeHead(h); },
    [](void*, zwlr_output_head_v1*, const char*) {},
    [](void*, zwlr_output_head_v1*, const char*) {},
    [](void*, zwlr_output_head_v1*, const char*) {},
};

// The compositor's batch of head changes is over: switched-off outputs leave the list.
const zwlr_output_manager_v1_listener headManagerListener{
    [](void* data, zwlr_output_manager_v1*, zwlr_output_head_v1* head) {
        static_cast<OutputLayout*>(data)->addHead(head);
    },
    [](void* data, zwlr_output_manager_v1*, std::uint32_t) { static_cast<OutputLayout*>(data)->headsDone(); },
    [](void*, zwlr_output_manager_v1*) {},
};

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
    l->headManager_.reset(conn.bind<zwlr_output_manager_v1>(zwlr_output_manager_v1_interface, 2));
    if (l->headManager_) zwlr_output_manager_v1_add_listener(l->headManager_.get(), &headManagerListener, l.get());
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
    for (auto& o : outputs_) o->complete = o->logical.width > 0 && o->logical.height > 0 && !switchedOff(*o);
    if (onChanged_) onChanged_();
}

bool OutputLayout::switchedOff(const Output& o) const {
    for (const auto& h : heads_) {
        if (h->name == o.name) return h->seenOn && !h->enabled;
    }
    return false;
}

void OutputLayout::headsDone() {
    for (auto& h : heads_) {
        const bool off = h->seenOn && !h->enabled;
        if (h->wasOff && !off) {
            for (auto& o : outputs_) {
                if (o->name != h->name) continue;
                o->logical = {};
                o->xdg.reset(zxdg_output_manager_v1_get_xdg_output(manager_.get(), o->output.get()));
                listen(*o);
            }
        }
        h->wasOff = off;
    }
    changed();
}

void OutputLayout::addHead(zwlr_output_head_v1* head) {
    auto h = std::make_unique<Head>();
    h->proxy.reset(head);
    zwlr_output_head_v1_add_listener(head, &headListener, this);
    heads_.push_back(std::move(h));
}

void OutputLayout::removeHead(zwlr_output_head_v1* head) {
    std::erase_if(heads_, [head](const auto& h) { return h->proxy.get() == head; });
}

OutputLayout::Head* OutputLayout::head(zwlr_output_head_v1* head) {
    for (auto& h : heads_) {
        if (h->proxy.get() == head) return h.get();
    }
    return nullptr;
}

void OutputLayout::add(const wayland::Global& g) {
    auto o = std::make_unique<Output>();
    o->globalName = g.name;
    o->output.reset(conn_.bindName<wl_output>(g, wl_output_interface, 3));
    o->xdg.reset(zxdg_output_manager_v1_get_xdg_output(manager_.get(), o->output.get()));
    listen(*o);
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

void OutputLayout::listen(Output& o) {
    static const zxdg_output_v1_listener listener{
        logicalPosition, logicalSize,
        // From version 3 on, wl_output's done ends a batch of changes instead.
        [](void*, zxdg_output_v1*) {},
        name, description};
    zxdg_output_v1_add_listener(o.xdg.get(), &listener, &o);
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
