#pragma once
// The composition root: creates the store, the session core, the network server and the
// Bluetooth server in that order, restores the user's switches, starts what was left on, and keeps
// the statistics fresh. Everything runs on the main loop.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/approval_prompter.h"
#include "app/autostart.h"
#include "app/console.h"
#include "app/pairing_progress.h"
#include "app/permission_watch.h"
#include "app/status_text.h"
#include "app/switches.h"
#include "base/liveness.h"
#include "base/unique_fd.h"
#include "ports/main_loop.h"
#include "ports/port_bundle.h"
#include "base/change_signal.h"

namespace tamborix {

class DeviceStore;
class HelperCore;
class MainThreadLagProbe;
class BluetoothServer;
class NetworkServer;
class PeripheralFactory;
class StreamListenerFactory;

// What the model is built from. Every reference must outlive the model.
struct HelperEnvironment {
    MainLoop& loop;
    PortBundle ports;
    StreamListenerFactory& listeners;
    std::filesystem::path settingsFile;
    // The store's folder; empty = the standard one (with the secret store and the import).
    std::filesystem::path storeFolder;
    // Where the login entry goes and what it starts; empty = the XDG folder and this program.
    std::filesystem::path autostartFolder;
    std::filesystem::path program;
    std::uint16_t port = 50505;
    bool dryRun = false;
    // Every dry-run line is appended here as it is recorded, when set.
    std::filesystem::path dryRunLogFile;
    // Which desktop backend runs and why, for the status.
    std::string backendLine;
};

class HelperModel final : public ConsoleTarget {
public:
    // `event`: the core set its last event (also when the text repeats); `core`: any other change.
    // `warning`: a save failed or a damaged file was kept aside (lastWarning() says what);
    // `identity`: the identity key became available or its problem changed; `saved`: the paired
    // devices could be saved again after failed saves (saveWarning() is empty again).
    enum class Change { core, event, store, network, bluetooth, discovery, permission, switches,
                        warning, identity, saved };

    explicit HelperModel(HelperEnvironment env);
    ~HelperModel() override;
    HelperModel(const HelperModel&) = delete;
    HelperModel& operator=(const HelperModel&) = delete;

    // Where pairing and screen approvals are asked; without one every approval is refused.
    void setPrompter(ApprovalPrompter* prompter) { prompter_ = prompter; }
    // What `quit` does (the application's event loop ends).
    void setOnQuit(std::function<void()> onQuit) { onQuit_ = std::move(onQuit); }

    // Once per process: records the launch. True when the user should see the status (first
    // launch ever, or input cannot be posted).
    bool launched();

    // Closes every connection (the core hears of each) and stops listening.
    void shutdown();

    [[nodiscard]] bool networkOn() const noexcept { return switches_.networkOn(); }
    [[nodiscard]] bool bluetoothOn() const noexcept { return switches_.bluetoothOn(); }
    [[nodiscard]] bool shareFrontApp() const noexcept { return switches_.shareFrontApp(); }
    [[nodiscard]] bool accessibilityGranted() const noexcept { return permissions_->inputAllowed(); }
    // Whether the login entry is in place (read at start and after every change).
    [[nodiscard]] bool startAtLogin() const noexcept { return startAtLogin_; }
    // Each announces Change::switches.
    void setNetworkOn(bool on) override;
    void setBluetoothOn(bool on) override;
    void setShareFrontApp(bool on) override;
    bool setStartAtLogin(bool on, std::string& error) override;

