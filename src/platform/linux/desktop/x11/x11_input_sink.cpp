#include "platform/linux/desktop/x11/x11_input_sink.h"

#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cmath>

#include "base/user_text.h"
#include "base/utf16.h"
#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::x11 {

namespace {

std::uint8_t buttonNumber(MouseButton b) {
    switch (b) {
        case MouseButton::left: return 1;
        case MouseButton::middle: return 2;
        case MouseButton::right: return 3;
    }
    return 1;
}

std::int16_t coordinate(double v) {
    const double r = std::round(v);
    if (!(r > -32768)) return -32768;
    if (r > 32767) return 32767;
    return static_cast<std::int16_t>(r);
}

}  // namespace

X11InputSink::X11InputSink(XConnection& conn, MainLoop& loop, Options options)
    : conn_(conn), loop_(loop), options_(std::move(options)) {
    const auto* ext = xcb_get_extension_data(conn_.get(), &xcb_test_id);
    xtest_ = ext && ext->present;
    keymap_ = XkbKeymap::create(conn_, keyboardError_);
    if (!keymap_) return;
    spares_ = std::make_unique<SpareKeycodes>(conn_, *keymap_, loop_, options_.spares);
    keymap_->setHidden([this](xcb_keycode_t kc) { return spares_ && spares_->isBorrowed(kc); });
    // What a crashed run left lent is given back once it is old enough.
    armIdleRelease(loop_.now() + options_.spares.hold);
}

X11InputSink::~X11InputSink() {
    // Input still waiting is dropped; what was lent is given back by the spares.
    pending_.clear();
    if (keymap_) keymap_->setHidden(nullptr);
    spares_.reset();
}

bool X11InputSink::mayPost() const { return conn_.alive() && xtest_ && keymap_ != nullptr; }

std::string X11InputSink::reason() const {
    if (!conn_.alive()) return userText("X11", "lost the connection to display %1").with({conn_.displayName()});
    if (!xtest_) return userText("X11", "no X11 XTEST extension on display %1").with({conn_.displayName()});
    if (!keymap_) return keyboardError_;
    return {};
}

std::string X11InputSink::remedy() const {
    if (!conn_.alive()) return userText("X11", "Start the helper again from your desktop session.");
    if (!xtest_)
        return userText("X11", "Log in to a desktop session whose X server has the XTEST extension (Xorg has it).");
    if (!keymap_)
        return userText("X11", "Check the keyboard layout in your desktop's settings, then start the helper again.");
    return {};
}

std::vector<std::string> X11InputSink::settingsPages() const {
    if (conn_.alive() && xtest_ && !keymap_) return {"gnome-keyboard-panel.desktop", "kcm_keyboard.desktop"};
    return {};
}

std::string X11InputSink::describe() const {
    if (!mayPost()) return "none, " + reason();
    return "X11 XTEST + XKB";
}

void X11InputSink::fake(std::uint8_t type, std::uint8_t detail, std::int16_t x, std::int16_t y) {
    xcb_test_fake_input(conn_.get(), type, detail, XCB_CURRENT_TIME, conn_.root(), x, y, 0);
}

void X11InputSink::run(Step step) {
    if (!mayPost()) return;
    // Pointer input with nothing waiting goes out at once; the rest keeps its place in line.
    if (pending_.empty() && !step.keyboard && step.run()) {
        conn_.flush();
        return;
    }
    const bool waiting = !pending_.empty();
    pending_.push_back(std::move(step));
    if (!waiting) drain();
}

void X11InputSink::syncKeyboard() {
    // A layout switched by another program is known once the server's events up to now are
    // read: a round trip brings them, so the next character is typed in the new layout.
    XReply<xcb_get_input_focus_reply_t>(
        xcb_get_input_focus_reply(conn_.get(), xcb_get_input_focus(conn_.get()), nullptr));
    conn_.dispatchPending();
}

void X11InputSink::drain() {
    if (!mayPost()) {
        pending_.clear();
        return;
    }
    if (std::any_of(pending_.begin(), pending_.end(), [](const Step& s) { return s.typesText; })) syncKeyboard();
    bool blocked = false;
    while (!pending_.empty() && mayPost()) {
        if (!pending_.front().run()) {
            blocked = true;
            break;
        }
        pending_.pop_front();
    }
    conn_.flush();
    if (!lentPressed_.empty()) {
        // The end of a round trip is when the server has surely delivered those key events; the
        // time a binding must stay unchanged counts from there.
        XReply<xcb_get_input_focus_reply_t>(
            xcb_get_input_focus_reply(conn_.get(), xcb_get_input_focus(conn_.get()), nullptr));
        const auto now = loop_.now();
        for (auto kc : lentPressed_) spares_->delivered(kc, now);
        lentPressed_.clear();
        armIdleRelease(now + std::max(options_.idleRelease, options_.spares.hold));
    }
    if (!mayPost()) pending_.clear();
    if (blocked && !pending_.empty()) schedule(readyAt_);
}

void X11InputSink::schedule(MonoTime at) {
    const auto wait = std::max(at - loop_.now(), Duration{std::chrono::milliseconds(1)});
    retry_ = loop_.singleShot(wait, [this] { drain(); }, {.leeway = Duration{0}, .strict = true});
}

void X11InputSink::mouse(const MouseEvent& e) {
    run({[this, e] {
        const auto x = coordinate(e.at.x);
        const auto y = coordinate(e.at.y);
        fake(XCB_MOTION_NOTIFY, 0, x, y);
        if (isMotion(e.type)) return true;
        fake(isPress(e.type) ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, buttonNumber(e.button));
        return true;
    }});
}

void X11InputSink::warp(Point at) {
    run({[this, at] {
        fake(XCB_MOTION_NOTIFY, 0, coordinate(at.x), coordinate(at.y));
        return true;
    }});
}

