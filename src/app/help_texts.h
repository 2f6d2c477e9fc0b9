#pragma once
// Advice the windows and the console give where the helper cannot fix something itself.

#include <cstdint>
#include <string>

namespace tamborix {

inline constexpr const char* discoveryHelpText =
    "Scanning the QR code still works. For phones to find this computer by name, start Avahi: "
    "sudo systemctl enable --now avahi-daemon";

// The helper cannot see a firewall; it can say what must be let through.
inline std::string portHelpText(std::uint16_t port) {
    return "Phones connect to TCP port " + std::to_string(port) +
           ". If they cannot reach it, allow that port in the firewall.";
}

}  // namespace tamborix
