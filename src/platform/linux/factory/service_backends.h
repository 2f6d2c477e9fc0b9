#pragma once
// The system services behind ports (idle inhibitor, host name, secrets, discovery, Bluetooth),
// each compiled in when CMake found its library, else a stand-in that says so in the report.

#include "platform/linux/factory/backends.h"

namespace tamborix {

void installServices(PlatformBackends& b, MainLoop& loop);

}  // namespace tamborix
