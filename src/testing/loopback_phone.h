#pragma once
// The phone side of a session, wired straight to a SessionEntry without sockets: it performs the
// handshake with the protocol library's PhoneHandshake, acts as the transport (push, ready frame,
// the in-order frame chain, closing on failure) and decrypts everything the helper pushes.

#include <deque>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/liveness.h"
#include "core/session_entry.h"
#include "protocol/handshake.h"
#include "protocol/key_pair.h"
#include "protocol/secure_session.h"

namespace tamborix::testing {

class LoopbackPhone {
public:
    // What the helper sent, in order.
    struct Inbox {
        std::unique_ptr<SecureSession> session;  // the phone's end
        std::vector<std::string> texts;          // plaintexts, exactly as sent
        std::vector<nlohmann::json> messages;    // the same, parsed
        int undecryptable = 0;
    };

    LoopbackPhone(SessionEntry& entry, KeyPair device, std::string peer = "127.0.0.1:40000",
                  std::string transport = "Network");
    ~LoopbackPhone();

    // Sends "hello2" (or "pair2") with `name`; returns the helper's reply. On "welcome2" the
    // phone is connected: push is installed and, for a paired device, the ready frame is taken
    // (it becomes the first received message).
    nlohmann::json connect(PhoneHandshake::Kind kind = PhoneHandshake::Kind::hello,
                           std::string name = "Phone");

    // Seals and hands over one message (an object, array or any JSON text).
    void send(const nlohmann::json& message);
    void sendText(std::string_view plaintext);
    // Hands over bytes as they are (a replayed or forged frame).
    void sendFrame(Bytes frame);
    [[nodiscard]] Bytes seal(std::string_view plaintext);

    // The transport ends the session (as on a disconnect).
    void close();

    [[nodiscard]] bool connected() const { return conn_ != nullptr && !ended_; }
    [[nodiscard]] bool ended() const { return ended_; }
    // The failure that ended the session, if one did.
    [[nodiscard]] std::exception_ptr error() const { return error_; }
    [[nodiscard]] const HelperConnPtr& conn() const { return conn_; }
    [[nodiscard]] bool waiting() const { return busy_; }
    [[nodiscard]] const KeyPair& device() const { return device_; }
    [[nodiscard]] std::size_t framesSent() const { return framesSent_; }
    // The transcript hash of the handshake, for pairing proofs.
    [[nodiscard]] const Bytes& th() const { return inbox_->session->th(); }

    [[nodiscard]] const std::vector<nlohmann::json>& received() const { return inbox_->messages; }
    [[nodiscard]] const std::vector<std::string>& receivedTexts() const { return inbox_->texts; }
    // Received messages whose "t" is `type`.
    [[nodiscard]] std::vector<nlohmann::json> receivedOfType(std::string_view type) const;
    void clearReceived();
    // Frames that did not open (bad tag, replayed, or longer than a phone accepts).
    [[nodiscard]] int undecryptable() const { return inbox_->undecryptable; }

private:
    void deliver(Bytes frame);
    void pump();
    void fail(std::exception_ptr error);

    SessionEntry& entry_;
    KeyPair device_;
    std::string peer_;
    std::string transport_;
    HelperConnPtr conn_;
    std::shared_ptr<Inbox> inbox_;
    Liveness life_;
    std::deque<Bytes> queue_;
    bool busy_ = false;
    bool ended_ = false;
    std::exception_ptr error_;
    std::size_t framesSent_ = 0;
};

}  // namespace tamborix::testing
