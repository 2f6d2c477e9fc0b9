#include "platform/linux/desktop/x11/x11_input_sink.h"

#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon.h>

#include <cmath>

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
    SpareKeycodes::restoreFromNote(conn_, *keymap_, options_.spares.note);
    spares_ = std::make_unique<SpareKeycodes>(conn_, *keymap_, options_.spares);
    keymap_->setHidden([this](xcb_keycode_t kc) { return spares_ && spares_->isBorrowed(kc); });
}

X11InputSink::~X11InputSink() {
    // Input still waiting is dropped; what was lent is given back by the spares.
    pending_.clear();
    if (keymap_) keymap_->setHidden(nullptr);
}

bool X11InputSink::mayPost() const { return conn_.alive() && xtest_ && keymap_ != nullptr; }

std::string X11InputSink::reason() const {
    if (!conn_.alive()) return "lost the connection to display " + conn_.displayName();
    if (!xtest_) return "no X11 XTEST extension on display " + conn_.displayName();
    if (!keymap_) return keyboardError_;
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
    if (pending_.empty() && step()) {
        conn_.flush();
        return;
    }
    pending_.push_back(std::move(step));
    schedule(readyAt_);
}

void X11InputSink::drain() {
    while (!pending_.empty() && mayPost()) {
        if (!pending_.front()()) {
            conn_.flush();
            schedule(readyAt_);
            return;
        }
        pending_.pop_front();
    }
    pending_.clear();
    conn_.flush();
}

void X11InputSink::schedule(MonoTime at) {
    const auto wait = std::max(at - loop_.now(), Duration{std::chrono::milliseconds(1)});
    retry_ = loop_.singleShot(wait, [this] { drain(); }, {.leeway = Duration{0}, .strict = true});
}

void X11InputSink::mouse(const MouseEvent& e) {
    run([this, e] {
        const auto x = coordinate(e.at.x);
        const auto y = coordinate(e.at.y);
        fake(XCB_MOTION_NOTIFY, 0, x, y);
        if (isMotion(e.type)) return true;
        fake(isPress(e.type) ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, buttonNumber(e.button));
        return true;
    });
}

void X11InputSink::warp(Point at) {
    run([this, at] {
        fake(XCB_MOTION_NOTIFY, 0, coordinate(at.x), coordinate(at.y));
        return true;
    });
}

void X11InputSink::scroll(const ScrollEvent& e) {
    run([this, e] {
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
    });
}

bool X11InputSink::pressSym(std::uint32_t sym, bool down) {
    if (auto kc = keymap_->keycodeFor(sym)) {
        fake(down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, *kc);
        return true;
    }
    if (!spares_->available()) return true;  // nothing can type it: dropped
    auto kc = spares_->acquire(sym, loop_.now(), readyAt_);
    if (!kc) return false;
    fake(down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, *kc);
    spares_->used(*kc, loop_.now(), down);
    armIdleRelease();
    return true;
}

void X11InputSink::key(const KeyEvent& e) {
    run([this, e] {
        if (e.kind == KeyKind::keycode) {
            if (e.value >= 8 && e.value <= 255)
                fake(e.down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, static_cast<std::uint8_t>(e.value));
            return true;
        }
        return pressSym(e.value, e.down);
    });
}

bool X11InputSink::typeChar(char32_t c) {
    if (c == U'\n') c = U'\r';  // Return
    if (auto k = keymap_->keyFor(c)) {
        const auto shift = k->shift ? keymap_->keycodeFor(XKB_KEY_Shift_L) : std::nullopt;
        if (shift) fake(XCB_KEY_PRESS, *shift);
        fake(XCB_KEY_PRESS, k->keycode);
        fake(XCB_KEY_RELEASE, k->keycode);
        if (shift) fake(XCB_KEY_RELEASE, *shift);
        return true;
    }
    const xkb_keysym_t sym = xkb_utf32_to_keysym(c);
    if (sym == XKB_KEY_NoSymbol) return true;
    if (!spares_->available()) return true;
    auto kc = spares_->acquire(sym, loop_.now(), readyAt_);
    if (!kc) return false;
    fake(XCB_KEY_PRESS, *kc);
    fake(XCB_KEY_RELEASE, *kc);
    spares_->used(*kc, loop_.now(), false);
    armIdleRelease();
    return true;
}

void X11InputSink::text(std::u16string_view chunk) {
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        char32_t c = chunk[i];
        if (c >= 0xd800 && c < 0xdc00 && i + 1 < chunk.size() && chunk[i + 1] >= 0xdc00 && chunk[i + 1] < 0xe000) {
            c = 0x10000 + ((c - 0xd800) << 10) + (chunk[i + 1] - 0xdc00);
            ++i;
        }
        run([this, c] { return typeChar(c); });
    }
}

void X11InputSink::armIdleRelease() {
    idle_ = loop_.singleShot(options_.idleRelease, [this] {
        if (!spares_->releaseIdle(loop_.now())) armIdleRelease();
    });
}

std::vector<LayoutEntry> X11InputSink::layout() {
    if (!keymap_) return {};
    return keymap_->entries();
}

std::uint64_t X11InputSink::layoutSerial() { return keymap_ ? keymap_->serial() : 0; }

}  // namespace tamborix::x11
