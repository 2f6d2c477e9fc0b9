#pragma once
// SettingsPages over the desktop entries GIO knows: a page exists where its entry is installed.

#include "platform/linux/support/gio/desktop_entries.h"
#include "ports/settings_pages.h"

namespace tamborix::gio {

class GioSettingsPages final : public SettingsPages {
public:
    [[nodiscard]] std::optional<std::string> name(const std::string& desktopId) const override;
    [[nodiscard]] bool open(const std::string& desktopId) override;

private:
    DesktopEntries entries_;
};

}  // namespace tamborix::gio
