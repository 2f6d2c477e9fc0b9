#pragma once
// The dry run's screen: every capture answers, later on the loop, with the same placeholder
// picture whatever was asked, so that screen sharing runs its whole course without reading the
// screen.

#include <cstddef>
#include <cstdint>

#include "ports/main_loop.h"
#include "ports/screen_capture.h"

namespace tamborix {

class PlaceholderCapture final : public ScreenCapture {
public:
    static constexpr std::size_t pictureBytes = 9000;
    static constexpr std::uint8_t pictureByte = 0xAB;

    explicit PlaceholderCapture(MainLoop& loop) : loop_(loop) {}

    [[nodiscard]] bool available() const override { return true; }
    [[nodiscard]] bool showsTheScreen() const override { return false; }
    void capture(const CaptureRequest&, Done done) override {
        loop_.post([done = std::move(done)] { done(Bytes(pictureBytes, pictureByte)); });
    }

private:
    MainLoop& loop_;
};

}  // namespace tamborix
