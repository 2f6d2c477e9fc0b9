#include "core/input/number_format.h"

#include <array>
#include <charconv>
#include <cmath>

namespace tamborix {

std::string formatDouble(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    std::array<char, 64> buf{};
    const double mag = std::fabs(v);
    // Positional in the everyday range; exponent form for the very small and the very large.
    const bool positional = mag == 0 || (mag >= 1e-4 && mag < 9007199254740992.0);
    const auto fmt = positional ? std::chars_format::fixed : std::chars_format::scientific;
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v, fmt);
    std::string out(buf.data(), ec == std::errc{} ? end : buf.data());
    if (positional && out.find('.') == std::string::npos) out += ".0";
    return out;
}

}  // namespace tamborix
