#pragma once
// The user's switches, kept in $XDG_CONFIG_HOME/tamborix-helper/settings.json.

#include <filesystem>
#include <optional>
#include <string>

namespace tamborix {

class Settings {
public:
    // Switches that read as true when the file or the key is missing or not a boolean.
    static constexpr const char* networkOn = "networkOn";
    static constexpr const char* bluetoothOn = "bluetoothOn";
    static constexpr const char* shareFrontApp = "shareFrontApp";
    // Reads as false when missing.
    static constexpr const char* hasLaunched = "hasLaunched";

    explicit Settings(std::filesystem::path file);

    // $XDG_CONFIG_HOME (else $HOME/.config) + "/tamborix-helper/settings.json".
    [[nodiscard]] static std::filesystem::path defaultFile();

    [[nodiscard]] bool get(const std::string& key) const;
    // Writes the whole file at once (owner-only temporary file, then rename) into an owner-only
    // folder. Returns false when the file could not be written (lastError() says why); the
    // value is kept in memory either way.
    bool set(const std::string& key, bool value);
    // Why the latest write failed; cleared by the next one that works.
    [[nodiscard]] const std::optional<std::string>& lastError() const noexcept { return lastError_; }

    [[nodiscard]] const std::filesystem::path& file() const noexcept { return file_; }

private:
    void load();
    [[nodiscard]] bool save();

    std::filesystem::path file_;
    // Unknown keys and non-boolean values are kept as they were, so a newer version's keys survive.
    std::string json_;  // serialised object
    std::optional<std::string> lastError_;
};

}  // namespace tamborix
