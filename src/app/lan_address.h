#pragma once
// The computer's IPv4 address on the local network, for the pairing link: the address of the
// interface that carries the default route, else the first non-loopback IPv4 address.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamborix {

struct InterfaceAddress {
    std::string interface;
    std::string address;  // dotted quad
    bool loopback = false;
};

// The interface of the default route in the text of /proc/net/route (destination 0, mask 0,
// lowest metric wins; ties go to the first line). nullopt when there is none.
[[nodiscard]] std::optional<std::string> defaultRouteInterface(std::string_view procNetRoute);

[[nodiscard]] std::optional<std::string> chooseLanAddress(
    const std::optional<std::string>& routeInterface, const std::vector<InterfaceAddress>& addresses);

// The IPv4 addresses of the interfaces that are up, in the system's order.
[[nodiscard]] std::vector<InterfaceAddress> systemIPv4Addresses();

// Reads /proc/net/route and the interface list.
[[nodiscard]] std::optional<std::string> lanIP();

}  // namespace tamborix
