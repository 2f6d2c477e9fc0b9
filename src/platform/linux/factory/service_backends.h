#pragma once
// The system services behind ports (idle inhibitor, host name, secrets, discovery, Bluetooth),
// each compiled in when CMake found its library, else a stand-in that says so in the report.

#include <string>

#include "platform/linux/factory/backends.h"

namespace tamborix {

void installServices(PlatformBackends& b, MainLoop& loop);

// The applications of a session whose desktop backend lists none: launched, and web addresses
// opened, through GIO. Returns its report line.
[[nodiscard]] std::string installLauncher(PlatformBackends& b);

}  // namespace tamborix
