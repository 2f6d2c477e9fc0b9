#include "core/session/helper_core.h"

#include <utility>

#include "core/session/core_parts.h"
#include "core/session/json_text.h"
#include "core/session/reply_fit.h"
#include "perf/main_thread_lag_probe.h"
#include "ports/activity_assertion.h"
#include "ports/host_info.h"
#include "protocol/wire.h"
#include "store/device_store.h"

namespace tamborix {

using nlohmann::json;

namespace {

constexpr const char* fallbackHostName = "Computer";
constexpr const char* activityReason = "Remote pointer control in progress";
constexpr std::size_t maxHostName = 255;
constexpr std::size_t maxHostNameBytes = 1024;

}  // namespace

HelperCore::HelperCore(HelperServices services)
    : loop_(services.loop),
      store_(services.store),
      dryRun_(services.dryRun),
      parts_(std::make_unique<Parts>(services)) {
    hostName_ = services.host.hostName();
    if (hostName_.empty()) hostName_ = fallbackHostName;
    // The ready and paired messages, the pairing link and the service name all carry it; however
    // long the system's name, they must stay well within a frame.
    hostName_ = fit::longestPrefix(hostName_, maxHostName, [](const std::string& h) {
                    return json{{"host", h}};
                }, maxHostNameBytes).value_or(fallbackHostName);
    if (hostName_.empty()) hostName_ = fallbackHostName;
    parts_->injector.setOnMove([this](Point p) {
        if (parts_->laser.isOn()) parts_->laser.onInjectedMove(p);
    });
}

HelperCore::~HelperCore() {
    // Stops anything that could call back into a half-destroyed core.
    displayTimer_.reset();
    parts_->frontAppTimer.reset();
    parts_->frontAppWatch.reset();
    life_.end();
    for (auto& [sid, streamer] : parts_->streamers) streamer->stop();
    parts_->streamers.clear();
}

// --- Settings and published state ---

void HelperCore::setApprove(Approve approve) { approve_ = std::move(approve); }
void HelperCore::setApproveScreen(ApproveScreen approveScreen) {
    approveScreen_ = std::move(approveScreen);
}
void HelperCore::setTransportStats(TransportStats stats) { transportStats_ = std::move(stats); }

void HelperCore::setShareFrontApp(bool on) { shareFrontApp_ = on; }

void HelperCore::setLastEvent(std::string text) {
    lastEvent_ = std::move(text);
    notify(Property::lastEvent);
}

void HelperCore::notify(Property property) { changed_.notify(property); }

InputInjector& HelperCore::injector() noexcept { return parts_->injector; }
LaserOverlay& HelperCore::laser() noexcept { return parts_->laser; }
Smoother* HelperCore::smootherIfCreated() noexcept { return parts_->smoother.get(); }

Smoother& HelperCore::smoother() {
    if (!parts_->smoother)
        parts_->smoother = std::make_unique<Smoother>(loop_, parts_->injector);
    return *parts_->smoother;
}

bool HelperCore::isLive(const HelperConnPtr& conn) const {
    if (!conn || !conn->session) return false;
    const auto it = live_.find(conn->session->sid());
    return it != live_.end() && it->second == conn;
}

bool HelperCore::streaming(const HelperConnPtr& conn) const {
    return conn && conn->session && parts_->streamers.contains(conn->session->sid());
}

// --- Sending ---

void HelperCore::sendBytes(const HelperConnPtr& conn, ByteView plaintext) {
    if (!conn || !conn->push || !conn->session) return;
    // The phone would refuse the frame and end the session; what could not be made to fit is
    // dropped like a message that cannot be sealed.
    if (plaintext.size() > fit::maxPlaintext) return;
    Bytes sealed;
    try {
        sealed = conn->session->seal(plaintext);
    } catch (const std::exception&) {
        return;  // a message that cannot be sealed is dropped
    }
    conn->push(sealed);
}

void HelperCore::sendTo(const HelperConnPtr& conn, const json& message) {
    if (!conn || !conn->push) return;
    sendBytes(conn, jsontext::serialize(message));
}

void HelperCore::pushToAll(ByteView plaintext) {
    // A push may end a connection (and so change `live`); walk a copy.
    std::vector<HelperConnPtr> targets;
    targets.reserve(live_.size());
    for (const auto& [sid, conn] : live_) targets.push_back(conn);
    for (const auto& conn : targets) sendBytes(conn, plaintext);
}

void HelperCore::pushContextAndDisplays(const std::weak_ptr<HelperConn>& weak,
                                        const std::optional<Bytes>& context,
                                        const std::optional<Bytes>& displays) {
    auto conn = weak.lock();
    if (!conn || !conn->push || conn->ended) return;
    if (context) sendBytes(conn, *context);
    if (displays) sendBytes(conn, *displays);
}

void HelperCore::sendGreeting(const HelperConnPtr& conn) {
    if (!conn || conn->greeting.empty()) return;
    auto greeting = std::move(conn->greeting);
    conn->greeting.clear();
    if (!conn->push || conn->ended) return;
    for (const auto& message : greeting) sendBytes(conn, message);
}

// --- Connections ---

void HelperCore::registerLive(const HelperConnPtr& conn) {
    const auto& sid = conn->session->sid();
    live_[sid] = conn;
    active_[Wire::b64url(sid)] = conn->device->name + " (" + conn->transport + ")";
    notify(Property::active);
    updateActivity();
}

std::optional<Bytes> HelperCore::readyFrame(const HelperConnPtr& conn) {
    if (!conn || !conn->device || !conn->session || conn->ended) return std::nullopt;
    store_.touch(conn->device->id);
    if (auto context = contextJSON()) conn->greeting.push_back(std::move(*context));
    if (auto displays = displaysForNewPhone(conn)) conn->greeting.push_back(std::move(*displays));
    loop_.post([this, alive = life_.watch(), weak = std::weak_ptr<HelperConn>(conn)] {
        if (alive) sendGreeting(weak.lock());
    });
    registerLive(conn);
    setLastEvent(conn->device->name + " connected via " + conn->transport);

    const json ready = {
        {"t", "ready"},
        {"host", hostName_},
        {"os", "linux"},
        {"v", 2},
        {"scope", conn->device->scope == PairedDevice::Scope::presenter ? "presenter" : "full"},
        {"caps", {"apps", "laser", "screen", "open"}},
    };
    const auto bytes = jsontext::serialize(ready);
    try {
        return conn->session->seal(bytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void HelperCore::closed(const HelperConnPtr& conn) {
    if (!conn) return;
    conn->ended = true;
    if (conn->session) {
        stopScreen(conn);
        const auto& sid = conn->session->sid();
        const auto it = live_.find(sid);
        if (it != live_.end() && it->second == conn) live_.erase(it);
        if (live_.empty() && parts_->laser.isOn()) parts_->laser.setOn(false);
        if (active_.erase(Wire::b64url(sid)) > 0) notify(Property::active);
    }
    updateActivity();
    if (parts_->smoother) parts_->smoother->flush();
    parts_->injector.releaseAll();
}

void HelperCore::updateActivity() {
    if (!active_.empty() && !activity_) {
        activity_ = parts_->services.activity.begin(activityReason);
        // Where the system refuses, the bookkeeping still says an activity is held, so that the
        // end of the last connection is not mistaken for the start of one.
        if (!activity_) activity_ = std::make_unique<ActivityHandle>();
    } else if (active_.empty() && activity_) {
        activity_.reset();
    }
}

}  // namespace tamborix
