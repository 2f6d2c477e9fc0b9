#include "platform/linux/desktop/x11/xkb_keymap.h"

// xcb's XKB header names a field "explicit", which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>


#include <utility>
#include <algorithm>

namespace tamborix::x11 {

std::unique_ptr<XkbKeymap> XkbKeymap::create(XConnection& conn, std::string& error) {
    if (!xkb_x11_setup_xkb_extension(conn.get(), XKB_X11_MIN_MAJOR_XKB_VERSION,
                                     XKB_X11_MIN_MINOR_XKB_VERSION, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS,
                                     nullptr, nullptr, nullptr, nullptr)) {
        error = "no X11 XKB extension";
        return nullptr;
    }
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(conn.get());
    xkb::Context context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (device < 0 || !context) {
        error = "no X11 core keyboard";
        return nullptr;
    }
    std::unique_ptr<XkbKeymap> k(new XkbKeymap(conn, std::move(context), device));
    k->reloadIfStale();
    if (!k->keymap_) {
        error = "cannot read the X11 keyboard map";
        return nullptr;
    }
    return k;
}

XkbKeymap::XkbKeymap(XConnection& conn, xkb::Context context, std::int32_t device)
    : conn_(conn), context_(std::move(context)), device_(device) {
    eventBase_ = xcb_get_extension_data(conn_.get(), &xcb_xkb_id)->first_event;
    const std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                 XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    const std::uint16_t mapParts =
        XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
        XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
        XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    // The group and the locked modifiers (Caps Lock) decide what the keys type; the modifiers
    // held for a moment, the helper's own among them, do not.
    details.affectState = XCB_XKB_STATE_PART_GROUP_BASE | XCB_XKB_STATE_PART_GROUP_LATCH |
                          XCB_XKB_STATE_PART_GROUP_LOCK | XCB_XKB_STATE_PART_MODIFIER_LOCK;
    details.stateDetails = details.affectState;
    xcb_xkb_select_events_aux(conn_.get(), static_cast<xcb_xkb_device_spec_t>(device_), events, 0, 0,
                              mapParts, mapParts, &details);
    events_ = conn_.subscribe([this](const xcb_generic_event_t& e) { handle(e); });
}

XkbKeymap::~XkbKeymap() = default;

void XkbKeymap::handle(const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7f) != eventBase_) return;
    // Every XKB event starts with its own type and the device after the time.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&event);
    const std::uint8_t xkbType = bytes[1];
    const std::uint8_t device = bytes[8];
    if (device != device_) return;
    if (xkbType == XCB_XKB_STATE_NOTIFY) {
        const auto& s = reinterpret_cast<const xcb_xkb_state_notify_event_t&>(event);
        if (state_) {
            xkb_state_update_mask(state_.get(), s.baseMods, s.latchedMods, s.lockedMods,
                                  static_cast<xkb_layout_index_t>(s.baseGroup),
                                  static_cast<xkb_layout_index_t>(s.latchedGroup), s.lockedGroup);
        }
        tablesStale_ = true;
        ++serial_;
    } else if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY) {
        stale_ = true;
        ++serial_;
    }
}

