#pragma once
// Start at login: the XDG autostart entry "io.tamborix.Helper.desktop" in
// $XDG_CONFIG_HOME/autostart, whose Exec line starts the helper program given (normally the one
// that is running, wherever it was built or installed).

#include <filesystem>
#include <string>

namespace tamborix {

class Autostart {
public:
    static constexpr const char* entryFileName = "io.tamborix.Helper.desktop";

    // $XDG_CONFIG_HOME/autostart, else $HOME/.config/autostart.
    [[nodiscard]] static std::filesystem::path defaultFolder();
    // The running executable (/proc/self/exe resolved); empty when it cannot be found.
    [[nodiscard]] static std::filesystem::path runningProgram();

    Autostart(std::filesystem::path folder, std::filesystem::path program);

    // The entry exists and does not switch itself off (Hidden=true,
    // X-GNOME-Autostart-enabled=false).
    [[nodiscard]] bool enabled() const;
    // Writes (whole, then renamed into place) or removes the entry. On failure returns false and
    // says why in `error`; the entry is then as it was.
    [[nodiscard]] bool set(bool on, std::string& error);

    [[nodiscard]] std::filesystem::path entryPath() const { return folder_ / entryFileName; }
    [[nodiscard]] std::string entryText() const;

private:
    std::filesystem::path folder_;
    std::filesystem::path program_;
};

// One Exec argument, quoted and escaped as desktop entries require.
[[nodiscard]] std::string desktopExecArgument(const std::string& argument);

}  // namespace tamborix
