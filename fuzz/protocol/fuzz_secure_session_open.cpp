// Opening arbitrary bytes never crashes, never succeeds without the key, and a failure leaves the
// session as it was. Inputs starting with 0x00 are instead sealed by the peer, tampered with at a
// position the input chooses, and must then open only untouched.
#include <cstdlib>

#include "protocol/secure_error.h"
#include "protocol/secure_session.h"

using namespace tamborix;

namespace {

SecureSession::Key key(std::uint8_t fill) {
    SecureSession::Key k;
    k.fill(fill);
    return k;
}

const Bytes sid{0x01, 0x01, 0x02, 0x03, 0x05, 0x08, 0x0d, 0x15};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SecureSession helper(sid, Bytes(32, 0), key(2), key(1));
    SecureSession phone(sid, Bytes(32, 0), key(1), key(2));
    const ByteView input(data, size);

    if (size >= 3 && data[0] == 0x00) {
        const std::size_t flip = (std::size_t{data[1]} << 8 | data[2]);
        const ByteView plain = input.subspan(3);
        Bytes frame = phone.seal(plain);
        if (flip < frame.size() * 8) {
            Bytes bad = frame;
            bad[flip / 8] ^= static_cast<std::uint8_t>(1u << (flip % 8));
            try {
                (void)helper.open(bad);
                std::abort();
            } catch (const SecureError&) {
            }
            if (helper.lastRecv()) std::abort();
        }
        if (frame.size() <= SecureSession::maxFrame) {
            if (helper.open(frame) != Bytes(plain.begin(), plain.end())) std::abort();
            if (helper.lastRecv() != 0u) std::abort();
        }
        return 0;
    }

    try {
        (void)helper.open(input);
        std::abort();  // nothing opens without the peer's key
    } catch (const SecureError& e) {
        if (e.kind() != SecureError::Kind::malformed &&
            e.kind() != SecureError::Kind::authentication) {
            std::abort();
        }
    }
    if (helper.lastRecv()) std::abort();
    const auto routed = SecureSession::frameSID(input);
    if (routed && (size <= 16 || data[0] != 0x01)) std::abort();
    return 0;
}
