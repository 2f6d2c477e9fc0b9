#pragma once
// A ScreenCapture that answers through the main loop's post, as the real worker thread does:
// with a picture of the requested size that names its request, or with nothing.

#include <optional>
#include <string>
#include <vector>

#include "ports/main_loop.h"
#include "ports/screen_capture.h"

namespace tamborix::testing {

class FakeScreenCapture final : public ScreenCapture {
public:
    explicit FakeScreenCapture(MainLoop& loop) : loop_(loop) {}

    [[nodiscard]] bool available() const override { return isAvailable; }
    [[nodiscard]] std::string unavailableReason() const override { return isAvailable ? std::string() : reason; }
    void capture(const CaptureRequest& request, Done done) override;

    // Answers every request still held back (see holdAnswers), in order.
    void release();

    // Test controls.
    bool isAvailable = true;
    std::string reason;             // while not available
    bool fail = false;           // answer with nothing
    bool holdAnswers = false;    // keep answers until release()
    std::size_t pictureSize = 100;  // bytes of each picture

    // What happened.
    std::vector<CaptureRequest> requests;

    // The picture answered for a request: `pictureSize` bytes counting up from the request's
    // number (1-based), so a test can tell frames apart.
    [[nodiscard]] Bytes pictureFor(std::size_t requestNumber) const;

private:
    MainLoop& loop_;
    std::vector<std::pair<Done, std::optional<Bytes>>> held_;
};

}  // namespace tamborix::testing