void X11InputSink::scroll(const ScrollEvent& e) {
    run({[this, e] {
        // Whole clicks go out; the rest waits for the next scroll in either direction.
        auto clicks = [](int& carry, std::int32_t pixels) {
            const auto total = static_cast<std::int64_t>(carry) + pixels;
            const auto n = total / pixelsPerWheelClick;
            carry = static_cast<int>(total - n * pixelsPerWheelClick);
            return n;
        };
        const auto v = clicks(carryVertical_, e.vertical);
        const auto h = clicks(carryHorizontal_, e.horizontal);
        // Positive values move the content down or right: wheel up (4) and wheel left (6).
        for (std::int64_t i = 0; i < std::llabs(v); ++i) {
            const std::uint8_t b = v > 0 ? 4 : 5;
            fake(XCB_BUTTON_PRESS, b);
            fake(XCB_BUTTON_RELEASE, b);
        }
        for (std::int64_t i = 0; i < std::llabs(h); ++i) {
            const std::uint8_t b = h > 0 ? 6 : 7;
            fake(XCB_BUTTON_PRESS, b);
            fake(XCB_BUTTON_RELEASE, b);
        }
        return true;
    }});
}

std::optional<xcb_keycode_t> X11InputSink::lend(std::uint32_t sym) {
    if (auto kc = spares_->keycodeOf(sym)) return kc;
    // Everything waiting in line that needs a keycode is bound with this one, in one change.
    std::vector<std::uint32_t> wanted{sym};
    for (std::size_t i = 1; i < pending_.size(); ++i)
        if (pending_[i].lends != 0) wanted.push_back(pending_[i].lends);
    spares_->bind(wanted, readyAt_);
    return spares_->keycodeOf(sym);
}

bool X11InputSink::pressSym(std::uint32_t sym, bool down) {
    if (auto kc = keymap_->keycodeFor(sym)) {
        fake(down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, *kc);
        return true;
    }
    if (!spares_->available()) return true;  // nothing can press it
    auto kc = lend(sym);
    if (!kc) return false;
    fake(down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, *kc);
    spares_->setHeld(*kc, down);
    pressedLent(*kc);
    return true;
}

void X11InputSink::key(const KeyEvent& e) {
    Step step{[this, e] {
                  if (e.kind == KeyKind::keycode) {
                      if (e.value >= 8 && e.value <= 255)
                          fake(e.down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, static_cast<std::uint8_t>(e.value));
                      return true;
                  }
                  return pressSym(e.value, e.down);
              },
              true, false, 0};
    if (e.kind == KeyKind::keysym && keymap_ && !keymap_->keycodeFor(e.value)) step.lends = e.value;
    run(std::move(step));
}

void X11InputSink::pressedLent(xcb_keycode_t kc) {
    // In use from now on, so that nothing later in this pass rebinds it; delivered (and so the
    // start of its hold) once the round trip after the pass returns.
    spares_->delivered(kc, loop_.now());
    lentPressed_.push_back(kc);
}

std::uint32_t X11InputSink::lendsFor(char32_t c) {
    if (!keymap_ || keymap_->keyFor(c)) return 0;
    return xkb_utf32_to_keysym(c);
}

bool X11InputSink::typeChar(char32_t c) {
    if (c == U'\n') c = U'\r';  // Return
    if (auto k = keymap_->keyFor(c)) {
        // The level's modifiers are held around the key, lowest first, released in reverse.
        static constexpr ModifierFlags order[] = {modifier::shift, modifier::level3, modifier::level5};
        xcb_keycode_t held[3];
        std::size_t n = 0;
        for (auto flag : order) {
            if (!(k->mods & flag)) continue;
            if (auto m = keymap_->modifierKey(flag)) held[n++] = *m;
        }
        for (std::size_t i = 0; i < n; ++i) fake(XCB_KEY_PRESS, held[i]);
        fake(XCB_KEY_PRESS, k->keycode);
        fake(XCB_KEY_RELEASE, k->keycode);
        for (std::size_t i = n; i-- > 0;) fake(XCB_KEY_RELEASE, held[i]);
        return true;
    }
    const xkb_keysym_t sym = xkb_utf32_to_keysym(c);
    if (sym == XKB_KEY_NoSymbol) {
        untypable(c, userText("Typing", "it is a control character").str());
        return true;
    }
    if (!spares_->available()) {
        untypable(c, userText("Typing", "the keyboard layout has no key for it and no spare keycode is left to lend").str());
        return true;
    }
    auto kc = lend(sym);
    if (!kc) return false;
    fake(XCB_KEY_PRESS, *kc);
    fake(XCB_KEY_RELEASE, *kc);
    pressedLent(*kc);
    return true;
}

void X11InputSink::text(std::u16string_view chunk) {
    if (!mayPost()) return;
    const bool waiting = !pending_.empty();
    for (const char32_t c : codePoints(chunk)) {
        pending_.push_back({[this, c] { return typeChar(c); }, true, true, lendsFor(c)});
    }
    if (!waiting) drain();
}

void X11InputSink::armIdleRelease(MonoTime at) {
    idle_ = loop_.singleShot(std::max(at - loop_.now(), Duration{std::chrono::milliseconds(1)}), [this] {
        if (!spares_) return;
        if (auto again = spares_->releaseIdle()) armIdleRelease(*again);
    });
}

std::vector<LayoutEntry> X11InputSink::layout() {
    if (!keymap_) return {};
    return keymap_->entries();
}

std::uint64_t X11InputSink::layoutSerial() {
    if (!keymap_) return 0;
    // Asked before every key command: a layout switched just before it counts.
    if (mayPost()) syncKeyboard();
    return keymap_->serial();
}

}  // namespace tamborix::x11
