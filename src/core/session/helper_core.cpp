#include "core/session/helper_core.h"

#include <utility>

#include "core/session/core_rooms.h"
#include "core/session/json_text.h"
#include "core/session/reply_fit.h"
#include "ports/host_info.h"
#include "protocol/wire.h"
#include "store/device_store.h"

namespace tamborix {

using nlohmann::json;

namespace {

constexpr const char* fallbackHostName = "Computer";
constexpr std::size_t maxHostName = 255;
constexpr std::size_t maxHostNameBytes = 1024;

// The ready and paired messages, the pairing link and the service name all carry it; however
// long the system's name, they must stay well within a frame.
std::string fittedHostName(HostInfo& host) {
    std::string name = host.hostName();
    if (name.empty()) name = fallbackHostName;
    name = fit::longestPrefix(name, maxHostName, [](const std::string& h) {
               return json{{"host", h}};
           }, maxHostNameBytes).value_or(fallbackHostName);
    if (name.empty()) name = fallbackHostName;
    return name;
}

}  // namespace

HelperCore::HelperCore(HelperServices services)
    : loop_(services.loop),
      store_(services.store),
      hostName_(fittedHostName(services.ports.host)),
      rooms_(std::make_unique<Rooms>(services, state_, hostName_)) {
    rooms_->input.injector().setOnUntypable([this](const std::string& line) { state_.setLastEvent(line); });
    rooms_->input.setOnOverlayMissing([this](const std::string& line) { state_.tellOnce(line); });
}

HelperCore::~HelperCore() {
    // Stops anything that could call back into a half-destroyed core.
    rooms_->displays.stopWatching();
    life_.end();
    rooms_->screen.stopAll();
}

// --- Settings ---

void HelperCore::setApprove(Approve approve) { rooms_->pairing.setApprove(std::move(approve)); }
void HelperCore::setApproveScreen(ApproveScreen approveScreen) {
    rooms_->screen.setApproveScreen(std::move(approveScreen));
}
void HelperCore::setTransportStats(TransportStats stats) {
    rooms_->stats.setTransportStats(std::move(stats));
}
void HelperCore::setShareFrontApp(bool on) { rooms_->displays.setShareFrontApp(on); }
bool HelperCore::shareFrontApp() const noexcept { return rooms_->displays.shareFrontApp(); }
void HelperCore::startWatchingFrontApp() { rooms_->displays.startWatchingFrontApp(); }
void HelperCore::startWatchingDisplays() { rooms_->displays.startWatchingDisplays(); }
void HelperCore::stopWatchingDisplays() { rooms_->displays.stopWatchingDisplays(); }

// --- Statistics and context ---

json HelperCore::currentStats() { return rooms_->stats.current(); }
void HelperCore::refreshStats() { rooms_->stats.refresh(); }
void HelperCore::setLastStats(json stats) { state_.setLastStats(std::move(stats)); }
std::int64_t HelperCore::framesPerSecond() { return rooms_->stats.framesPerSecond(); }
std::optional<Bytes> HelperCore::contextJSON() const { return rooms_->displays.contextJSON(); }
std::optional<Bytes> HelperCore::displaysJSON() const { return rooms_->displays.displaysJSON(); }
void HelperCore::pushDisplays(bool force) { rooms_->displays.pushDisplays(force); }
void HelperCore::pushContext() { rooms_->displays.pushContext(); }

// --- Inspection ---

InputInjector& HelperCore::injector() noexcept { return rooms_->input.injector(); }
LaserOverlay& HelperCore::laser() noexcept { return rooms_->live.laserOverlay(); }
Smoother* HelperCore::smootherIfCreated() noexcept { return rooms_->input.smootherIfCreated(); }
std::size_t HelperCore::liveCount() const noexcept { return rooms_->registry.count(); }
bool HelperCore::isLive(const HelperConnPtr& conn) const { return rooms_->registry.isLive(conn); }
bool HelperCore::activityHeld() const noexcept { return rooms_->registry.activityHeld(); }
bool HelperCore::streaming(const HelperConnPtr& conn) const {
    return rooms_->screen.streaming(conn);
}
bool HelperCore::rateOK(const std::string& key) { return rooms_->registry.rateOK(key); }
std::size_t HelperCore::rateKeys() const noexcept { return rooms_->registry.rateKeys(); }

// --- A connection's start and end ---

std::optional<Bytes> HelperCore::readyFrame(const HelperConnPtr& conn) {
    if (!conn || !conn->device || !conn->session || conn->ended) return std::nullopt;
    store_.touch(conn->device->id);
    auto& displays = rooms_->displays;
    if (auto context = displays.contextJSON()) conn->greeting.push_back(std::move(*context));
    if (auto layout = displays.displaysForNewPhone(conn))
        conn->greeting.push_back(std::move(*layout));
    loop_.post([this, alive = life_.watch(), weak = std::weak_ptr<HelperConn>(conn)] {
        if (alive) rooms_->registry.sendGreeting(weak.lock());
    });
    rooms_->registry.add(conn);
    state_.setLastEvent(conn->device->name + " connected via " + conn->transport);

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
    if (conn->session) rooms_->screen.stop(conn);
    rooms_->registry.remove(conn);
    rooms_->input.connectionEnded(conn->session && rooms_->registry.empty());
}

}  // namespace tamborix
