#pragma once
// One accepted TCP connection: cuts the byte stream into LF-ended lines, hands the first line to
// the session core's handshake and every later line, a sealed frame in base64url text, to the
// core in arrival order. Closes on overflow, malformed input, transport errors and idleness.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/session_entry.h"
#include "ports/main_loop.h"
#include "ports/stream.h"
#include "protocol/bytes.h"
#include "protocol/limits.h"

namespace tamborix {

class NetClient : public std::enable_shared_from_this<NetClient> {
public:
    static constexpr std::size_t maxLine = limits::maxLine;     // bytes, LF not counted
    static constexpr std::size_t readChunk = 16384;  // bytes asked for per read
    static constexpr Duration idleCheck = std::chrono::seconds(2);
    // The handshake must be done this long after the connection was accepted, however busily
    // the peer sends: a trickle of bytes must not hold a place for ever.
    static constexpr Duration handshakeLimit = limits::handshakeTimeout;
    // After the handshake: the longest silence, except while a frame waits for the user.
    static constexpr Duration sessionIdleLimit = limits::sessionIdleTimeout;
    // Bytes written but not yet taken by the system. A peer that asks for replies and never
    // reads them is cut off here instead of filling the helper's memory.
    static constexpr std::size_t maxUnsentBytes = 1024 * 1024;
    static constexpr const char* transportName = "Network";
    // Frames that may wait behind one being processed asynchronously (for example a pairing
    // waiting for the user). A peer that sends more without waiting is cut off instead of being
    // buffered without bound.
    static constexpr std::size_t maxQueuedFrames = 1024;

    using OnDone = std::function<void(NetClient&)>;
    using OnProven = std::function<void(NetClient&)>;

    // Always owned by a shared_ptr: callbacks hold the client weakly.
    NetClient(MainLoop& loop, std::unique_ptr<StreamConnection> conn, SessionEntry& core,
              OnDone onDone);
    ~NetClient();
    NetClient(const NetClient&) = delete;
    NetClient& operator=(const NetClient&) = delete;

    // Called once, when the peer proved itself: a paired phone's handshake was accepted, or a
    // pairing phone sent its proof. Set before start().
    void setOnProven(OnProven onProven) { onProven_ = std::move(onProven); }
    void start();
    // Idempotent: tells the core `closed` (when there is a session) and calls onDone only once.
    void close();

    [[nodiscard]] bool isClosed() const noexcept { return closed_; }
    // Not yet past the handshake, or past it but not (yet) a paired device.
    [[nodiscard]] bool authenticated() const noexcept {
        return session_ && session_->authenticated();
    }
    // A paired phone, or a pairing phone that sent its proof.
    [[nodiscard]] bool proven() const noexcept { return proven_; }
    [[nodiscard]] std::size_t unsentBytes() const noexcept { return unsent_; }
    [[nodiscard]] const std::string& peer() const noexcept { return peer_; }
    [[nodiscard]] const HelperConnPtr& session() const noexcept { return session_; }
    // Frames waiting behind an asynchronous one, plus the one in flight.
    [[nodiscard]] std::size_t queuedFrames() const noexcept {
        return queue_.size() + (inFlight_ ? 1 : 0);
    }

private:
    void receive();
    void received(Bytes data, bool endOfStream, const std::optional<std::string>& error);
    void drain();
    void handle(ByteView line);
    void handleHandshake(ByteView line);
    void handleFrame(ByteView line);
    void runNextQueued();
    void queuedDone(std::exception_ptr error, std::vector<Bytes> frames);
    void write(Bytes data);
    // `data` already ends with its line feed.
    void writeLine(Bytes data);
    void writeFrame(ByteView frame);
    void checkIdle();
    void markProven();

    MainLoop& loop_;
    std::unique_ptr<StreamConnection> conn_;
    SessionEntry& core_;
    OnDone onDone_;
    OnProven onProven_;
    bool proven_ = false;
    Bytes buffer_;
    HelperConnPtr session_;
    Timer idle_;
    bool closed_ = false;
    MonoTime acceptedAt_;
    MonoTime lastRx_;
    std::size_t unsent_ = 0;
    std::string peer_ = "network";
    // Frames are handled strictly in arrival order: while one is being processed
    // asynchronously, every later frame waits here instead of taking the synchronous path.
    std::deque<Bytes> queue_;
    bool inFlight_ = false;
    bool dispatching_ = false;  // inside runNextQueued (a core may complete at once)
};

}  // namespace tamborix
