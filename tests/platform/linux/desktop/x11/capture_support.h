#pragma once
// Shared by the capture tests: the Qt loop spun as the application spins it, and one capture
// awaited through it.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <optional>

#include "ports/screen_capture.h"
#include "support/qt_spin.h"

namespace tamborix::testing {

struct CaptureAnswer {
    bool answered = false;
    std::optional<Bytes> jpeg;
};

inline CaptureAnswer captureOnce(ScreenCapture& capture, const CaptureRequest& request) {
    auto answer = std::make_shared<CaptureAnswer>();
    capture.capture(request, [answer](std::optional<Bytes> jpeg) {
        answer->answered = true;
        answer->jpeg = std::move(jpeg);
    });
    spinUntil([&] { return answer->answered; });
    return *answer;
}

inline CaptureRequest requestFor(Rect display, Rect region, int width, int height, double quality = 0.55) {
    CaptureRequest r;
    r.display = 2;
    r.displayBounds = display;
    r.region = region;
    r.width = width;
    r.height = height;
    r.quality = quality;
    return r;
}

}  // namespace tamborix::testing
