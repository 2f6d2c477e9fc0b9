#pragma once
// One connection of the command-line phone: the handshake, then sealed JSON messages as
// base64url lines.

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "protocol/handshake.h"
#include "protocol/key_pair.h"
#include "protocol/secure_session.h"
#include "tools/line_socket.h"
#include "tools/remote_address.h"

namespace tamborix::remote {

// The helper answered the handshake with an error; what() is its "msg".
struct HandshakeRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The helper ended the connection.
struct SessionClosed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct SessionOptions {
    std::string from;                      // local address to connect from; empty = any
    std::string name = "tamborix-remote";  // the name the helper shows
    std::chrono::milliseconds timeout = std::chrono::seconds(10);
};

class RemoteSession {
public:
    // Connects and performs the handshake. With `expectedServer`, a helper that answers with
    // another identity is refused (SecureError::serverKeyChanged).
    RemoteSession(const Address& address, const KeyPair& device, PhoneHandshake::Kind kind,
                  const Bytes* expectedServer, const SessionOptions& options);

    [[nodiscard]] const Bytes& serverKey() const noexcept { return serverKey_; }
    [[nodiscard]] const Bytes& transcriptHash() const { return session_->th(); }

    // The sealed line for a message (without LF), for callers that batch their writes.
    [[nodiscard]] std::string sealLine(const nlohmann::json& message);
    [[nodiscard]] std::string sealLine(std::string_view plaintext);
    void send(const nlohmann::json& message);

    // The next message, or nullopt after `timeout`. Throws SessionClosed when the helper closed
    // the connection and SecureError when a line does not open.
    [[nodiscard]] std::optional<nlohmann::json> receive(std::chrono::milliseconds timeout);

    [[nodiscard]] LineSocket& socket() noexcept { return *socket_; }

private:
    std::unique_ptr<LineSocket> socket_;
    std::unique_ptr<SecureSession> session_;
    Bytes serverKey_;
};

}  // namespace tamborix::remote
