#pragma once
// One still picture of part of a display, scaled and JPEG-encoded. The real capture runs on a
// worker thread; the answer always arrives later on the main loop, exactly once.

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// A picture together with what the caller made of it on the capture thread.
struct FinishedPicture {
    Bytes jpeg;
    std::vector<std::string> lines;  // the caller's Finish applied to `jpeg`
    // Where the pointer was as the picture was taken (global coordinates), for a backend that
    // learns it with the picture anyway; nullopt where it does not.
    std::optional<Point> pointer;
};

class ScreenCapture {
public:
    // The JPEG file, or nullopt when nothing could be captured or encoded.
    using Done = std::function<void(std::optional<Bytes> jpeg)>;
    // Runs on the capture thread: a pure function of the picture that shares nothing with the
    // main thread.
    using Finish = std::function<std::vector<std::string>(const Bytes& jpeg)>;
    // nullopt when nothing could be captured, encoded or finished, or the picture is empty.
    using FinishedDone = std::function<void(std::optional<FinishedPicture> picture)>;

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
    // As capture(), with `finish` applied to the picture before the answer. A backend with a
    // capture thread runs it there; this one, for those without, on the main loop.
    virtual void captureFinished(const CaptureRequest& request, Finish finish, FinishedDone done) {
        capture(request, [finish = std::move(finish), done = std::move(done)](std::optional<Bytes> jpeg) {
            std::optional<FinishedPicture> picture;
            if (jpeg && !jpeg->empty()) picture = FinishedPicture{std::move(*jpeg), {}, std::nullopt};
            if (picture) {
                try {
                    picture->lines = finish(picture->jpeg);
                } catch (const std::exception&) {
                    picture.reset();
                }
            }
            done(std::move(picture));
        });
    }
};

}  // namespace tamborix
