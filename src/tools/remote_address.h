#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamborix::remote {

struct Address {
    std::string host;
    std::uint16_t port = 50505;
    // "host:port", the key under which the helper's identity is remembered.
    [[nodiscard]] std::string key() const;
};

// "HOST", "HOST:PORT", "[V6]" or "[V6]:PORT"; a bare IPv6 address without brackets is taken whole.
[[nodiscard]] std::optional<Address> parseAddress(std::string_view text);

}  // namespace tamborix::remote
