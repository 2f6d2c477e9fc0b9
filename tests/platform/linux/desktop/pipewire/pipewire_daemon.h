#pragma once
// A PipeWire daemon of the test's own, in a temporary folder, and what a desktop would put on it:
// screen-cast producer streams painting a known pattern, and the links a session manager would
// make from each consumer to the node it asked for.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "support/private_session_bus.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;

namespace tamborix::testing {

// A socket connected to `path`, or -1.
int connectUnix(const std::filesystem::path& path);

class PipeWireDaemon {
public:
    // Writes a minimal configuration (no session manager, no devices, no D-Bus) to `folder` and
    // starts pipewire there; empty on success, else why not.
    std::string start(const std::filesystem::path& folder);
    void stop();
    [[nodiscard]] std::filesystem::path socket() const { return folder_ / "pipewire-0"; }

private:
    std::filesystem::path folder_;
    std::unique_ptr<ServerProcess> daemon_;
};

// One client connection of the test, on its own thread loop.
class PipeWireClient {
public:
    ~PipeWireClient();
    // Empty on success.
    std::string connect(const std::filesystem::path& socket, const char* name);
    [[nodiscard]] pw_thread_loop* loop() const { return loop_; }
    [[nodiscard]] pw_core* core() const { return core_; }

private:
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
};

// A screen-cast stream as a compositor offers it: it drives its own graph and sends frames of
// width × height in `format` (SPA_VIDEO_FORMAT_BGRx or RGBx) with rows `stride` bytes apart;
// the bytes past each row are filled with a colour that must never show. The pattern: red in
// the top-left quadrant, green top-right, blue bottom-left, white bottom-right.
class TestProducer {
public:
    struct Options {
        std::uint32_t format = 0;
        int width = 160;
        int height = 120;
        int stride = 160 * 4;
        bool dmaBufOnly = false;  // offers its buffers only as DMA-BUF, as some GPU compositors do
    };
    static constexpr std::uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, white = 0xFFFFFF;
    static constexpr std::uint32_t padding = 0xFF00FF;

    TestProducer(const std::filesystem::path& socket, Options options);
    ~TestProducer();
    TestProducer(const TestProducer&) = delete;
    TestProducer& operator=(const TestProducer&) = delete;

    // The node id once the daemon made it (bounded wait), else 0 with `error()` saying why.
    [[nodiscard]] std::uint32_t waitForNode(int timeoutMs = 5000);
    [[nodiscard]] std::string error() const;
    [[nodiscard]] int framesSent() const;
    // The desktop stops sharing this monitor: the stream goes away, the connection stays.
    void end();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Links every capture stream of the helper ("tamborix-screen") to the node it targets, as the
// desktop's session manager would.
class StreamLinker {
public:
    explicit StreamLinker(const std::filesystem::path& socket);
    ~StreamLinker();
    [[nodiscard]] int linksMade() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tamborix::testing
