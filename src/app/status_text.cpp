#include "app/status_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/console.h"
#include "app/pairing_link.h"
#include "app/pairing_progress.h"
#include "app/translate.h"

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

}  // namespace

std::string networkStatusLine(const LinkState& network) {
    // A server that was never started still says it is starting.
    if (!network.on && !network.running) return translate("HelperModel", "Network \u2014 Off");
    if (!network.hasIdentity && !network.running)
        return translate("HelperModel", "Network \u2014 Off until the identity key can be read");
    return fillIn(translate("HelperModel", "Network \u2014 %1"), {network.status});
}

std::string bluetoothStatusLine(const LinkState& bluetooth, bool supported) {
    if (supported && !bluetooth.on && !bluetooth.running) return translate("HelperModel", "Bluetooth \u2014 Off");
    if (supported && !bluetooth.hasIdentity && !bluetooth.running)
        return translate("HelperModel", "Bluetooth \u2014 Off until the identity key can be read");
    return fillIn(translate("HelperModel", "Bluetooth \u2014 %1"), {bluetooth.status});
}

std::string formatStatsLine(const nlohmann::json& stats) {
    if (!stats.is_object()) return formatStatsLine(nlohmann::json::object());
    char cpu[32];
    std::snprintf(cpu, sizeof cpu, "%.0f", asDouble(stats, "cpu"));
    const auto truncated = [](double v) { return std::to_string(static_cast<long long>(std::trunc(v))); };
    return fillIn(translate("HelperModel", "CPU %1% \u00B7 %2 MB \u00B7 lag %3 ms \u00B7 %4 cmds/s \u00B7 BT backlog %5"),
                  {cpu, truncated(asDouble(stats, "mem")), truncated(asDouble(stats, "lag")),
                   std::to_string(asInteger(stats, "rx")), std::to_string(asInteger(stats, "bleBacklog"))});
}

std::vector<std::string> statusLines(const StatusFacts& f) {
    std::vector<std::string> lines;
    lines.push_back(thisComputerLine(f.fingerprint));
    if (!f.identityLine.empty()) lines.push_back(f.identityLine);
    if (!f.saveWarning.empty()) lines.push_back(fillIn(translate("HelperModel", "Warning: %1"), {f.saveWarning}));
    if (!f.backendLine.empty()) lines.push_back(f.backendLine);
    for (std::size_t start = 0, nl = 0; start <= f.inputLine.size(); start = nl + 1) {
        nl = f.inputLine.find('\n', start);
        if (nl == std::string::npos) nl = f.inputLine.size();
        lines.push_back(f.inputLine.substr(start, nl - start));
    }
    if (!f.captureReason.empty()) lines.push_back(f.captureReason);
    lines.insert(lines.end(), f.unavailable.begin(), f.unavailable.end());
    lines.push_back(f.networkLine);
    lines.push_back(f.discoveryLine);
    lines.push_back(f.bluetoothLine);
    if (!f.sharingWith.empty()) {
        std::string names;
        for (const auto& n : f.sharingWith) names += (names.empty() ? "" : ", ") + n;
        lines.push_back(fillIn(translate("HelperModel", "Screen shared with %1"), {names}));
    }
    std::vector<std::string> connected = f.connected;
    std::sort(connected.begin(), connected.end());
    if (connected.empty()) lines.push_back(translate("HelperModel", "Connected: none"));
    for (const auto& c : connected) lines.push_back(fillIn(translate("HelperModel", "Connected: %1"), {c}));
    const auto onOff = [](bool on) { return on ? translate("HelperModel", "on") : translate("HelperModel", "off"); };
    lines.push_back(fillIn(
        translate("HelperModel",
                  "Switches: network %1 \u00B7 Bluetooth %2 \u00B7 front-app sharing %3 \u00B7 start at login %4"),
        {onOff(f.networkOn), f.bluetoothSupported ? onOff(f.bluetoothOn) : translate("HelperModel", "not supported"),
         onOff(f.shareFrontApp), onOff(f.startAtLogin)}));
    if (f.pairCode) {
        lines.push_back(fillIn(translate("HelperModel", "Pairing code: %1"), {prettyPairCode(*f.pairCode)}));
        lines.push_back(pairingExpiryText(f.pairingLeft));
    } else {
        lines.push_back(pairingClosedText());
    }
    lines.push_back(fillIn(translate("HelperModel", "Paired devices: %1"), {std::to_string(f.pairedDevices)}));
    if (!f.statsLine.empty()) lines.push_back(f.statsLine);
    // Not "Event:", which the log uses for events as they happen.
    if (f.lastEvent) lines.push_back(fillIn(translate("HelperModel", "Last event: %1"), {*f.lastEvent}));
    return lines;
}

}  // namespace tamborix
