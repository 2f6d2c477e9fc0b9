#pragma once
// Reads pictures of the root window on a connection of its own. Meant for one worker thread: the
// calls block on the X server, and keeping them off the helper's main connection means a large
// image never holds up the events and requests of the main loop, nor do the main loop's events
// land in this connection's queue.

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/desktop/x11/cursor_overlay.h"
#include "platform/linux/desktop/x11/shm_segment.h"
#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::x11 {

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
    [[nodiscard]] bool intersects(const PixelRect& o) const {
        return x < o.x + o.width && o.x < x + width && y < o.y + o.height && o.y < y + height;
    }
};

// One grabbed picture, as 0xXXRRGGBB words in host order; valid until the next grab.
struct Grab {
    std::uint8_t* data = nullptr;
    int stride = 0;
    int width = 0;
    int height = 0;
};

class ScreenGrabber {
public:
    // Null with the reason in `error` when this display cannot be captured. Shared memory is
    // used where the server is on this machine and offers MIT-SHM 1.2, unless `sharedMemory` is
    // false.
    [[nodiscard]] static std::unique_ptr<ScreenGrabber> open(const std::string& displayName,
                                                             std::string& error,
                                                             bool sharedMemory = true);
    ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    [[nodiscard]] bool alive() const;
    // How pictures travel ("shared memory" or "GetImage").
    [[nodiscard]] std::string method() const;

    // `area` of the root window; nullopt when it is not inside the screen or the server failed.
    [[nodiscard]] std::optional<Grab> grab(const PixelRect& area);
    // The pointer's picture and place; nullopt without XFixes.
    [[nodiscard]] std::optional<CursorImage> cursor();
    // Whether anything inside `area` may have been drawn since the previous call (which this call
    // forgets). True when the server cannot tell (no DAMAGE).
    [[nodiscard]] bool changedSince(const PixelRect& area);

private:
    explicit ScreenGrabber(XcbConnection conn);
    [[nodiscard]] bool probe(std::string& error, bool sharedMemory);
    [[nodiscard]] std::optional<Grab> grabShared(const PixelRect& area);
    [[nodiscard]] std::optional<Grab> grabPlain(const PixelRect& area);
    void toHostOrder(Grab& grab) const;

    XcbConnection conn_;  // closed after everything below
    xcb_screen_t* screen_ = nullptr;
    bool local_ = false;          // a Unix socket: the server can map our memory
    bool sharedOk_ = false;       // MIT-SHM 1.2 present and not yet failed
    bool xfixes_ = false;
    bool damage_ = false;
    std::uint32_t damageId_ = 0;
    std::uint32_t partsRegion_ = 0;
    // Memory byte of each output channel (B, G, R, A) in the server's pixels; identity on a
    // little-endian server with the usual masks.
    std::array<std::uint8_t, 16> shuffle_{};
    bool needsShuffle_ = false;
    std::unique_ptr<ShmSegment> segment_;
    XReply<xcb_get_image_reply_t> plain_;  // the last GetImage answer, drawn into in place
};

}  // namespace tamborix::x11
