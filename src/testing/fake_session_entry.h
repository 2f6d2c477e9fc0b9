#pragma once
// A scriptable stand-in for the session core as the transports see it. It records every call;
// asynchronous frames wait until the test completes them.
//
// Default handshake: the line "hello" is accepted for a paired device, "pair" is accepted for a
// device that still has to pair, anything else is refused with an error reply. Default
// onFrameNow: the frame "bad" fails. All of it can be replaced.

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/session_entry.h"

namespace tamborix::testing {

class FakeSessionEntry final : public SessionEntry {
public:
    struct HandshakeCall {
        std::string line;
        std::string peer;
        std::string transport;
    };
    struct FrameCall {
        HelperConnPtr conn;
        Bytes frame;
    };
    struct PendingFrame {
        HelperConnPtr conn;
        Bytes frame;
        FrameDone done;
    };

    FakeSessionEntry();

    // Replaceable behaviour.
    std::function<HandshakeOutcome(ByteView line, const std::string& peer,
                                   const std::string& transport)>
        onHandshake;
    std::optional<Bytes> ready = toBytes("READY");
    std::function<void(const HelperConnPtr&, ByteView)> onNow;
    // Completes every onFrame call inside the call, answering with the frame itself.
    bool echoAtOnce = false;

    // What happened.
    std::vector<HandshakeCall> handshakes;
    std::vector<HelperConnPtr> readyCalls;
    std::vector<FrameCall> framesNow;
    std::deque<PendingFrame> pending;  // onFrame calls not completed yet, oldest first
    std::vector<Bytes> framesAsync;    // every onFrame call's frame, in call order
    std::vector<HelperConnPtr> closedCalls;

    // Completes the oldest pending onFrame call with these frames, or with an error.
    void completeNext(std::vector<Bytes> frames = {});
    void failNext();

    static HelperConnPtr pairedConn(std::string name = "Phone");
    static HelperConnPtr pairingConn();

    // SessionEntry
    HandshakeOutcome handshake(ByteView firstMessage, const std::string& peer,
                               const std::string& transport) override;
    std::optional<Bytes> readyFrame(const HelperConnPtr& conn) override;
    void onFrameNow(const HelperConnPtr& conn, ByteView frame) override;
    void onFrame(const HelperConnPtr& conn, Bytes frame, FrameDone done) override;
    void closed(const HelperConnPtr& conn) override;
};

}  // namespace tamborix::testing
