#include "platform/linux/services/bluez/write_link.h"

#include <sys/socket.h>

#include <QSocketNotifier>
#include <cerrno>
#include <utility>

namespace tamborix::bluez {

std::unique_ptr<WriteLink> WriteLink::create(std::uint16_t mtu, std::function<void(std::vector<Bytes>)> onValues,
                                             std::function<void()> onClosed) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return nullptr;
    std::unique_ptr<WriteLink> link(new WriteLink(UniqueFd(fds[0]), UniqueFd(fds[1]), mtu));
    link->onValues_ = std::move(onValues);
    link->onClosed_ = std::move(onClosed);
    return link;
}

WriteLink::WriteLink(UniqueFd fd, UniqueFd remote, std::uint16_t mtu)
    : fd_(std::move(fd)), remote_(std::move(remote)), mtu_(mtu) {
    readNotifier_ = std::make_unique<QSocketNotifier>(fd_.get(), QSocketNotifier::Read);
    QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, [this] { readable(); });
}

WriteLink::~WriteLink() {
    readNotifier_.reset();
    remote_.reset();
    fd_.reset();
}

void WriteLink::readable() {
    if (closed_) return;
    std::vector<Bytes> values;
    // A value is at most MTU - 3 bytes; a larger buffer only guards against a truncated packet.
    Bytes buf(std::max<std::size_t>(mtu_, 517));
    bool ended = false;
    for (;;) {
        const auto n = ::recv(fd_.get(), buf.data(), buf.size(), MSG_DONTWAIT);
        if (n > 0) {
            values.emplace_back(buf.begin(), buf.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        ended = true;  // end of file, or an error that will not pass
        break;
    }
    // The values first: a central that wrote and left still delivered what it wrote.
    if (!values.empty() && onValues_) onValues_(std::move(values));
    if (!ended || closed_) return;
    closed_ = true;
    readNotifier_->setEnabled(false);
    if (onClosed_) onClosed_();
}

}  // namespace tamborix::bluez
