#include "platform/linux/services/bluez/notify_link.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <utility>

namespace tamborix::bluez {

namespace {
// Small enough that a phone that stops reading is noticed after a few dozen values rather than
// thousands, large enough for a burst of fragments of one screen frame.
constexpr int sendBuffer = 32 * 1024;
}  // namespace

std::unique_ptr<NotifyLink> NotifyLink::create(std::uint16_t mtu, std::function<void()> onClosed,
                                               std::function<void()> onWritable) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
        return nullptr;
    UniqueFd ours(fds[0]);
    UniqueFd remote(fds[1]);
    ::setsockopt(ours.get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    std::unique_ptr<NotifyLink> link(new NotifyLink(std::move(ours), std::move(remote), mtu));
    link->onClosed_ = std::move(onClosed);
    link->onWritable_ = std::move(onWritable);
    return link;
}

NotifyLink::NotifyLink(UniqueFd fd, UniqueFd remote, std::uint16_t mtu)
    : fd_(std::move(fd)), remote_(std::move(remote)), mtu_(mtu) {
    readNotifier_ = std::make_unique<QSocketNotifier>(fd_.get(), QSocketNotifier::Read);
    QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, [this] { readable(); });
    writeNotifier_ = std::make_unique<QSocketNotifier>(fd_.get(), QSocketNotifier::Write);
    writeNotifier_->setEnabled(false);
    QObject::connect(writeNotifier_.get(), &QSocketNotifier::activated, [this] {
        writeNotifier_->setEnabled(false);
        if (!closed_ && onWritable_) onWritable_();
    });
}

NotifyLink::~NotifyLink() {
    readNotifier_.reset();
    writeNotifier_.reset();
    releaseRemote();
    fd_.reset();
}

void NotifyLink::releaseRemote() { remote_.reset(); }

void NotifyLink::readable() {
    // bluetoothd never writes here: readability means its end was closed (or data we ignore).
    char buf[512];
    for (;;) {
        const auto n = ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        break;
    }
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    if (closed_) return;
    closed_ = true;
    if (onClosed_) onClosed_();
}

NotifyLink::Sent NotifyLink::send(ByteView value) {
    if (closed_) return Sent::closed;
    const auto length = std::min(value.size(), maxValue());
    for (;;) {
        const auto n = ::send(fd_.get(), value.data(), length, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) return Sent::sent;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
            writeNotifier_->setEnabled(true);
            return Sent::full;
        }
        closed_ = true;
        readNotifier_->setEnabled(false);
        writeNotifier_->setEnabled(false);
        return Sent::closed;
    }
}

}  // namespace tamborix::bluez
