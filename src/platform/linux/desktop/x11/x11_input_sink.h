#pragma once
// Synthetic input on an X11 display through XTEST: the pointer goes to the injector's absolute
// targets, wheel pixels become wheel-button clicks, keys are found in the current XKB keymap and
// characters the layout lacks are typed through lent spare keycodes. Everything is posted in
// call order; when a spare keycode is not yet free to rebind, later input waits behind it.

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/linux/desktop/x11/spare_keycodes.h"
#include "platform/linux/desktop/x11/x_connection.h"
#include "platform/linux/desktop/x11/xkb_keymap.h"
#include "ports/input_sink.h"
#include "ports/main_loop.h"

namespace tamborix::x11 {

class X11InputSink final : public InputSink {
public:
    struct Options {
        SpareKeycodes::Options spares;
        // Bindings not used for this long are given back, so an idle helper leaves the map as
        // it found it.
        Duration idleRelease = seconds(5.0);
    };
    // A wheel click scrolls three lines in most X toolkits (Qt, GTK's discrete steps, browsers
    // about 50–60 px); 50 px per click keeps a phone's pixel scroll close to the distance the
    // finger moved.
    static constexpr int pixelsPerWheelClick = 50;

    X11InputSink(XConnection& conn, MainLoop& loop, Options options);
    ~X11InputSink() override;

    [[nodiscard]] bool mayPost() const override;
    [[nodiscard]] std::string reason() const override;
    void mouse(const MouseEvent& event) override;
    void scroll(const ScrollEvent& event) override;
    void key(const KeyEvent& event) override;
    void text(std::u16string_view chunk) override;
    void warp(Point at) override;
    [[nodiscard]] std::vector<LayoutEntry> layout() override;
    [[nodiscard]] std::uint64_t layoutSerial() override;

    // One line for the start-up report.
    [[nodiscard]] std::string describe() const;

private:
    using Step = std::function<bool()>;  // false: cannot run yet, try again later
    void run(Step step);
    void drain();
    void schedule(MonoTime at);
    void fake(std::uint8_t type, std::uint8_t detail, std::int16_t x = 0, std::int16_t y = 0);
    bool typeChar(char32_t c);
    bool pressSym(std::uint32_t sym, bool down);
    void armIdleRelease();

    XConnection& conn_;
    MainLoop& loop_;
    Options options_;
    bool xtest_ = false;
    std::string keyboardError_;
    std::unique_ptr<XkbKeymap> keymap_;
    std::unique_ptr<SpareKeycodes> spares_;
    std::deque<Step> pending_;
    MonoTime readyAt_{};
    Timer retry_;
    Timer idle_;
    int carryVertical_ = 0;
    int carryHorizontal_ = 0;
};

}  // namespace tamborix::x11
