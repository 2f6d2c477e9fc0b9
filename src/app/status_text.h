#pragma once
// The helper's state in the words the status window and the console's `status` use. Pure
// formatting: the model gathers the facts, these functions word them.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ports/main_loop.h"

namespace tamborix {

// A transport's switch and where it stands.
struct LinkState {
    bool on = false;
    bool running = false;
    bool hasIdentity = false;
    std::string status;  // the server's own words
};

// "Network — Off", "Network — Off until the identity key can be read", "Network — <status>".
[[nodiscard]] std::string networkStatusLine(const LinkState& network);
// As the network's, and "Bluetooth — <status>" while the computer has no Bluetooth LE.
[[nodiscard]] std::string bluetoothStatusLine(const LinkState& bluetooth, bool supported);

// The statistics as one line: "CPU 13% · 85 MB · lag 3 ms · 40 cmds/s · BT backlog 0".
[[nodiscard]] std::string formatStatsLine(const nlohmann::json& stats);

struct StatusFacts {
    std::string fingerprint;
    std::string identityLine;  // empty when all is well
    std::string saveWarning;   // empty while the paired devices are saved
    std::string backendLine;
    std::string inputLine;  // may hold several lines
    std::string captureReason;
    std::vector<std::string> unavailable;  // what the session cannot do for a phone, and why
    std::string networkLine;
    std::string discoveryLine;
    std::string bluetoothLine;
    std::vector<std::string> sharingWith;
    std::vector<std::string> connected;
    bool networkOn = false;
    bool bluetoothSupported = false;
    bool bluetoothOn = false;
    bool shareFrontApp = false;
    bool startAtLogin = false;
    std::optional<std::string> pairCode;  // while pairing is open
    Duration pairingLeft{0};
    std::size_t pairedDevices = 0;
    std::string statsLine;  // empty before the first statistics
    std::optional<std::string> lastEvent;
};

// The lines of `status`, one fact each, in the order the status window shows them.
[[nodiscard]] std::vector<std::string> statusLines(const StatusFacts& facts);

}  // namespace tamborix
