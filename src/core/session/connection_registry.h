#pragma once
// The live authenticated connections: who is connected, sealing and sending to one phone or to
// all, the greeting a new phone is owed, the handshake rate limit per address, and the activity
// assertion held while anyone is connected. It knows no command.

#include <cstddef>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/helper_conn.h"
#include "ports/main_loop.h"
#include "protocol/bytes.h"

namespace tamborix {

class ActivityAssertion;
class ActivityHandle;
class CoreState;

class ConnectionRegistry {
public:
    ConnectionRegistry(MainLoop& loop, ActivityAssertion& activity, CoreState& state);
    ~ConnectionRegistry();
    ConnectionRegistry(const ConnectionRegistry&) = delete;
    ConnectionRegistry& operator=(const ConnectionRegistry&) = delete;

    // An authenticated connection (session and device set) becomes live.
    void add(const HelperConnPtr& conn);
    // The connection is live no more (a no-op for one that never was).
    void remove(const HelperConnPtr& conn);

    [[nodiscard]] bool isLive(const HelperConnPtr& conn) const;
    [[nodiscard]] std::size_t count() const noexcept { return live_.size(); }
    [[nodiscard]] bool empty() const noexcept { return live_.empty(); }
    // Whether a connection other than `conn` is live.
    [[nodiscard]] bool othersLive(const HelperConnPtr& conn) const;
    // The live connection of a session id, else null.
    [[nodiscard]] HelperConnPtr find(const Bytes& sessionId) const;

    // Sealed and pushed; a message that cannot be sealed or would not open on the phone is
    // dropped.
    void sendBytes(const HelperConnPtr& conn, ByteView plaintext);
    void sendTo(const HelperConnPtr& conn, const nlohmann::json& message);
    void pushToAll(ByteView plaintext);
    // What the ready frame left on the connection to be told next, once.
    void sendGreeting(const HelperConnPtr& conn);

    // At most 20 handshake attempts per key in any 60 s; refused attempts count too.
    [[nodiscard]] bool rateOK(const std::string& key);
    [[nodiscard]] std::size_t rateKeys() const noexcept { return handshakeTimes_.size(); }

    [[nodiscard]] bool activityHeld() const noexcept { return activity_ != nullptr; }

private:
    void updateActivity();

    MainLoop& loop_;
    ActivityAssertion& activityPort_;
    CoreState& state_;
    std::map<Bytes, HelperConnPtr> live_;
    std::map<std::string, std::vector<MonoTime>> handshakeTimes_;
    std::unique_ptr<ActivityHandle> activity_;
};

}  // namespace tamborix
