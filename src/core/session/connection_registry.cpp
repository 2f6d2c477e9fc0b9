#include "core/session/connection_registry.h"

#include <algorithm>
#include <utility>

#include "core/session/core_state.h"
#include "core/session/json_text.h"
#include "protocol/limits.h"
#include "ports/activity_assertion.h"
#include "protocol/wire.h"

namespace tamborix {

namespace {
constexpr const char* activityReason = "Remote pointer control in progress";
}  // namespace

ConnectionRegistry::ConnectionRegistry(MainLoop& loop, ActivityAssertion& activity,
                                       CoreState& state)
    : loop_(loop), activityPort_(activity), state_(state) {}

ConnectionRegistry::~ConnectionRegistry() = default;

void ConnectionRegistry::add(const HelperConnPtr& conn) {
    const auto& sid = conn->session->sid();
    live_[sid] = conn;
    state_.setActive(Wire::b64url(sid), conn->device->name + " (" + conn->transport + ")");
    updateActivity();
}

void ConnectionRegistry::remove(const HelperConnPtr& conn) {
    if (conn && conn->session) {
        const auto& sid = conn->session->sid();
        const auto it = live_.find(sid);
        if (it != live_.end() && it->second == conn) live_.erase(it);
        state_.removeActive(Wire::b64url(sid));
    }
    updateActivity();
}

bool ConnectionRegistry::isLive(const HelperConnPtr& conn) const {
    if (!conn || !conn->session) return false;
    const auto it = live_.find(conn->session->sid());
    return it != live_.end() && it->second == conn;
}

bool ConnectionRegistry::othersLive(const HelperConnPtr& conn) const {
    return std::any_of(live_.begin(), live_.end(),
                       [&](const auto& entry) { return entry.second != conn; });
}

HelperConnPtr ConnectionRegistry::find(const Bytes& sessionId) const {
    const auto it = live_.find(sessionId);
    return it == live_.end() ? nullptr : it->second;
}

void ConnectionRegistry::sendBytes(const HelperConnPtr& conn, ByteView plaintext) {
    if (!conn || !conn->push || !conn->session) return;
    if (plaintext.size() > limits::maxPlaintext) return;
    Bytes sealed;
    try {
        sealed = conn->session->seal(plaintext);
    } catch (const std::exception&) {
        return;
    }
    conn->push(sealed);
}

void ConnectionRegistry::sendTo(const HelperConnPtr& conn, const nlohmann::json& message) {
    if (!conn || !conn->push) return;
    sendBytes(conn, jsontext::serialize(message));
}

void ConnectionRegistry::pushToAll(ByteView plaintext) {
    // A push may end a connection (and so change `live_`); walk a copy.
    std::vector<HelperConnPtr> targets;
    targets.reserve(live_.size());
    for (const auto& [sid, conn] : live_) targets.push_back(conn);
    for (const auto& conn : targets) sendBytes(conn, plaintext);
}

void ConnectionRegistry::sendGreeting(const HelperConnPtr& conn) {
    if (!conn || conn->greeting.empty()) return;
    auto greeting = std::move(conn->greeting);
    conn->greeting.clear();
    if (!conn->push || conn->ended) return;
    for (const auto& message : greeting) sendBytes(conn, message);
}

bool ConnectionRegistry::rateOK(const std::string& key) {
    const auto now = loop_.now();
    std::vector<MonoTime> times;
    if (const auto it = handshakeTimes_.find(key); it != handshakeTimes_.end()) {
        times = std::move(it->second);
        std::erase_if(times, [&](MonoTime t) { return now - t >= limits::handshakeRateWindow; });
    }
    times.push_back(now);
    const bool ok = times.size() <= limits::maxHandshakesPerWindow;
    if (handshakeTimes_.size() >= limits::maxRateLimitedAddresses && !handshakeTimes_.contains(key)) {
        // Too many peers to remember: forget them all rather than grow without bound.
        handshakeTimes_.clear();
    }
    handshakeTimes_[key] = std::move(times);
    return ok;
}

void ConnectionRegistry::updateActivity() {
    if (!state_.active().empty() && !activity_) {
        activity_ = activityPort_.begin(activityReason);
        // Where the system refuses, the bookkeeping still says an activity is held, so that the
        // end of the last connection is not mistaken for the start of one.
        if (!activity_) activity_ = std::make_unique<ActivityHandle>();
    } else if (state_.active().empty() && activity_) {
        activity_.reset();
    }
}

}  // namespace tamborix
