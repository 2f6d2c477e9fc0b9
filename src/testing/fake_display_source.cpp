#include "testing/fake_display_source.h"

namespace tamborix::testing {

std::vector<DisplayInfo> FakeDisplaySource::withBounds(const std::vector<Rect>& bounds) {
    std::vector<DisplayInfo> out;
    std::uint32_t id = 1;
    for (const auto& b : bounds) out.push_back(DisplayInfo{id++, b, b});
    return out;
}

}  // namespace tamborix::testing
