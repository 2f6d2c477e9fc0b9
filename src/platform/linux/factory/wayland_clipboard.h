#pragma once
// The clipboard of a Wayland session, for whichever desktop backend serves it: the compositor's
// data control where offered (wlroots compositors, KWin), else the helper's own stand-in.

#include "platform/linux/factory/backends.h"

namespace tamborix {

// Replaces b.clipboard when the compositor offers data control and adds the report line.
void installWaylandClipboard(PlatformBackends& b);

}  // namespace tamborix
