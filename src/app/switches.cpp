#include "app/switches.h"

#include <utility>

namespace tamborix {

Switches::Switches(std::filesystem::path settingsFile)
    : settings_(std::move(settingsFile)),
      networkOn_(settings_.get(Settings::networkOn)),
      bluetoothOn_(settings_.get(Settings::bluetoothOn)),
      shareFrontApp_(settings_.get(Settings::shareFrontApp)) {}

std::optional<std::string> Switches::save(const char* key, bool on) {
    if (!settings_.set(key, on) && settings_.lastError()) return settings_.lastError();
    return std::nullopt;
}

std::optional<std::string> Switches::setNetworkOn(bool on) {
    networkOn_ = on;
    return save(Settings::networkOn, on);
}

std::optional<std::string> Switches::setBluetoothOn(bool on) {
    bluetoothOn_ = on;
    return save(Settings::bluetoothOn, on);
}

std::optional<std::string> Switches::setShareFrontApp(bool on) {
    shareFrontApp_ = on;
    return save(Settings::shareFrontApp, on);
}

bool Switches::markLaunched() {
    const bool before = settings_.get(Settings::hasLaunched);
    settings_.set(Settings::hasLaunched, true);
    return before;
}

}  // namespace tamborix
