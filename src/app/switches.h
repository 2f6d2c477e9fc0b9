#pragma once
// The user's three switches (network, Bluetooth, front-app sharing) and the first-launch mark,
// read from the settings file at start and saved at every change. A change that cannot be saved
// still holds for this run; the error says why it will not survive a restart.

#include <filesystem>
#include <optional>
#include <string>

#include "app/settings.h"

namespace tamborix {

class Switches {
public:
    explicit Switches(std::filesystem::path settingsFile);

    [[nodiscard]] bool networkOn() const noexcept { return networkOn_; }
    [[nodiscard]] bool bluetoothOn() const noexcept { return bluetoothOn_; }
    [[nodiscard]] bool shareFrontApp() const noexcept { return shareFrontApp_; }

    // Each returns why the settings file could not be written, else nullopt.
    [[nodiscard]] std::optional<std::string> setNetworkOn(bool on);
    [[nodiscard]] std::optional<std::string> setBluetoothOn(bool on);
    [[nodiscard]] std::optional<std::string> setShareFrontApp(bool on);

    // Notes that the helper has started; whether it had ever started before.
    bool markLaunched();

private:
    std::optional<std::string> save(const char* key, bool on);

    Settings settings_;
    bool networkOn_;
    bool bluetoothOn_;
    bool shareFrontApp_;
};

}  // namespace tamborix
