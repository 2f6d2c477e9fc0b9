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
    // The same list written into `out`, reusing its storage. Backends that can fill it without a
    // temporary override this, so that a caller at 120 Hz allocates nothing.
    virtual void displaysInto(std::vector<DisplayInfo>& out) const { out = displays(); }
    // nullopt when the pointer cannot be read (no display backend).
    [[nodiscard]] virtual std::optional<Point> pointer() const = 0;
};

}  // namespace tamborix
