#include "platform/linux/support/qt/qt_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace tamborix {

// Hands each accepted descriptor over as it is, instead of wrapping it in a QTcpSocket.
class StreamAcceptor final : public QTcpServer {
public:
    std::vector<UniqueFd> accepted;

protected:
    void incomingConnection(qintptr fd) override { accepted.emplace_back(static_cast<int>(fd)); }
};

namespace {

// How long a dropped connection may take to hand its last bytes to a slow peer.
constexpr auto lingerLimit = std::chrono::seconds(5);
// After a failed accept, the pause before the next attempt.
constexpr auto acceptRetry = std::chrono::milliseconds(100);

std::string describe(int error) { return std::strerror(error); }

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

std::vector<std::uint8_t>& readScratch() {
    thread_local std::vector<std::uint8_t> scratch;
    return scratch;
}

// Sends what the kernel takes at once: the count, or -1 with errno set on a failure.
ssize_t sendSome(int fd, const std::uint8_t* data, std::size_t size) {
    for (;;) {
        const auto n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (wouldBlock(errno)) return 0;
        return -1;
    }
}

// The last bytes of a connection whose owner let go, written out before the descriptor closes,
// within lingerLimit.
class Linger final : public QObject {
public:
    Linger(UniqueFd fd, Bytes rest)
        : fd_(std::move(fd)), rest_(std::move(rest)), notifier_(fd_.get(), QSocketNotifier::Write, this) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, this, [this] { writable(); });
        QTimer::singleShot(lingerLimit, this, [this] { finish(); });
    }
    ~Linger() override { notifier_.setEnabled(false); }

private:
    void writable() {
        const auto n = sendSome(fd_.get(), rest_.data() + sent_, rest_.size() - sent_);
        if (n < 0) return finish();
        sent_ += static_cast<std::size_t>(n);
        if (sent_ == rest_.size()) finish();
    }
    void finish() {
        notifier_.setEnabled(false);
        deleteLater();
    }

    UniqueFd fd_;
    Bytes rest_;
    std::size_t sent_ = 0;
    QSocketNotifier notifier_;
};

}  // namespace

// ---- QtStreamConnection

QtStreamConnection::QtStreamConnection(UniqueFd fd)
    : fd_(std::move(fd)),
      context_(new QObject()),
      readNotifier_(new QSocketNotifier(fd_.get(), QSocketNotifier::Read, context_)),
      writeNotifier_(new QSocketNotifier(fd_.get(), QSocketNotifier::Write, context_)) {
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    if (const int flags = ::fcntl(fd_.get(), F_GETFL); flags >= 0 && !(flags & O_NONBLOCK))
        ::fcntl(fd_.get(), F_SETFL, flags | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    QObject::connect(readNotifier_, &QSocketNotifier::activated, context_, [this] { readable(); });
    QObject::connect(writeNotifier_, &QSocketNotifier::activated, context_, [this] { writable(); });
}

QtStreamConnection::~QtStreamConnection() {
    cancel();
    life_.end();
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    context_->deleteLater();
    if (!fd_) return;
    if (outSent_ < out_.size()) {
        // Bytes are still on their way out: let them finish on their own, within limits.
        Bytes rest(out_.begin() + static_cast<std::ptrdiff_t>(outSent_), out_.end());
        new Linger(std::move(fd_), std::move(rest));
    }
}

std::string QtStreamConnection::remoteHost() const {
    if (remoteHost_) return *remoteHost_;
    if (!fd_) return {};
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    if (::getpeername(fd_.get(), reinterpret_cast<sockaddr*>(&peer), &len) != 0) return {};
    char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 2] = {};
    if (peer.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(peer);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    } else if (peer.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            // Dual-stack listeners see IPv4 peers as ::ffff:a.b.c.d; describe them as plain IPv4.
            ::inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
        } else {
            ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
            if (v6.sin6_scope_id != 0) {
                char name[IF_NAMESIZE] = {};
                const std::string scope = ::if_indextoname(v6.sin6_scope_id, name)
                                              ? std::string(name)
                                              : std::to_string(v6.sin6_scope_id);
                remoteHost_ = std::string(text) + "%" + scope;
                return *remoteHost_;
            }
        }
    } else {
        return {};
    }
    remoteHost_ = std::string(text);
    return *remoteHost_;
}

