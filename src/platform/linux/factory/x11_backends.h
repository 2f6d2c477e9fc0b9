#pragma once
// The X11 backends, all over one connection. Compiled only when the X11 backend target exists.

#include <memory>

#include "platform/linux/factory/backends.h"
#include "platform/linux/desktop/x11/x_connection.h"

namespace tamborix {

// Replaces the stand-ins in `b` by the X11 backend of every port that has one, each reporting a
// line; `conn` stays alive in b.session.
void installX11Backends(PlatformBackends& b, const std::shared_ptr<x11::XConnection>& conn,
                        MainLoop& loop, const BackendRequest& request);

}  // namespace tamborix
