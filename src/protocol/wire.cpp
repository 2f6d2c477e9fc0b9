#include "protocol/wire.h"

#include <sodium.h>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>
#include <stdexcept>

#include "protocol/sodium_ready.h"

namespace tamborix::Wire {

namespace {

bool inPairAlphabet(char16_t c) {
    return c < 0x80 && pairAlphabet.find(static_cast<char>(c)) != std::string_view::npos;
}

// Fallback when ICU cannot build a grapheme iterator: judge code points one by one.
std::string keepAlphabetCodeUnits(const icu::UnicodeString& upper) {
    std::string out;
    for (int32_t i = 0; i < upper.length(); ++i) {
        if (inPairAlphabet(upper.charAt(i))) out.push_back(static_cast<char>(upper.charAt(i)));
    }
    return out;
}

std::string hexOfFirst8(ByteView pub, const char* digits) {
    const auto d = sha256(pub);
    std::string out;
    out.reserve(16);
    for (std::size_t i = 0; i < 8; ++i) {
        out.push_back(digits[d[i] >> 4]);
        out.push_back(digits[d[i] & 0x0F]);
    }
    return out;
}

}  // namespace

std::string normalizePairCode(std::string_view code) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(code.data(), static_cast<int32_t>(code.size())));
    text.toUpper(icu::Locale::getRoot());

    // A character is a user-perceived one: "A" followed by a combining accent is not "A" and is
    // dropped whole rather than losing only its accent.
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> chars(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !chars) return keepAlphabetCodeUnits(text);
    chars->setText(text);

    std::string out;
    int32_t start = chars->first();
    for (int32_t end = chars->next(); end != icu::BreakIterator::DONE;
         start = end, end = chars->next()) {
        if (end - start == 1 && inPairAlphabet(text.charAt(start))) {
            out.push_back(static_cast<char>(text.charAt(start)));
        }
    }
    return out;
}

Bytes pairProof(std::string_view code, ByteView th) {
    const std::string key = normalizePairCode(code);
    Bytes message;
    message.reserve(pairProofLabel.size() + th.size());
    message.insert(message.end(), pairProofLabel.begin(), pairProofLabel.end());
    message.insert(message.end(), th.begin(), th.end());
    const auto mac = hmacSha256(
        ByteView(reinterpret_cast<const std::uint8_t*>(key.data()), key.size()), message);
    return Bytes(mac.begin(), mac.end());
}

std::string fingerprint(ByteView pub) {
    const std::string hex = hexOfFirst8(pub, "0123456789ABCDEF");
    return hex.substr(0, 4) + "-" + hex.substr(4, 4) + "-" + hex.substr(8, 4) + "-" +
           hex.substr(12, 4);
}

std::string deviceID(ByteView pub) { return hexOfFirst8(pub, "0123456789abcdef"); }

Bytes randomBytes(std::size_t n, RandomSource& rng) {
    Bytes out(n);
    if (n != 0) rng.fill(out.data(), n);
    return out;
}

std::array<std::uint8_t, 32> sha256(ByteView data) {
    detail::ensureSodium();
    std::array<std::uint8_t, 32> out{};
    crypto_hash_sha256(out.data(), detail::nonNull(data), data.size());
    return out;
}

std::array<std::uint8_t, 32> hmacSha256(ByteView key, ByteView message) {
    detail::ensureSodium();
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, detail::nonNull(key), key.size());
    crypto_auth_hmacsha256_update(&state, detail::nonNull(message), message.size());
    std::array<std::uint8_t, 32> out{};
    crypto_auth_hmacsha256_final(&state, out.data());
    sodium_memzero(&state, sizeof state);
    return out;
}

Bytes hkdfSha256(ByteView ikm, ByteView salt, ByteView info, std::size_t length) {
    constexpr std::size_t hashLength = 32;
    if (length > 255 * hashLength) {
        throw std::invalid_argument("HKDF-SHA-256 output longer than 8160 bytes");
    }
    detail::ensureSodium();
    // An absent salt is a string of zeros, which HMAC pads to the same block as the empty key.
    auto prk = hmacSha256(salt, ikm);

    Bytes out;
    out.reserve(length);
    std::array<std::uint8_t, hashLength> t{};
    std::size_t tLength = 0;
    for (std::uint8_t counter = 1; out.size() < length; ++counter) {
        crypto_auth_hmacsha256_state state;
        crypto_auth_hmacsha256_init(&state, prk.data(), prk.size());
        crypto_auth_hmacsha256_update(&state, t.data(), tLength);
        crypto_auth_hmacsha256_update(&state, detail::nonNull(info), info.size());
        crypto_auth_hmacsha256_update(&state, &counter, 1);
        crypto_auth_hmacsha256_final(&state, t.data());
        sodium_memzero(&state, sizeof state);
        tLength = hashLength;
        const std::size_t take = std::min(hashLength, length - out.size());
        out.insert(out.end(), t.begin(), t.begin() + static_cast<std::ptrdiff_t>(take));
    }
    sodium_memzero(prk.data(), prk.size());
    sodium_memzero(t.data(), t.size());
    return out;
}

}  // namespace tamborix::Wire
