#include "platform/linux/support/gio/gio_settings_pages.h"

namespace tamborix::gio {

std::optional<std::string> GioSettingsPages::name(const std::string& desktopId) const {
    const auto entry = entries_.byId(desktopId);
    if (!entry) return std::nullopt;
    return entry->name.empty() ? desktopId : entry->name;
}

bool GioSettingsPages::open(const std::string& desktopId) { return entries_.launch(desktopId, {}); }

}  // namespace tamborix::gio
