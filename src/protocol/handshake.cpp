#include "protocol/handshake.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "protocol/secure_error.h"
#include "protocol/wire.h"

namespace tamborix {

namespace {

using Json = nlohmann::json;

Bytes decodeField(const Json& object, const char* key, std::size_t length) {
    Bytes value = Wire::b64d(jsonText(object, key), Wire::handshakeFieldLimit);
    if (value.size() != length) throw SecureError::malformed("length");
    return value;
}

template <typename... Parts>
std::array<std::uint8_t, 32> transcriptHash(const Parts&... parts) {
    Bytes all(Wire::protocolLabel.begin(), Wire::protocolLabel.end());
    (all.insert(all.end(), std::begin(parts), std::end(parts)), ...);
    return Wire::sha256(all);
}

// Both ends feed the four shared secrets in the same order; only who holds which private key
// differs.
Bytes inputKeyingMaterial(const std::array<std::array<std::uint8_t, 32>, 4>& secrets) {
    Bytes ikm;
    ikm.reserve(128);
    for (const auto& s : secrets) ikm.insert(ikm.end(), s.begin(), s.end());
    return ikm;
}

void wipe(Bytes& b) {
    if (!b.empty()) sodium_memzero(b.data(), b.size());
}

void wipe(std::array<std::array<std::uint8_t, 32>, 4>& secrets) {
    sodium_memzero(secrets.data(), sizeof secrets);
}

}  // namespace

std::optional<std::string_view> jsonText(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return std::string_view(it->get_ref<const std::string&>());
}

namespace ClientHandshake {

std::pair<SecureSession::Key, SecureSession::Key> deriveKeys(ByteView ikm, ByteView th) {
    const auto info = reinterpret_cast<const std::uint8_t*>(Wire::keysInfo.data());
    Bytes okm = Wire::hkdfSha256(ikm, th, ByteView(info, Wire::keysInfo.size()), 64);
    std::pair<SecureSession::Key, SecureSession::Key> keys;
    std::copy_n(okm.begin(), 32, keys.first.begin());
    std::copy_n(okm.begin() + 32, 32, keys.second.begin());
    wipe(okm);
    return keys;
}

}  // namespace ClientHandshake

namespace ServerHandshake {

Accepted accept(const KeyPair& server, const nlohmann::json& hello, ByteView devicePub,
                RandomSource& rng) {
    const Bytes d = Wire::b64d(jsonText(hello, "dev"), Wire::handshakeFieldLimit);
    if (d.size() != Wire::keyLength) throw SecureError::malformed("length");
    if (!std::equal(d.begin(), d.end(), devicePub.begin(), devicePub.end())) {
        throw SecureError::malformed("device key");
    }
    const Bytes e = decodeField(hello, "e", Wire::keyLength);
    const Bytes nc = decodeField(hello, "nc", Wire::nonceLength);

    const KeyPair ephemeral = KeyPair::generate(rng);
    const Bytes ns = Wire::randomBytes(Wire::nonceLength, rng);
    Bytes sid = Wire::randomBytes(Wire::sidLength, rng);

    const auto& srv = server.publicKey();
    const auto& ephPub = ephemeral.publicKey();
    const auto th = transcriptHash(d, srv, e, ephPub, nc, ns);

    std::array<std::array<std::uint8_t, 32>, 4> secrets{
        ephemeral.dh(e), server.dh(e), ephemeral.dh(d), server.dh(d)};
    Bytes ikm = inputKeyingMaterial(secrets);
    wipe(secrets);
    auto [k1, k2] = ClientHandshake::deriveKeys(ikm, th);
    wipe(ikm);

    Accepted result;
    result.reply = Json::object();
    result.reply["t"] = "welcome2";
    result.reply["v"] = 2;
    result.reply["e"] = Wire::b64url(ephPub);
    result.reply["ns"] = Wire::b64url(ns);
    result.reply["sid"] = Wire::b64url(sid);
    result.reply["srv"] = Wire::b64url(srv);
    const auto nonceMember = hello.find("nc");
    result.reply["nc"] = nonceMember != hello.end() ? *nonceMember : Json("");
    result.session = std::make_unique<SecureSession>(std::move(sid), Bytes(th.begin(), th.end()),
                                                     k2, k1);
    sodium_memzero(k1.data(), k1.size());
    sodium_memzero(k2.data(), k2.size());
    return result;
}

}  // namespace ServerHandshake

PhoneHandshake::PhoneHandshake(const KeyPair& device, Kind kind, std::string name,
                               RandomSource& rng)
    : device_(device),
      ephemeral_(KeyPair::generate(rng)),
      nonce_(Wire::randomBytes(Wire::nonceLength, rng)) {
    request_ = Json::object();
    request_["t"] = kind == Kind::hello ? "hello2" : "pair2";
    request_["v"] = 2;
    request_["dev"] = Wire::b64url(device_.publicKey());
    request_["e"] = Wire::b64url(ephemeral_.publicKey());
    request_["nc"] = Wire::b64url(nonce_);
    if (!name.empty()) request_["name"] = std::move(name);
}

std::unique_ptr<SecureSession> PhoneHandshake::finish(const nlohmann::json& reply,
                                                      const Bytes* expectedServer) const {
    if (!reply.is_object()) throw SecureError::malformed("reply");
    const auto type = jsonText(reply, "t");
    if (type == "error") {
        throw SecureError::malformed(std::string(jsonText(reply, "msg").value_or("error")));
    }
    const auto v = reply.find("v");
    if (type != "welcome2" || v == reply.end() || !v->is_number() || *v != 2) {
        throw SecureError::malformed("reply");
    }
    // A reply that does not echo our nonce answers some other request.
    const std::string& sentNonce = request_.at("nc").get_ref<const std::string&>();
    if (jsonText(reply, "nc") != std::optional<std::string_view>(sentNonce)) {
        throw SecureError::malformed("nonce");
    }
    const Bytes e = decodeField(reply, "e", Wire::keyLength);
    const Bytes ns = decodeField(reply, "ns", Wire::nonceLength);
    Bytes sid = decodeField(reply, "sid", Wire::sidLength);
    const Bytes srv = decodeField(reply, "srv", Wire::keyLength);
    if (expectedServer && *expectedServer != srv) throw SecureError::serverKeyChanged();

    const auto th = transcriptHash(device_.publicKey(), srv, ephemeral_.publicKey(), e, nonce_, ns);
    std::array<std::array<std::uint8_t, 32>, 4> secrets{
        ephemeral_.dh(e), ephemeral_.dh(srv), device_.dh(e), device_.dh(srv)};
    Bytes ikm = inputKeyingMaterial(secrets);
    wipe(secrets);
    auto [k1, k2] = ClientHandshake::deriveKeys(ikm, th);
    wipe(ikm);

    auto session =
        std::make_unique<SecureSession>(std::move(sid), Bytes(th.begin(), th.end()), k1, k2);
    sodium_memzero(k1.data(), k1.size());
    sodium_memzero(k2.data(), k2.size());
    serverKey_ = srv;
    return session;
}

}  // namespace tamborix
