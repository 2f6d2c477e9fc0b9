#pragma once
// The handshake's cryptographic core, shared by both ends: the helper's accept and the phone's
// side (used by tamborix-remote and the end-to-end tests).

#include <memory>
#include <optional>
#include <string_view>
#include <nlohmann/json.hpp>
#include <utility>

#include "protocol/bytes.h"
#include "protocol/key_pair.h"
#include "protocol/random_source.h"
#include "protocol/secure_session.h"

namespace tamborix {

// A member of a JSON object as text, or nullopt when the object lacks it or it is not a string:
// exactly the "absent" that Wire::b64d refuses. Also safe on values that are not objects.
[[nodiscard]] std::optional<std::string_view> jsonText(const nlohmann::json& object,
                                                       const char* key);

namespace ClientHandshake {
// HKDF-SHA-256(ikm, salt = th, info = "velmorand-v2 keys", 64) split in two halves:
// first = phone-to-helper key, second = helper-to-phone key.
std::pair<SecureSession::Key, SecureSession::Key> deriveKeys(ByteView ikm, ByteView th);
}  // namespace ClientHandshake

namespace ServerHandshake {
struct Accepted {
    nlohmann::json reply;  // the "welcome2" object
    std::unique_ptr<SecureSession> session;
};
// Throws SecureError as the handshake rules say.
Accepted accept(const KeyPair& server, const nlohmann::json& hello, ByteView devicePub,
                RandomSource& rng = systemRandom());
}  // namespace ServerHandshake

// The phone's side: build a request, then turn the helper's "welcome2" into a session.
class PhoneHandshake {
public:
    enum class Kind { hello, pair };
    PhoneHandshake(const KeyPair& device, Kind kind, std::string name = {},
                   RandomSource& rng = systemRandom());

    // The request object ("hello2" or "pair2"); serialise it and send it as one line.
    [[nodiscard]] const nlohmann::json& request() const noexcept { return request_; }

    // From the "welcome2" reply, the phone's session (sends with the first key, receives with the
    // second). `expectedServer`, when given, is the identity key the phone paired with: a different
    // "srv" throws SecureError::serverKeyChanged. An "error" reply or a malformed one throws
    // SecureError::malformed with the detail of what was wrong (the helper's "msg" for errors).
    [[nodiscard]] std::unique_ptr<SecureSession> finish(const nlohmann::json& reply,
                                                        const Bytes* expectedServer = nullptr) const;
    // The helper's identity key as received in the reply of finish (empty before).
    [[nodiscard]] const Bytes& serverKey() const noexcept { return serverKey_; }

private:
    KeyPair device_;
    KeyPair ephemeral_;
    Bytes nonce_;
    nlohmann::json request_;
    mutable Bytes serverKey_;
};

}  // namespace tamborix
