#pragma once
// The link a phone scans to pair, and the display form of a pairing code.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/bytes.h"

namespace tamborix {

struct PairingLinkParts {
    std::optional<std::string> host;  // the computer's LAN IPv4 address; the "h" item is left out without one
    std::uint16_t port = 50505;
    Bytes identityKey;                // the helper's 32-byte public identity key
    std::string code;                 // 12 characters, no separators
    std::string name;                 // the computer's display name
};

// velmorand://pair?v=2&h=…&p=…&k=…&c=…&n=… with every value percent-encoded as a URL query
// component (everything but the RFC 3986 unreserved characters).
[[nodiscard]] std::string pairingURI(const PairingLinkParts& parts);

// "ABCD-EFGH-JKMN" from a 12-character code; shorter codes are grouped as far as they go.
[[nodiscard]] std::string prettyPairCode(std::string_view code);

[[nodiscard]] std::string percentEncodeQueryValue(std::string_view text);

}  // namespace tamborix
