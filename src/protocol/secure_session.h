#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "protocol/bytes.h"
#include "protocol/limits.h"

namespace tamborix {

// Sealed frames: 0x01 | sid(8) | counter(8, big-endian) | ciphertext | tag(16).
class SecureSession {
public:
    static constexpr std::size_t headerLength = limits::frameHeader;
    static constexpr std::size_t tagLength = limits::frameTag;
    static constexpr std::size_t overhead = headerLength + tagLength;
    static_assert(overhead == 33, "a phone sizes its frames by a 17-byte header and a 16-byte tag");
    static constexpr std::size_t maxFrame = limits::maxFrame;
    static constexpr std::uint8_t version = 0x01;

    using Key = std::array<std::uint8_t, 32>;

    SecureSession(Bytes sid, Bytes th, const Key& sendKey, const Key& recvKey);
    ~SecureSession();
    SecureSession(const SecureSession&) = delete;
    SecureSession& operator=(const SecureSession&) = delete;

    [[nodiscard]] Bytes seal(ByteView plaintext);
    // Throws SecureError (malformed "frame"/"session", replay, authentication); a failed open
    // changes nothing.
    [[nodiscard]] Bytes open(ByteView frame);

    [[nodiscard]] static std::optional<Bytes> frameSID(ByteView bytes);

    [[nodiscard]] const Bytes& sid() const noexcept { return sid_; }
    [[nodiscard]] const Bytes& th() const noexcept { return th_; }
    [[nodiscard]] std::uint64_t sendCtr() const noexcept { return sendCtr_; }
    [[nodiscard]] std::optional<std::uint64_t> lastRecv() const noexcept { return lastRecv_; }

    static std::array<std::uint8_t, headerLength> header(ByteView sid, std::uint64_t ctr);
    static std::array<std::uint8_t, 12> nonce(std::uint64_t ctr);

private:
    Bytes sid_;
    Bytes th_;
    Key sendKey_;
    Key recvKey_;
    std::uint64_t sendCtr_ = 0;
    std::optional<std::uint64_t> lastRecv_;
};

}  // namespace tamborix
