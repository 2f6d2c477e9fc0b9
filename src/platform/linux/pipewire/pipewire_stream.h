#pragma once
// The video streams of one PipeWire remote, received on their own thread loop: the newest frame of
// each is kept, converted to 0xAARRGGBB pixels, for whoever asks next. A screen-cast stream sends
// frames only when the screen changes, so the newest frame is the screen as it is now.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/jpeg/frame_encoder.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;

namespace tamborix::pipewire {

struct Frame {
    std::vector<std::uint8_t> pixels;  // 0xAARRGGBB words, rows of width * 4 bytes
    int width = 0;
    int height = 0;
    std::uint64_t serial = 0;  // counts the frames received; 0 = none yet
    [[nodiscard]] jpeg::PixelsView view() const {
        return {pixels.data(), width * 4, width, height};
    }
};

class PipeWireStreams {
public:
    // Connects through `fd` (taken over, also on failure) to that remote and asks for a stream
    // from each of `nodes`. Null with `error` set when PipeWire refuses; frames arrive later,
    // once the streams are linked.
    [[nodiscard]] static std::unique_ptr<PipeWireStreams> open(int fd, const std::vector<std::uint32_t>& nodes,
                                                               std::string& error);
    ~PipeWireStreams();
    PipeWireStreams(const PipeWireStreams&) = delete;
    PipeWireStreams& operator=(const PipeWireStreams&) = delete;

    // Copies the newest frame of `node` into `out` when it is newer than `out.serial`; false when
    // there is no newer one (or no such stream).
    [[nodiscard]] bool newest(std::uint32_t node, Frame& out) const;
    // Empty while the streams work; else why one stopped ("PipeWire: ...").
    [[nodiscard]] std::string error() const;

private:
    PipeWireStreams() = default;
    struct Stream;
    struct Callbacks;
    friend struct Callbacks;

    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    std::vector<std::unique_ptr<Stream>> streams_;

    mutable std::mutex mutex_;  // guards every stream's newest frame and error_
    std::string error_;
};

}  // namespace tamborix::pipewire