void XkbKeymap::reloadIfStale() {
    if (!stale_ || !conn_.alive()) return;
    xkb::Keymap keymap(
        xkb_x11_keymap_new_from_device(context_.get(), conn_.get(), device_, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) return;
    xkb::State state(xkb_x11_state_new_from_device(keymap.get(), conn_.get(), device_));
    if (!state) return;
    state_ = std::move(state);
    keymap_ = std::move(keymap);
    stale_ = false;
    tablesStale_ = true;
}

std::uint64_t XkbKeymap::serial() {
    reloadIfStale();
    return serial_;
}

void XkbKeymap::rebuild() {
    reloadIfStale();
    if (!tablesStale_ || !keymap_) return;
    tablesStale_ = false;
    chars_.clear();
    syms_.clear();
    entries_.clear();
    modifierKeys_.clear();
    xkb::LevelScan scan;
    scan.group = xkb_state_serialize_layout(state_.get(), XKB_STATE_LAYOUT_EFFECTIVE);
    scan.locked = xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_LOCKED);
    scan.highest = 255;  // the X protocol's keycodes are a byte
    if (hidden_) scan.skip = [this](xkb_keycode_t kc) { return hidden_(static_cast<xcb_keycode_t>(kc)); };

    const xkb_keycode_t lo = std::max(xkb_keymap_min_keycode(keymap_.get()), scan.lowest);
    const xkb_keycode_t hi = std::min(xkb_keymap_max_keycode(keymap_.get()), scan.highest);
    for (xkb_keycode_t kc = lo; kc <= hi; ++kc) {
        if (xkb_keymap_num_layouts_for_key(keymap_.get(), kc) == 0) continue;
        const xkb_layout_index_t layout = xkb_state_key_get_layout(state_.get(), kc);
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap_.get(), kc, layout, 0, &syms) != 1) continue;
        syms_.try_emplace(syms[0], static_cast<xcb_keycode_t>(kc));
    }

    const auto table = xkb::scanLevels(keymap_.get(), scan);
    for (const auto& [flag, kc] : table.modifierKeys) modifierKeys_[flag] = static_cast<xcb_keycode_t>(kc);
    for (const auto& key : table.keys) {
        const char32_t c = xkb_keysym_to_utf32(key.sym);
        if (c == 0) continue;
        const auto levelMods = static_cast<ModifierFlags>(key.mods & (modifier::level3 | modifier::level5));
        entries_.push_back({key.keycode, (key.mods & modifier::shift) != 0, c, levelMods});
        chars_.try_emplace(c, Key{static_cast<xcb_keycode_t>(key.keycode), key.mods});
    }
}

std::optional<xcb_keycode_t> XkbKeymap::modifierKey(ModifierFlags one) {
    rebuild();
    if (auto it = modifierKeys_.find(one); it != modifierKeys_.end()) return it->second;
    return std::nullopt;
}

std::optional<xcb_keycode_t> XkbKeymap::keycodeFor(xkb_keysym_t sym) {
    rebuild();
    if (auto it = syms_.find(sym); it != syms_.end() && !(hidden_ && hidden_(it->second))) return it->second;
    return std::nullopt;
}

std::optional<XkbKeymap::Key> XkbKeymap::keyFor(char32_t c) {
    rebuild();
    if (auto it = chars_.find(c); it != chars_.end()) return it->second;
    return std::nullopt;
}

std::vector<LayoutEntry> XkbKeymap::entries() {
    rebuild();
    return entries_;
}

std::vector<xcb_keycode_t> XkbKeymap::emptyKeycodes() {
    reloadIfStale();
    std::vector<xcb_keycode_t> out;
    if (!keymap_) return out;
    const xkb_keycode_t lo = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap_.get()), 8);
    const xkb_keycode_t hi = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap_.get()), 255);
    for (xkb_keycode_t kc = lo; kc <= hi; ++kc) {
        bool empty = true;
        const auto layouts = xkb_keymap_num_layouts_for_key(keymap_.get(), kc);
        for (xkb_layout_index_t l = 0; l < layouts && empty; ++l) {
            const auto levels = xkb_keymap_num_levels_for_key(keymap_.get(), kc, l);
            for (xkb_level_index_t v = 0; v < levels && empty; ++v) {
                const xkb_keysym_t* syms = nullptr;
                empty = xkb_keymap_key_get_syms_by_level(keymap_.get(), kc, l, v, &syms) == 0;
            }
        }
        if (empty) out.push_back(static_cast<xcb_keycode_t>(kc));
    }
    return out;
}

xkb_keysym_t XkbKeymap::level0(xcb_keycode_t keycode) {
    reloadIfStale();
    if (!keymap_ || xkb_keymap_num_layouts_for_key(keymap_.get(), keycode) == 0) return XKB_KEY_NoSymbol;
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap_.get(), keycode, 0, 0, &syms) != 1) return XKB_KEY_NoSymbol;
    return syms[0];
}

}  // namespace tamborix::x11