void QtStreamConnection::start(StateHandler onState) {
    onState_ = std::move(onState);
    later([this] {
        if (onState_ && !ended_ && !error_) onState_(State::ready, {});
    });
}

void QtStreamConnection::failed(const std::string& description) {
    if (cancelled_) return;
    const auto alive = life_.watch();
    pump();  // a pending read learns of it first
    if (!alive || cancelled_) return;
    if (auto handler = onState_) handler(State::failed, description);
}

void QtStreamConnection::receive(std::size_t maxLength, ReceiveDone done) {
    if (cancelled_) return;
    pendingReceive_ = std::move(done);
    maxLength_ = std::max<std::size_t>(maxLength, 1);
    // Asked again from inside a completion: the pump that delivered it serves this read once the
    // completion has returned, in the same loop turn, without a posted job and a second wake-up.
    if (delivering_) return;
    if (mayHaveData_ || ended_ || error_)
        later([this] { pump(); });
    else
        readNotifier_->setEnabled(true);
}

void QtStreamConnection::readable() {
    mayHaveData_ = true;
    pump();
}

void QtStreamConnection::pump() {
    if (delivering_) return;  // the delivering pump goes on once its completion returns
    const auto alive = life_.watch();
    while (!cancelled_ && pendingReceive_) {
        Bytes data;
        if (!ended_ && !error_) {
            if (!mayHaveData_) {
                readNotifier_->setEnabled(true);  // readable() comes back here
                return;
            }
            // Read into one buffer shared by every connection of the thread, so that a frame of
            // 80 bytes does not cost a cleared block of maxLength_ bytes.
            auto& scratch = readScratch();
            if (scratch.size() < maxLength_) scratch.resize(maxLength_);
            ssize_t n = 0;
            do {
                n = ::recv(fd_.get(), scratch.data(), maxLength_, 0);
            } while (n < 0 && errno == EINTR);
            if (n > 0) {
                // A short read has emptied the socket for now.
                if (static_cast<std::size_t>(n) < maxLength_) mayHaveData_ = false;
                data.assign(scratch.begin(), scratch.begin() + n);
            } else if (n == 0 || errno == ECONNRESET) {
                ended_ = true;
            } else if (wouldBlock(errno)) {
                mayHaveData_ = false;
                continue;
            } else {
                error_ = describe(errno);
            }
        }
        auto done = std::move(*pendingReceive_);
        pendingReceive_.reset();
        const bool end = ended_;
        auto error = error_;
        delivering_ = true;
        done(std::move(data), end, std::move(error));
        // The completion may have destroyed this object.
        if (!alive) return;
        delivering_ = false;
        if (end || error) break;
    }
    // Level-triggered: a readable socket nobody reads from would wake the loop again and again.
    if (!pendingReceive_ || cancelled_ || ended_ || error_) readNotifier_->setEnabled(false);
}

void QtStreamConnection::send(Bytes data, SendDone done) {
    if (cancelled_) return;
    if (!fd_ || error_) {
        later([done = std::move(done), error = error_.value_or("The socket is not connected")] {
            if (done) done(error);
        });
        return;
    }
    const auto size = static_cast<std::int64_t>(data.size());
    if (size == 0) {
        later([done = std::move(done)] {
            if (done) done(std::nullopt);
        });
        return;
    }
    queuedBytes_ += size;
    sendWaiters_.emplace_back(queuedBytes_, std::move(done));
    if (outSent_ == out_.size()) {
        // Nothing waits before these bytes: hand them to the kernel now rather than on the next
        // loop turn, so a reply is on its way without waiting for the rest of the turn's work.
        out_ = std::move(data);
        outSent_ = 0;
    } else {
        out_.insert(out_.end(), data.begin(), data.end());
    }
    if (!held_ && !writeNotifier_->isEnabled()) flushOutput();
}

