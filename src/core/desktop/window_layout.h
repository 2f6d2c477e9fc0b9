#pragma once
// Where "left", "right", "max" and "next" put a window, given the usable areas of the screens.

#include <optional>
#include <string_view>
#include <vector>

#include "ports/geometry.h"

namespace tamborix {

// `areas` are sorted like displays and none is empty. nullopt for an unknown operation or no
// areas. The current area is the first that holds the window's centre, else the first one.
[[nodiscard]] std::optional<Rect> placeWindow(std::string_view op, const Rect& window,
                                              const std::vector<Rect>& areas);

[[nodiscard]] bool isWindowOp(std::string_view op);

}  // namespace tamborix
