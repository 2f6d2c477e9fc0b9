#pragma once
// Advice the windows and the console give where the helper cannot fix something itself.

#include <cstdint>
#include <string>

#include "app/translate.h"

namespace tamborix {

inline std::string discoveryHelpText() {
    return translate("HelpTexts",
                     "Scanning the QR code still works. For phones to find this computer by name, start Avahi: "
                     "sudo systemctl enable --now avahi-daemon");
}

// The helper cannot see a firewall; it can say what must be let through.
inline std::string portHelpText(std::uint16_t port) {
    return fillIn(translate("HelpTexts",
                            "Phones connect to TCP port %1. If they cannot reach it, allow that port in the "
                            "firewall."),
                  {std::to_string(port)});
}

}  // namespace tamborix
