#include "app/pairing_link.h"

#include "protocol/wire.h"

namespace tamborix {

std::string percentEncodeQueryValue(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::string pairingURI(const PairingLinkParts& parts) {
    std::string uri = "velmorand://pair?v=2";
    if (parts.host) uri += "&h=" + percentEncodeQueryValue(*parts.host);
    uri += "&p=" + std::to_string(parts.port);
    uri += "&k=" + percentEncodeQueryValue(Wire::b64url(parts.identityKey));
    uri += "&c=" + percentEncodeQueryValue(parts.code);
    uri += "&n=" + percentEncodeQueryValue(parts.name);
    return uri;
}

std::string prettyPairCode(std::string_view code) {
    std::string out;
    for (std::size_t i = 0; i < code.size() && i < 12; i += 4) {
        if (!out.empty()) out += '-';
        out += code.substr(i, 4);
    }
    return out;
}

}  // namespace tamborix
