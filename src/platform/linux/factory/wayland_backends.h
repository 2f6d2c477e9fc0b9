#pragma once
// The backends of a session X11 does not cover: the remote-desktop portal of a Wayland desktop,
// and uinput devices for sessions without it. Compiled only when their backend targets exist.

#include <string>

#include "platform/linux/factory/backends.h"

namespace tamborix {

// Input, displays and screen capture through a remote-desktop portal session, started at once: the
// user's consent arrives later and the input's and the capture's reasons tell where it stands until
// then. False with `why` set, and `b` untouched, when the session bus has no usable portal. Runs the
// loop while the portal answers.
[[nodiscard]] bool installPortalBackends(PlatformBackends& b, MainLoop& loop, const BackendRequest& request,
                                         std::string& why);

// Input through uinput devices over the connected monitors; false with `why` set, and `b`
// untouched, when the devices cannot be made.
[[nodiscard]] bool installUinputBackends(PlatformBackends& b, const BackendRequest& request,
                                         std::string& why);

}  // namespace tamborix
