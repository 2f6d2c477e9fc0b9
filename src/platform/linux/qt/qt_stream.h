#pragma once
// The stream ports over Qt Network: a listener on every interface (IPv4 and IPv6) and its
// accepted TCP connections, with no-delay and keep-alive on.

#include <QAbstractSocket>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "ports/stream.h"

class QObject;
class QTcpServer;
class QTcpSocket;

namespace tamborix {

class QtStreamConnection final : public StreamConnection {
public:
    // Takes ownership of a connected socket.
    explicit QtStreamConnection(QTcpSocket* socket);
    ~QtStreamConnection() override;
    QtStreamConnection(const QtStreamConnection&) = delete;
    QtStreamConnection& operator=(const QtStreamConnection&) = delete;

    [[nodiscard]] std::string remoteHost() const override;
    void start(StateHandler onState) override;
    void receive(std::size_t maxLength, ReceiveDone done) override;
    void send(Bytes data, SendDone done) override;
    void cancel() override;

    // For diagnostics and tests.
    [[nodiscard]] QTcpSocket* socket() const noexcept { return socket_; }

private:
    void pump();
    void schedulePump();
    void written();
    void socketError(QAbstractSocket::SocketError code, const std::string& description);
    void later(std::function<void()> job);
    // Runs `job` now, or on a later loop turn while inside send(): the caller of send() must not
    // see its own connection fail or complete underneath it.
    void outsideSend(std::function<void()> job);

    QTcpSocket* socket_;
    // Receiver of every signal connection and posted job made here. Sockets and contexts are
    // only ever deleted later: this object may be destroyed inside one of their signals.
    QObject* context_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    StateHandler onState_;
    std::optional<ReceiveDone> pendingReceive_;
    std::size_t maxLength_ = 0;
    bool ended_ = false;
    std::optional<std::string> error_;
    bool cancelled_ = false;
    std::int64_t queuedBytes_ = 0;
    std::int64_t writtenBytes_ = 0;
    std::deque<std::pair<std::int64_t, SendDone>> sendWaiters_;  // by cumulative end offset
    // Inside send(), whose flush may raise the socket's signals at once.
    bool sending_ = false;
    // Inside a receive completion, which may ask for the next read at once.
    bool delivering_ = false;
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
    QTcpServer* server_ = nullptr;  // deleted later, for the same reason as sockets
    Handlers handlers_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class QtStreamListenerFactory final : public StreamListenerFactory {
public:
    [[nodiscard]] Created create(std::uint16_t port) override;
};

}  // namespace tamborix
