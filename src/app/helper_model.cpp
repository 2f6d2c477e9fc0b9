#include "app/helper_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/lan_address.h"
#include "app/pairing_link.h"
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

double asDouble(const nlohmann::json& stats, const char* key) {
    const auto it = stats.find(key);
    if (it == stats.end() || !it->is_number()) return 0;
    return it->get<double>();
}

long long asInteger(const nlohmann::json& stats, const char* key) {
    const auto it = stats.find(key);
    if (it == stats.end() || !it->is_number_integer()) return 0;
    return it->get<long long>();
}

std::string screenWord(const std::optional<bool>& screen) {
    if (!screen) return "undecided";
    return *screen ? "allowed" : "denied";
}

}  // namespace

std::string formatStatsLine(const nlohmann::json& stats) {
    if (!stats.is_object()) return formatStatsLine(nlohmann::json::object());
    char cpu[32];
    std::snprintf(cpu, sizeof cpu, "%.0f", asDouble(stats, "cpu"));
    const auto truncated = [](double v) { return std::to_string(static_cast<long long>(std::trunc(v))); };
    return "CPU " + std::string(cpu) + "% \u00B7 " + truncated(asDouble(stats, "mem")) +
           " MB \u00B7 lag " + truncated(asDouble(stats, "lag")) + " ms \u00B7 " +
           std::to_string(asInteger(stats, "rx")) + " cmds/s \u00B7 BT backlog " +
           std::to_string(asInteger(stats, "bleBacklog"));
}

HelperModel::HelperModel(HelperEnvironment env)
    : env_(std::move(env)),
      settings_(env_.settingsFile),
      autostart_(env_.autostartFolder.empty() ? Autostart::defaultFolder() : env_.autostartFolder,
                 env_.program.empty() ? Autostart::runningProgram() : env_.program) {
    // The permission and the stored switches come first; nothing has started yet.
    accessibilityGranted_ = env_.dryRun || env_.ports.input.mayPost();
    captureReason_ = currentCaptureReason();
    startAtLogin_ = autostart_.enabled();
    networkOn_ = settings_.get(Settings::networkOn);
    shareFrontApp_ = settings_.get(Settings::shareFrontApp);
    bluetoothOn_ = settings_.get(Settings::bluetoothOn);

    // The store, the core over the store, then the transports over the core.
    lagProbe_ = std::make_unique<MainThreadLagProbe>(env_.loop);
    if (env_.storeFolder.empty()) {
        store_ = std::make_unique<DeviceStore>(env_.loop, env_.ports.secrets);
    } else {
        store_ = std::make_unique<DeviceStore>(env_.loop, env_.storeFolder);
    }
    core_ = std::make_unique<HelperCore>(HelperServices{env_.loop, *store_, env_.ports, env_.dryRun, lagProbe_.get()});
    network_ = std::make_unique<NetworkServer>(env_.loop, *core_, env_.listeners, env_.ports.advertiser,
                                               core_->hostName(), env_.port);
    if (!env_.ports.peripherals) noPeripherals_ = std::make_unique<UnsupportedPeripheralFactory>(env_.loop);
    bluetooth_ = std::make_unique<BluetoothServer>(
        env_.loop, *core_, env_.ports.peripherals ? *env_.ports.peripherals : *noPeripherals_);
    pairing_ = std::make_unique<PairingProgress>(env_.loop, *store_);
    if (!env_.dryRunLogFile.empty()) openDryRunLog(env_.dryRunLogFile);

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
            if (networkOn_ && store_->hasIdentity() && !network_->running()) network_->start();
            if (bluetoothOn_ && store_->hasIdentity() && !bluetooth_->running())
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
    core_->setShareFrontApp(shareFrontApp_);
    core_->pushContext();
    core_->startWatchingFrontApp();
    // Without its identity the helper is nobody its phones know: it stays off the network and
    // Bluetooth.
    if (networkOn_ && store_->hasIdentity()) network_->start();
    if (bluetoothOn_ && store_->hasIdentity()) bluetooth_->start();

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
        permissionTimer_.reset();
        core_->stopWatchingDisplays();
        // A sample from before the sleep would read as the present one to the next viewer.
        core_->setLastStats(nlohmann::json::object());
        return;
    }
    // Whoever arrives sees the present permission at once, the first statistics a second later.
    pollPermission();
    lagProbe_->start();
    statsTimer_ = env_.loop.repeating(seconds(1.0), [this, alive = life_.watch()] {
        if (alive) core_->refreshStats();
    });
    // The input permission cannot be asked for on Linux; it is only watched.
    permissionTimer_ = env_.loop.repeating(seconds(2.0), [this, alive = life_.watch()] {
        if (alive) pollPermission();
    });
    core_->startWatchingDisplays();
}

