#include "transport/net_client.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>
#include <utility>

#include "protocol/wire.h"

namespace tamborix {

namespace {

bool isAsciiSpace(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

NetClient::NetClient(MainLoop& loop, std::unique_ptr<StreamConnection> conn, SessionEntry& core,
                     OnDone onDone)
    : loop_(loop),
      conn_(std::move(conn)),
      core_(core),
      onDone_(std::move(onDone)),
      acceptedAt_(loop.now()),
      lastRx_(loop.now()) {}

NetClient::~NetClient() {
    // Only reached without close() when the owner goes away wholesale; the socket must not
    // outlive its client.
    if (!closed_) {
        closed_ = true;
        conn_->cancel();
    }
}

void NetClient::start() {
    if (auto host = conn_->remoteHost(); !host.empty()) peer_ = std::move(host);
    std::weak_ptr<NetClient> weak = weak_from_this();
    conn_->start([weak](StreamConnection::State state, const std::string&) {
        if (state != StreamConnection::State::failed &&
            state != StreamConnection::State::cancelled)
            return;
        if (auto self = weak.lock()) self->close();
    });
    receive();
    idle_ = loop_.repeating(idleCheck, [weak] {
        if (auto self = weak.lock()) self->checkIdle();
    });
}

void NetClient::close() {
    if (closed_) return;
    closed_ = true;
    // onDone usually drops the owner's reference; stay alive until this call returns.
    auto self = weak_from_this().lock();
    idle_.reset();
    queue_.clear();
    if (session_) core_.closed(session_);
    conn_->cancel();
    if (onDone_) onDone_(*this);
}

void NetClient::checkIdle() {
    if (closed_) return;
    const auto now = loop_.now();
    if (!session_) {
        if (now - acceptedAt_ > handshakeLimit) close();
        return;
    }
    // A frame waiting for the user's answer (a pairing approval) is not silence on the phone's
    // part; the clock starts again once the answer went out.
    if (inFlight_) return;
    if (now - lastRx_ > sessionIdleLimit) close();
}

void NetClient::receive() {
    std::weak_ptr<NetClient> weak = weak_from_this();
    conn_->receive(readChunk, [weak](Bytes data, bool endOfStream,
                                     std::optional<std::string> error) {
        if (auto self = weak.lock()) self->received(std::move(data), endOfStream, error);
    });
}

void NetClient::received(Bytes data, bool endOfStream, const std::optional<std::string>& error) {
    auto self = shared_from_this();
    if (closed_) return;
    if (!data.empty()) {
        buffer_.insert(buffer_.end(), data.begin(), data.end());
        if (buffer_.size() > maxLine &&
            std::find(buffer_.begin(), buffer_.end(), std::uint8_t{'\n'}) == buffer_.end()) {
            close();
            return;
        }
        lastRx_ = loop_.now();
        drain();
    }
    if (closed_) return;
    if (!endOfStream && !error)
        receive();
    else
        close();
}

void NetClient::drain() {
    std::size_t pos = 0;
    while (!closed_) {
        const auto begin = buffer_.begin() + static_cast<std::ptrdiff_t>(pos);
        const auto lf = std::find(begin, buffer_.end(), std::uint8_t{'\n'});
        if (lf == buffer_.end()) break;
        const auto length = static_cast<std::size_t>(lf - begin);
        // Nothing below touches buffer_ before the loop ends, so the view stays valid.
        const ByteView line(buffer_.data() + pos, length);
        pos += length + 1;
        handle(line);
    }
    if (closed_)
        buffer_.clear();
    else
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos));
}

void NetClient::handle(ByteView line) {
    if (line.size() > maxLine) {
        close();
        return;
    }
    if (!session_)
        handleHandshake(line);
    else
        handleFrame(line);
}

void NetClient::handleHandshake(ByteView line) {
    auto outcome = core_.handshake(line, peer_, transportName);
    std::string json;
    try {
        json = outcome.reply.dump();
    } catch (const std::exception&) {
        json.clear();
    }
    if (outcome.conn) {
        write(toBytes(json));
        std::weak_ptr<NetClient> weak = weak_from_this();
        outcome.conn->push = [weak](const Bytes& frame) {
            if (auto self = weak.lock()) self->writeFrame(frame);
        };
        outcome.conn->holdOutput = [weak](bool held) {
            if (auto self = weak.lock(); self && !self->closed_ && self->conn_) self->conn_->holdOutput(held);
        };
        session_ = std::move(outcome.conn);
        if (auto ready = core_.readyFrame(session_)) writeFrame(*ready);
        if (session_->authenticated()) markProven();
        return;
    }
    // A refused handshake: the reply goes out, then the connection ends once it was sent.
    Bytes out = toBytes(json);
    out.push_back('\n');
    std::weak_ptr<NetClient> weak = weak_from_this();
    conn_->send(std::move(out), [weak](const std::optional<std::string>&) {
        if (auto self = weak.lock()) self->close();
    });
}

void NetClient::handleFrame(ByteView line) {
    if (std::any_of(line.begin(), line.end(), [](std::uint8_t c) { return c >= 0x80; })) {
        close();
        return;
    }
    std::size_t first = 0;
    std::size_t last = line.size();
    while (first < last && isAsciiSpace(line[first])) ++first;
    while (last > first && isAsciiSpace(line[last - 1])) --last;
    const std::string_view text(reinterpret_cast<const char*>(line.data()) + first, last - first);

    Bytes frame;
    try {
        frame = Wire::b64d(text, Wire::frameLineLimit);
    } catch (const std::exception&) {
        close();
        return;
    }

    if (session_->authenticated() && !inFlight_ && queue_.empty()) {
        try {
            core_.onFrameNow(session_, frame);
        } catch (...) {
            close();
        }
        return;
    }
    if (queue_.size() >= maxQueuedFrames) {
        close();
        return;
    }
    queue_.push_back(std::move(frame));
    // A pairing session's first frame is its proof.
    markProven();
    if (closed_) return;
    runNextQueued();
}

void NetClient::markProven() {
    if (proven_ || closed_) return;
    proven_ = true;
    auto self = weak_from_this().lock();
    if (onProven_) onProven_(*this);
}

void NetClient::runNextQueued() {
    if (dispatching_) return;  // the loop below picks the next frame up
    dispatching_ = true;
    while (!closed_ && !inFlight_ && !queue_.empty()) {
        Bytes frame = std::move(queue_.front());
        queue_.pop_front();
        inFlight_ = true;
        std::weak_ptr<NetClient> weak = weak_from_this();
        core_.onFrame(session_, std::move(frame),
                      [weak](std::exception_ptr error, std::vector<Bytes> frames) {
                          if (auto self = weak.lock()) self->queuedDone(error, std::move(frames));
                      });
    }
    dispatching_ = false;
}

void NetClient::queuedDone(std::exception_ptr error, std::vector<Bytes> frames) {
    auto self = shared_from_this();
    inFlight_ = false;
    if (closed_) return;
    lastRx_ = loop_.now();
    if (error) {
        close();
        return;
    }
    for (const auto& frame : frames) writeFrame(frame);
    runNextQueued();
}

void NetClient::write(Bytes data) {
    if (closed_) return;
    data.push_back('\n');
    writeLine(std::move(data));
}

void NetClient::writeLine(Bytes data) {
    if (closed_) return;
    const auto size = data.size();
    if (unsent_ + size > maxUnsentBytes) {
        close();
        return;
    }
    unsent_ += size;
    std::weak_ptr<NetClient> weak = weak_from_this();
    conn_->send(std::move(data), [weak, size](const std::optional<std::string>&) {
        if (auto self = weak.lock()) self->unsent_ -= std::min(size, self->unsent_);
    });
}

void NetClient::writeFrame(ByteView frame) {
    if (closed_) return;
    writeLine(Wire::b64urlLine(frame));
}

}  // namespace tamborix
