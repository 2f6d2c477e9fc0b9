#pragma once
// The helper as a Bluetooth LE peripheral: one primary service whose command characteristic
// receives handshakes and sealed frames (reassembled from fragments) and whose status
// characteristic notifies replies and pushed frames, with per-central back-pressure, at most
// eight sessions and an idle sweep. Publishes a one-line status for the menu.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/liveness.h"
#include "core/session_entry.h"
#include "ports/main_loop.h"
#include "ports/peripheral.h"
#include "protocol/ble_fragments.h"
#include "base/change_signal.h"

namespace tamborix {

class BluetoothServer final : private Peripheral::Delegate {
public:
    static constexpr const char* serviceUUID = "9F3C0001-8E2B-4C7A-A51D-2E6F1B7C9D40";
    static constexpr const char* cmdUUID = "9F3C0002-8E2B-4C7A-A51D-2E6F1B7C9D40";
    static constexpr const char* statusUUID = "9F3C0003-8E2B-4C7A-A51D-2E6F1B7C9D40";
    static constexpr const char* localName = "Velmorand";
    static constexpr const char* transportName = "Bluetooth";
    static constexpr std::size_t maxSessions = 8;
    static constexpr std::size_t maxOutbox = 400;    // notification values per central
    static constexpr std::size_t maxMessage = 4096;  // bytes of one reassembled message
    static constexpr Duration reapEvery = std::chrono::seconds(10);
    static constexpr Duration idleLimit = std::chrono::seconds(60);

    BluetoothServer(MainLoop& loop, SessionEntry& core, PeripheralFactory& peripherals);
    ~BluetoothServer() override;
    BluetoothServer(const BluetoothServer&) = delete;
    BluetoothServer& operator=(const BluetoothServer&) = delete;

    void start();
    void stop();

    // Ends the session of every central paired as this device (after it was unpaired).
    std::size_t closeDevice(const std::string& deviceId);

    [[nodiscard]] const std::string& status() const noexcept { return status_; }
    [[nodiscard]] bool running() const noexcept { return manager_ != nullptr; }
    // Notification values waiting for the link, over all centrals.
    [[nodiscard]] std::size_t backlog() const;
    [[nodiscard]] std::size_t sessionCount() const noexcept { return sessions_.size(); }

    [[nodiscard]] Subscription onStatusChanged(std::function<void()> fn) {
        return statusChanged_.subscribe(std::move(fn));
    }
    [[nodiscard]] Subscription onSessionsChanged(std::function<void()> fn) {
        return sessionsChanged_.subscribe(std::move(fn));
    }

    // The default read value while a central has been sent no JSON message.
    [[nodiscard]] static Bytes infoValue();
    // "bluetooth:" and the first eight hexadecimal digits of the identifier, upper case.
    [[nodiscard]] static std::string peerDescription(const CentralId& central);

private:
    struct Queued {
        HelperConnPtr conn;
        Bytes message;
    };
    // Frames of one central waiting behind one the core is still working on, in arrival order.
    struct Chain {
        std::deque<Queued> waiting;
        bool busy = false;
        bool dispatching = false;
    };

    // Peripheral::Delegate
    void stateChanged(Peripheral::State state, const std::string& detail) override;
    void serviceAdded(const std::optional<std::string>& error) override;
    void advertisingStarted(const std::optional<std::string>& error) override;
    void subscribed(const CentralId& central, const std::string& characteristic) override;
    void unsubscribed(const CentralId& central, const std::string& characteristic) override;
    void writesReceived(const std::vector<Peripheral::WriteRequest>& requests) override;
    [[nodiscard]] Peripheral::ReadAnswer readReceived(const Peripheral::ReadRequest& request) override;
    void readyToUpdate() override;
    void limitationChanged(const std::string& limitation) override;

    void handleWrite(ByteView value, const CentralId& central);
    void handleHandshake(const Bytes& message, const CentralId& central);
    void handleFrame(Bytes message, const CentralId& central);
    void runChain(const CentralId& central, const std::shared_ptr<Chain>& chain);
    void chainDone(const CentralId& central, const std::shared_ptr<Chain>& chain,
                   std::exception_ptr error, std::vector<Bytes> frames);
    void notify(ByteView message, const CentralId& central);
    // By value: callers pass keys of the maps this erases from.
    void drop(CentralId central);
    void reap();
    void setStatus(std::string status);

    MainLoop& loop_;
    SessionEntry& core_;
    PeripheralFactory& peripherals_;
    std::string status_ = "Starting…";
    std::string limitation_;
    bool serviceReady_ = false;  // the status characteristic is published
    std::unique_ptr<Peripheral> manager_;
    std::map<CentralId, HelperConnPtr> sessions_;
    std::set<CentralId> centrals_;
    std::map<CentralId, Bytes> lastStatus_;
    std::map<CentralId, std::deque<Bytes>> outboxes_;
    std::map<CentralId, std::shared_ptr<Chain>> chains_;
    std::map<CentralId, BLEFragments::Reassembler> reassemblers_;
    Timer reaper_;
    ChangeSignal<> statusChanged_;
    ChangeSignal<> sessionsChanged_;
    // Closures given away (pushes, core completions, timers) hold this weakly.
    Liveness life_;
};

}  // namespace tamborix
