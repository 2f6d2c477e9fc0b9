#pragma once
// The stream ports on the Qt event loop: a Qt Network listener on every interface (IPv4 and
// IPv6), and its accepted TCP connections read and written on their own descriptors, with
// no-delay and keep-alive on.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "base/liveness.h"
#include "base/unique_fd.h"
#include "ports/stream.h"

class QObject;
class QSocketNotifier;

namespace tamborix {

class StreamAcceptor;

class QtStreamConnection final : public StreamConnection {
public:
    // Takes ownership of a connected TCP socket descriptor.
    explicit QtStreamConnection(UniqueFd fd);
    ~QtStreamConnection() override;
    QtStreamConnection(const QtStreamConnection&) = delete;
    QtStreamConnection& operator=(const QtStreamConnection&) = delete;

    [[nodiscard]] std::string remoteHost() const override;
    void start(StateHandler onState) override;
    void receive(std::size_t maxLength, ReceiveDone done) override;
    void send(Bytes data, SendDone done) override;
    void holdOutput(bool held) override;
    void cancel() override;

    // For diagnostics and tests; -1 once closed.
    [[nodiscard]] int descriptor() const noexcept { return fd_.get(); }

private:
    void pump();
    void readable();
    void writable();
    // Hands queued bytes to the kernel; false after a failure (then reported from the loop).
    bool flushOutput();
    void postCompletions();
    void completeSends();
    void failed(const std::string& description);
    void closeNow();
    void later(std::function<void()> job);

    UniqueFd fd_;
    // Parent of the notifiers and receiver of posted jobs. Deleted later: this object may be
    // destroyed inside one of their signals.
    QObject* context_;
    QSocketNotifier* readNotifier_;
    QSocketNotifier* writeNotifier_;
    Liveness life_;
    StateHandler onState_;
    std::optional<ReceiveDone> pendingReceive_;
    std::size_t maxLength_ = 0;
    // Cleared when a read came back short: the next read waits for the descriptor to be readable
    // instead of costing a system call that finds nothing.
    bool mayHaveData_ = true;
    bool ended_ = false;
    std::optional<std::string> error_;
    bool cancelled_ = false;
    // Inside a receive completion, which may ask for the next read at once.
    bool delivering_ = false;
    bool completionsPosted_ = false;
    Bytes out_;                // bytes the kernel did not take yet, from outSent_ on
    std::size_t outSent_ = 0;
    bool held_ = false;
    std::int64_t queuedBytes_ = 0;
    std::int64_t writtenBytes_ = 0;
    std::deque<std::pair<std::int64_t, SendDone>> sendWaiters_;  // by cumulative end offset
    mutable std::optional<std::string> remoteHost_;
};

class QtStreamListener final : public StreamListener {
public:
    explicit QtStreamListener(std::uint16_t port);
    ~QtStreamListener() override;

    void start(Handlers handlers) override;
    void cancel() override;
    [[nodiscard]] std::uint16_t localPort() const override;

private:
    void acceptPending();

    std::uint16_t port_;
    StreamAcceptor* server_ = nullptr;  // deleted later, for the same reason as connections
    Handlers handlers_;
    Liveness life_;
};

class QtStreamListenerFactory final : public StreamListenerFactory {
public:
    [[nodiscard]] Created create(std::uint16_t port) override;
};

}  // namespace tamborix
