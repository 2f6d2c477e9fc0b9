#pragma once
// What a transport needs of the session core. HelperCore implements it; transport tests use a fake.

#include <exception>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/helper_conn.h"
#include "protocol/bytes.h"

namespace tamborix {

struct HandshakeOutcome {
    nlohmann::json reply;   // sent as one line of plain JSON whether or not `conn` is set
    HelperConnPtr conn;     // set when the handshake was accepted
};

class SessionEntry {
public:
    virtual ~SessionEntry() = default;

    // Never throws: every problem is an error reply without a connection.
    [[nodiscard]] virtual HandshakeOutcome handshake(ByteView firstMessage, const std::string& peer,
                                                     const std::string& transport) = 0;
    // Right after the transport installed `push`; the transport sends the frame if any.
    [[nodiscard]] virtual std::optional<Bytes> readyFrame(const HelperConnPtr& conn) = 0;
    // Authenticated connection, nothing queued. Throws on a failure that ends the session.
    virtual void onFrameNow(const HelperConnPtr& conn, ByteView frame) = 0;
    // Any other frame. Completes later on the main loop, exactly once: with frames to send in
    // order, or with an error (then the transport ends the session).
    using FrameDone = std::function<void(std::exception_ptr error, std::vector<Bytes> frames)>;
    virtual void onFrame(const HelperConnPtr& conn, Bytes frame, FrameDone done) = 0;
    // Once, when the transport session ends for any reason.
    virtual void closed(const HelperConnPtr& conn) = 0;
};

}  // namespace tamborix
