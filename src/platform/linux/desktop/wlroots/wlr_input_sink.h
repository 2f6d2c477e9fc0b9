#pragma once
// Input through a virtual pointer and a virtual keyboard of the compositor's own (wlroots
// protocols). Both devices live as long as the sink: a destroyed virtual pointer takes the
// seat's pointer away from every client. The pointer moves absolutely over the output layout;
// the keyboard types with HelperKeymap (the user's layout, spare keys lent to other characters).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <xkbcommon/xkbcommon.h>

#include "base/owned.h"
#include "platform/linux/desktop/wlroots/helper_keymap.h"
#include "platform/linux/desktop/wlroots/output_layout.h"
#include "platform/linux/support/wayland/wayland_connection.h"
#include "ports/input_sink.h"
#include "wayland/virtual-keyboard.h"
#include "wayland/virtual-pointer.h"

namespace tamborix::wlroots {

class WlrInputSink final : public InputSink {
public:
    // Wheel pixels per notch, as on X11.
    static constexpr int pixelsPerNotch = 50;

    // Makes both devices (pointer or keyboard missing when its manager is null: reason() says
    // which) and waits until the compositor has them, so the first key is not lost.
    // `seatHasKeyboard`: the seat reports a keyboard of the user's, whose keymap is the layout.
    WlrInputSink(wayland::WaylandConnection& conn, const OutputLayout& layout, wl_seat* seat, bool seatHasKeyboard,
                 zwlr_virtual_pointer_manager_v1* pointers, zwp_virtual_keyboard_manager_v1* keyboards);
    ~WlrInputSink() override;

    [[nodiscard]] bool mayPost() const override { return pointer_ && keyboard_ && keymap_; }
    [[nodiscard]] std::string reason() const override { return mayPost() ? std::string() : reason_; }

    void mouse(const MouseEvent& event) override;
    void scroll(const ScrollEvent& event) override;
    void key(const KeyEvent& event) override;
    void text(std::u16string_view chunk) override;
    void warp(Point at) override;
    [[nodiscard]] std::vector<LayoutEntry> layout() override;
    [[nodiscard]] std::uint64_t layoutSerial() override { return serial_; }

    [[nodiscard]] std::optional<Point> lastPosition() const noexcept { return asked_; }
    // Where the user's layout came from, for the start-up lines.
    [[nodiscard]] const std::string& layoutSource() const noexcept { return layoutSource_; }

    // The seat keyboard's listener: the user's keymap, handed over at start and on changes.
    void userKeymap(std::string text);

private:
    void moveTo(Point at);
    void sendKey(int code, bool down);
    void tap(int code, ModifierFlags mods);
    void upload();
    void sendModifiers();
    void wheel(int pixels, std::uint32_t axis, int& notchCarry);
    [[nodiscard]] std::uint32_t now() const;

    wayland::WaylandConnection& conn_;
    const OutputLayout& layout_;
    wayland::Proxy<zwlr_virtual_pointer_v1> pointer_;
    wayland::Proxy<zwp_virtual_keyboard_v1> keyboard_;
    wayland::Proxy<wl_keyboard> seatKeyboard_;
    std::unique_ptr<HelperKeymap> keymap_;
    // The compositor applies no key to a virtual keyboard's modifiers: the sink tracks them and
    // sends them after every key that changes them.
    Owned<xkb_state, xkb_state_unref> state_;
    std::string uploaded_;
    std::string lastUser_;
    // While the device is made the compositor reports the keymap it gives a new keyboard
    // before the helper's own arrives (sway's configured default): not the user's keyboard.
    bool making_ = false;
    std::string layoutSource_;
    std::string reason_;
    std::optional<Point> asked_;
    std::uint64_t serial_ = 1;
    int verticalNotch_ = 0, horizontalNotch_ = 0;
};

}  // namespace tamborix::wlroots
