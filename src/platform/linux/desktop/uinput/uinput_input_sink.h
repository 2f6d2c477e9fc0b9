#pragma once
// Input through two virtual devices made with uinput, for sessions with neither X11 nor the
// remote-desktop portal (kiosks, a Wayland compositor without the portal): an absolute pointer
// with buttons and a high-resolution wheel over the desktop's rectangle, and a keyboard typing
// through the system's configured layout at every level (plain, Shift, AltGr, AltGr+Shift,
// level 5). Characters that layout has no key for cannot be typed this way: uinput has no way to
// bind a key for them, unlike X11; they are skipped and reported.

#include <memory>
#include <optional>
#include <string>

#include "base/user_text.h"
#include "platform/linux/desktop/uinput/system_keymap.h"
#include "platform/linux/desktop/uinput/uinput_device.h"
#include "ports/geometry.h"
#include "ports/input_sink.h"

namespace tamborix::uinput {

class UinputInputSink final : public InputSink {
public:
    // Wheel pixels per notch: what most toolkits scroll for one notch (three lines of about 16 px)
    // rounded up, so that a flick on the phone moves a page about as far as the same wheel turn.
    static constexpr int pixelsPerNotch = 50;

    UinputInputSink(const FdLayer& layer, Rect desktop, std::unique_ptr<SystemKeymap> keymap,
                    std::string keymapError);

    [[nodiscard]] bool mayPost() const override { return pointer_ && keyboard_; }
    [[nodiscard]] std::string remedy() const override {
        return mayPost() ? std::string()
                         : userText("Backends", "Let your user write to /dev/uinput (the uinput group and udev "
                                                "rule in the README), then start the helper again.").str();
    }
    [[nodiscard]] std::string reason() const override { return mayPost() ? std::string() : reason_; }

    void mouse(const MouseEvent& event) override;
    void scroll(const ScrollEvent& event) override;
    void key(const KeyEvent& event) override;
    void text(std::u16string_view chunk) override;
    void warp(Point at) override;
    [[nodiscard]] std::vector<LayoutEntry> layout() override;

    [[nodiscard]] std::optional<Point> lastPosition() const noexcept { return asked_; }

private:
    void moveTo(Point at);
    void tapKey(int code, ModifierFlags mods);
    void wheel(int pixels, int& carry, int& notchCarry, std::uint16_t hiRes, std::uint16_t notch);

    Rect desktop_;
    std::unique_ptr<SystemKeymap> keymap_;
    std::unique_ptr<Device> pointer_;
    std::unique_ptr<Device> keyboard_;
    std::string reason_;
    std::optional<Point> asked_;
    int verticalCarry_ = 0, verticalNotch_ = 0, horizontalCarry_ = 0, horizontalNotch_ = 0;
};

}  // namespace tamborix::uinput
