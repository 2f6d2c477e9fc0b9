#pragma once
// The sink for a session with no way to post input (no X11 XTEST, no writable /dev/uinput) and
// for dry run: it accepts everything, posts nothing and says why.

#include <string>
#include <utility>

#include "ports/input_sink.h"

namespace tamborix {

class NoInputSink final : public InputSink {
public:
    explicit NoInputSink(std::string reason, std::string remedy = {})
        : reason_(std::move(reason)), remedy_(std::move(remedy)) {}

    [[nodiscard]] bool mayPost() const override { return false; }
    [[nodiscard]] std::string reason() const override { return reason_; }
    [[nodiscard]] std::string remedy() const override { return remedy_; }
    void mouse(const MouseEvent&) override {}
    void scroll(const ScrollEvent&) override {}
    void key(const KeyEvent&) override {}
    void text(std::u16string_view) override {}
    void warp(Point) override {}
    [[nodiscard]] std::vector<LayoutEntry> layout() override { return {}; }

private:
    std::string reason_;
    std::string remedy_;
};

}  // namespace tamborix
