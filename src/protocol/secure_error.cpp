#include "protocol/secure_error.h"

#include <utility>

namespace tamborix {

namespace {

std::string textFor(SecureError::Kind kind, const std::string& detail) {
    switch (kind) {
        case SecureError::Kind::malformed: return "Malformed message (" + detail + ")";
        case SecureError::Kind::authentication: return "Message failed authentication";
        case SecureError::Kind::replay: return "Replayed or out-of-order message";
        case SecureError::Kind::serverKeyChanged:
            return "This computer's identity changed \u2014 possible impersonation. Re-pair to "
                   "continue.";
        case SecureError::Kind::invalidKey: return "Invalid key";
    }
    return "Secure channel error";
}

}  // namespace

SecureError::SecureError(Kind kind, std::string detail)
    : kind_(kind), detail_(std::move(detail)), text_(textFor(kind_, detail_)) {}

SecureError SecureError::malformed(std::string detail) {
    return SecureError(Kind::malformed, std::move(detail));
}
SecureError SecureError::authentication() { return SecureError(Kind::authentication, {}); }
SecureError SecureError::replay() { return SecureError(Kind::replay, {}); }
SecureError SecureError::serverKeyChanged() { return SecureError(Kind::serverKeyChanged, {}); }
SecureError SecureError::invalidKey() { return SecureError(Kind::invalidKey, {}); }

}  // namespace tamborix
