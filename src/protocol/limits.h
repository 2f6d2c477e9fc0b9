#pragma once
// The limits a phone relies on, in one place. A phone built against one helper meets others: any
// of these changed alone breaks a phone in the field, so each says why it is what it is.

#include <chrono>
#include <cstddef>

namespace tamborix::limits {

// --- Frames ---
// A sealed frame the phone opens: it refuses anything larger and ends the session.
inline constexpr std::size_t maxFrame = 4096;
// 0x01 | session id (8) | counter (8) before the ciphertext, the Poly1305 tag (16) after it.
inline constexpr std::size_t frameHeader = 17;
inline constexpr std::size_t frameTag = 16;
// The largest plaintext whose sealed frame the phone still opens.
inline constexpr std::size_t maxPlaintext = maxFrame - frameHeader - frameTag;
// One line of the TCP framing (LF not counted): a sealed frame in base64 with room to spare; a
// longer line is a peer that does not speak the protocol.
inline constexpr std::size_t maxLine = 8192;
// A base64 field of the handshake (keys, nonces, proofs are 32 bytes or less).
inline constexpr std::size_t handshakeFieldLimit = 200;

// --- Commands ---
// Commands in one {"cmds":[…]} frame: what a phone batches in one 4096-byte frame, no more.
inline constexpr std::size_t maxBatch = 32;
// A pointer or scroll delta; more than any screen, less than what overflows a platform's integer.
inline constexpr double maxDelta = 5000;
// Characters of one "text" command and of the clipboard either way (the phone's own limits).
inline constexpr std::size_t maxTextCharacters = 1000;
inline constexpr std::size_t maxClipCharacters = 3000;
// An application's id and name as the phone shows and sends them back.
inline constexpr std::size_t maxAppIdCharacters = 128;
inline constexpr std::size_t maxAppNameCharacters = 64;
// Modifiers of one key: shift, control, alt and the command key.
inline constexpr std::size_t maxModifiers = 4;
// Displays a phone can choose from by number.
inline constexpr int maxDisplay = 16;
// A phone's name as the user sees it in the prompt and the device list.
inline constexpr std::size_t maxClientNameCharacters = 64;

// --- Screen ---
// Base64 characters of one "scr" chunk: a chunk message stays below maxPlaintext.
inline constexpr std::size_t screenChunkCharacters = 2800;

// --- Handshakes and idle connections ---
// Handshakes one address may start in a window; refused attempts count too.
inline constexpr std::size_t maxHandshakesPerWindow = 20;
inline constexpr auto handshakeRateWindow = std::chrono::seconds(60);
// Addresses remembered for that limit; beyond it all are forgotten rather than grow unbounded.
inline constexpr std::size_t maxRateLimitedAddresses = 1000;
// A connection that has not finished its handshake in this time is closed.
inline constexpr auto handshakeTimeout = std::chrono::seconds(10);
// A session that stays silent this long is closed; phones ping more often than that.
inline constexpr auto sessionIdleTimeout = std::chrono::seconds(30);

}  // namespace tamborix::limits
