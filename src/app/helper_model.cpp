#include "app/helper_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>

#include "app/lan_address.h"
#include "core/desktop/laser_overlay.h"
#include "app/pairing_link.h"
#include "app/translate.h"
#include "core/input/input_injector.h"
#include "core/session/helper_core.h"
#include "perf/main_thread_lag_probe.h"
#include "ports/input_sink.h"
#include "ports/standins/no_services.h"
#include "ports/screen_capture.h"
#include "protocol/wire.h"
#include "store/device_store.h"
#include "transport/bluetooth_server.h"
#include "transport/network_server.h"

namespace tamborix {

namespace {

std::string screenWord(const std::optional<bool>& screen) {
    if (!screen) return "undecided";
    return *screen ? "allowed" : "denied";
}

}  // namespace

namespace {

// A transport's status in the user's language: the transports word it in English (the texts the
// log and the tests read); the known texts and the fixed start of the others are translated here,
// the details after them (a system error) stay as the system gave them.
std::string localStatus(const std::string& status) {
    const auto same = [&](const char* english) { return status == english; };
    if (same("Off")) return translate("HelperModel", "Off");
    if (same("On")) return translate("HelperModel", "On");
    if (same("Starting\u2026")) return translate("HelperModel", "Starting\u2026");
    if (same("Bluetooth is off")) return translate("HelperModel", "Bluetooth is off");
    if (same("Needs Bluetooth permission")) return translate("HelperModel", "Needs Bluetooth permission");
    if (same("Not supported on this computer")) return translate("HelperModel", "Not supported on this computer");
    const auto rest = [&](std::string_view prefix) -> std::optional<std::string> {
        if (!status.starts_with(prefix)) return std::nullopt;
        return status.substr(prefix.size());
    };
    if (const auto r = rest("On (port "); r && r->ends_with(")"))
        return fillIn(translate("HelperModel", "On (port %1)"), {r->substr(0, r->size() - 1)});
    if (const auto r = rest("On (")) return fillIn(translate("HelperModel", "On (%1"), {*r});
    if (const auto r = rest("Waiting: ")) return fillIn(translate("HelperModel", "Waiting: %1"), {*r});
    if (const auto r = rest("Failed: ")) return fillIn(translate("HelperModel", "Failed: %1"), {*r});
    return status;
}

// The core's event line in the user's language: its fixed words around the names are translated,
// the names stay as the phones gave them.
std::string localEvent(const std::string& event) {
    const auto after = [&](std::string_view prefix) -> std::optional<std::string> {
        if (!event.starts_with(prefix)) return std::nullopt;
        return event.substr(prefix.size());
    };
    if (const auto n = after("Rejected a command from "))
        return fillIn(translate("HelperModel", "Rejected a command from %1"), {*n});
    if (const auto n = after("Screen shared with ")) return fillIn(translate("HelperModel", "Screen shared with %1"), {*n});
    if (const auto n = after("Clipboard received from "))
        return fillIn(translate("HelperModel", "Clipboard received from %1"), {*n});
    if (const auto n = after("Wrong pairing code from "))
        return fillIn(translate("HelperModel", "Wrong pairing code from %1"), {*n});
    if (const auto n = after("Paired ")) return fillIn(translate("HelperModel", "Paired %1"), {*n});
    if (const auto n = after("Denied ")) return fillIn(translate("HelperModel", "Denied %1"), {*n});
    for (const char* transport : {"Network", "Bluetooth"}) {
        const std::string suffix = std::string(" connected via ") + transport;
        if (event.size() > suffix.size() && event.ends_with(suffix)) {
            return fillIn(translate("HelperModel", "%1 connected via %2"),
                          {event.substr(0, event.size() - suffix.size()),
                           std::string_view(transport) == "Network" ? translate("HelperModel", "Network")
                                                                    : translate("HelperModel", "Bluetooth")});
        }
    }
    if (event == "Screen capture is not available in this session")
        return translate("HelperModel", "Screen capture is not available in this session");
    return localise(event);
}

}  // namespace

HelperModel::HelperModel(HelperEnvironment env)
    : env_(std::move(env)),
      switches_(env_.settingsFile),
      autostart_(env_.autostartFolder.empty() ? Autostart::defaultFolder() : env_.autostartFolder,
                 env_.program.empty() ? Autostart::runningProgram() : env_.program) {
    // The permissions come first; nothing has started yet. The input permission cannot be
    // asked for on Linux; it is only watched.
    permissions_ = std::make_unique<PermissionWatch>(
        env_.loop, env_.ports.input, env_.ports.capture, env_.dryRun,
        [this] { changed_.notify(Change::permission); });
    startAtLogin_ = autostart_.enabled();

    // The store, the core over the store, then the transports over the core.
    lagProbe_ = std::make_unique<MainThreadLagProbe>(env_.loop);
    if (env_.storeFolder.empty()) {
        store_ = std::make_unique<DeviceStore>(env_.loop, env_.ports.secrets);
    } else {
        store_ = std::make_unique<DeviceStore>(env_.loop, env_.storeFolder);
    }
    core_ = std::make_unique<HelperCore>(HelperServices{env_.loop, *store_, env_.ports, lagProbe_.get()});
    network_ = std::make_unique<NetworkServer>(env_.loop, *core_, env_.listeners, env_.ports.advertiser,
                                               core_->hostName(), env_.port);
    if (!env_.ports.peripherals) noPeripherals_ = std::make_unique<UnsupportedPeripheralFactory>(env_.loop);
    bluetooth_ = std::make_unique<BluetoothServer>(
        env_.loop, *core_, env_.ports.peripherals ? *env_.ports.peripherals : *noPeripherals_);
    pairing_ = std::make_unique<PairingProgress>(env_.loop, *store_);
    if (!env_.dryRunLogFile.empty() && env_.ports.journal != nullptr) openDryRunLog(env_.dryRunLogFile);

    // Approvals go to whoever prompts the user; none means no.
    core_->setApprove([this, alive = life_.watch()](const std::string& name,
                                                    const std::string& fingerprint,
                                                    std::function<void(bool)> answer) {
        if (!alive || !prompter_) return answer(false);
        pairing_->approvalAsked(name);
        prompter_->askApproval(
            name, fingerprint, [this, alive, fingerprint, answer = std::move(answer)](Approval result) {
                // The core stores the device inside this call.
                answer(result == Approval::allowed);
                if (!alive) return;
                const auto& devices = store_->devices();
                const bool stored = std::any_of(devices.begin(), devices.end(), [&](const auto& d) {
                    return Wire::fingerprint(ByteView(d.pub.data(), d.pub.size())) == fingerprint;
                });
                pairing_->answered(result, stored, store_->saveError().value_or(""));
            });
    });
    core_->setApproveScreen([this, alive = life_.watch()](const std::string& name,
                                                          std::function<void(bool)> answer) {
        if (!alive || !prompter_) return answer(false);
        prompter_->askScreenApproval(
            name, [answer = std::move(answer)](Approval result) { answer(result == Approval::allowed); });
    });

    // The parts' change announcements become the model's own.
    observers_.push_back(core_->subscribe([this](HelperCore::Property p) {
        if (p == HelperCore::Property::active) updateSampling();
        changed_.notify(p == HelperCore::Property::lastEvent ? Change::event : Change::core);
    }));
    observers_.push_back(store_->subscribe([this](DeviceStore::Change c) {
        if (c == DeviceStore::Change::warning) {
            if (!store_->warnings().empty()) lastWarning_ = store_->warnings().back();
            changed_.notify(Change::warning);
        } else if (c == DeviceStore::Change::identity) {
            // The key came out of the keyring: the network may start now.
            if (networkOn() && store_->hasIdentity() && !network_->running()) network_->start();
            if (bluetoothOn() && store_->hasIdentity() && !bluetooth_->running())
                bluetooth_->start();
            changed_.notify(Change::identity);
        } else if (c == DeviceStore::Change::saved) {
            changed_.notify(Change::saved);
        }
        changed_.notify(Change::store);
    }));
    observers_.push_back(network_->onStatusChanged([this] { changed_.notify(Change::network); }));
    observers_.push_back(network_->onClientsChanged([this] { changed_.notify(Change::network); }));
    observers_.push_back(network_->onDiscoveryChanged([this] { changed_.notify(Change::discovery); }));
    observers_.push_back(bluetooth_->onStatusChanged([this] { changed_.notify(Change::bluetooth); }));
    observers_.push_back(bluetooth_->onSessionsChanged([this] { changed_.notify(Change::bluetooth); }));

    // The statistics report the Bluetooth backlog and sessions, which only the model sees.
    core_->setTransportStats([this, alive = life_.watch()] {
        if (!alive) return nlohmann::json{{"bleBacklog", 0}, {"bleDevices", 0}};
        const auto& ble = *bluetooth_;
        return nlohmann::json{{"bleBacklog", ble.backlog()}, {"bleDevices", ble.sessionCount()}};
    });

    // Phones learn the front application and the displays, and hear of their changes.
    core_->setShareFrontApp(shareFrontApp());
    core_->pushContext();
    core_->startWatchingFrontApp();
    // Without its identity the helper is nobody its phones know: it stays off the network and
    // Bluetooth.
    if (networkOn() && store_->hasIdentity()) network_->start();
    if (bluetoothOn() && store_->hasIdentity()) bluetooth_->start();
    // Polls wait for someone to look.
    core_->stopWatchingDisplays();
    updateSampling();
}

Subscription HelperModel::keepSampling() {
    ++samplingViews_;
    updateSampling();
    return Subscription([this, alive = life_.watch()] {
        if (!alive) return;
        --samplingViews_;
        updateSampling();
    });
}

void HelperModel::updateSampling() {
    const bool wanted = samplingViews_ > 0 || !core_->active().empty();
    if (wanted == sampling_) return;
    sampling_ = wanted;
    if (!wanted) {
        lagProbe_->stop();
        statsTimer_.reset();
        permissions_->stop();
        core_->stopWatchingDisplays();
        // A sample from before the sleep would read as the present one to the next viewer.
        core_->setLastStats(nlohmann::json::object());
        return;
    }
    // Whoever arrives sees the present permission at once, the first statistics a second later.
    permissions_->poll();
    permissions_->start();
    lagProbe_->start();
    statsTimer_ = env_.loop.repeating(seconds(1.0), [this, alive = life_.watch()] {
        if (alive) core_->refreshStats();
    });
    core_->startWatchingDisplays();
}

HelperModel::~HelperModel() {
    life_.end();
    statsTimer_.reset();
    permissions_->stop();
    if (network_) network_->stop();
    if (bluetooth_) bluetooth_->stop();
    observers_.clear();
    if (env_.ports.journal != nullptr) env_.ports.journal->setOnRecord({});
    network_.reset();
    bluetooth_.reset();
    core_.reset();
    store_.reset();
    dryRunLogFd_.reset();
}

void HelperModel::openDryRunLog(const std::filesystem::path& file) {
    dryRunLogFd_.reset(::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!dryRunLogFd_) {
        std::perror(("tamborix-helper: cannot open the dry-run log " + file.string()).c_str());
        return;
    }
    const int fd = dryRunLogFd_.get();
    // One write per line, so every line is on disk (in the page cache) the moment it is recorded.
    env_.ports.journal->setOnRecord([fd](const std::string& line) {
        std::string buf;
        buf.reserve(line.size() + 1);
        buf += line;
        buf += '\n';
        std::size_t done = 0;
        while (done < buf.size()) {
            const auto n = ::write(fd, buf.data() + done, buf.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    });
}

bool HelperModel::launched() {
    if (didLaunch_) return false;
    didLaunch_ = true;
    const bool before = switches_.markLaunched();
    return !(before && accessibilityGranted());
}

void HelperModel::shutdown() {
    statsTimer_.reset();
    permissions_->stop();
    network_->stop();
    bluetooth_->stop();
}

std::vector<std::string> HelperModel::unavailableLines() const {
    std::vector<std::string> lines;
    if (env_.dryRun) return lines;
    const auto sentence = [](std::string s) {
        if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
        return s;
    };
    if (auto why = env_.ports.clipboard.unavailableReason(); !why.empty()) lines.push_back(sentence(localise(why)));
    if (auto why = env_.ports.windows.unavailableReason(); !why.empty()) lines.push_back(sentence(localise(why)));
    if (auto why = env_.ports.overlay.unavailableReason(); !why.empty())
        lines.push_back(localise(overlaysMissingText(why)));
    return lines;
}

void HelperModel::switchSaved(const std::optional<std::string>& error) {
    if (!error) return;
    lastWarning_ = *error;
    changed_.notify(Change::warning);
}

std::string HelperModel::lastWarning() const {
    return localise(lastWarning_);
}

void HelperModel::setNetworkOn(bool on) {
    switchSaved(switches_.setNetworkOn(on));
    if (on) {
        if (!network_->running() && store_->hasIdentity()) network_->start();
    } else {
        network_->stop();
    }
    changed_.notify(Change::switches);
}

void HelperModel::setBluetoothOn(bool on) {
    switchSaved(switches_.setBluetoothOn(on));
    if (on) {
        if (!bluetooth_->running() && store_->hasIdentity()) bluetooth_->start();
    } else {
        bluetooth_->stop();
    }
    changed_.notify(Change::switches);
}

bool HelperModel::setStartAtLogin(bool on, std::string& error) {
    if (!autostart_.set(on, error) && error.empty()) error = "unknown error";
    // The switch shows what is really in place, whatever was asked.
    startAtLogin_ = autostart_.enabled();
    changed_.notify(Change::switches);
    return startAtLogin_;
}

void HelperModel::setShareFrontApp(bool on) {
    switchSaved(switches_.setShareFrontApp(on));
    core_->setShareFrontApp(on);
    core_->pushContext();
    changed_.notify(Change::switches);
}

LinkState HelperModel::networkState() const {
    return {networkOn(), network_->running(), store_->hasIdentity(), localStatus(network_->status())};
}

LinkState HelperModel::bluetoothState() const {
    return {bluetoothOn(), bluetooth_->running(), store_->hasIdentity(), localStatus(bluetooth_->status())};
}

std::string HelperModel::networkStatusLine() const { return tamborix::networkStatusLine(networkState()); }

std::string HelperModel::identityLine() const {
    if (!store_->hasIdentity() || store_->identityRunOnly())
        return fillIn(translate("HelperModel", "Identity key \u2014 %1"), {localise(store_->identityProblem())});
    return {};
}

bool HelperModel::bluetoothSupported() const {
    return bluetooth_->status() != "Not supported on this computer";
}

std::string HelperModel::bluetoothStatusLine() const {
    return tamborix::bluetoothStatusLine(bluetoothState(), bluetoothSupported());
}

std::string HelperModel::discoveryLine() const {
    const auto& d = network_->discovery();
    switch (d.phase) {
        case DiscoveryState::Phase::off: return translate("HelperModel", "Discovery \u2014 off");
        case DiscoveryState::Phase::registering:
            return fillIn(translate("HelperModel", "Discovery \u2014 registering \u201C%1\u201D\u2026"), {d.name});
        case DiscoveryState::Phase::advertised:
            return fillIn(translate("HelperModel", "Discovery \u2014 advertised as \u201C%1\u201D"), {d.name});
        case DiscoveryState::Phase::unavailable:
            return fillIn(translate("HelperModel", "Discovery \u2014 unavailable: %1"), {d.reason});
    }
    return d.text();
}

std::optional<HelperModel::SettingsPage> HelperModel::inputSettingsPage() const {
    if (permissions_->inputAllowed() || env_.ports.settingsPages == nullptr) return std::nullopt;
    for (const auto& id : env_.ports.input.settingsPages()) {
        if (auto name = env_.ports.settingsPages->name(id)) return SettingsPage{id, std::move(*name)};
    }
    return std::nullopt;
}

bool HelperModel::openInputSettingsPage() {
    const auto page = inputSettingsPage();
    return page && env_.ports.settingsPages->open(page->id);
}

std::optional<std::string> HelperModel::lastEventText() const {
    const auto& event = core_->lastEvent();
    if (!event) return std::nullopt;
    return localEvent(*event);
}

std::string HelperModel::statsLine() const { return formatStatsLine(core_->lastStats()); }

std::string HelperModel::identityFingerprint() const {
    if (!store_->hasIdentity()) return translate("HelperModel", "not available yet");
    const auto& pub = store_->key().publicKey();
    return Wire::fingerprint(ByteView(pub.data(), pub.size()));
}

std::uint16_t HelperModel::linkPort() const { return network_->boundPort().value_or(network_->port()); }

std::string HelperModel::pairingURI(const std::string& code) const {
    PairingLinkParts parts;
    parts.host = lanIP();
    parts.port = linkPort();
    if (!store_->hasIdentity()) return {};
    const auto& pub = store_->key().publicKey();
    parts.identityKey.assign(pub.begin(), pub.end());
    parts.code = code;
    parts.name = core_->hostName();
    return tamborix::pairingURI(parts);
}

ConsoleTarget::Pairing HelperModel::openPairing() {
    // A phone paired with a key that is not kept, or with none, would be lost at once.
    if (!store_->hasIdentity() || store_->identityRunOnly())
        return {{},
                {},
                fillIn(translate("HelperModel", "Pairing is off: identity key \u2014 %1"),
                       {localise(store_->identityProblem())})};
    const auto code = store_->openPairing();
    pairing_->opened();
    return {code, pairingURI(code), {}};
}

std::vector<ConsoleDevice> HelperModel::devices() const {
    std::vector<ConsoleDevice> out;
    for (const auto& d : store_->devices()) {
        out.push_back({d.id, std::string(scopeName(d.scope)), screenWord(d.screen), d.name});
    }
    return out;
}

DeviceChange HelperModel::deviceChange(bool saved) const {
    if (saved) return {DeviceChange::Status::saved, {}};
    return {DeviceChange::Status::notSaved,
            store_->saveError() ? localise(*store_->saveError()) : translate("HelperModel", "the file was not written")};
}

DeviceChange HelperModel::setScope(const std::string& id, PairedDevice::Scope scope) {
    if (!store_->deviceById(id)) return {};
    return deviceChange(store_->setScope(id, scope));
}

DeviceChange HelperModel::resetScreen(const std::string& id) {
    if (!store_->deviceById(id)) return {};
    return deviceChange(store_->setScreen(id, std::nullopt));
}

DeviceChange HelperModel::revoke(const std::string& id) {
    if (!store_->deviceById(id)) return {};
    // Gone from memory before anything else, saved or not: its next handshake is refused.
    const bool saved = store_->revoke(id);
    // The core would refuse the phone's next frame anyway; a phone that stays silent must not
    // keep its session either.
    network_->closeDevice(id);
    bluetooth_->closeDevice(id);
    return deviceChange(saved);
}

std::string HelperModel::saveWarning() const {
    const auto& error = store_->saveError();
    if (!error) return {};
    return localise(*error) + ". " +
           translate("HelperModel",
                     "Changes to the paired devices hold until the helper stops; saving is tried again until it works.");
}

std::vector<std::string> HelperModel::statusLines() {
    // Asleep, nothing polled the permission or the statistics lately: look now.
    if (!sampling_) permissions_->poll();
    StatusFacts f;
    f.fingerprint = identityFingerprint();
    f.identityLine = identityLine();
    f.saveWarning = saveWarning();
    f.backendLine = localise(env_.backendLine);
    f.inputLine = inputLine();
    f.captureReason = screenCaptureReason();
    f.unavailable = unavailableLines();
    f.networkLine = networkStatusLine();
    f.discoveryLine = discoveryLine();
    f.bluetoothLine = bluetoothStatusLine();
    f.sharingWith = core_->sharingWith();
    for (const auto& [key, text] : core_->active()) f.connected.push_back(text);
    f.networkOn = networkOn();
    f.bluetoothSupported = bluetoothSupported();
    f.bluetoothOn = bluetoothOn();
    f.shareFrontApp = shareFrontApp();
    f.startAtLogin = startAtLogin_;
    if (const auto left = store_->pairingOpen() ? store_->pairExpires() : std::nullopt) {
        f.pairCode = *store_->pairCode();
        f.pairingLeft = *left - env_.loop.now();
    }
    f.pairedDevices = store_->devices().size();
    if (!sampling_) {
        f.statsLine = formatStatsLine(core_->currentStats());
    } else if (!core_->lastStats().empty()) {
        f.statsLine = statsLine();
    }
    f.lastEvent = lastEventText();
    return tamborix::statusLines(f);
}

void HelperModel::closePairing() {
    pairing_->closed();
    store_->closePairing();
}

std::optional<Duration> HelperModel::pairingTimeLeft() {
    if (!store_->pairingOpen() || !store_->pairExpires()) return std::nullopt;
    return *store_->pairExpires() - env_.loop.now();
}

void HelperModel::quit() {
    if (onQuit_) onQuit_();
}

}  // namespace tamborix
