#include "core/session/move_frame.h"

#include <charconv>
#include <cstdint>
#include <string_view>

namespace tamborix {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A JSON number at the start of `text`: its length, or 0 when there is none.
std::size_t numberLength(std::string_view text, bool& integral) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') ++i;
    if (i == text.size() || !isDigit(text[i])) return 0;
    if (text[i] == '0')
        ++i;
    else
        while (i < text.size() && isDigit(text[i])) ++i;
    integral = true;
    if (i < text.size() && text[i] == '.') {
        integral = false;
        ++i;
        if (i == text.size() || !isDigit(text[i])) return 0;
        while (i < text.size() && isDigit(text[i])) ++i;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        integral = false;
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (i == text.size() || !isDigit(text[i])) return 0;
        while (i < text.size() && isDigit(text[i])) ++i;
    }
    return i;
}

// The value the general parser gives: integers as 64-bit integers converted to double, other
// numbers correctly rounded. Out of range (or outside what both read alike): nothing.
std::optional<double> numberValue(std::string_view token, bool integral) {
    const char* first = token.data();
    const char* last = token.data() + token.size();
    if (integral) {
        std::int64_t n = 0;
        const auto [end, ec] = std::from_chars(first, last, n);
        if (ec != std::errc{} || end != last) return std::nullopt;
        return static_cast<double>(n);
    }
    double d = 0;
    const auto [end, ec] = std::from_chars(first, last, d);
    if (ec != std::errc{} || end != last) return std::nullopt;
    return d;
}

}  // namespace

std::optional<MoveFrame> readMoveFrame(ByteView plaintext) {
    const std::string_view text(reinterpret_cast<const char*>(plaintext.data()), plaintext.size());
    if (text.size() < 2 || text.front() != '{' || text.back() != '}') return std::nullopt;
    MoveFrame move;
    bool seenType = false;
    bool seenDx = false;
    bool seenDy = false;
    std::size_t i = 1;
    for (;;) {
        const auto rest = text.substr(i);
        if (rest.starts_with(R"("t":"move")")) {
            if (seenType) return std::nullopt;
            seenType = true;
            i += 10;
        } else if (rest.starts_with(R"("dx":)") || rest.starts_with(R"("dy":)")) {
            bool& seen = rest[2] == 'x' ? seenDx : seenDy;
            if (seen) return std::nullopt;
            seen = true;
            i += 5;
            bool integral = false;
            const auto length = numberLength(text.substr(i), integral);
            if (length == 0) return std::nullopt;
            const auto value = numberValue(text.substr(i, length), integral);
            if (!value) return std::nullopt;
            (rest[2] == 'x' ? move.dx : move.dy) = *value;
            i += length;
        } else {
            return std::nullopt;
        }
        if (i == text.size() - 1) break;
        if (text[i] != ',') return std::nullopt;
        ++i;
    }
    if (!seenType) return std::nullopt;
    return move;
}

}  // namespace tamborix
