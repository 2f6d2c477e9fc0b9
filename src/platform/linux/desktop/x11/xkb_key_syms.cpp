#include "platform/linux/desktop/x11/xkb_key_syms.h"

// xcb's XKB header names a field "explicit", which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstring>
#include <sstream>

#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::x11 {

KeySymMap KeySymMap::lent(std::uint32_t sym) {
    KeySymMap m;
    m.types = {0, 0, 0, 0};  // ONE_LEVEL, the first canonical type, which every keymap has
    m.groupInfo = 1;
    m.width = 1;
    m.syms = {sym};
    return m;
}

std::string KeySymMap::text() const {
    std::ostringstream out;
    for (auto t : types) out << unsigned(t) << ' ';
    out << unsigned(groupInfo) << ' ' << unsigned(width) << ' ' << syms.size();
    for (auto s : syms) out << ' ' << s;
    return out.str();
}

std::optional<KeySymMap> KeySymMap::parse(const std::string& text) {
    std::istringstream in(text);
    unsigned t[4] = {}, groupInfo = 0, width = 0;
    std::size_t n = 0;
    if (!(in >> t[0] >> t[1] >> t[2] >> t[3] >> groupInfo >> width >> n)) return std::nullopt;
    if (groupInfo > 255 || width > 255 || n > 255 * 4) return std::nullopt;
    KeySymMap m;
    for (int i = 0; i < 4; ++i) {
        if (t[i] > 255) return std::nullopt;
        m.types[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(t[i]);
    }
    m.groupInfo = static_cast<std::uint8_t>(groupInfo);
    m.width = static_cast<std::uint8_t>(width);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t s = 0;
        if (!(in >> s)) return std::nullopt;
        m.syms.push_back(s);
    }
    return m;
}

std::optional<KeySymRun> readKeySyms(XConnection& conn, xcb_keycode_t first, xcb_keycode_t last) {
    if (last < first || !conn.alive()) return std::nullopt;
    xcb_connection_t* c = conn.get();
    const auto count = static_cast<std::uint8_t>(last - first + 1);
    XReply<xcb_xkb_get_map_reply_t> r(xcb_xkb_get_map_reply(
        c,
        xcb_xkb_get_map(c, XCB_XKB_ID_USE_CORE_KBD, 0, XCB_XKB_MAP_PART_KEY_SYMS, 0, 0, first, count, 0, 0, 0, 0,
                        0, 0, 0, 0, 0, 0, 0),
        nullptr));
    if (!r || r->firstKeySym != first || r->nKeySyms != count) return std::nullopt;
    xcb_xkb_get_map_map_t map{};
    xcb_xkb_get_map_map_unpack(xcb_xkb_get_map_map(r.get()), r->nTypes, r->nKeySyms, r->nKeyActions,
                               r->totalActions, r->totalKeyBehaviors, r->virtualMods, r->totalKeyExplicit,
                               r->totalModMapKeys, r->totalVModMapKeys, r->present, &map);
    KeySymRun run;
    run.minKeyCode = r->minKeyCode;
    run.maxKeyCode = r->maxKeyCode;
    run.first = first;
    for (auto it = xcb_xkb_get_map_map_syms_rtrn_iterator(r.get(), &map); it.rem; xcb_xkb_key_sym_map_next(&it)) {
        KeySymMap k;
        std::memcpy(k.types.data(), it.data->kt_index, 4);
        k.groupInfo = it.data->groupInfo;
        k.width = it.data->width;
        const auto* syms = xcb_xkb_key_sym_map_syms(it.data);
        k.syms.assign(syms, syms + it.data->nSyms);
        run.keys.push_back(std::move(k));
    }
    if (run.keys.size() != count) return std::nullopt;
    return run;
}

bool writeKeySyms(XConnection& conn, const KeySymRun& run) {
    if (run.keys.empty() || run.keys.size() > 255 || !conn.alive()) return false;
    std::vector<std::uint8_t> wire;
    std::size_t total = 0;
    for (const auto& k : run.keys) {
        std::uint8_t head[8];
        std::memcpy(head, k.types.data(), 4);
        head[4] = k.groupInfo;
        head[5] = k.width;
        const auto n = static_cast<std::uint16_t>(k.syms.size());
        std::memcpy(head + 6, &n, 2);
        wire.insert(wire.end(), head, head + 8);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(k.syms.data());
        wire.insert(wire.end(), bytes, bytes + 4 * k.syms.size());
        total += k.syms.size();
    }
    if (total > 0xffff) return false;
    xcb_connection_t* c = conn.get();
    const auto cookie = xcb_xkb_set_map_checked(
        c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_MAP_PART_KEY_SYMS, 0, run.minKeyCode, run.maxKeyCode, 0, 0, run.first,
        static_cast<std::uint8_t>(run.keys.size()), static_cast<std::uint16_t>(total), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, wire.data());
    XReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    return !error;
}

ServerGrab::ServerGrab(XConnection& conn) : conn_(conn) { xcb_grab_server(conn_.get()); }

ServerGrab::~ServerGrab() {
    xcb_ungrab_server(conn_.get());
    conn_.flush();
}

}  // namespace tamborix::x11
