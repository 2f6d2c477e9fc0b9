#pragma once
// Input at the level of the phone's commands: relative motion, numbered clicks, held buttons,
// scrolling, named keys with modifiers, text, and the pointer put on a tapped point. The session
// core's InputInjector turns each into the events of an InputSink; a backend that takes them
// whole (the dry run's recorder) is handed to the core in PortBundle::inputActions instead.

#include <string>
#include <string_view>
#include <vector>

#include "ports/geometry.h"
#include "ports/main_loop.h"

namespace tamborix {

class InputActions {
public:
    virtual ~InputActions() = default;

    // `dx`, `dy` as the phone sent them, before any clamping to a display.
    virtual void move(double dx, double dy) = 0;
    // `count` clicks; each is numbered within its double or triple click (ClickSeries).
    virtual void click(std::string_view button, int count) = 0;
    virtual void down(std::string_view button) = 0;
    virtual void up(std::string_view button) = 0;
    // Lets go of every held button, in name order.
    virtual void releaseAll() = 0;
    virtual void scroll(double dx, double dy) = 0;
    // `name` is a named key, a media key or one character; `s` is UTF-8.
    virtual void key(std::string_view name, const std::vector<std::string>& mods) = 0;
    virtual void text(std::string_view s) = 0;
    // Puts the pointer on `p`, the point of the streamed screen the phone tapped.
    virtual void tapAt(Point p) = 0;
};

// Which click of a double or triple click the next one is: the same button within 0.4 s of the
// previous click counts on up to three, then starts again at one.
class ClickSeries {
public:
    static constexpr Duration interval = seconds(0.4);

    [[nodiscard]] int next(std::string_view button, MonoTime now) {
        number_ = (started_ && button_ == button && last_ > now - interval && number_ < 3) ? number_ + 1 : 1;
        if (!started_ || button_ != button) button_ = std::string(button);
        started_ = true;
        last_ = now;
        return number_;
    }

private:
    std::string button_;
    bool started_ = false;
    MonoTime last_{};
    int number_ = 0;
};

}  // namespace tamborix
