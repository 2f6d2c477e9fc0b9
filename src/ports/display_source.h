#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "ports/geometry.h"

namespace tamborix {

struct DisplayInfo {
    std::uint32_t id = 0;  // stable for as long as the display stays connected
    Rect bounds;           // in global coordinates
    Rect usable;           // bounds less panels and docks (work area); equal to bounds if unknown
    friend bool operator==(const DisplayInfo&, const DisplayInfo&) = default;
};

// The displays and the real pointer. Order of displays() is the system's; callers sort.
class DisplaySource {
public:
    virtual ~DisplaySource() = default;
    [[nodiscard]] virtual std::vector<DisplayInfo> displays() const = 0;
    // nullopt when the pointer cannot be read (no display backend).
    [[nodiscard]] virtual std::optional<Point> pointer() const = 0;
};

}  // namespace tamborix
