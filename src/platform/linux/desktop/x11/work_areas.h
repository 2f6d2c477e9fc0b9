#pragma once
// The usable part of each monitor: its bounds less panels and docks, as the window manager
// publishes them. Shared by everything that places or sizes windows.

#include <optional>
#include <vector>

#include "ports/geometry.h"

namespace tamborix::x11 {

class XConnection;

struct WorkAreaHints {
    std::vector<Rect> perMonitor;     // _GTK_WORKAREAS_Dn of the current desktop, any order
    std::optional<Rect> wholeScreen;  // _NET_WORKAREA of the current desktop
};

// One area per monitor, in the order of `monitors`: the per-monitor area lying on that monitor
// where the window manager gives one, else the whole-screen work area cut to the monitor, else
// the monitor itself. Never empty for a monitor that is not.
[[nodiscard]] std::vector<Rect> usableAreas(const std::vector<Rect>& monitors,
                                            const WorkAreaHints& hints);

// What the window manager currently publishes on the root window.
[[nodiscard]] WorkAreaHints readWorkAreaHints(XConnection& x);

[[nodiscard]] Rect intersection(const Rect& a, const Rect& b);

}  // namespace tamborix::x11
