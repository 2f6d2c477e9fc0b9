#include "tools/line_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/owned.h"

namespace tamborix::remote {

namespace {

using AddressList = Owned<addrinfo, ::freeaddrinfo>;

UniqueFd connectWithTimeout(const addrinfo& ai, const std::string& from,
                            std::chrono::milliseconds timeout, std::string& error) {
    UniqueFd owned(::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC, ai.ai_protocol));
    const int fd = owned.get();
    if (fd < 0) {
        error = std::strerror(errno);
        return {};
    }
    if (!from.empty()) {
        addrinfo hints{};
        hints.ai_family = ai.ai_family;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST;
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(from.c_str(), nullptr, &hints, &found);
        const AddressList local(rc == 0 ? found : nullptr);
        if (!local || ::bind(fd, local->ai_addr, local->ai_addrlen) != 0) {
            error = "cannot send from " + from;
            return {};
        }
    }
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, ai.ai_addr, ai.ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        rc = ::poll(&p, 1, static_cast<int>(timeout.count()));
        if (rc == 1) {
            int soerr = 0;
            socklen_t len = sizeof soerr;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
            rc = soerr == 0 ? 0 : -1;
            if (soerr) errno = soerr;
        } else {
            if (rc == 0) errno = ETIMEDOUT;
            rc = -1;
        }
    }
    if (rc != 0) {
        error = std::strerror(errno);
        return {};
    }
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return owned;
}

}  // namespace

LineSocket::LineSocket(const Address& to, const std::string& from, std::chrono::milliseconds timeout) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(to.port);
    if (const int rc = ::getaddrinfo(to.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        throw ConnectError("cannot resolve " + to.host + ": " + ::gai_strerror(rc));
    }
    const AddressList list(found);
    std::string error = "no address";
    for (auto* ai = list.get(); ai && !fd_; ai = ai->ai_next) {
        fd_ = connectWithTimeout(*ai, from, timeout, error);
    }
    if (!fd_) throw ConnectError("cannot connect to " + to.key() + ": " + error);
}

LineSocket::~LineSocket() = default;

void LineSocket::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw ConnectError(std::string("connection lost: ") + std::strerror(errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void LineSocket::writeLine(std::string_view line) {
    std::string buf;
    buf.reserve(line.size() + 1);
    buf.append(line);
    buf.push_back('\n');
    write(buf);
}

bool LineSocket::lineBuffered() const { return buffer_.find('\n') != std::string::npos; }

void LineSocket::shutdownWrite() { ::shutdown(fd_.get(), SHUT_WR); }

LineSocket::ReadStatus LineSocket::readLine(std::string& out, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto nl = buffer_.find('\n'); nl != std::string::npos) {
            out.assign(buffer_, 0, nl);
            buffer_.erase(0, nl + 1);
            return ReadStatus::line;
        }
        if (eof_) return ReadStatus::closed;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd_.get(), POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return ReadStatus::timeout;
        char chunk[16384];
        const auto n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            eof_ = true;
            continue;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

}  // namespace tamborix::remote
