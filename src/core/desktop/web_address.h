#pragma once

#include <cstddef>
#include <string_view>

namespace tamborix {

inline constexpr std::size_t webAddressLimit = 2000;  // characters

// An absolute RFC 3986 URI of scheme http or https (in any case) with a non-empty host, at most
// webAddressLimit characters long. Anything else is refused before it reaches a browser.
[[nodiscard]] bool isOpenableWebAddress(std::string_view text);

}  // namespace tamborix
