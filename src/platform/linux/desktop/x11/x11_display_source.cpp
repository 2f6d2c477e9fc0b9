#include "platform/linux/desktop/x11/x11_display_source.h"

#include <xcb/randr.h>
#include <xcb/xinerama.h>

#include <algorithm>

#include "platform/linux/desktop/x11/work_areas.h"
#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::x11 {

namespace {

bool hasRandr15(xcb_connection_t* c) {
    const auto* ext = xcb_get_extension_data(c, &xcb_randr_id);
    if (!ext || !ext->present) return false;
    XReply<xcb_randr_query_version_reply_t> v(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    return v && (v->major_version > 1 || (v->major_version == 1 && v->minor_version >= 5));
}

bool hasXinerama(xcb_connection_t* c) {
    const auto* ext = xcb_get_extension_data(c, &xcb_xinerama_id);
    if (!ext || !ext->present) return false;
    XReply<xcb_xinerama_is_active_reply_t> active(
        xcb_xinerama_is_active_reply(c, xcb_xinerama_is_active(c), nullptr));
    return active && active->state != 0;
}

}  // namespace

X11DisplaySource::X11DisplaySource(XConnection& conn) : conn_(conn) {
    xcb_connection_t* c = conn_.get();
    if (hasRandr15(c)) {
        source_ = Source::randrMonitors;
        randrEventBase_ = xcb_get_extension_data(c, &xcb_randr_id)->first_event;
        xcb_randr_select_input(c, conn_.root(),
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    } else if (hasXinerama(c)) {
        source_ = Source::xinerama;
    }
    for (const char* name : {"_NET_WORKAREA", "_NET_CURRENT_DESKTOP", "_GTK_WORKAREAS_D0",
                             "_GTK_WORKAREAS_D1", "_GTK_WORKAREAS_D2", "_GTK_WORKAREAS_D3"})
        workAreaAtoms_.push_back(conn_.atom(name));
    // Virtual monitors set with `xrandr --setmonitor` announce themselves only by a root
    // ConfigureNotify; the work area changes by a root property.
    conn_.selectRootEvents(XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
    events_ = conn_.subscribe([this](const xcb_generic_event_t& e) { handle(e); });
}

void X11DisplaySource::handle(const xcb_generic_event_t& event) {
    const auto type = event.response_type & 0x7f;
    if (type == XCB_CONFIGURE_NOTIFY) {
        if (reinterpret_cast<const xcb_configure_notify_event_t&>(event).window == conn_.root())
            stale_ = true;
    } else if (type == XCB_PROPERTY_NOTIFY) {
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        if (p.window == conn_.root() &&
            std::find(workAreaAtoms_.begin(), workAreaAtoms_.end(), p.atom) != workAreaAtoms_.end())
            stale_ = true;
    } else if (source_ == Source::randrMonitors &&
               (type == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                type == randrEventBase_ + XCB_RANDR_NOTIFY)) {
        stale_ = true;
    }
}

std::vector<Rect> X11DisplaySource::readLayout(std::vector<std::uint32_t>& ids) const {
    xcb_connection_t* c = conn_.get();
    std::vector<Rect> rects;
    ids.clear();
    if (source_ == Source::randrMonitors) {
        XReply<xcb_randr_get_monitors_reply_t> r(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, conn_.root(), 1), nullptr));
        if (r) {
            std::vector<std::pair<Rect, std::uint32_t>> primary, others;
            for (auto it = xcb_randr_get_monitors_monitors_iterator(r.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                const auto* m = it.data;
                if (m->width == 0 || m->height == 0) continue;
                (m->primary ? primary : others)
                    .push_back({Rect{double(m->x), double(m->y), double(m->width), double(m->height)},
                                m->name});
            }
            for (auto* list : {&primary, &others}) {
                for (auto& [rect, id] : *list) {
                    rects.push_back(rect);
                    ids.push_back(id);
                }
            }
        }
    } else if (source_ == Source::xinerama) {
        XReply<xcb_xinerama_query_screens_reply_t> r(
            xcb_xinerama_query_screens_reply(c, xcb_xinerama_query_screens(c), nullptr));
        if (r) {
            auto it = xcb_xinerama_query_screens_screen_info_iterator(r.get());
            for (std::uint32_t n = 1; it.rem; xcb_xinerama_screen_info_next(&it), ++n) {
                rects.push_back({double(it.data->x_org), double(it.data->y_org),
                                 double(it.data->width), double(it.data->height)});
                ids.push_back(n);
            }
        }
    }
    if (rects.empty()) {
        // The root window's size follows RandR resizes, so it is read from the server.
        XReply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, conn_.root()), nullptr));
        const double w = g ? g->width : conn_.screen()->width_in_pixels;
        const double h = g ? g->height : conn_.screen()->height_in_pixels;
        rects.push_back({0, 0, w, h});
        ids.push_back(1);
    }
    return rects;
}

void X11DisplaySource::refresh() const {
    if (!conn_.alive()) {
        // Nothing is known about a display that went away.
        cache_.clear();
        stale_ = true;
        return;
    }
    if (!stale_) return;
    cache_.clear();
    std::vector<std::uint32_t> ids;
    const auto rects = readLayout(ids);
    const auto usable = usableAreas(rects, readWorkAreaHints(conn_));
    for (std::size_t i = 0; i < rects.size(); ++i)
        cache_.push_back({ids[i], rects[i], i < usable.size() ? usable[i] : rects[i]});
    stale_ = false;
}

std::vector<DisplayInfo> X11DisplaySource::displays() const {
    refresh();
    return cache_;
}

void X11DisplaySource::displaysInto(std::vector<DisplayInfo>& out) const {
    refresh();
    out.assign(cache_.begin(), cache_.end());
}

std::optional<Point> X11DisplaySource::pointer() const {
    if (!conn_.alive()) return std::nullopt;
    xcb_connection_t* c = conn_.get();
    XReply<xcb_query_pointer_reply_t> r(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, conn_.root()), nullptr));
    if (!r) return std::nullopt;
    return Point{double(r->root_x), double(r->root_y)};
}

std::string X11DisplaySource::describe() const {
    const auto n = std::to_string(displays().size());
    switch (source_) {
        case Source::randrMonitors: return "X11 RandR 1.5 monitors (" + n + ")";
        case Source::xinerama: return "X11 Xinerama screens (" + n + ")";
        case Source::root: return "X11 root window (" + n + ")";
    }
    return {};
}

}  // namespace tamborix::x11
