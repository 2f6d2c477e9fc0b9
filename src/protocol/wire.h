#pragma once
// Constants and pure functions shared with the phone. Every byte produced here is protocol.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/bytes.h"
#include "protocol/random_source.h"
#include "protocol/limits.h"

namespace tamborix::Wire {

inline constexpr std::string_view protocolLabel = "velmorand-v2";
inline constexpr std::string_view pairAlphabet = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";
inline constexpr std::string_view pairProofLabel = "velmorand-pair-v2";
inline constexpr std::string_view keysInfo = "velmorand-v2 keys";

inline constexpr std::size_t keyLength = 32;
inline constexpr std::size_t nonceLength = 16;
inline constexpr std::size_t sidLength = 8;
inline constexpr std::size_t pairCodeLength = 12;

inline constexpr std::size_t handshakeFieldLimit = limits::handshakeFieldLimit;
inline constexpr std::size_t frameLineLimit = 5465;      // base64 characters of one TCP frame

std::string normalizePairCode(std::string_view code);
Bytes pairProof(std::string_view code, ByteView th);
std::string fingerprint(ByteView pub);
std::string deviceID(ByteView pub);
Bytes randomBytes(std::size_t n, RandomSource& rng = systemRandom());

// Tolerant base64 decoder: base64url or standard, padding optional, no white space.
// Throws SecureError::malformed("base64"). An absent text (nullopt) fails too.
Bytes b64d(std::optional<std::string_view> text, std::size_t limit);

// Base64url text without padding: what the program always emits.
std::string b64url(ByteView bytes);
// The same followed by a line feed, as one line of a stream.
Bytes b64urlLine(ByteView bytes);
// Standard base64 with padding (stored keys, icons, screen chunks).
std::string b64std(ByteView bytes);

// SHA-256, HMAC-SHA-256 and HKDF-SHA-256 (RFC 5869), used by the handshake and the tests.
std::array<std::uint8_t, 32> sha256(ByteView data);
std::array<std::uint8_t, 32> hmacSha256(ByteView key, ByteView message);
Bytes hkdfSha256(ByteView ikm, ByteView salt, ByteView info, std::size_t length);

}  // namespace tamborix::Wire
