#include "platform/linux/desktop/wlroots/wlr_input_sink.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/user_text.h"
#include "base/mapping.h"
#include "base/unique_fd.h"
#include "base/utf16.h"
#include "platform/linux/support/evdev/evdev_button.h"

namespace tamborix::wlroots {

namespace {

// What a wheel notch scrolls in Wayland's axis units (libinput's convention).
constexpr double axisPerNotch = 15.0;

void keymapEvent(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
    UniqueFd owned(fd);
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) return;
    static_cast<WlrInputSink*>(data)->userKeymap(mappedText(owned.get(), size));
}

const wl_keyboard_listener seatKeyboardListener{
    keymapEvent,
    [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
    [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
};

}  // namespace

WlrInputSink::WlrInputSink(wayland::WaylandConnection& conn, const OutputLayout& layout, wl_seat* seat,
                           bool seatHasKeyboard, zwlr_virtual_pointer_manager_v1* pointers, zwp_virtual_keyboard_manager_v1* keyboards)
    : conn_(conn), layout_(layout) {
    if (!seat) {
        reason_ = userText("Wlroots", "the compositor has no seat").str();
        return;
    }
    if (!pointers) reason_ = userText("Wlroots", "the compositor offers no virtual pointer (zwlr_virtual_pointer_manager_v1)").str();
    if (!keyboards) reason_ = userText("Wlroots", "the compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1)").str();
    if (!pointers || !keyboards) return;
    // The user's layout is what the seat's keyboard reports; a seat with no keyboard yet has
    // none to report, and the system's configured layout stands in.
    auto watchSeatKeyboard = [&] {
        seatKeyboard_.reset(wl_seat_get_keyboard(seat));
        wl_keyboard_add_listener(seatKeyboard_.get(), &seatKeyboardListener, this);
    };
    if (seatHasKeyboard) {
        watchSeatKeyboard();
        conn_.roundtrip();
    }
    if (!keymap_) {
        std::string error;
        const auto names = xkb::configuredLayout();
        keymap_ = HelperKeymap::fromNames(names, error);
        layoutSource_ = "the configured \"" + (names.layout.empty() ? std::string("us") : names.layout) +
                        "\" layout (the compositor reports no keyboard)";
        if (!keymap_) {
            reason_ = error;
            return;
        }
    }
    state_ = keymap_->newState();
    making_ = true;
    pointer_.reset(zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers, seat));
    keyboard_.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat));
    upload();
    // A key sent before the compositor made the device is dropped.
    const bool made = conn_.roundtrip();
    making_ = false;
    if (!made) {
        reason_ = userText("Wlroots", "the compositor refused the virtual devices").str();
        pointer_.reset();
        keyboard_.reset();
        return;
    }
    // The seat has a keyboard now (ours at least): a keyboard the user plugs in later reports
    // its layout here.
    if (!seatKeyboard_) watchSeatKeyboard();
}

WlrInputSink::~WlrInputSink() = default;

void WlrInputSink::userKeymap(std::string text) {
    if (text.empty() || HelperKeymap::isHelpers(text) || text == lastUser_) return;
    if (making_) return;
    std::string error;
    auto next = HelperKeymap::fromText(text, error);
    if (!next) return;
    lastUser_ = std::move(text);
    keymap_ = std::move(next);
    // Keys held under the old keymap keep their modifiers in the new one.
    auto state = keymap_->newState();
    if (state_ && state) {
        xkb_state_update_mask(state.get(), xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_DEPRESSED),
                              xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_LATCHED),
                              xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_LOCKED), 0, 0, 0);
    }
    state_ = std::move(state);
    layoutSource_ = "the compositor's keymap";
    ++serial_;
    if (keyboard_) upload();
}

std::uint32_t WlrInputSink::now() const {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void WlrInputSink::upload() {
    std::string text = keymap_->text();
    if (text == uploaded_) return;
    UniqueFd fd(::memfd_create("tamborix-keymap", MFD_CLOEXEC));
    if (!fd) return;
    const std::size_t size = text.size() + 1;
    if (::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) return;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd.get(), text.c_str() + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
    zwp_virtual_keyboard_v1_keymap(keyboard_.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd.get(),
                                   static_cast<std::uint32_t>(size));
    uploaded_ = std::move(text);
    // A new keymap starts the compositor's modifiers afresh; held ones stay held.
    sendModifiers();
}

void WlrInputSink::sendModifiers() {
    if (!state_) return;
    zwp_virtual_keyboard_v1_modifiers(keyboard_.get(), xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_DEPRESSED),
                                      xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_LATCHED),
                                      xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_LOCKED),
                                      xkb_state_serialize_layout(state_.get(), XKB_STATE_LAYOUT_EFFECTIVE));
}

void WlrInputSink::moveTo(Point at) {
    const Rect e = layout_.extent();
    if (e.isEmpty()) return;
    asked_ = at;
    const double x = std::clamp(at.x, e.minX(), e.maxX() - 1) - e.minX();
    const double y = std::clamp(at.y, e.minY(), e.maxY() - 1) - e.minY();
    zwlr_virtual_pointer_v1_motion_absolute(pointer_.get(), now(), static_cast<std::uint32_t>(std::lround(x)),
                                            static_cast<std::uint32_t>(std::lround(y)),
                                            static_cast<std::uint32_t>(e.width), static_cast<std::uint32_t>(e.height));
    zwlr_virtual_pointer_v1_frame(pointer_.get());
    conn_.flush();
}

