// Screen sharing for one connection: the stored decision, the user's approval, the capture
// availability and the streamer's life.

#include <utility>

#include "core/session/core_parts.h"
#include "ports/screen_capture.h"
#include "store/device_store.h"

namespace tamborix {

using nlohmann::json;

namespace {
constexpr const char* captureUnavailable = "Screen capture is not available in this session";
}  // namespace

void HelperCore::startScreen(const HelperConnPtr& conn, bool cursorMode, int display) {
    if (!conn->device) return;
    const auto mode = cursorMode ? ScreenStreamer::Mode::cursor : ScreenStreamer::Mode::fit;
    const bool lowBandwidth = conn->transport == "Bluetooth";
    if (const auto it = parts_->streamers.find(conn->session->sid());
        it != parts_->streamers.end()) {
        it->second->start(mode, display, lowBandwidth);
        return;
    }
    loop_.post([this, alive = life_.watch(), weak = std::weak_ptr<HelperConn>(conn),
                id = conn->device->id, name = conn->device->name, cursorMode, display] {
        if (!alive) return;
        const auto stored = store_.deviceById(id);
        if (stored && stored->screen.has_value()) {
            screenDecided(weak, *stored->screen, cursorMode, display);
            return;
        }
        if (dryRun_) {
            store_.setScreen(id, true);
            screenDecided(weak, true, cursorMode, display);
            return;
        }
        if (!approveScreen_) {
            store_.setScreen(id, false);
            screenDecided(weak, false, cursorMode, display);
            return;
        }
        approveScreen_(name, [this, alive, weak, id, cursorMode, display,
                              answered = std::make_shared<bool>(false)](bool allowed) {
            if (std::exchange(*answered, true)) return;
            if (!alive) return;
            store_.setScreen(id, allowed);
            screenDecided(weak, allowed, cursorMode, display);
        });
    });
}

void HelperCore::screenDecided(const std::weak_ptr<HelperConn>& weak, bool allowed,
                               bool cursorMode, int display) {
    auto conn = weak.lock();
    if (!allowed) {
        if (conn && !conn->ended) screenState(conn, false, "denied");
        return;
    }
    if (!dryRun_ && !parts_->services.capture.available()) {
        if (conn && !conn->ended) screenState(conn, false, "permission");
        setLastEvent(captureUnavailable);
        return;
    }
    // The phone may have left while the user was deciding.
    if (!conn || conn->ended || !isLive(conn)) return;
    const auto mode = cursorMode ? ScreenStreamer::Mode::cursor : ScreenStreamer::Mode::fit;
    const bool lowBandwidth = conn->transport == "Bluetooth";
    auto& slot = parts_->streamers[conn->session->sid()];
    // Two requests may have waited for the same answer; the second restarts the first's stream.
    if (!slot) {
        slot = std::make_unique<ScreenStreamer>(loop_, parts_->services.displays,
                                                parts_->services.capture, conn, dryRun_);
    }
    slot->start(mode, display, lowBandwidth);
    recomputeSharing();
    screenState(conn, true, nullptr);
    setLastEvent("Screen shared with " + conn->device->name);
}

void HelperCore::stopScreen(const HelperConnPtr& conn) {
    if (!conn->session) return;
    const auto it = parts_->streamers.find(conn->session->sid());
    if (it == parts_->streamers.end()) return;
    auto streamer = std::move(it->second);
    parts_->streamers.erase(it);
    streamer->stop();
    recomputeSharing();
    screenState(conn, false, nullptr);
}

void HelperCore::screenState(const HelperConnPtr& conn, bool on, const char* error) {
    json message = {{"t", "screen_state"}, {"on", on}};
    if (error != nullptr) message["error"] = error;
    sendTo(conn, message);
}

void HelperCore::recomputeSharing() {
    std::vector<std::string> names;
    for (const auto& [sid, streamer] : parts_->streamers) {
        const auto it = live_.find(sid);
        if (it != live_.end() && it->second->device) names.push_back(it->second->device->name);
    }
    if (names != sharingWith_) {
        sharingWith_ = std::move(names);
        notify(Property::sharingWith);
    }
}

}  // namespace tamborix
