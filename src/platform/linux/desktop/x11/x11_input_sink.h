#pragma once
// Synthetic input on an X11 display through XTEST: the pointer goes to the injector's absolute
// targets, wheel pixels become wheel-button clicks, characters are typed with the layout's own key
// at whatever level of the active group has them (the level's modifiers held around it) and only
// characters no level has go through lent spare keycodes. Everything is posted in call order;
// when a spare keycode is not yet free to rebind, later input waits behind it, across frames.

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
        // Bindings are given back once none was used for this long (at least the spares' hold),
        // so an idle helper leaves the map as it found it.
        Duration idleRelease = seconds(3.0);
    };
    // A wheel click scrolls three lines in most X toolkits (Qt, GTK's discrete steps, browsers
    // about 50–60 px); 50 px per click keeps a phone's pixel scroll close to the distance the
    // finger moved.
    static constexpr int pixelsPerWheelClick = 50;

    X11InputSink(XConnection& conn, MainLoop& loop, Options options);
    ~X11InputSink() override;

    [[nodiscard]] bool mayPost() const override;
    [[nodiscard]] std::string reason() const override;
    [[nodiscard]] std::string remedy() const override;
    [[nodiscard]] std::vector<std::string> settingsPages() const override;
    void mouse(const MouseEvent& event) override;
    void scroll(const ScrollEvent& event) override;
    void key(const KeyEvent& event) override;
    void text(std::u16string_view chunk) override;
    void warp(Point at) override;
    [[nodiscard]] std::vector<LayoutEntry> layout() override;
    [[nodiscard]] std::uint64_t layoutSerial() override;

    // One line for the start-up report.
    [[nodiscard]] std::string describe() const;
    // Mapping changes made for lent keycodes so far.
    [[nodiscard]] std::uint64_t mappingChanges() const { return spares_ ? spares_->changes() : 0; }

private:
    struct Step {
        std::function<bool()> run;  // false: cannot run yet, try again later
        bool keyboard = false;
        bool typesText = false;  // looks a character up in the layout
        std::uint32_t lends = 0;  // the keysym it will need a lent keycode for, as far as known
    };
    void run(Step step);
    void drain();
    void schedule(MonoTime at);
    void fake(std::uint8_t type, std::uint8_t detail, std::int16_t x = 0, std::int16_t y = 0);
    bool typeChar(char32_t c);
    bool pressSym(std::uint32_t sym, bool down);
    std::optional<xcb_keycode_t> lend(std::uint32_t sym);
    void pressedLent(xcb_keycode_t kc);
    [[nodiscard]] std::uint32_t lendsFor(char32_t c);
    void syncKeyboard();
    void armIdleRelease(MonoTime at);

    XConnection& conn_;
    MainLoop& loop_;
    Options options_;
    bool xtest_ = false;
    std::string keyboardError_;
    std::unique_ptr<XkbKeymap> keymap_;
    std::unique_ptr<SpareKeycodes> spares_;
    std::deque<Step> pending_;
    std::vector<xcb_keycode_t> lentPressed_;  // lent keycodes pressed since the last round trip
    MonoTime readyAt_{};
    Timer retry_;
    Timer idle_;
    int carryVertical_ = 0;
    int carryHorizontal_ = 0;
};

}  // namespace tamborix::x11
