#include "platform/linux/desktop/uinput/uinput_input_sink.h"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cmath>

#include "base/utf16.h"
#include "platform/linux/support/evdev/evdev_button.h"

namespace tamborix::uinput {

namespace {

// High-resolution wheel units per notch, fixed by the kernel's input protocol.
constexpr int hiResPerNotch = 120;

}  // namespace

UinputInputSink::UinputInputSink(const FdLayer& layer, Rect desktop, std::unique_ptr<SystemKeymap> keymap,
                                 std::string keymapError)
    : desktop_(desktop), keymap_(std::move(keymap)) {
    if (!keymap_) {
        reason_ = keymapError;
        return;
    }
    DeviceCapabilities pointer{"Tamborix Helper pointer",
                       {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE},
                       {REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES},
                       {{ABS_X, std::max(0, int(desktop.width) - 1)}, {ABS_Y, std::max(0, int(desktop.height) - 1)}},
                       {}};
    pointer_ = Device::create(layer, pointer, reason_);
    if (!pointer_) return;
    DeviceCapabilities keyboard{"Tamborix Helper keyboard", {}, {}, {}, {}};
    for (int code = KEY_ESC; code <= KEY_MICMUTE; ++code) keyboard.keys.push_back(code);
    keyboard_ = Device::create(layer, keyboard, reason_);
    if (!keyboard_) pointer_.reset();
}

void UinputInputSink::moveTo(Point at) {
    asked_ = at;
    const double x = std::clamp(at.x, desktop_.minX(), desktop_.maxX() - 1) - desktop_.minX();
    const double y = std::clamp(at.y, desktop_.minY(), desktop_.maxY() - 1) - desktop_.minY();
    pointer_->add(EV_ABS, ABS_X, static_cast<std::int32_t>(std::lround(x)));
    pointer_->add(EV_ABS, ABS_Y, static_cast<std::int32_t>(std::lround(y)));
    pointer_->send();
}

void UinputInputSink::mouse(const MouseEvent& event) {
    if (!mayPost()) return;
    const auto button = moveForButton(event, asked_, [this](Point at) { moveTo(at); });
    if (!button) return;
    pointer_->add(EV_KEY, static_cast<std::uint16_t>(button->code), button->down ? 1 : 0);
    pointer_->send();
}

void UinputInputSink::wheel(int pixels, int& carry, int& notchCarry, std::uint16_t hiRes, std::uint16_t notch) {
    if (pixels == 0) return;
    // Remainders are carried so that many small scrolls add up to what one large one gives.
    const long total = long(pixels) * hiResPerNotch + carry;
    const int units = static_cast<int>(total / pixelsPerNotch);
    carry = static_cast<int>(total % pixelsPerNotch);
    if (units == 0) return;
    pointer_->add(EV_REL, hiRes, units);
    // Programs that read only whole notches get one each time the fine units complete one.
    notchCarry += units;
    const int notches = notchCarry / hiResPerNotch;
    notchCarry %= hiResPerNotch;
    if (notches != 0) pointer_->add(EV_REL, notch, notches);
}

void UinputInputSink::scroll(const ScrollEvent& event) {
    if (!mayPost()) return;
    // Positive vertical is a wheel turned up, as REL_WHEEL counts it; positive horizontal moves
    // content right, which is a wheel turned left (negative REL_HWHEEL).
    wheel(event.vertical, verticalCarry_, verticalNotch_, REL_WHEEL_HI_RES, REL_WHEEL);
    wheel(-event.horizontal, horizontalCarry_, horizontalNotch_, REL_HWHEEL_HI_RES, REL_HWHEEL);
    pointer_->send();
}

void UinputInputSink::key(const KeyEvent& event) {
    if (!mayPost()) return;
    int code = -1;
    if (event.kind == KeyKind::keycode) {
        code = static_cast<int>(event.value);
    } else if (const int media = evdevMediaKey(event.value)) {
        code = media;
    } else if (auto found = keymap_->find(event.value)) {
        code = found->evdevCode;
    }
    if (code <= 0 || code > KEY_MAX) return;
    keyboard_->add(EV_KEY, static_cast<std::uint16_t>(code), event.down ? 1 : 0);
    keyboard_->send();
}

void UinputInputSink::tapKey(int code, ModifierFlags mods) {
    const auto held = keymap_->levelKeys(mods);
    for (const int k : held) keyboard_->add(EV_KEY, static_cast<std::uint16_t>(k), 1);
    keyboard_->add(EV_KEY, static_cast<std::uint16_t>(code), 1);
    keyboard_->send();
    keyboard_->add(EV_KEY, static_cast<std::uint16_t>(code), 0);
    for (auto k = held.rbegin(); k != held.rend(); ++k) keyboard_->add(EV_KEY, static_cast<std::uint16_t>(*k), 0);
    keyboard_->send();
}

void UinputInputSink::text(std::u16string_view chunk) {
    if (!mayPost()) return;
    for (const char32_t c : codePoints(chunk)) {
        if (c == U'\n' || c == U'\r') {
            tapKey(KEY_ENTER, 0);
            continue;
        }
        if (c == U'\t') {
            tapKey(KEY_TAB, 0);
            continue;
        }
        if (auto found = keymap_->find(xkb_utf32_to_keysym(static_cast<std::uint32_t>(c)))) {
            tapKey(found->evdevCode, found->mods);
        } else {
            untypable(c, userText("Typing", "the keyboard layout has no key for it (a uinput keyboard cannot lend one)").str());
        }
    }
}

void UinputInputSink::warp(Point at) {
    if (mayPost()) moveTo(at);
}

std::vector<LayoutEntry> UinputInputSink::layout() {
    return keymap_ ? keymap_->entries() : std::vector<LayoutEntry>{};
}

}  // namespace tamborix::uinput
