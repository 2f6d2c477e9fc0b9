#include "platform/linux/desktop/x11/spare_keycodes.h"

#include <fstream>
#include <system_error>

#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::x11 {

namespace {

void setKeycode(XConnection& conn, xcb_keycode_t keycode, std::uint32_t sym) {
    // Both levels carry the symbol, so a Shift the user holds does not change it.
    const xcb_keysym_t syms[2] = {sym, sym};
    xcb_change_keyboard_mapping(conn.get(), 1, keycode, sym ? 2 : 1, syms);
}

void roundTrip(XConnection& conn) {
    XReply<xcb_get_input_focus_reply_t>(
        xcb_get_input_focus_reply(conn.get(), xcb_get_input_focus(conn.get()), nullptr));
}

}  // namespace

SpareKeycodes::SpareKeycodes(XConnection& conn, XkbKeymap& keymap, Options options)
    : conn_(conn), keymap_(keymap), options_(std::move(options)) {
    for (auto kc : keymap_.emptyKeycodes()) {
        if (slots_.size() >= options_.maxSlots) break;
        slots_.push_back({kc, 0, MonoTime::min(), false});
    }
    seenSerial_ = keymap_.serial();
}

SpareKeycodes::~SpareKeycodes() {
    forgetOverwritten();
    bool any = false;
    for (auto& s : slots_) {
        if (s.sym == 0) continue;
        setKeycode(conn_, s.keycode, 0);
        s.sym = 0;
        any = true;
    }
    if (any && conn_.alive()) roundTrip(conn_);
    writeNote();
}

void SpareKeycodes::restoreFromNote(XConnection& conn, XkbKeymap& keymap, const std::filesystem::path& note) {
    if (note.empty()) return;
    std::ifstream in(note);
    if (!in) return;
    unsigned keycode = 0;
    std::uint32_t sym = 0;
    bool any = false;
    while (in >> keycode >> sym) {
        // A binding somebody changed since (a new layout) is theirs now.
        if (keycode < 8 || keycode > 255 || keymap.level0(static_cast<xcb_keycode_t>(keycode)) != sym) continue;
        setKeycode(conn, static_cast<xcb_keycode_t>(keycode), 0);
        any = true;
    }
    if (any) roundTrip(conn);
    std::error_code ec;
    std::filesystem::remove(note, ec);
}

void SpareKeycodes::forgetOverwritten() {
    const auto serial = keymap_.serial();
    if (serial == seenSerial_) return;
    seenSerial_ = serial;
    for (auto& s : slots_) {
        if (s.sym != 0 && keymap_.level0(s.keycode) != s.sym) {
            // A new layout replaced the binding; the keycode is no longer ours to give back.
            s = Slot{s.keycode, 0, MonoTime::min(), false};
        }
    }
}

bool SpareKeycodes::isBorrowed(xcb_keycode_t keycode) const {
    for (const auto& s : slots_)
        if (s.keycode == keycode) return true;
    return false;
}

std::optional<xcb_keycode_t> SpareKeycodes::acquire(std::uint32_t sym, MonoTime now, MonoTime& readyAt) {
    forgetOverwritten();
    Slot* best = nullptr;
    for (auto& s : slots_) {
        if (s.sym == sym) return s.keycode;
        if (s.held) continue;
        if (!best || s.lastUsed < best->lastUsed) best = &s;
    }
    if (!best) {
        readyAt = now + options_.grace;
        return std::nullopt;
    }
    if (best->sym != 0 && best->lastUsed > now - options_.grace) {
        readyAt = best->lastUsed + options_.grace;
        return std::nullopt;
    }
    if (best->sym != 0) roundTrip(conn_);  // the server is done with every earlier key event
    bind(*best, sym);
    return best->keycode;
}

void SpareKeycodes::bind(Slot& slot, std::uint32_t sym) {
    slot.sym = sym;
    writeNote();  // before the server sees it: a crash from here on is repaired at the next start
    setKeycode(conn_, slot.keycode, sym);
}

void SpareKeycodes::used(xcb_keycode_t keycode, MonoTime now, bool held) {
    for (auto& s : slots_) {
        if (s.keycode != keycode) continue;
        s.lastUsed = now;
        s.held = held;
    }
}

bool SpareKeycodes::releaseIdle(MonoTime now) {
    forgetOverwritten();
    bool left = false;
    bool changed = false;
    for (auto& s : slots_) {
        if (s.sym == 0) continue;
        if (s.held || s.lastUsed > now - options_.grace) {
            left = true;
            continue;
        }
        setKeycode(conn_, s.keycode, 0);
        s.sym = 0;
        changed = true;
    }
    if (changed) {
        conn_.flush();
        writeNote();
    }
    return !left;
}

void SpareKeycodes::writeNote() const {
    if (options_.note.empty()) return;
    std::error_code ec;
    bool any = false;
    for (const auto& s : slots_) any = any || s.sym != 0;
    if (!any) {
        std::filesystem::remove(options_.note, ec);
        return;
    }
    std::filesystem::create_directories(options_.note.parent_path(), ec);
    const auto tmp = options_.note.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        for (const auto& s : slots_)
            if (s.sym != 0) out << unsigned(s.keycode) << ' ' << s.sym << '\n';
    }
    std::filesystem::rename(tmp, options_.note, ec);
}

}  // namespace tamborix::x11
