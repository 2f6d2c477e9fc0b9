#pragma once
// The video streams of one PipeWire remote, received on their own thread loop. Each stream holds
// on to its newest buffer (handing the one before back at once) and reads nothing until asked:
// a screen cast sends a frame whenever the screen changes, so the held buffer is the screen as it
// is now, and copying every frame would cost the desktop's frame rate in memory bandwidth while
// nobody looks.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_fd.h"

namespace tamborix::pipewire {

// The newest frame of a stream as PipeWire mapped it; valid only inside PipeWireStreams::read().
struct MappedFrame {
    const std::uint8_t* data = nullptr;
    int stride = 0;  // bytes from one row to the next, at least width * 4
    int width = 0;
    int height = 0;
    bool redFirst = false;  // bytes R, G, B, x rather than B, G, R, x
    std::uint64_t serial = 0;  // counts this stream's frames, from 1
};

class PipeWireStreams {
public:
    // Connects through `fd` (taken over, also on failure) to that remote and asks for a stream
    // from each of `nodes`. Null with `error` set when PipeWire refuses; frames arrive later,
    // once the desktop's session manager links the streams. A stream not running `setupLimit`
    // after this call counts as failed: PipeWire tells only the session manager when a link
    // fails, as it does when the desktop offers the screen only in memory this helper cannot map.
    [[nodiscard]] static std::unique_ptr<PipeWireStreams> open(UniqueFd fd, const std::vector<std::uint32_t>& nodes,
                                                               std::chrono::milliseconds setupLimit,
                                                               std::string& error);
    ~PipeWireStreams();
    PipeWireStreams(const PipeWireStreams&) = delete;
    PipeWireStreams& operator=(const PipeWireStreams&) = delete;

    // Calls `use` with the newest frame of `node`, holding it for the call (keep it short: the
    // stream waits meanwhile). False without a call when the stream has no frame to show.
    [[nodiscard]] bool read(std::uint32_t node, const std::function<void(const MappedFrame&)>& use) const;
    // Empty while at least one stream works or waits for its first frame; else the first problem.
    [[nodiscard]] std::string error() const;

private:
    PipeWireStreams() = default;
    struct Stream;
    struct Callbacks;
    friend struct Callbacks;

    // The thread loop, context, core and registry; freed after the streams that use them.
    struct Connection;
    std::unique_ptr<Connection> pw_;
    std::vector<std::unique_ptr<Stream>> streams_;

    std::chrono::steady_clock::time_point setupBy_;
    mutable std::mutex mutex_;  // guards each stream's held buffer and every problem
    std::string lost_;          // the connection's own failure
};

}  // namespace tamborix::pipewire
