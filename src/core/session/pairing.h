#pragma once
// A phone that completed a "pair2" handshake: its proof of the pairing code, the user's approval,
// storing the device and telling the phone it is paired.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/liveness.h"
#include "core/helper_conn.h"
#include "core/session_entry.h"
#include "protocol/bytes.h"

namespace tamborix {

class ConnectionRegistry;
class CoreState;
class DeviceStore;
class DisplayContext;

class Pairing {
public:
    // Call `answer` exactly once, on the main loop, now or later.
    using Approve = std::function<void(const std::string& name, const std::string& fingerprint,
                                       std::function<void(bool)> answer)>;

    Pairing(MainLoop& loop, DeviceStore& store, ConnectionRegistry& registry, CoreState& state,
            DisplayContext& displays, const std::string& hostName);
    ~Pairing();
    Pairing(const Pairing&) = delete;
    Pairing& operator=(const Pairing&) = delete;

    void setApprove(Approve approve) { approve_ = std::move(approve); }

    // The frame of a connection that has a session but no device yet; `done` runs on a later
    // turn of the loop.
    void onFrame(const HelperConnPtr& conn, ByteView frame, SessionEntry::FrameDone done);

private:
    void finish(const HelperConnPtr& conn, const nlohmann::json& message,
                SessionEntry::FrameDone done);
    // False when an approved device could not be stored: the connection must end.
    bool complete(const std::weak_ptr<HelperConn>& weak, const Bytes& pub,
                  const std::string& clientName, bool approved);

    MainLoop& loop_;
    DeviceStore& store_;
    ConnectionRegistry& registry_;
    CoreState& state_;
    DisplayContext& displays_;
    const std::string& hostName_;
    Approve approve_;
    // Lets answers that come after this is gone see so.
    Liveness life_;
};

}  // namespace tamborix
