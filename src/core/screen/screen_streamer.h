#pragma once
// A live view of one display for one phone: JPEG stills, base64 text cut into chunks, sent one
// frame at a time and paced by the phone's acknowledgements. Driven by main-loop timers; the
// capture itself answers later through the ScreenCapture port.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/liveness.h"
#include "core/helper_conn.h"
#include "ports/display_source.h"
#include "ports/main_loop.h"
#include "ports/screen_capture.h"
#include "protocol/bytes.h"
#include "protocol/limits.h"

namespace tamborix {

class ScreenStreamer {
public:
    enum class Mode { fit, cursor };
    [[nodiscard]] static std::string_view modeName(Mode mode);
    [[nodiscard]] static std::optional<Mode> modeFromName(std::string_view name);

    static constexpr std::size_t chunkChars = limits::screenChunkCharacters;
    // Chunks sealed and written per pass of the main loop: a frame of a hundred chunks does not
    // hold up other phones' commands and pings for the whole of its sealing and writing.
    static constexpr std::size_t chunksPerPass = 8;
    static constexpr std::size_t keptRects = 8;
    static constexpr double cursorRegionWidth = 900;
    static constexpr double cursorRegionHeight = 560;

    struct Awaiting {
        std::int64_t id = 0;
        MonoTime sent{};
    };
    struct OutputSize {
        int width = 0;
        int height = 0;
        friend bool operator==(const OutputSize&, const OutputSize&) = default;
    };

    ScreenStreamer(MainLoop& loop, const DisplaySource& displays, ScreenCapture& capture,
                   std::weak_ptr<HelperConn> conn);
    ~ScreenStreamer();
    ScreenStreamer(const ScreenStreamer&) = delete;
    ScreenStreamer& operator=(const ScreenStreamer&) = delete;

    // Sets the mode, the display (1-based; 0 or a missing one follows the pointer) and the
    // Bluetooth pace. Starts the loop soon after, on the main loop, if it is not running; a
    // running loop uses the new settings from its next frame.
    void start(Mode mode, int display, bool lowBandwidth);
    // Takes effect at once: nothing more is sent, a picture still being captured is dropped.
    void stop();
    // Only the acknowledgement of the outstanding frame counts.
    void ack(std::int64_t id);
    // The screen point under (x, y) of frame `id`'s picture, each within 0…1; nullopt for an
    // unknown or forgotten frame or a position outside the picture.
    [[nodiscard]] std::optional<Point> point(std::int64_t id, double x, double y) const;

    [[nodiscard]] bool running() const { return running_; }
    [[nodiscard]] Mode mode() const { return mode_; }
    [[nodiscard]] int fixedDisplay() const { return fixedDisplay_; }
    [[nodiscard]] bool lowBandwidth() const { return lowBandwidth_; }
    [[nodiscard]] std::int64_t nextID() const { return nextID_; }
    [[nodiscard]] const std::optional<Awaiting>& awaiting() const { return awaiting_; }
    [[nodiscard]] const std::map<std::int64_t, Rect>& rects() const { return rects_; }

    // The rules of one frame, pure.
    // The part of `display` a frame shows: all of it, or a window around the pointer.
    [[nodiscard]] static Rect region(Mode mode, const Rect& display, Point pointer);
    [[nodiscard]] static OutputSize outputSize(Mode mode, bool lowBandwidth, const Rect& region);
    // The chunk messages of one frame's base64 text, in order, as JSON text.
    [[nodiscard]] static std::vector<std::string> chunks(std::int64_t id, std::string_view base64,
                                                         OutputSize size);
    // Chunk `index` of `count` into `out` (reusing its storage). `base64` needs no JSON escaping.
    static void writeChunk(std::string& out, std::int64_t id, std::size_t index, std::size_t count,
                           std::string_view base64, OutputSize size);

private:
    struct Frame {
        std::int64_t id = 0;  // the number it will get if it is sent: its chunks carry it
        Rect region;
        OutputSize size;
    };

    void step();
    void captureAndSend();
    void picture(std::uint64_t generation, Frame frame, std::optional<FinishedPicture> picture);
    // Numbers the frame and starts sending its chunks; step() follows the last one.
    void send(const Frame& frame, FinishedPicture picture);
    // The next chunks of the frame being sent, then the rest in a later pass.
    void sendSome();
    void scheduleStep(Duration after);

    MainLoop& loop_;
    const DisplaySource& displays_;
    ScreenCapture& capture_;
    std::weak_ptr<HelperConn> conn_;
    Mode mode_ = Mode::fit;
    int fixedDisplay_ = 0;
    bool lowBandwidth_ = false;
    bool running_ = false;
    Timer timer_;
    bool capturing_ = false;
    struct Sending {
        std::int64_t id = 0;
        std::vector<std::string> chunks;  // the chunk messages, made on the capture thread
        std::size_t next = 0;
    };
    std::optional<Sending> sending_;
    std::optional<MonoTime> lastSend_;
    // Where the last picture saw the pointer, if its capture tells: the next frame's region then
    // needs no round trip to the display server from the main thread.
    std::optional<Point> pointer_;
    std::int64_t nextID_ = 0;
    std::optional<Awaiting> awaiting_;
    std::map<std::int64_t, Rect> rects_;
    // A capture answer from before the latest start or stop belongs to no running loop.
    std::uint64_t generation_ = 0;
    Liveness life_;
};

}  // namespace tamborix
