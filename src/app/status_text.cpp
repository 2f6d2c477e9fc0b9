#include "app/status_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/console.h"
#include "app/pairing_link.h"

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

std::string linkLine(const char* name, const LinkState& link) {
    // A server that was never started still says it is starting.
    if (!link.on && !link.running) return std::string(name) + " \u2014 Off";
    if (!link.hasIdentity && !link.running)
        return std::string(name) + " \u2014 Off until the identity key can be read";
    return std::string(name) + " \u2014 " + link.status;
}

}  // namespace

std::string networkStatusLine(const LinkState& network) { return linkLine("Network", network); }

std::string bluetoothStatusLine(const LinkState& bluetooth, bool supported) {
    if (!supported) return "Bluetooth \u2014 " + bluetooth.status;
    return linkLine("Bluetooth", bluetooth);
}

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

std::vector<std::string> statusLines(const StatusFacts& f) {
    std::vector<std::string> lines;
    lines.push_back(thisComputerLine(f.fingerprint));
    if (!f.identityLine.empty()) lines.push_back(f.identityLine);
    if (!f.saveWarning.empty()) lines.push_back("Warning: " + f.saveWarning);
    if (!f.backendLine.empty()) lines.push_back(f.backendLine);
    for (std::size_t start = 0, nl = 0; start <= f.inputLine.size(); start = nl + 1) {
        nl = f.inputLine.find('\n', start);
        if (nl == std::string::npos) nl = f.inputLine.size();
        lines.push_back(f.inputLine.substr(start, nl - start));
    }
    if (!f.captureReason.empty()) lines.push_back(f.captureReason);
    lines.push_back(f.networkLine);
    lines.push_back(f.discoveryLine);
    lines.push_back(f.bluetoothLine);
    if (!f.sharingWith.empty()) {
        std::string names;
        for (const auto& n : f.sharingWith) names += (names.empty() ? "" : ", ") + n;
        lines.push_back("Screen shared with " + names);
    }
    std::vector<std::string> connected = f.connected;
    std::sort(connected.begin(), connected.end());
    if (connected.empty()) lines.push_back("Connected: none");
    for (const auto& c : connected) lines.push_back("Connected: " + c);
    const auto onOff = [](bool on) { return on ? "on" : "off"; };
    lines.push_back(std::string("Switches: network ") + onOff(f.networkOn) + " \u00B7 Bluetooth " +
                    (f.bluetoothSupported ? onOff(f.bluetoothOn) : "not supported") +
                    " \u00B7 front-app sharing " + onOff(f.shareFrontApp) + " \u00B7 start at login " +
                    onOff(f.startAtLogin));
    if (f.pairCode) {
        lines.push_back("Pairing code: " + prettyPairCode(*f.pairCode));
        lines.push_back(pairingExpiryText(f.pairingLeft));
    } else {
        lines.push_back(pairingClosedText);
    }
    lines.push_back("Paired devices: " + std::to_string(f.pairedDevices));
    if (!f.statsLine.empty()) lines.push_back(f.statsLine);
    // Not "Event:", which the log uses for events as they happen.
    if (f.lastEvent) lines.push_back("Last event: " + *f.lastEvent);
    return lines;
}

}  // namespace tamborix
