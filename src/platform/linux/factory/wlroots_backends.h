#pragma once
// The backends of a wlroots compositor (sway, Hyprland, labwc, river, Wayfire), each capability
// through the compositor's own protocol where it offers one.

#include <string>

#include "platform/linux/factory/backends.h"

namespace tamborix {

// Input and displays through the compositor's virtual devices and xdg-output; false with `why`
// set, and `b` untouched, when no compositor answers or it offers neither virtual device.
[[nodiscard]] bool installWlrootsBackends(PlatformBackends& b, const BackendRequest& request, std::string& why);

}  // namespace tamborix