HelperModel::~HelperModel() {
    life_.end();
    statsTimer_.reset();
    permissionTimer_.reset();
    if (network_) network_->stop();
    if (bluetooth_) bluetooth_->stop();
    observers_.clear();
    if (core_) {
        core_->injector().setOnRecord({});
    }
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
    core_->injector().setOnRecord([fd](const std::string& line) {
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
    const bool before = settings_.get(Settings::hasLaunched);
    settings_.set(Settings::hasLaunched, true);
    return !(before && accessibilityGranted_);
}

void HelperModel::shutdown() {
    statsTimer_.reset();
    permissionTimer_.reset();
    network_->stop();
    bluetooth_->stop();
}

void HelperModel::pollPermission() {
    const bool now = env_.dryRun || env_.ports.input.mayPost();
    auto capture = currentCaptureReason();
    if (now == accessibilityGranted_ && capture == captureReason_) return;
    accessibilityGranted_ = now;
    captureReason_ = std::move(capture);
    changed_.notify(Change::permission);
}

std::string HelperModel::currentCaptureReason() const {
    if (env_.dryRun || env_.ports.capture.available()) return {};
    const auto why = env_.ports.capture.unavailableReason();
    return "Screen capture is not available in this session" + (why.empty() ? std::string() : ": " + why);
}

void HelperModel::saveSwitch(const char* key, bool on) {
    if (!settings_.set(key, on) && settings_.lastError()) {
        lastWarning_ = *settings_.lastError();
        changed_.notify(Change::warning);
    }
}

std::string HelperModel::lastWarning() const {
    return lastWarning_;
}

void HelperModel::setNetworkOn(bool on) {
    networkOn_ = on;
    saveSwitch(Settings::networkOn, on);
    if (on) {
        if (!network_->running() && store_->hasIdentity()) network_->start();
    } else {
        network_->stop();
    }
    changed_.notify(Change::switches);
}

void HelperModel::setBluetoothOn(bool on) {
    bluetoothOn_ = on;
    saveSwitch(Settings::bluetoothOn, on);
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
    shareFrontApp_ = on;
    saveSwitch(Settings::shareFrontApp, on);
    core_->setShareFrontApp(on);
    core_->pushContext();
    changed_.notify(Change::switches);
}

std::string HelperModel::networkStatusLine() const {
    // A server that was never started still says it is starting.
    if (!networkOn_ && !network_->running()) return "Network \u2014 Off";
    if (!store_->hasIdentity() && !network_->running())
        return "Network \u2014 Off until the identity key can be read";
    return "Network \u2014 " + network_->status();
}

std::string HelperModel::identityLine() const {
    if (!store_->hasIdentity()) return "Identity key \u2014 " + store_->identityProblem();
    if (store_->identityRunOnly()) return "Identity key \u2014 " + store_->identityProblem();
    return {};
}

bool HelperModel::bluetoothSupported() const {
    return bluetooth_->status() != "Not supported on this computer";
}

std::string HelperModel::bluetoothStatusLine() const {
    if (!bluetoothSupported()) return "Bluetooth \u2014 " + bluetooth_->status();
    if (!bluetoothOn_ && !bluetooth_->running()) return "Bluetooth \u2014 Off";
    if (!store_->hasIdentity() && !bluetooth_->running())
        return "Bluetooth \u2014 Off until the identity key can be read";
    return "Bluetooth \u2014 " + bluetooth_->status();
}

std::string HelperModel::discoveryLine() const { return network_->discovery().text(); }

std::string HelperModel::inputLine() const {
    if (env_.dryRun) return "Input \u2014 dry run: nothing is posted, every action is logged";
    if (accessibilityGranted_) return "Input \u2014 allowed";
    const auto remedy = env_.ports.input.remedy();
    return "Input \u2014 Needs permission to move the pointer and type.\n" + env_.ports.input.reason() +
           (remedy.empty() ? std::string() : "\n" + remedy);
}

std::string HelperModel::inputReason() const {
    if (env_.dryRun || accessibilityGranted_) return {};
    return env_.ports.input.reason();
}

std::string HelperModel::inputRemedy() const {
    if (env_.dryRun || accessibilityGranted_) return {};
    return env_.ports.input.remedy();
}

std::string HelperModel::statsLine() const { return formatStatsLine(core_->lastStats()); }

std::string HelperModel::identityFingerprint() const {
    if (!store_->hasIdentity()) return "not available yet";
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
        return {{}, {}, "Pairing is off: identity key \u2014 " + store_->identityProblem()};
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
    return {DeviceChange::Status::notSaved, store_->saveError().value_or("the file was not written")};
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
    return *error + ". Changes to the paired devices hold until the helper stops; saving is "
                    "tried again until it works.";
}

std::vector<std::string> HelperModel::statusLines() {
    // Asleep, nothing polled the permission or the statistics lately: look now.
    if (!sampling_) pollPermission();
    std::vector<std::string> lines;
    lines.push_back(thisComputerLine(identityFingerprint()));
    if (const auto line = identityLine(); !line.empty()) lines.push_back(line);
    if (const auto warning = saveWarning(); !warning.empty()) lines.push_back("Warning: " + warning);
    if (!env_.backendLine.empty()) lines.push_back(env_.backendLine);
    const auto input = inputLine();
    for (std::size_t start = 0, nl = 0; start <= input.size(); start = nl + 1) {
        nl = input.find('\n', start);
        if (nl == std::string::npos) nl = input.size();
        lines.push_back(input.substr(start, nl - start));
    }
    if (!captureReason_.empty()) lines.push_back(captureReason_);
    lines.push_back(networkStatusLine());
    lines.push_back(discoveryLine());
    lines.push_back(bluetoothStatusLine());
    if (!core_->sharingWith().empty()) {
        std::string names;
        for (const auto& n : core_->sharingWith()) names += (names.empty() ? "" : ", ") + n;
        lines.push_back("Screen shared with " + names);
    }
    std::vector<std::string> connected;
    for (const auto& [key, text] : core_->active()) connected.push_back(text);
    std::sort(connected.begin(), connected.end());
    if (connected.empty()) lines.push_back("Connected: none");
    for (const auto& c : connected) lines.push_back("Connected: " + c);
    const auto onOff = [](bool on) { return on ? "on" : "off"; };
    lines.push_back(std::string("Switches: network ") + onOff(networkOn_) + " \u00B7 Bluetooth " +
                    (bluetoothSupported() ? onOff(bluetoothOn_) : "not supported") +
                    " \u00B7 front-app sharing " + onOff(shareFrontApp_) + " \u00B7 start at login " +
                    onOff(startAtLogin_));
    if (const auto left = store_->pairingOpen() ? store_->pairExpires() : std::nullopt) {
        lines.push_back("Pairing code: " + prettyPairCode(*store_->pairCode()));
        lines.push_back(pairingExpiryText(*left - env_.loop.now()));
    } else {
        lines.push_back(pairingClosedText);
    }
    lines.push_back("Paired devices: " + std::to_string(store_->devices().size()));
    if (!sampling_) {
        lines.push_back(formatStatsLine(core_->currentStats()));
    } else if (!core_->lastStats().empty()) {
        lines.push_back(statsLine());
    }
    // Not "Event:", which the log uses for events as they happen.
    if (core_->lastEvent()) lines.push_back("Last event: " + *core_->lastEvent());
    return lines;
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
