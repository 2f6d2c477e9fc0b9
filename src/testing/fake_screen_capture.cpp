#include "testing/fake_screen_capture.h"

#include <utility>

namespace tamborix::testing {

Bytes FakeScreenCapture::pictureFor(std::size_t requestNumber) const {
    Bytes b(pictureSize);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(requestNumber + i);
    return b;
}

void FakeScreenCapture::capture(const CaptureRequest& request, Done done) {
    requests.push_back(request);
    std::optional<Bytes> answer;
    if (!fail) answer = pictureFor(requests.size());
    if (holdAnswers) {
        held_.emplace_back(std::move(done), std::move(answer));
        return;
    }
    loop_.post([done = std::move(done), answer = std::move(answer)]() mutable {
        done(std::move(answer));
    });
}

void FakeScreenCapture::release() {
    auto held = std::move(held_);
    held_.clear();
    for (auto& [done, answer] : held) {
        loop_.post([done = std::move(done), answer = std::move(answer)]() mutable {
            done(std::move(answer));
        });
    }
}

}  // namespace tamborix::testing
