#pragma once
// One still picture of part of a display, scaled and JPEG-encoded. The real capture runs on a
// worker thread; the answer always arrives later on the main loop, exactly once.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ports/geometry.h"
#include "protocol/bytes.h"

namespace tamborix {

struct CaptureRequest {
    std::uint32_t display = 0;  // DisplayInfo::id
    Rect displayBounds;         // global coordinates
    Rect region;                // global coordinates, inside displayBounds
    int width = 0;              // output size in pixels
    int height = 0;
    double quality = 0.55;  // JPEG quality, 0…1
    bool showCursor = true;

    // The region relative to the display's top-left corner.
    [[nodiscard]] Rect sourceRect() const {
        return {region.x - displayBounds.x, region.y - displayBounds.y, region.width,
                region.height};
    }
    friend bool operator==(const CaptureRequest&, const CaptureRequest&) = default;
};

class ScreenCapture {
public:
    // The JPEG file, or nullopt when nothing could be captured or encoded.
    using Done = std::function<void(std::optional<Bytes> jpeg)>;

    virtual ~ScreenCapture() = default;

    // Whether this session allows capturing the screen at all.
    [[nodiscard]] virtual bool available() const = 0;
    // Why not, in a few words for the menu and the console; empty while available.
    [[nodiscard]] virtual std::string unavailableReason() const { return {}; }
    // False where the pictures show nothing of the user's screen (a placeholder): sharing them
    // needs nobody's consent.
    [[nodiscard]] virtual bool showsTheScreen() const { return true; }
    // `done` is called on the main loop, never from inside this call. The caller keeps its own
    // lifetime check: the answer may come after the caller lost interest. A display that is not
    // (or no longer) capturable answers nothing; a backend may reuse its list of capturable
    // displays for up to 5 s rather than query the system for every frame.
    virtual void capture(const CaptureRequest& request, Done done) = 0;
};

}  // namespace tamborix
