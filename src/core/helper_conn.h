#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ports/main_loop.h"
#include "protocol/bytes.h"
#include "protocol/secure_session.h"
#include "store/paired_device.h"

namespace tamborix {

// One live transport connection, shared between its transport and the core's `live` map.
// Anything else that keeps it (timers, streamers, posted jobs) holds a weak_ptr.
struct HelperConn {
    std::unique_ptr<SecureSession> session;
    std::string peer;
    std::string transport;  // "Network" or "Bluetooth"
    std::string clientName;
    std::optional<PairedDevice> device;  // present exactly when authenticated
    std::optional<Bytes> pairingPub;     // present while pairing
    MonoTime lastRx{};
    std::function<void(const Bytes& sealedFrame)> push;  // set by the transport
    // Set by the core when the transport reported the end: late completions (an approval that
    // arrives after the phone left) then leave the connection alone.
    bool ended = false;
    // The phone asked to be told of its rejected commands (tamborix-remote does; phones do not).
    bool reportRejections = false;
    // Context and displays, told right after the ready frame: sent by a posted job, or before
    // the reply to the phone's first frame if that is handled first.
    std::vector<Bytes> greeting;

    // The device's record as the core last read it from the store (the user may rename it,
    // change its scope or revoke it after the handshake), and the store generation it was read
    // at, so that a frame need not look the device up again.
    struct Standing {
        std::uint64_t generation = 0;  // zero until the store was first read
        bool paired = false;
        PairedDevice::Scope scope = PairedDevice::Scope::full;
        std::string name;
    };
    Standing standing;

    [[nodiscard]] bool authenticated() const noexcept { return device.has_value(); }
};

using HelperConnPtr = std::shared_ptr<HelperConn>;

}  // namespace tamborix
