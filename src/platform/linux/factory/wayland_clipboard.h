#pragma once
// The clipboard of a Wayland session, for whichever desktop backend serves it: the compositor's
// data control where offered (wlroots compositors, KWin), else a clipboard that refuses with its reason.

#include <string>

#include "platform/linux/factory/backends.h"

namespace tamborix {

// Sets b.clipboard to the compositor's data control where offered, else to one that refuses, saying
// why and `otherwise` (what else could have served it); adds the report line.
void installWaylandClipboard(PlatformBackends& b, const std::string& otherwise = {});

}  // namespace tamborix
