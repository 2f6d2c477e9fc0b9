// Base64 in both directions. The decoder folds the "-"→"+" and "_"→"/" substitution and the
// implied padding into one pass over the text instead of building the padded copy.
#include <array>
#include <cstring>

#include "protocol/base64_blocks.h"
#include "protocol/secure_error.h"
#include "protocol/wire.h"

namespace tamborix::Wire {

namespace {

constexpr std::uint8_t invalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = invalid;
    constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        t[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
    }
    t['-'] = 62;
    t['_'] = 63;
    return t;
}

constexpr auto decodeTable = makeDecodeTable();

constexpr char stdAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char urlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

[[noreturn]] void fail() { throw SecureError::malformed("base64"); }

// Every 12-bit value as its two characters: three bytes take two lookups instead of four.
using PairTable = std::array<std::array<char, 2>, 4096>;

constexpr PairTable makePairTable(const char* alphabet) {
    PairTable t{};
    for (std::size_t v = 0; v < t.size(); ++v) t[v] = {alphabet[v >> 6], alphabet[v & 63]};
    return t;
}

constexpr PairTable stdPairs = makePairTable(stdAlphabet);
constexpr PairTable urlPairs = makePairTable(urlAlphabet);

std::size_t encodedLength(std::size_t size, bool pad) {
    const std::size_t rest = size % 3;
    return size / 3 * 4 + (rest == 0 ? 0 : (pad ? 4 : rest + 1));
}

// Writes exactly encodedLength(bytes.size(), pad) characters at `o`.
void encodeInto(ByteView bytes, const char* alphabet, const PairTable& pairs, bool pad, char* o) {
    const std::size_t vectored = blocks::encode(bytes.data(), bytes.size(), o, alphabet[62], alphabet[63]);
    o += vectored / 3 * 4;
    bytes = bytes.subspan(vectored);
    const std::size_t full = bytes.size() / 3;
    const std::size_t rest = bytes.size() % 3;
    const std::uint8_t* in = bytes.data();
    for (std::size_t i = 0; i < full; ++i, in += 3, o += 4) {
        const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        std::memcpy(o, pairs[v >> 12].data(), 2);
        std::memcpy(o + 2, pairs[v & 4095].data(), 2);
    }
    if (rest != 0) {
        const std::uint32_t v =
            (std::uint32_t{in[0]} << 16) | (rest == 2 ? std::uint32_t{in[1]} << 8 : 0);
        *o++ = alphabet[v >> 18];
        *o++ = alphabet[(v >> 12) & 63];
        if (rest == 2) *o++ = alphabet[(v >> 6) & 63];
        if (pad) {
            *o++ = '=';
            if (rest == 1) *o++ = '=';
        }
    }
}

std::string encode(ByteView bytes, const char* alphabet, const PairTable& pairs, bool pad) {
    std::string out(encodedLength(bytes.size(), pad), '\0');
    encodeInto(bytes, alphabet, pairs, pad, out.data());
    return out;
}

}  // namespace

Bytes b64d(std::optional<std::string_view> text, std::size_t limit) {
    if (!text) fail();
    const std::string_view s = *text;
    if (s.size() > limit) fail();

    // Padding the text to a multiple of four may add up to three "="; together with those the
    // text already ends with, a strict decoder allows at most two, and none before the end.
    const std::size_t added = (4 - s.size() % 4) % 4;
    std::size_t dataLength = s.size();
    while (dataLength > 0 && s[dataLength - 1] == '=') --dataLength;
    const std::size_t padding = s.size() - dataLength + added;
    if (padding > 2) fail();

    const std::size_t groups = dataLength / 4;
    const std::size_t tail = dataLength % 4;  // 0, 2 or 3 once the padding is known valid
    Bytes out(groups * 3 + (tail == 0 ? 0 : tail - 1));

    const auto* in = reinterpret_cast<const unsigned char*>(s.data());
    std::uint8_t* o = out.data();
    std::uint8_t bad = 0;
    for (std::size_t g = 0; g < groups; ++g, in += 4, o += 3) {
        const std::uint8_t a = decodeTable[in[0]], b = decodeTable[in[1]];
        const std::uint8_t c = decodeTable[in[2]], d = decodeTable[in[3]];
        bad |= a | b | c | d;
        const std::uint32_t v = (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) |
                                (std::uint32_t{c} << 6) | d;
        o[0] = static_cast<std::uint8_t>(v >> 16);
        o[1] = static_cast<std::uint8_t>(v >> 8);
        o[2] = static_cast<std::uint8_t>(v);
    }
    if (tail != 0) {
        const std::uint8_t a = decodeTable[in[0]], b = decodeTable[in[1]];
        const std::uint8_t c = tail == 3 ? decodeTable[in[2]] : 0;
        bad |= a | b | c;
        const std::uint32_t v = (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) |
                                (std::uint32_t{c} << 6);
        o[0] = static_cast<std::uint8_t>(v >> 16);
        if (tail == 3) o[1] = static_cast<std::uint8_t>(v >> 8);
    }
    if (bad & 0xC0) fail();
    return out;
}

std::string b64url(ByteView bytes) { return encode(bytes, urlAlphabet, urlPairs, false); }

Bytes b64urlLine(ByteView bytes) {
    const std::size_t length = encodedLength(bytes.size(), false);
    Bytes line(length + 1);
    encodeInto(bytes, urlAlphabet, urlPairs, false, reinterpret_cast<char*>(line.data()));
    line[length] = '\n';
    return line;
}

std::string b64std(ByteView bytes) { return encode(bytes, stdAlphabet, stdPairs, true); }

}  // namespace tamborix::Wire
