#include "core/session/screen_sharing.h"

#include <string>
#include <utility>

#include "core/session/command_args.h"
#include "core/session/connection_registry.h"
#include "core/session/core_state.h"
#include "core/session/input_commands.h"
#include "core/session/json_text.h"
#include "ports/screen_capture.h"
#include "store/device_store.h"

namespace tamborix {

using nlohmann::json;
namespace cmd = commands;

namespace {
constexpr const char* captureUnavailable = "Screen capture is not available in this session";

std::string displayRange() {
    return "d must be a display from 0 to " + std::to_string(cmd::maxDisplay);
}
}  // namespace

ScreenSharing::ScreenSharing(MainLoop& loop, DeviceStore& store, const DisplaySource& displays,
                             ScreenCapture& capture, InputCommands& input,
                             ConnectionRegistry& registry, CoreState& state)
    : loop_(loop),
      store_(store),
      displays_(displays),
      capture_(capture),
      input_(input),
      registry_(registry),
      state_(state) {}

ScreenSharing::~ScreenSharing() { stopAll(); }

void ScreenSharing::stopAll() {
    life_.end();
    for (auto& [sid, streamer] : streamers_) streamer->stop();
    streamers_.clear();
}

bool ScreenSharing::streaming(const HelperConnPtr& conn) const {
    return conn && conn->session && streamers_.contains(conn->session->sid());
}

void ScreenSharing::screen(const CommandCall& call) {
    const auto& command = call.command;
    const bool on = cmd::requiredBool(command, "on");
    const auto* mode = cmd::stringMember(command, "mode");
    const bool cursorMode = mode && *mode == "cursor";
    std::int64_t d = 0;
    if (const auto it = command.find("d"); it != command.end()) {
        if (const auto value = jsontext::integer(*it)) {
            if (*value < 0 || *value > cmd::maxDisplay) throw CommandRejected(displayRange());
            d = *value;
        } else if (jsontext::isIntegral(*it)) {
            throw CommandRejected(displayRange());  // an integer too large even for int64 is out of range too
        }
    }
    if (on) {
        start(call.conn, cursorMode, static_cast<int>(d));
    } else {
        stop(call.conn);
    }
}

void ScreenSharing::ack(const CommandCall& call) {
    const auto id = jsontext::integerMember(call.command, "id");
    if (!id) throw CommandRejected("id must be a frame number");
    if (const auto it = streamers_.find(call.conn->session->sid()); it != streamers_.end())
        it->second->ack(*id);
}

void ScreenSharing::tap(const CommandCall& call) {
    const auto& command = call.command;
    const auto id = jsontext::integerMember(command, "id");
    const auto x = command.find("x");
    const auto y = command.find("y");
    if (!id || x == command.end() || !x->is_number() || y == command.end() || !y->is_number())
        throw CommandRejected("id must be a frame number and x, y numbers");
    const auto it = streamers_.find(call.conn->session->sid());
    if (it == streamers_.end()) throw CommandRejected("the live view is off");
    const auto p = it->second->point(*id, x->get<double>(), y->get<double>());
    if (!p) throw CommandRejected("no such point in that frame");
    auto& input = input_.actions();
    input.tapAt(*p);
    if (cmd::optionalBool(command, "click", false)) input.click("left", 1);
}

void ScreenSharing::start(const HelperConnPtr& conn, bool cursorMode, int display) {
    if (!conn->device) return;
    const auto mode = cursorMode ? ScreenStreamer::Mode::cursor : ScreenStreamer::Mode::fit;
    const bool lowBandwidth = conn->transport == "Bluetooth";
    if (const auto it = streamers_.find(conn->session->sid()); it != streamers_.end()) {
        it->second->start(mode, display, lowBandwidth);
        return;
    }
    loop_.post([this, alive = life_.watch(), weak = std::weak_ptr<HelperConn>(conn),
                id = conn->device->id, name = conn->device->name, cursorMode, display] {
        if (!alive) return;
        const auto stored = store_.deviceById(id);
        if (stored && stored->screen.has_value()) {
            decided(weak, *stored->screen, cursorMode, display);
            return;
        }
        if (!capture_.showsTheScreen()) {
            store_.setScreen(id, true);
            decided(weak, true, cursorMode, display);
            return;
        }
        if (!approveScreen_) {
            store_.setScreen(id, false);
            decided(weak, false, cursorMode, display);
            return;
        }
        approveScreen_(name, [this, alive, weak, id, cursorMode, display,
                              answered = std::make_shared<bool>(false)](bool allowed) {
            if (std::exchange(*answered, true)) return;
            if (!alive) return;
            store_.setScreen(id, allowed);
            decided(weak, allowed, cursorMode, display);
        });
    });
}

void ScreenSharing::decided(const std::weak_ptr<HelperConn>& weak, bool allowed,
                            bool cursorMode, int display) {
    auto conn = weak.lock();
    if (!allowed) {
        if (conn && !conn->ended) tell(conn, false, "denied");
        return;
    }
    if (!capture_.available()) {
        if (conn && !conn->ended) tell(conn, false, "permission");
        state_.setLastEvent(captureUnavailable);
        return;
    }
    // The phone may have left while the user was deciding.
    if (!conn || conn->ended || !registry_.isLive(conn)) return;
    const auto mode = cursorMode ? ScreenStreamer::Mode::cursor : ScreenStreamer::Mode::fit;
    const bool lowBandwidth = conn->transport == "Bluetooth";
    auto& slot = streamers_[conn->session->sid()];
    // Two requests may have waited for the same answer; the second restarts the first's stream.
    if (!slot) slot = std::make_unique<ScreenStreamer>(loop_, displays_, capture_, conn);
    slot->start(mode, display, lowBandwidth);
    recomputeSharing();
    tell(conn, true, nullptr);
    state_.setLastEvent("Screen shared with " + conn->device->name);
}

void ScreenSharing::stop(const HelperConnPtr& conn) {
    if (!conn->session) return;
    const auto it = streamers_.find(conn->session->sid());
    if (it == streamers_.end()) return;
    auto streamer = std::move(it->second);
    streamers_.erase(it);
    streamer->stop();
    recomputeSharing();
    tell(conn, false, nullptr);
}

void ScreenSharing::tell(const HelperConnPtr& conn, bool on, const char* error) {
    json message = {{"t", "screen_state"}, {"on", on}};
    if (error != nullptr) message["error"] = error;
    registry_.sendTo(conn, message);
}

void ScreenSharing::recomputeSharing() {
    std::vector<std::string> names;
    for (const auto& [sid, streamer] : streamers_) {
        const auto conn = registry_.find(sid);
        if (conn && conn->device) names.push_back(conn->device->name);
    }
    state_.setSharingWith(std::move(names));
}

}  // namespace tamborix
