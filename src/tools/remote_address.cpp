#include "tools/remote_address.h"

#include <charconv>

namespace tamborix::remote {

namespace {

std::optional<std::uint16_t> parsePort(std::string_view text) {
    unsigned value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || value == 0 ||
        value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string Address::key() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<Address> parseAddress(std::string_view text) {
    Address a;
    if (text.empty()) return std::nullopt;
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close == 1) return std::nullopt;
        a.host = std::string(text.substr(1, close - 1));
        const auto rest = text.substr(close + 1);
        if (rest.empty()) return a;
        if (rest.front() != ':') return std::nullopt;
        const auto port = parsePort(rest.substr(1));
        if (!port) return std::nullopt;
        a.port = *port;
        return a;
    }
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        a.host = std::string(text);
        return a;
    }
    if (text.find(':', colon + 1) != std::string_view::npos) {
        a.host = std::string(text);  // bare IPv6
        return a;
    }
    if (colon == 0) return std::nullopt;
    const auto port = parsePort(text.substr(colon + 1));
    if (!port) return std::nullopt;
    a.host = std::string(text.substr(0, colon));
    a.port = *port;
    return a;
}

}  // namespace tamborix::remote
