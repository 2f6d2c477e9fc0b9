#include "testing/fake_stream.h"

#include <algorithm>
#include <utility>

namespace tamborix::testing {

// ---- FakeStreamPeer

void FakeStreamPeer::deliver(ByteView chunk) {
    inbound_.emplace_back(chunk.begin(), chunk.end());
    pump();
}

void FakeStreamPeer::deliver(std::string_view text) { deliver(toBytes(text)); }

void FakeStreamPeer::deliverEnd() {
    endQueued_ = true;
    pump();
}

void FakeStreamPeer::deliverError(std::string error) {
    errorQueued_ = std::move(error);
    pump();
}

void FakeStreamPeer::reportState(StreamConnection::State state, const std::string& error) {
    if (dropped_ || cancelled_ || !onState_) return;
    auto handler = onState_;
    handler(state, error);
}

void FakeStreamPeer::finishSends() {
    while (!unfinishedSends_.empty() && !dropped_) {
        auto done = std::move(unfinishedSends_.front());
        unfinishedSends_.pop_front();
        if (done) done(std::nullopt);
    }
}

void FakeStreamPeer::pump() {
    if (dropped_ || cancelled_ || !pendingReceive_) return;
    if (inbound_.empty() && !endQueued_ && !errorQueued_) return;
    auto done = std::move(*pendingReceive_);
    pendingReceive_.reset();
    Bytes data;
    if (!inbound_.empty()) {
        auto& front = inbound_.front();
        if (front.size() > lastReadSize_) {
            data.assign(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(lastReadSize_));
            front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(lastReadSize_));
        } else {
            data = std::move(front);
            inbound_.pop_front();
        }
    }
    // The end and errors come with the last bytes, as a real stream reports them.
    const bool last = inbound_.empty();
    const bool end = last && endQueued_;
    auto error = last ? errorQueued_ : std::nullopt;
    done(std::move(data), end, std::move(error));
}

std::string FakeStreamPeer::sentText() const {
    std::string all;
    for (const auto& s : sends_) all.append(s.begin(), s.end());
    return all;
}

std::vector<std::string> FakeStreamPeer::sentLines() const {
    std::vector<std::string> lines;
    const auto all = sentText();
    std::size_t pos = 0;
    while (pos < all.size()) {
        const auto lf = all.find('\n', pos);
        if (lf == std::string::npos) {
            lines.push_back(all.substr(pos));
            break;
        }
        lines.push_back(all.substr(pos, lf - pos));
        pos = lf + 1;
    }
    return lines;
}

// ---- FakeStreamConnection

FakeStreamConnection::~FakeStreamConnection() {
    peer_->dropped_ = true;
    peer_->onState_ = nullptr;
    peer_->pendingReceive_.reset();
    peer_->unfinishedSends_.clear();
}

void FakeStreamConnection::start(StateHandler onState) {
    peer_->started_ = true;
    peer_->onState_ = std::move(onState);
}

void FakeStreamConnection::receive(std::size_t maxLength, ReceiveDone done) {
    if (peer_->cancelled_) return;
    ++peer_->reads_;
    peer_->lastReadSize_ = maxLength;
    peer_->pendingReceive_ = std::move(done);
    // Never complete inside the call: what is already queued arrives on the loop.
    if (!peer_->inbound_.empty() || peer_->endQueued_ || peer_->errorQueued_) {
        std::weak_ptr<FakeStreamPeer> weak = peer_;
        peer_->loop_.post([weak] {
            if (auto peer = weak.lock()) peer->pump();
        });
    }
}

void FakeStreamConnection::send(Bytes data, SendDone done) {
    if (peer_->cancelled_) return;
    peer_->sends_.push_back(std::move(data));
    peer_->unfinishedSends_.push_back(std::move(done));
}

void FakeStreamConnection::cancel() {
    peer_->cancelled_ = true;
    peer_->onState_ = nullptr;
    peer_->pendingReceive_.reset();
    peer_->unfinishedSends_.clear();
}

// ---- FakeStreamListenerFactory

namespace {

class FakeStreamListener final : public StreamListener {
public:
    explicit FakeStreamListener(std::shared_ptr<FakeStreamListenerFactory::Record> record)
        : record_(std::move(record)) {}
    ~FakeStreamListener() override {
        record_->dropped = true;
        record_->handlers = {};
    }

    void start(Handlers handlers) override {
        record_->started = true;
        record_->handlers = std::move(handlers);
    }
    void cancel() override {
        record_->cancelled = true;
        record_->handlers = {};
    }
    [[nodiscard]] std::uint16_t localPort() const override {
        return record_->ready ? record_->boundPort : 0;
    }

private:
    std::shared_ptr<FakeStreamListenerFactory::Record> record_;
};

}  // namespace

StreamListenerFactory::Created FakeStreamListenerFactory::create(std::uint16_t port) {
    if (failure_) {
        Created failed{nullptr, std::move(*failure_)};
        failure_.reset();
        return failed;
    }
    ++created_;
    last_ = std::make_shared<Record>();
    last_->requestedPort = port;
    last_->boundPort = port == 0 ? 49152 : port;
    return Created{std::make_unique<FakeStreamListener>(last_), {}};
}

bool FakeStreamListenerFactory::listening() const {
    return last_ && last_->started && !last_->cancelled && !last_->dropped;
}

bool FakeStreamListenerFactory::reportState(StreamListener::State state, const std::string& error) {
    if (!listening() || !last_->handlers.onState) return false;
    if (state == StreamListener::State::ready) last_->ready = true;
    auto handler = last_->handlers.onState;
    handler(state, error);
    return true;
}

std::shared_ptr<FakeStreamPeer> FakeStreamListenerFactory::connect(std::string remoteHost) {
    if (!listening() || !last_->handlers.onConnection) return nullptr;
    auto peer = std::make_shared<FakeStreamPeer>(loop_, std::move(remoteHost));
    auto handler = last_->handlers.onConnection;
    handler(std::make_unique<FakeStreamConnection>(peer));
    return peer;
}

}  // namespace tamborix::testing
