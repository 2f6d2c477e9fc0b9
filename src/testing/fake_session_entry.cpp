#include "testing/fake_session_entry.h"

#include <stdexcept>
#include <utility>

namespace tamborix::testing {

FakeSessionEntry::FakeSessionEntry() {
    onHandshake = [](ByteView line, const std::string&, const std::string&) {
        const auto text = toString(line);
        if (text == "hello") return HandshakeOutcome{{{"t", "welcome2"}}, pairedConn()};
        if (text == "pair") return HandshakeOutcome{{{"t", "welcome2"}}, pairingConn()};
        return HandshakeOutcome{{{"t", "error"}, {"msg", "not paired"}}, nullptr};
    };
    onNow = [](const HelperConnPtr&, ByteView frame) {
        if (toString(frame) == "bad") throw std::runtime_error("frame does not open");
    };
}

HelperConnPtr FakeSessionEntry::pairedConn(std::string name) {
    auto conn = std::make_shared<HelperConn>();
    conn->clientName = name;
    PairedDevice device;
    device.id = "0123456789abcdef";
    device.name = std::move(name);
    device.pub = Bytes(32, 7);
    conn->device = std::move(device);
    return conn;
}

HelperConnPtr FakeSessionEntry::pairingConn() {
    auto conn = std::make_shared<HelperConn>();
    conn->clientName = "device";
    conn->pairingPub = Bytes(32, 9);
    return conn;
}

HandshakeOutcome FakeSessionEntry::handshake(ByteView firstMessage, const std::string& peer,
                                             const std::string& transport) {
    handshakes.push_back({toString(firstMessage), peer, transport});
    auto outcome = onHandshake(firstMessage, peer, transport);
    if (outcome.conn) {
        outcome.conn->peer = peer;
        outcome.conn->transport = transport;
    }
    return outcome;
}

std::optional<Bytes> FakeSessionEntry::readyFrame(const HelperConnPtr& conn) {
    readyCalls.push_back(conn);
    if (!conn->authenticated()) return std::nullopt;
    return ready;
}

void FakeSessionEntry::onFrameNow(const HelperConnPtr& conn, ByteView frame) {
    framesNow.push_back({conn, Bytes(frame.begin(), frame.end())});
    if (onNow) onNow(conn, frame);
}

void FakeSessionEntry::onFrame(const HelperConnPtr& conn, Bytes frame, FrameDone done) {
    framesAsync.push_back(frame);
    if (echoAtOnce) {
        auto echo = frame;
        done(nullptr, {std::move(echo)});
        return;
    }
    pending.push_back({conn, std::move(frame), std::move(done)});
}

void FakeSessionEntry::closed(const HelperConnPtr& conn) { closedCalls.push_back(conn); }

void FakeSessionEntry::completeNext(std::vector<Bytes> frames) {
    if (pending.empty()) throw std::logic_error("no onFrame call is pending");
    auto call = std::move(pending.front());
    pending.pop_front();
    call.done(nullptr, std::move(frames));
}

void FakeSessionEntry::failNext() {
    if (pending.empty()) throw std::logic_error("no onFrame call is pending");
    auto call = std::move(pending.front());
    pending.pop_front();
    call.done(std::make_exception_ptr(std::runtime_error("frame does not open")), {});
}

}  // namespace tamborix::testing
