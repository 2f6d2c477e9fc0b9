#include "protocol/secure_session.h"

#include <sodium.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "protocol/aead.h"
#include "protocol/secure_error.h"
#include "protocol/sodium_ready.h"

namespace tamborix {

namespace {

void putBigEndian(std::uint8_t* out, std::uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8) out[i] = static_cast<std::uint8_t>(v);
}

std::uint64_t readBigEndian(const std::uint8_t* in) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | in[i];
    return v;
}

}  // namespace

SecureSession::SecureSession(Bytes sid, Bytes th, const Key& sendKey, const Key& recvKey)
    : sid_(std::move(sid)), th_(std::move(th)), sendKey_(sendKey), recvKey_(recvKey) {
    detail::ensureSodium();
}

SecureSession::~SecureSession() {
    sodium_memzero(sendKey_.data(), sendKey_.size());
    sodium_memzero(recvKey_.data(), recvKey_.size());
}

std::array<std::uint8_t, SecureSession::headerLength> SecureSession::header(ByteView sid,
                                                                            std::uint64_t ctr) {
    std::array<std::uint8_t, headerLength> h{};
    h[0] = version;
    // A session id is 8 bytes; anything else is cut or zero-filled so the header keeps its shape.
    if (!sid.empty()) std::memcpy(h.data() + 1, sid.data(), std::min<std::size_t>(sid.size(), 8));
    putBigEndian(h.data() + 9, ctr);
    return h;
}

std::array<std::uint8_t, 12> SecureSession::nonce(std::uint64_t ctr) {
    std::array<std::uint8_t, 12> n{};
    putBigEndian(n.data() + 4, ctr);
    return n;
}

Bytes SecureSession::seal(ByteView plaintext) {
    // Reusing a counter would reuse a nonce under the same key.
    if (sendCtr_ == std::numeric_limits<std::uint64_t>::max()) {
        throw std::overflow_error("secure session send counter exhausted");
    }
    const std::uint64_t c = sendCtr_;
    Bytes frame(overhead + plaintext.size());
    const auto h = header(sid_, c);
    std::memcpy(frame.data(), h.data(), h.size());
    const auto n = nonce(c);
    std::uint8_t* cipher = frame.data() + headerLength;
    if (!Aead::seal(cipher, cipher + plaintext.size(), plaintext, h, n, sendKey_)) {
        throw std::runtime_error("ChaCha20-Poly1305 encryption failed");
    }
    ++sendCtr_;
    return frame;
}

Bytes SecureSession::open(ByteView frame) {
    if (frame.size() < overhead || frame.size() > maxFrame || frame[0] != version) {
        throw SecureError::malformed("frame");
    }
    if (sid_.size() != 8 || std::memcmp(frame.data() + 1, sid_.data(), 8) != 0) {
        throw SecureError::malformed("session");
    }
    const std::uint64_t c = readBigEndian(frame.data() + 9);
    if (lastRecv_ && c <= *lastRecv_) throw SecureError::replay();

    const std::size_t length = frame.size() - overhead;
    const std::uint8_t* cipher = frame.data() + headerLength;
    const auto n = nonce(c);
    Bytes plain(length);
    if (!Aead::open(plain.data(), ByteView(cipher, length), cipher + length,
                    frame.first(headerLength), n, recvKey_)) {
        throw SecureError::authentication();
    }
    lastRecv_ = c;
    return plain;
}

std::optional<Bytes> SecureSession::frameSID(ByteView bytes) {
    if (bytes.size() <= 16 || bytes[0] != version) return std::nullopt;
    return Bytes(bytes.begin() + 1, bytes.begin() + 9);
}

}  // namespace tamborix
