// b64d against libsodium's strict decoder on the text b64d is defined to decode (alphabet
// swapped, padding appended): whatever libsodium decodes, b64d must decode alike; b64d may
// accept more only where the unused low bits of the last character are set.
// Found with it: libsodium's decoder takes bytes 0x80-0xFF for "/", which is why b64d does not
// delegate to it.
#include <sodium.h>

#include <cstdlib>
#include <string>

#include "protocol/secure_error.h"
#include "protocol/wire.h"

using namespace tamborix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = sodium_init() >= 0;
    if (!ready) std::abort();
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    std::optional<Bytes> ours;
    try {
        ours = Wire::b64d(text, 4096);
    } catch (const SecureError& e) {
        if (!(e == SecureError::malformed("base64"))) std::abort();
    }
    if (size > 4096) {
        if (ours) std::abort();
        return 0;
    }

    // libsodium 1.0.18 decodes every byte from 0x80 up as "/", so it is no judge of those.
    for (const std::uint8_t b : ByteView(data, size)) {
        if (b >= 0x80) {
            if (ours) std::abort();
            return 0;
        }
    }

    std::string normalized(text);
    for (char& c : normalized) {
        if (c == '-') c = '+';
        if (c == '_') c = '/';
    }
    normalized.append((4 - normalized.size() % 4) % 4, '=');
    Bytes theirs(normalized.size() + 1);
    std::size_t length = 0;
    const bool theyDecoded =
        sodium_base642bin(theirs.data(), theirs.size(), normalized.data(), normalized.size(),
                          nullptr, &length, nullptr, sodium_base64_VARIANT_ORIGINAL) == 0;
    theirs.resize(theyDecoded ? length : 0);

    if (theyDecoded && (!ours || *ours != theirs)) std::abort();
    if (ours && !theyDecoded) {
        // Only a non-canonical last character may separate the two.
        if (Wire::b64std(*ours) == normalized) std::abort();
    }
    if (ours) {
        const std::string again = Wire::b64url(*ours);
        if (Wire::b64d(again, 4096) != *ours) std::abort();
    }
    return 0;
}
