#include <string>

#include "platform/linux/factory/desktop_backends.h"

namespace tamborix {

// The plugin stays mapped after its handle goes (the backends it made live on), so it is loaded
// once per attempt at no cost beyond the first.
bool installPortalPlugin(const DesktopAttempt& a, std::string& why) {
    auto library = plugin::PluginLibrary::open("the portal backend", a.request.pluginFolder,
                                               "tamborix-helper-portal.so", "tamborix_portal_plugin", why);
    return library && library->table<DesktopPlugin>().install(a, why);
}

}  // namespace tamborix