void WlrInputSink::mouse(const MouseEvent& event) {
    if (!mayPost()) return;
    const auto button = moveForButton(event, asked_, [this](Point at) { moveTo(at); });
    if (!button) return;
    zwlr_virtual_pointer_v1_button(pointer_.get(), now(), static_cast<std::uint32_t>(button->code),
                                   button->down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointer_.get());
    conn_.flush();
}

void WlrInputSink::wheel(int pixels, std::uint32_t axis, int& notchCarry) {
    if (pixels == 0) return;
    // Remainders are carried so that many small scrolls add up to the notches one large one gives.
    notchCarry += pixels;
    const int notches = notchCarry / pixelsPerNotch;
    notchCarry %= pixelsPerNotch;
    const wl_fixed_t value = wl_fixed_from_double(pixels * axisPerNotch / pixelsPerNotch);
    if (notches != 0) {
        zwlr_virtual_pointer_v1_axis_discrete(pointer_.get(), now(), axis, value, notches);
    } else {
        zwlr_virtual_pointer_v1_axis(pointer_.get(), now(), axis, value);
    }
}

void WlrInputSink::scroll(const ScrollEvent& event) {
    if (!mayPost() || (event.vertical == 0 && event.horizontal == 0)) return;
    zwlr_virtual_pointer_v1_axis_source(pointer_.get(), WL_POINTER_AXIS_SOURCE_WHEEL);
    // A positive vertical value is a wheel turned up, which Wayland counts negative; a positive
    // horizontal value moves content right, which is a wheel turned left (also negative).
    wheel(-event.vertical, WL_POINTER_AXIS_VERTICAL_SCROLL, verticalNotch_);
    wheel(-event.horizontal, WL_POINTER_AXIS_HORIZONTAL_SCROLL, horizontalNotch_);
    zwlr_virtual_pointer_v1_frame(pointer_.get());
    conn_.flush();
}

void WlrInputSink::sendKey(int code, bool down) {
    zwp_virtual_keyboard_v1_key(keyboard_.get(), now(), static_cast<std::uint32_t>(code),
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    const auto changed = state_ ? xkb_state_update_key(state_.get(), static_cast<xkb_keycode_t>(code + xkb::evdevOffset),
                                                       down ? XKB_KEY_DOWN : XKB_KEY_UP)
                                : 0;
    if (changed & (XKB_STATE_MODS_DEPRESSED | XKB_STATE_MODS_LATCHED | XKB_STATE_MODS_LOCKED | XKB_STATE_LAYOUT_EFFECTIVE)) {
        sendModifiers();
    }
}

void WlrInputSink::key(const KeyEvent& event) {
    if (!mayPost()) return;
    int code = -1;
    if (event.kind == KeyKind::keycode) {
        code = static_cast<int>(event.value);
    } else if (auto found = keymap_->user().find(event.value)) {
        code = found->evdevCode;
    } else if (const int media = evdevMediaKey(event.value)) {
        code = media;
    } else if (keymap_->lend({event.value})) {
        upload();
        code = keymap_->lent(event.value).value_or(-1);
    }
    if (code <= 0) return;
    sendKey(code, event.down);
    conn_.flush();
}

void WlrInputSink::tap(int code, ModifierFlags mods) {
    const auto held = keymap_->user().levelKeys(mods);
    for (const int k : held) sendKey(k, true);
    sendKey(code, true);
    sendKey(code, false);
    for (auto k = held.rbegin(); k != held.rend(); ++k) sendKey(*k, false);
}

void WlrInputSink::text(std::u16string_view chunk) {
    if (!mayPost()) return;
    const std::vector<char32_t> chars = codePoints(chunk);
    auto keysymOf = [](char32_t c) -> std::uint32_t {
        if (c == U'\n' || c == U'\r') return XKB_KEY_Return;
        if (c == U'\t') return XKB_KEY_Tab;
        return xkb_utf32_to_keysym(static_cast<std::uint32_t>(c));
    };
    // Every character the layout lacks gets its key before the first of the chunk is typed, so
    // one keymap serves the whole chunk and the order of the characters is kept.
    std::vector<std::uint32_t> missing;
    for (char32_t c : chars) {
        const auto sym = keysymOf(c);
        if (sym != XKB_KEY_NoSymbol && !keymap_->user().find(sym)) missing.push_back(sym);
    }
    const bool lentAll = missing.empty() || keymap_->lend(missing);
    if (!missing.empty() && lentAll) upload();
    for (char32_t c : chars) {
        const auto sym = keysymOf(c);
        if (auto found = sym == XKB_KEY_NoSymbol ? std::nullopt : keymap_->user().find(sym)) {
            tap(found->evdevCode, found->mods);
        } else if (auto spare = lentAll && sym != XKB_KEY_NoSymbol ? keymap_->lent(sym) : std::nullopt) {
            tap(*spare, 0);
        } else {
            untypable(c, sym == XKB_KEY_NoSymbol ? userText("Typing", "no key symbol stands for it").str()
                                                 : userText("Typing", "the keyboard layout leaves too few keys free to lend").str());
        }
    }
    conn_.flush();
}

void WlrInputSink::warp(Point at) {
    if (mayPost()) moveTo(at);
}

std::vector<LayoutEntry> WlrInputSink::layout() {
    return keymap_ ? keymap_->user().entries() : std::vector<LayoutEntry>{};
}

}  // namespace tamborix::wlroots
