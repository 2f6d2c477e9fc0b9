// One pass of a picture's chunks on its way out: eight lines of a sealed 2.8 kB chunk (3.8 kB of
// base64url each) over a real loopback TCP connection, written three ways in the same run:
// one send per line (before the output was held), copied into one buffer and sent once (the held
// output's way), and one writev over the lines as they are. A thread on the other end reads all.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "protocol/wire.h"

namespace {

using tamborix::Bytes;

constexpr std::size_t linesPerPass = 8;
constexpr std::size_t sealedChunk = 2800;

class Loopback {
public:
    Loopback() {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            throw std::runtime_error("no loopback listener");
        }
        writer_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(writer_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("no connect");
        reader_ = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        const int one = 1;
        ::setsockopt(writer_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        drain_ = std::thread([this] {
            std::vector<char> buffer(1 << 16);
            while (::read(reader_, buffer.data(), buffer.size()) > 0) {
            }
        });
    }
    ~Loopback() {
        ::shutdown(writer_, SHUT_WR);
        drain_.join();
        ::close(writer_);
        ::close(reader_);
    }
    [[nodiscard]] int fd() const { return writer_; }

private:
    int writer_ = -1;
    int reader_ = -1;
    std::thread drain_;
};

std::vector<Bytes> passLines() {
    std::vector<Bytes> lines;
    for (std::size_t i = 0; i < linesPerPass; ++i) {
        lines.push_back(tamborix::Wire::b64urlLine(Bytes(sealedChunk, static_cast<std::uint8_t>(i))));
    }
    return lines;
}

// The whole of `size` bytes, blocking: the bench measures the calls, not a full buffer.
void sendAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const auto n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("send failed");
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void BM_PassOneSendPerLine(benchmark::State& state) {
    Loopback link;
    const auto lines = passLines();
    for (auto _ : state) {
        for (const auto& l : lines) sendAll(link.fd(), l.data(), l.size());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PassCopiedThenOneSend(benchmark::State& state) {
    Loopback link;
    const auto lines = passLines();
    for (auto _ : state) {
        // As the held output: the first line taken over, the others appended to it.
        Bytes out = lines[0];
        for (std::size_t i = 1; i < lines.size(); ++i) out.insert(out.end(), lines[i].begin(), lines[i].end());
        sendAll(link.fd(), out.data(), out.size());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PassOneWritev(benchmark::State& state) {
    Loopback link;
    const auto lines = passLines();
    for (auto _ : state) {
        iovec parts[linesPerPass];
        std::size_t total = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            parts[i] = {const_cast<std::uint8_t*>(lines[i].data()), lines[i].size()};
            total += lines[i].size();
        }
        const auto n = ::writev(link.fd(), parts, static_cast<int>(lines.size()));
        if (n != static_cast<ssize_t>(total)) {
            state.SkipWithError("writev wrote part of the pass");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PassOneSendPerLine)->Repetitions(3);
BENCHMARK(BM_PassCopiedThenOneSend)->Repetitions(3);
BENCHMARK(BM_PassOneWritev)->Repetitions(3);

}  // namespace

BENCHMARK_MAIN();