    [[nodiscard]] MainLoop& loop() noexcept { return env_.loop; }
    [[nodiscard]] DeviceStore& store() noexcept { return *store_; }
    [[nodiscard]] HelperCore& core() noexcept { return *core_; }
    [[nodiscard]] NetworkServer& network() noexcept { return *network_; }
    [[nodiscard]] BluetoothServer& bluetooth() noexcept { return *bluetooth_; }
    [[nodiscard]] std::string networkStatusLine() const;
    [[nodiscard]] std::string bluetoothStatusLine() const;
    [[nodiscard]] std::string discoveryLine() const;
    // See PermissionWatch.
    [[nodiscard]] std::string inputLine() const { return permissions_->inputLine(); }
    [[nodiscard]] std::string inputReason() const { return permissions_->inputReason(); }
    [[nodiscard]] std::string inputRemedy() const { return permissions_->inputRemedy(); }
    [[nodiscard]] std::string screenCaptureReason() const { return permissions_->captureReason(); }
    // What this session cannot do for a phone (clipboard, window placement, overlays), a line
    // each with why; empty where all of it works.
    [[nodiscard]] std::vector<std::string> unavailableLines() const;
    // The desktop's settings page where the user does what inputRemedy() says, where this desktop
    // has one.
    struct SettingsPage {
        std::string id;    // its desktop entry
        std::string name;  // as the desktop names it
    };
    [[nodiscard]] std::optional<SettingsPage> inputSettingsPage() const;
    // Opens inputSettingsPage(); false when there is none or it could not be started.
    bool openInputSettingsPage();
    [[nodiscard]] std::string statsLine() const;
    // The session core's latest event in the user's language.
    [[nodiscard]] std::optional<std::string> lastEventText() const;
    [[nodiscard]] std::string identityFingerprint() const override;
    // Why there is no identity or why it is kept for this run only; empty when all is well.
    [[nodiscard]] std::string identityLine() const;
    // The latest warning of the store or the settings.
    [[nodiscard]] std::string lastWarning() const;
    // While changes to the paired devices are in effect but not on disk: why, and that they
    // hold only until the helper stops. Empty once they are saved.
    [[nodiscard]] std::string saveWarning() const;
    // The port in the pairing link: the one listened on, else the configured one.
    [[nodiscard]] std::uint16_t linkPort() const;
    [[nodiscard]] std::string pairingURI(const std::string& code) const;
    // What became of the code opened last (its generation tells one opening from the next).
    [[nodiscard]] PairingProgress::State pairingProgress() const { return pairing_->state(); }
    // False while the platform has no Bluetooth LE peripheral: the switch then does nothing.
    [[nodiscard]] bool bluetoothSupported() const;

    [[nodiscard]] Subscription subscribe(std::function<void(Change)> observer) {
        return changed_.subscribe(std::move(observer));
    }

    // ConsoleTarget
    Pairing openPairing() override;
    [[nodiscard]] std::vector<ConsoleDevice> devices() const override;
    DeviceChange setScope(const std::string& id, PairedDevice::Scope scope) override;
    DeviceChange resetScreen(const std::string& id) override;
    DeviceChange revoke(const std::string& id) override;
    [[nodiscard]] std::vector<std::string> statusLines() const override;
    void closePairing() override;
    [[nodiscard]] std::optional<Duration> pairingTimeLeft() override;
    void quit() override;

private:
    void switchSaved(const std::optional<std::string>& error);
    [[nodiscard]] LinkState networkState() const;
    [[nodiscard]] LinkState bluetoothState() const;
    [[nodiscard]] DeviceChange deviceChange(bool saved) const;
    void openDryRunLog(const std::filesystem::path& file);

    HelperEnvironment env_;
    Switches switches_;
    std::unique_ptr<PermissionWatch> permissions_;
    bool didLaunch_ = false;
    Autostart autostart_;
    bool startAtLogin_ = false;
    std::unique_ptr<MainThreadLagProbe> lagProbe_;
    std::unique_ptr<DeviceStore> store_;
    std::unique_ptr<HelperCore> core_;
    std::unique_ptr<NetworkServer> network_;
    std::unique_ptr<PeripheralFactory> noPeripherals_;  // stands in when the platform has none
    std::unique_ptr<BluetoothServer> bluetooth_;
    std::unique_ptr<PairingProgress> pairing_;
    std::vector<Subscription> observers_;
    Timer statsTimer_;
    ApprovalPrompter* prompter_ = nullptr;
    std::function<void()> onQuit_;
    UniqueFd dryRunLogFd_;
    std::string lastWarning_;
    ChangeSignal<Change> changed_;
    // Closures handed to the core and the timers check it.
    Liveness life_;
};

}  // namespace tamborix
