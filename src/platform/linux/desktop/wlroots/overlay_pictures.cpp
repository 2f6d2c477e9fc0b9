#include "platform/linux/desktop/wlroots/overlay_pictures.h"

#include <algorithm>
#include <cmath>

#include "core/desktop/overlay_style.h"

namespace tamborix::wlroots {

namespace {

namespace style = overlay_style;

// A premultiplied colour, each channel 0…1.
struct Pixel {
    double r = 0, g = 0, b = 0, a = 0;
};

// `c` at `coverage` (0…1) laid over `under`.
Pixel over(const Pixel& under, const style::Rgba& c, double coverage) {
    const double a = std::clamp(c.alpha * coverage, 0.0, 1.0);
    return {c.red * a + under.r * (1 - a), c.green * a + under.g * (1 - a), c.blue * a + under.b * (1 - a),
            a + under.a * (1 - a)};
}

std::uint32_t word(const Pixel& p) {
    const auto channel = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return channel(p.a) << 24 | channel(p.r) << 16 | channel(p.g) << 8 | channel(p.b);
}

// How much of the pixel at distance `d` from a circle's centre lies within `radius`: a one-pixel
// ramp across the edge.
double inside(double d, double radius) { return std::clamp(radius - d + 0.5, 0.0, 1.0); }

// How much of it lies on a stroke of `width` along a circle of `radius`.
double onStroke(double d, double radius, double width) {
    return std::clamp(width / 2 - std::abs(d - radius) + 0.5, 0.0, 1.0);
}

}  // namespace

void drawLaser(std::span<std::uint32_t> pixels, int size) {
    namespace l = style::laser;
    const double c = size / 2.0;
    // The glow runs from the centre out to the corners.
    const double glowRadius = size * std::sqrt(0.5);
    const double dotRadius = l::dotDiameter / 2;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double d = std::hypot(x + 0.5 - c, y + 0.5 - c);
            const double t = std::min(d / glowRadius, 1.0);
            const style::Rgba glow{l::glowCentre.red, l::glowCentre.green, l::glowCentre.blue,
                                   l::glowCentre.alpha + (l::glowEdge.alpha - l::glowCentre.alpha) * t};
            Pixel p = over({}, glow, 1.0);
            p = over(p, l::dotFill, inside(d, dotRadius));
            p = over(p, l::dotBorder, onStroke(d, dotRadius, l::dotBorderWidth));
            pixels[std::size_t(y) * size + x] = word(p);
        }
    }
}

bool drawFinder(std::span<std::uint32_t> pixels, int size, double seconds) {
    namespace f = style::finder;
    const double c = size / 2.0;
    bool any = false;
    double progress[f::rings];
    for (int ring = 0; ring < f::rings; ++ring) {
        progress[ring] = f::ringProgress(ring, seconds);
        any = any || progress[ring] >= 0;
    }
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            Pixel p;
            if (any) {
                const double d = std::hypot(x + 0.5 - c, y + 0.5 - c);
                for (int ring = 0; ring < f::rings; ++ring) {
                    const double at = progress[ring];
                    if (at < 0) continue;
                    // The whole ring, its stroke too, shrinks about the centre and fades.
                    const double scale = f::scaleFrom + (f::scaleTo - f::scaleFrom) * at;
                    const double opacity = f::opacityFrom + (f::opacityTo - f::opacityFrom) * at;
                    const double radius = f::ringDiameter / 2 * scale;
                    p = over(p, f::ringFill, inside(d, radius) * opacity);
                    p = over(p, f::ringStroke, onStroke(d, radius, f::ringLineWidth * scale) * opacity);
                }
            }
            pixels[std::size_t(y) * size + x] = word(p);
        }
    }
    return any;
}

}  // namespace tamborix::wlroots
