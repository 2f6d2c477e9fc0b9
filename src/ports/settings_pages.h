#pragma once
// The desktop's settings pages (the desktop entries of GNOME's or KDE's panels), so that where the
// helper cannot do something itself, the user gets to the page that fixes it in one click.

#include <optional>
#include <string>

namespace tamborix {

class SettingsPages {
public:
    virtual ~SettingsPages() = default;

    // The page's name as this desktop shows it ("Keyboard"), or nullopt when it has no such page.
    [[nodiscard]] virtual std::optional<std::string> name(const std::string& desktopId) const = 0;
    // Starts the page without waiting for it; false when there is no such page.
    [[nodiscard]] virtual bool open(const std::string& desktopId) = 0;
};

}  // namespace tamborix
