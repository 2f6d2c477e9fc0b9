#include "testing/loopback_phone.h"

#include <utility>

namespace tamborix::testing {

using nlohmann::json;

LoopbackPhone::LoopbackPhone(SessionEntry& entry, KeyPair device, std::string peer,
                             std::string transport)
    : entry_(entry),
      device_(std::move(device)),
      peer_(std::move(peer)),
      transport_(std::move(transport)),
      inbox_(std::make_shared<Inbox>()) {}

LoopbackPhone::~LoopbackPhone() {
    life_.end();
    if (conn_ && !ended_) entry_.closed(conn_);
}

json LoopbackPhone::connect(PhoneHandshake::Kind kind, std::string name) {
    PhoneHandshake handshake(device_, kind, std::move(name));
    const auto line = handshake.request().dump();
    auto outcome = entry_.handshake(ByteView(reinterpret_cast<const std::uint8_t*>(line.data()),
                                             line.size()),
                                    peer_, transport_);
    // The transport sends the reply as one line of JSON; the phone reads it back.
    const json reply = json::parse(outcome.reply.dump());
    if (!outcome.conn) return reply;
    inbox_->session = handshake.finish(reply);
    conn_ = std::move(outcome.conn);
    conn_->push = [inbox = std::weak_ptr<Inbox>(inbox_)](const Bytes& sealed) {
        auto box = inbox.lock();
        if (!box) return;
        try {
            const auto plain = box->session->open(sealed);
            box->texts.emplace_back(plain.begin(), plain.end());
            box->messages.push_back(json::parse(box->texts.back()));
        } catch (const std::exception&) {
            ++box->undecryptable;
        }
    };
    if (auto ready = entry_.readyFrame(conn_)) conn_->push(*ready);
    return reply;
}

Bytes LoopbackPhone::seal(std::string_view plaintext) {
    return inbox_->session->seal(
        ByteView(reinterpret_cast<const std::uint8_t*>(plaintext.data()), plaintext.size()));
}

void LoopbackPhone::send(const json& message) { sendText(message.dump()); }

void LoopbackPhone::sendText(std::string_view plaintext) { sendFrame(seal(plaintext)); }

void LoopbackPhone::sendFrame(Bytes frame) {
    if (!conn_ || ended_) return;
    ++framesSent_;
    queue_.push_back(std::move(frame));
    pump();
}

void LoopbackPhone::pump() {
    // Frames of one connection are handled strictly in arrival order: while one waits for an
    // asynchronous answer, the rest queue behind it.
    while (!busy_ && !ended_ && !queue_.empty()) {
        Bytes frame = std::move(queue_.front());
        queue_.pop_front();
        if (conn_->authenticated()) {
            try {
                entry_.onFrameNow(conn_, frame);
            } catch (...) {
                fail(std::current_exception());
            }
            continue;
        }
        busy_ = true;
        entry_.onFrame(conn_, std::move(frame),
                       [this, alive = life_.watch()](std::exception_ptr error,
                                                     std::vector<Bytes> frames) {
                           if (!alive) return;
                           busy_ = false;
                           if (error) {
                               fail(error);
                               return;
                           }
                           for (const auto& f : frames)
                               if (conn_->push) conn_->push(f);
                           pump();
                       });
    }
}

void LoopbackPhone::fail(std::exception_ptr error) {
    error_ = std::move(error);
    close();
}

void LoopbackPhone::close() {
    if (!conn_ || ended_) return;
    ended_ = true;
    queue_.clear();
    entry_.closed(conn_);
}

std::vector<json> LoopbackPhone::receivedOfType(std::string_view type) const {
    std::vector<json> out;
    for (const auto& m : inbox_->messages)
        if (m.is_object() && m.contains("t") && m["t"] == type) out.push_back(m);
    return out;
}

void LoopbackPhone::clearReceived() {
    inbox_->texts.clear();
    inbox_->messages.clear();
}

}  // namespace tamborix::testing
