#pragma once
// The one session object: every transport hands its connections and frames to it. It owns the
// registry of live authenticated connections, the handshake and pairing steps, the command path,
// the pushes of context and displays, and the state the menu shows.

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/liveness.h"
#include "core/helper_conn.h"
#include "core/session_entry.h"
#include "perf/rate_counter.h"
#include "ports/main_loop.h"
#include "protocol/bytes.h"
#include "base/change_signal.h"
#include "store/paired_device.h"

namespace tamborix {

class ActivityAssertion;
class ActivityHandle;
class Clipboard;
class CursorFinder;
class DeviceStore;
class DisplaySource;
class HostInfo;
class InputInjector;
class InputSink;
class LaserOverlay;
struct MoveFrame;
class MainThreadLagProbe;
class OverlaySurface;
class ProcessStats;
class ScreenCapture;
class Smoother;
class WindowControl;
class Workspace;

// Everything the core reaches the platform and the store through. All references must outlive
// the core.
struct HelperServices {
    MainLoop& loop;
    DeviceStore& store;
    InputSink& input;
    DisplaySource& displays;
    Workspace& workspace;
    WindowControl& windows;
    OverlaySurface& overlay;
    ScreenCapture& capture;
    Clipboard& clipboard;
    ActivityAssertion& activity;
    HostInfo& host;
    // Post no input, capture no screen: record what would have happened in the injector's log.
    bool dryRun = false;
    // The application's lag probe; without one the statistics report a lag of 0.
    const MainThreadLagProbe* lagProbe = nullptr;
};

class HelperCore final : public SessionEntry {
public:
    // A command that is not allowed or not well formed. Never reaches the phone.
    struct Rejected : std::exception {
        const char* what() const noexcept override { return "rejected command"; }
    };

    struct FrontApp {
        std::string name;
        std::string id;
        friend bool operator==(const FrontApp&, const FrontApp&) = default;
    };

    enum class Property { active, lastEvent, lastStats, sharingWith, frontApp };
    using ChangeListener = std::function<void(Property)>;

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
    [[nodiscard]] bool shareFrontApp() const noexcept { return shareFrontApp_; }

    // Called once at start-up.
    void startWatchingFrontApp();
    void startWatchingDisplays();

    // --- Published state (read on the main loop; listeners hear of every change) ---
    // Key: base64url of the session id; value: device name + " (" + transport + ")".
    [[nodiscard]] const std::map<std::string, std::string>& active() const noexcept {
        return active_;
    }
    [[nodiscard]] const std::optional<std::string>& lastEvent() const noexcept {
        return lastEvent_;
    }
    [[nodiscard]] const nlohmann::json& lastStats() const noexcept { return lastStats_; }
    [[nodiscard]] const std::vector<std::string>& sharingWith() const noexcept {
        return sharingWith_;
    }
    [[nodiscard]] const std::optional<FrontApp>& frontApp() const noexcept { return frontApp_; }
    [[nodiscard]] Subscription subscribe(ChangeListener listener) {
        return changed_.subscribe(std::move(listener));
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
    [[nodiscard]] bool dryRun() const noexcept { return dryRun_; }
    [[nodiscard]] const std::string& hostName() const noexcept { return hostName_; }
    [[nodiscard]] std::size_t liveCount() const noexcept { return live_.size(); }
    [[nodiscard]] bool isLive(const HelperConnPtr& conn) const;
    [[nodiscard]] bool activityHeld() const noexcept { return activity_ != nullptr; }
    [[nodiscard]] bool streaming(const HelperConnPtr& conn) const;
    [[nodiscard]] std::int64_t framesPerSecond();

    // At most 20 handshake attempts per key in any 60 s; refused attempts count too.
    [[nodiscard]] bool rateOK(const std::string& key);
    [[nodiscard]] std::size_t rateKeys() const noexcept { return handshakeTimes_.size(); }

private:
    struct Parts;

    void handleAuthenticated(const HelperConnPtr& conn, ByteView frame);
    void onPairingFrame(const HelperConnPtr& conn, ByteView frame, FrameDone done);
    void finishPairing(const HelperConnPtr& conn, const nlohmann::json& message, FrameDone done);
    // False when an approved device could not be stored: the connection must end.
    bool completePairing(const std::weak_ptr<HelperConn>& weak, const Bytes& pub,
                         const std::string& clientName, bool approved);

    void run(const nlohmann::json& command, PairedDevice::Scope scope, const HelperConnPtr& conn);
    void runMove(const MoveFrame& move, PairedDevice::Scope scope);
    void action(const std::string& name);
    void startScreen(const HelperConnPtr& conn, bool cursorMode, int display);
    void screenDecided(const std::weak_ptr<HelperConn>& weak, bool allowed, bool cursorMode,
                       int display);
    void stopScreen(const HelperConnPtr& conn);
    void screenState(const HelperConnPtr& conn, bool on, const char* error);
    void recomputeSharing();

    void sendTo(const HelperConnPtr& conn, const nlohmann::json& message);
    void sendBytes(const HelperConnPtr& conn, ByteView plaintext);
    void pushToAll(ByteView plaintext);
    // What readyFrame() left on the connection to be told next, once.
    void sendGreeting(const HelperConnPtr& conn);
    void pushContextAndDisplays(const std::weak_ptr<HelperConn>& weak,
                                const std::optional<Bytes>& context,
                                const std::optional<Bytes>& displays);
    void registerLive(const HelperConnPtr& conn);
    // The displays message of a ready or pairing sequence.
    [[nodiscard]] std::optional<Bytes> displaysForNewPhone(const HelperConnPtr& conn);
    void updateActivity();
    void updateFrontApp(const std::optional<FrontApp>& app, const std::string& ownId);

    void setLastEvent(std::string text);
    void notify(Property property);
    Smoother& smoother();

    MainLoop& loop_;
    DeviceStore& store_;
    bool dryRun_;
    std::string hostName_;
    std::unique_ptr<Parts> parts_;

    std::map<std::string, std::string> active_;
    std::unique_ptr<ActivityHandle> activity_;
    std::optional<std::string> lastEvent_;
    Approve approve_;
    ApproveScreen approveScreen_;
    TransportStats transportStats_;
    RateCounter framesIn_;
    nlohmann::json lastStats_ = nlohmann::json::object();
    std::vector<std::string> sharingWith_;
    std::map<std::string, std::vector<MonoTime>> handshakeTimes_;
    std::map<Bytes, HelperConnPtr> live_;
    bool shareFrontApp_ = true;
    std::optional<FrontApp> frontApp_;
    std::pair<int, int> lastDisplays_{0, 0};
    Timer displayTimer_;
    ChangeSignal<Property> changed_;
    // Lets callbacks that outlive a call (approvals, posted pushes) see whether the core is gone.
    Liveness life_;
};

}  // namespace tamborix
