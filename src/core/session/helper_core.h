#pragma once
// The session entry every transport hands its connections and frames to. It wires the rooms of
// the session together and routes each frame: the connection registry, the handshake, pairing,
// the command table and its handlers (input, desktop, displays and context, screen sharing,
// statistics), and the state the menu shows.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/liveness.h"
#include "core/helper_conn.h"
#include "core/session/command_rejected.h"
#include "core/session/core_state.h"
#include "core/session_entry.h"
#include "ports/main_loop.h"
#include "ports/port_bundle.h"
#include "protocol/bytes.h"
#include "base/change_signal.h"
#include "store/paired_device.h"

namespace tamborix {

class DeviceStore;
class InputInjector;
class LaserOverlay;
class MainThreadLagProbe;
class Smoother;

// Everything the core reaches the platform and the store through. All references must outlive
// the core.
struct HelperServices {
    MainLoop& loop;
    DeviceStore& store;
    PortBundle ports;
    // The application's lag probe; without one the statistics report a lag of 0.
    const MainThreadLagProbe* lagProbe = nullptr;
};

class HelperCore final : public SessionEntry {
public:
    using Rejected = CommandRejected;
    using FrontApp = CoreState::FrontApp;
    using Property = CoreState::Property;
    using ChangeListener = CoreState::ChangeListener;

    // Asynchronous approvals: call `answer` exactly once, on the main loop, now or later.
    using Approve = std::function<void(const std::string& name, const std::string& fingerprint,
                                       std::function<void(bool)> answer)>;
    using ApproveScreen =
        std::function<void(const std::string& deviceName, std::function<void(bool)> answer)>;
    using TransportStats = std::function<nlohmann::json()>;  // an object, e.g. "bleBacklog"

    explicit HelperCore(HelperServices services);
    ~HelperCore() override;
    HelperCore(const HelperCore&) = delete;
    HelperCore& operator=(const HelperCore&) = delete;

    // --- What the transports call (see SessionEntry) ---
    [[nodiscard]] HandshakeOutcome handshake(ByteView firstMessage, const std::string& peer,
                                             const std::string& transport) override;
    [[nodiscard]] std::optional<Bytes> readyFrame(const HelperConnPtr& conn) override;
    void onFrameNow(const HelperConnPtr& conn, ByteView frame) override;
    void onFrame(const HelperConnPtr& conn, Bytes frame, FrameDone done) override;
    void closed(const HelperConnPtr& conn) override;

    // --- Settable by the application model ---
    void setApprove(Approve approve);
    void setApproveScreen(ApproveScreen approveScreen);
    void setTransportStats(TransportStats stats);
    void setShareFrontApp(bool on);
    [[nodiscard]] bool shareFrontApp() const noexcept;

    // Called once at start-up.
    void startWatchingFrontApp();
    // The display layout, and a front application that is polled, are looked at only while a
    // phone is there to hear of a change (a phone's hello answers with the current ones).
    void startWatchingDisplays();
    void stopWatchingDisplays();

    // --- Published state (read on the main loop; listeners hear of every change) ---
    // Key: base64url of the session id; value: device name + " (" + transport + ")".
    [[nodiscard]] const std::map<std::string, std::string>& active() const noexcept {
        return state_.active();
    }
    [[nodiscard]] const std::optional<std::string>& lastEvent() const noexcept {
        return state_.lastEvent();
    }
    [[nodiscard]] const std::string& lastEventDetail() const noexcept { return state_.lastEventDetail(); }
    [[nodiscard]] const nlohmann::json& lastStats() const noexcept { return state_.lastStats(); }
    [[nodiscard]] const std::vector<std::string>& sharingWith() const noexcept {
        return state_.sharingWith();
    }
    [[nodiscard]] const std::optional<FrontApp>& frontApp() const noexcept {
        return state_.frontApp();
    }
    [[nodiscard]] Subscription subscribe(ChangeListener listener) {
        return state_.subscribe(std::move(listener));
    }

    // --- Statistics and context ---
    // The members of the "stats" message, transport members merged under the core's own.
    [[nodiscard]] nlohmann::json currentStats();
    // currentStats() stored into lastStats (the application's 1 s statistics timer).
    void refreshStats();
    void setLastStats(nlohmann::json stats);
    [[nodiscard]] std::optional<Bytes> contextJSON() const;
    [[nodiscard]] std::optional<Bytes> displaysJSON() const;
    void pushDisplays(bool force);
    // Sends the current context message to every live connection; nothing while it cannot be
    // built (sharing off, no front application known).
    void pushContext();

    // --- Inspection for the application and tests ---
    [[nodiscard]] InputInjector& injector() noexcept;
    [[nodiscard]] LaserOverlay& laser() noexcept;
    [[nodiscard]] Smoother* smootherIfCreated() noexcept;
    [[nodiscard]] const std::string& hostName() const noexcept { return hostName_; }
    [[nodiscard]] std::size_t liveCount() const noexcept;
    [[nodiscard]] bool isLive(const HelperConnPtr& conn) const;
    [[nodiscard]] bool activityHeld() const noexcept;
    [[nodiscard]] bool streaming(const HelperConnPtr& conn) const;
    [[nodiscard]] std::int64_t framesPerSecond();

    // At most 20 handshake attempts per key in any 60 s; refused attempts count too.
    [[nodiscard]] bool rateOK(const std::string& key);
    [[nodiscard]] std::size_t rateKeys() const noexcept;

private:
    struct Rooms;

    void handleAuthenticated(const HelperConnPtr& conn, ByteView frame);
    void run(const nlohmann::json& command, PairedDevice::Scope scope, const HelperConnPtr& conn);
    void runMove(double dx, double dy, PairedDevice::Scope scope);

    MainLoop& loop_;
    DeviceStore& store_;
    std::string hostName_;
    CoreState state_;
    std::unique_ptr<Rooms> rooms_;
    // Lets posted greetings see whether the core is gone.
    Liveness life_;
};

}  // namespace tamborix
