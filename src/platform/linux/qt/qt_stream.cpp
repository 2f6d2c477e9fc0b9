#include "platform/linux/qt/qt_stream.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace tamborix {

namespace {

// How long a dropped connection may take to hand its last bytes to a slow peer.
constexpr auto lingerLimit = std::chrono::seconds(5);
// Qt buffers received bytes without limit unless told; past this it leaves them to TCP's own
// flow control until the client has read.
constexpr qint64 readBufferLimit = 64 * 1024;

std::string hostText(const QHostAddress& address) {
    if (address.isNull()) return {};
    bool mapped = false;
    const auto v4 = address.toIPv4Address(&mapped);
    // Dual-stack listeners see IPv4 peers as ::ffff:a.b.c.d; describe them as plain IPv4.
    if (mapped) return QHostAddress(v4).toString().toStdString();
    return address.toString().toStdString();
}

}  // namespace

// ---- QtStreamConnection

QtStreamConnection::QtStreamConnection(QTcpSocket* socket)
    : socket_(socket), context_(new QObject()) {
    socket_->setParent(nullptr);
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket_->setReadBufferSize(readBufferLimit);
}

QtStreamConnection::~QtStreamConnection() {
    cancel();
    alive_.reset();
    context_->deleteLater();
    auto* socket = socket_;
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    // Bytes are still on their way out: let the socket finish on its own, within limits.
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(lingerLimit, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

std::string QtStreamConnection::remoteHost() const { return hostText(socket_->peerAddress()); }

void QtStreamConnection::start(StateHandler onState) {
    onState_ = std::move(onState);
    QObject::connect(socket_, &QIODevice::readyRead, context_,
                     [this] { outsideSend([this] { pump(); }); });
    QObject::connect(socket_, &QAbstractSocket::disconnected, context_, [this] {
        ended_ = true;
        outsideSend([this] { pump(); });
    });
    QObject::connect(socket_, &QIODevice::bytesWritten, context_, [this](qint64 bytes) {
        writtenBytes_ += bytes;
        outsideSend([this] { written(); });
    });
    QObject::connect(socket_, &QAbstractSocket::errorOccurred, context_,
                     [this](QAbstractSocket::SocketError code) {
                         auto description = socket_->errorString().toStdString();
                         outsideSend([this, code, description] { socketError(code, description); });
                     });
    if (socket_->state() != QAbstractSocket::ConnectedState) ended_ = true;
    later([this] {
        if (onState_ && !ended_) onState_(State::ready, {});
    });
}

void QtStreamConnection::socketError(QAbstractSocket::SocketError code,
                                     const std::string& description) {
    if (cancelled_) return;
    if (code == QAbstractSocket::RemoteHostClosedError) {
        ended_ = true;
        pump();
        return;
    }
    error_ = description;
    std::weak_ptr<bool> alive = alive_;
    pump();
    if (alive.expired() || cancelled_) return;
    if (auto handler = onState_) handler(State::failed, description);
}

void QtStreamConnection::receive(std::size_t maxLength, ReceiveDone done) {
    if (cancelled_) return;
    pendingReceive_ = std::move(done);
    maxLength_ = std::max<std::size_t>(maxLength, 1);
    // Asked again from inside a completion: the pump that delivered it serves this read once the
    // completion has returned, in the same loop turn, without a posted job and a second wake-up.
    if (delivering_) return;
    later([this] { pump(); });
}

void QtStreamConnection::pump() {
    if (delivering_) return;  // the delivering pump goes on once its completion returns
    std::weak_ptr<bool> alive = alive_;
    while (!cancelled_ && pendingReceive_) {
        Bytes data;
        const auto available = socket_->bytesAvailable();
        if (available > 0) {
            const auto n = std::min<std::size_t>(maxLength_, static_cast<std::size_t>(available));
            data.resize(n);
            const auto got =
                socket_->read(reinterpret_cast<char*>(data.data()), static_cast<qint64>(n));
            data.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        }
        const bool drained = socket_->bytesAvailable() == 0;
        const bool end = ended_ && drained;
        auto error = drained ? error_ : std::nullopt;
        if (data.empty() && !end && !error) return;  // nothing yet: readyRead comes back here
        auto done = std::move(*pendingReceive_);
        pendingReceive_.reset();
        delivering_ = true;
        done(std::move(data), end, std::move(error));
        // The completion may have destroyed this object.
        if (alive.expired()) return;
        delivering_ = false;
        if (end || error) return;
    }
}

void QtStreamConnection::send(Bytes data, SendDone done) {
    if (cancelled_) return;
    std::optional<std::string> failure;
    const auto size = static_cast<qint64>(data.size());
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        failure = "The socket is not connected";
    } else if (socket_->write(reinterpret_cast<const char*>(data.data()), size) != size) {
        failure = socket_->errorString().toStdString();
    }
    if (failure || size == 0) {
        later([done = std::move(done), failure] {
            if (done) done(failure);
        });
        return;
    }
    queuedBytes_ += size;
    sendWaiters_.emplace_back(queuedBytes_, std::move(done));
    // Hand the bytes to the kernel now rather than on the next loop turn: a reply is on its way
    // without waiting for the rest of the turn's work.
    sending_ = true;
    socket_->flush();
    sending_ = false;
}

void QtStreamConnection::written() {
    std::weak_ptr<bool> alive = alive_;
    while (!alive.expired() && !cancelled_ && !sendWaiters_.empty() &&
           sendWaiters_.front().first <= writtenBytes_) {
        auto done = std::move(sendWaiters_.front().second);
        sendWaiters_.pop_front();
        if (done) done(std::nullopt);
    }
}

void QtStreamConnection::cancel() {
    if (cancelled_) return;
    cancelled_ = true;
    onState_ = nullptr;
    pendingReceive_.reset();
    sendWaiters_.clear();
    QObject::disconnect(socket_, nullptr, context_, nullptr);
    // Graceful: what was written still goes out.
    socket_->disconnectFromHost();
}

void QtStreamConnection::outsideSend(std::function<void()> job) {
    if (sending_)
        later(std::move(job));
    else
        job();
}

void QtStreamConnection::later(std::function<void()> job) {
    QMetaObject::invokeMethod(
        context_,
        [alive = std::weak_ptr<bool>(alive_), this, job = std::move(job)] {
            if (alive.expired() || cancelled_) return;
            job();
        },
        Qt::QueuedConnection);
}

// ---- QtStreamListener

QtStreamListener::QtStreamListener(std::uint16_t port) : port_(port) {}

QtStreamListener::~QtStreamListener() {
    cancel();
    alive_.reset();
}

void QtStreamListener::start(Handlers handlers) {
    handlers_ = std::move(handlers);
    server_ = new QTcpServer();
    QObject::connect(server_, &QTcpServer::newConnection, server_, [this] { acceptPending(); });
    const bool ok = server_->listen(QHostAddress::Any, port_);
    const auto error = ok ? std::string{} : server_->errorString().toStdString();
    // Reported from the loop, as the platform reports listener states.
    QMetaObject::invokeMethod(
        server_,
        [this, alive = std::weak_ptr<bool>(alive_), ok, error] {
            if (alive.expired() || !handlers_.onState) return;
            auto handler = handlers_.onState;
            handler(ok ? State::ready : State::failed, error);
        },
        Qt::QueuedConnection);
}

void QtStreamListener::acceptPending() {
    std::weak_ptr<bool> alive = alive_;
    while (!alive.expired() && server_) {
        auto* socket = server_->nextPendingConnection();
        if (!socket) break;
        auto conn = std::make_unique<QtStreamConnection>(socket);
        if (!handlers_.onConnection) {
            conn->cancel();
            continue;
        }
        auto handler = handlers_.onConnection;
        handler(std::move(conn));  // may cancel or destroy this listener
    }
}

void QtStreamListener::cancel() {
    handlers_ = {};
    if (server_) {
        QObject::disconnect(server_, nullptr, nullptr, nullptr);
        server_->close();
        server_->deleteLater();
        server_ = nullptr;
    }
}

std::uint16_t QtStreamListener::localPort() const {
    return server_ && server_->isListening() ? server_->serverPort() : 0;
}

StreamListenerFactory::Created QtStreamListenerFactory::create(std::uint16_t port) {
    return Created{std::make_unique<QtStreamListener>(port), {}};
}

}  // namespace tamborix
