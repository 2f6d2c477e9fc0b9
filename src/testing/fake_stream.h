#pragma once
// Stream fakes. A FakeStreamConnection is the port side given to the code under test; its
// FakeStreamPeer is the test's side: it delivers bytes, end of stream and failures, and records
// what was sent. A FakeStreamListenerFactory hands out listeners whose states and incoming
// connections the test reports.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/main_loop.h"
#include "ports/stream.h"

namespace tamborix::testing {

class FakeStreamPeer {
public:
    explicit FakeStreamPeer(MainLoop& loop, std::string remoteHost = "192.0.2.7")
        : loop_(loop), remoteHost_(std::move(remoteHost)) {}

    // Each delivered chunk completes one read (cut to the read's size, the rest stays queued);
    // chunks that arrive while no read is pending wait for the next read.
    void deliver(ByteView chunk);
    void deliver(std::string_view text);
    void deliverEnd();
    void deliverError(std::string error);
    void reportState(StreamConnection::State state, const std::string& error = {});
    // Completes every unfinished send, as the system does once the bytes left.
    void finishSends();

    [[nodiscard]] bool started() const { return started_; }
    [[nodiscard]] bool cancelled() const { return cancelled_; }
    // The connection object was destroyed by its owner.
    [[nodiscard]] bool dropped() const { return dropped_; }
    [[nodiscard]] bool readPending() const { return pendingReceive_.has_value(); }
    [[nodiscard]] std::size_t reads() const { return reads_; }
    [[nodiscard]] std::size_t lastReadSize() const { return lastReadSize_; }
    [[nodiscard]] std::size_t unfinishedSends() const { return unfinishedSends_.size(); }
    [[nodiscard]] const std::vector<Bytes>& sends() const { return sends_; }
    // Everything sent so far, concatenated, and the same split at LF (no trailing empty piece).
    [[nodiscard]] std::string sentText() const;
    [[nodiscard]] std::vector<std::string> sentLines() const;

private:
    friend class FakeStreamConnection;
    void pump();

    MainLoop& loop_;
    std::string remoteHost_;
    bool started_ = false;
    bool cancelled_ = false;
    bool dropped_ = false;
    std::size_t reads_ = 0;
    std::size_t lastReadSize_ = 0;
    std::vector<Bytes> sends_;
    std::deque<StreamConnection::SendDone> unfinishedSends_;
    StreamConnection::StateHandler onState_;
    std::optional<StreamConnection::ReceiveDone> pendingReceive_;
    std::deque<Bytes> inbound_;
    bool endQueued_ = false;
    std::optional<std::string> errorQueued_;
};

class FakeStreamConnection final : public StreamConnection {
public:
    explicit FakeStreamConnection(std::shared_ptr<FakeStreamPeer> peer) : peer_(std::move(peer)) {}
    ~FakeStreamConnection() override;

    [[nodiscard]] std::string remoteHost() const override { return peer_->remoteHost_; }
    void start(StateHandler onState) override;
    void receive(std::size_t maxLength, ReceiveDone done) override;
    void send(Bytes data, SendDone done) override;
    void cancel() override;

private:
    std::shared_ptr<FakeStreamPeer> peer_;
};

class FakeStreamListenerFactory final : public StreamListenerFactory {
public:
    struct Record {
        std::uint16_t requestedPort = 0;
        std::uint16_t boundPort = 0;  // what localPort() says once ready
        bool started = false;
        bool cancelled = false;
        bool dropped = false;
        bool ready = false;
        StreamListener::Handlers handlers;
    };

    explicit FakeStreamListenerFactory(MainLoop& loop) : loop_(loop) {}

    // Makes the next create() fail with this description.
    void failNextCreate(std::string error) { failure_ = std::move(error); }

    // The most recently created listener (null before the first).
    [[nodiscard]] std::shared_ptr<Record> last() const { return last_; }
    [[nodiscard]] std::size_t created() const { return created_; }

    // The latest listener reports a state; false when it cannot (not started, cancelled, gone).
    bool reportState(StreamListener::State state, const std::string& error = {});
    // A new incoming connection on the latest listener; null when the listener cannot accept.
    std::shared_ptr<FakeStreamPeer> connect(std::string remoteHost = "192.0.2.7");

    Created create(std::uint16_t port) override;

private:
    [[nodiscard]] bool listening() const;

    MainLoop& loop_;
    std::optional<std::string> failure_;
    std::shared_ptr<Record> last_;
    std::size_t created_ = 0;
};

}  // namespace tamborix::testing
