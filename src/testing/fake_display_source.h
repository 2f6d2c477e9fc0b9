#pragma once
// A DisplaySource whose displays and pointer the test sets.

#include <optional>
#include <vector>

#include "ports/display_source.h"

namespace tamborix::testing {

class FakeDisplaySource final : public DisplaySource {
public:
    FakeDisplaySource() = default;
    explicit FakeDisplaySource(std::vector<DisplayInfo> displays,
                               std::optional<Point> pointer = std::nullopt)
        : displays_(std::move(displays)), pointer_(pointer) {}

    // Displays of the given bounds, numbered from 1, with usable areas equal to the bounds.
    static std::vector<DisplayInfo> withBounds(const std::vector<Rect>& bounds);

    void setDisplays(std::vector<DisplayInfo> displays) { displays_ = std::move(displays); }
    void setPointer(std::optional<Point> p) { pointer_ = p; }

    [[nodiscard]] std::vector<DisplayInfo> displays() const override { return displays_; }
    void displaysInto(std::vector<DisplayInfo>& out) const override {
        out.assign(displays_.begin(), displays_.end());
    }
    [[nodiscard]] std::optional<Point> pointer() const override { return pointer_; }

private:
    std::vector<DisplayInfo> displays_;
    std::optional<Point> pointer_;
};

}  // namespace tamborix::testing