void QtStreamConnection::holdOutput(bool held) {
    held_ = held;
    if (!held_ && fd_ && !error_ && outSent_ < out_.size() && !writeNotifier_->isEnabled()) flushOutput();
}

bool QtStreamConnection::flushOutput() {
    const auto n = sendSome(fd_.get(), out_.data() + outSent_, out_.size() - outSent_);
    if (n < 0) {
        const auto description = describe(errno);
        error_ = description;
        out_.clear();
        outSent_ = 0;
        writeNotifier_->setEnabled(false);
        // Reported from the loop: the caller of send() must not see its connection fail underneath it.
        later([this, description] { failed(description); });
        return false;
    }
    outSent_ += static_cast<std::size_t>(n);
    writtenBytes_ += n;
    if (outSent_ == out_.size()) {
        out_.clear();
        outSent_ = 0;
        writeNotifier_->setEnabled(false);
    } else {
        writeNotifier_->setEnabled(true);
    }
    if (n > 0) postCompletions();
    return true;
}

void QtStreamConnection::writable() {
    if (!flushOutput()) return;
    if (cancelled_ && out_.empty()) closeNow();
}

void QtStreamConnection::postCompletions() {
    if (completionsPosted_ || sendWaiters_.empty() || sendWaiters_.front().first > writtenBytes_) return;
    completionsPosted_ = true;
    later([this] {
        completionsPosted_ = false;
        completeSends();
    });
}

void QtStreamConnection::completeSends() {
    const auto alive = life_.watch();
    while (alive && !cancelled_ && !sendWaiters_.empty() &&
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
    readNotifier_->setEnabled(false);
    // Graceful: what was written still goes out, then the descriptor closes.
    if (out_.empty()) closeNow();
}

void QtStreamConnection::closeNow() {
    if (!fd_) return;
    static_cast<void>(remoteHost());  // still answerable after the close
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    fd_.reset();
}

void QtStreamConnection::later(std::function<void()> job) {
    QMetaObject::invokeMethod(
        context_,
        [alive = life_.watch(), this, job = std::move(job)] {
            if (!alive || cancelled_) return;
            job();
        },
        Qt::QueuedConnection);
}

// ---- QtStreamListener

QtStreamListener::QtStreamListener(std::uint16_t port) : port_(port) {}

QtStreamListener::~QtStreamListener() {
    cancel();
    life_.end();
}

void QtStreamListener::start(Handlers handlers) {
    handlers_ = std::move(handlers);
    server_ = new StreamAcceptor();
    QObject::connect(server_, &QTcpServer::newConnection, server_, [this] { acceptPending(); });
    // QTcpServer stops accepting for good after any failed accept but "try again" (out of
    // descriptors for a moment, say), and the phones after it would connect and never be
    // answered. Accepting starts again a little later instead.
    QObject::connect(server_, &QTcpServer::acceptError, server_, [server = server_] {
        QTimer::singleShot(acceptRetry, server, [server] { server->resumeAccepting(); });
    });
    const bool ok = server_->listen(QHostAddress::Any, port_);
    const auto error = ok ? std::string{} : server_->errorString().toStdString();
    // Reported from the loop, as the platform reports listener states.
    QMetaObject::invokeMethod(
        server_,
        [this, alive = life_.watch(), ok, error] {
            if (!alive || !handlers_.onState) return;
            auto handler = handlers_.onState;
            handler(ok ? State::ready : State::failed, error);
        },
        Qt::QueuedConnection);
}

void QtStreamListener::acceptPending() {
    const auto alive = life_.watch();
    while (alive && server_ && !server_->accepted.empty()) {
        UniqueFd fd = std::move(server_->accepted.front());
        server_->accepted.erase(server_->accepted.begin());
        auto conn = std::make_unique<QtStreamConnection>(std::move(fd));
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
