#pragma once
// The X startup-notification protocol's "new:" message, sent when the helper launches a program,
// so that the desktop shows it starting and lets its first window take the focus.

#include <string>

namespace tamborix::x11 {

class XConnection;

// Announces a launch and returns the startup id to hand the program as DESKTOP_STARTUP_ID.
[[nodiscard]] std::string announceLaunch(XConnection& x, const std::string& name,
                                         const std::string& icon, const std::string& appId);

}  // namespace tamborix::x11
