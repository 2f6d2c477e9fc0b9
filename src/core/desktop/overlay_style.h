#pragma once
// How the laser dot and the cursor-finder pulse look. The overlay backend draws exactly this;
// the portable logic uses the sizes and timings. Lengths are in logical pixels (points).

namespace tamborix::overlay_style {

struct Rgba {
    double red, green, blue, alpha;
};

// Both windows: borderless, transparent, no shadow, click-through, shown on every workspace and
// beside full-screen windows, never in task bars, brought to the front whatever application is
// active. Level 1000 is the screen-saver level: a backend maps it to its topmost stacking layer.
inline constexpr int windowLevel = 1000;

namespace laser {
inline constexpr double size = 46.0;  // square window, edge length
inline constexpr bool inWindowCycling = false;
// Layer 1: a radial glow filling the window, from the centre (0.5, 0.5) out to the corner (1, 1).
inline constexpr Rgba glowCentre{1.0, 0.1, 0.1, 0.55};
inline constexpr Rgba glowEdge{1.0, 0.1, 0.1, 0.0};
// Layer 2: a solid dot, the window inset by this much on every side (a 12.88-point circle).
inline constexpr double dotInset = 16.56;
inline constexpr double dotDiameter = size - 2 * dotInset;
inline constexpr Rgba dotFill{1.0, 0.15, 0.15, 1.0};
inline constexpr Rgba dotBorder{1.0, 1.0, 1.0, 0.85};
inline constexpr double dotBorderWidth = 1.5;
// The follow timer while the laser is on.
inline constexpr double followHz = 60.0;
inline constexpr double followLeewaySeconds = 0.004;
// After an injected move, the local pointer is followed again only after this long.
inline constexpr double injectedHoldSeconds = 0.25;
}  // namespace laser

namespace finder {
inline constexpr double size = 220.0;  // square window, edge length
inline constexpr bool inWindowCycling = true;
// Two rings, each an ellipse in (10, 10, 200, 200) of the window.
inline constexpr int rings = 2;
inline constexpr double ringInset = 10.0;
inline constexpr double ringDiameter = 200.0;
inline constexpr Rgba ringFill{1.0, 0.8, 0.0, 0.18};    // the system yellow at alpha 0.18
inline constexpr Rgba ringStroke{1.0, 0.584, 0.0, 1.0};  // the system orange
inline constexpr double ringLineWidth = 6.0;
// Each ring shrinks from scale 1.0 to 0.15 and fades from opacity 1 to 0 in 0.7 s; ring i starts
// i × 0.35 s after the pulse begins. A ring stays invisible at its end state.
inline constexpr double scaleFrom = 1.0;
inline constexpr double scaleTo = 0.15;
inline constexpr double opacityFrom = 1.0;
inline constexpr double opacityTo = 0.0;
inline constexpr double pulseSeconds = 0.7;
inline constexpr double ringDelaySeconds = 0.35;
// The window is hidden this long after the latest request.
inline constexpr double hideAfterSeconds = 1.2;

// Ring `ring`'s progress through its animation at `seconds` into the pulse, in [0, 1], or a
// negative number while it waits or after it ended.
[[nodiscard]] constexpr double ringProgress(int ring, double seconds) {
    const double t = seconds - ring * ringDelaySeconds;
    return t < 0 || t > pulseSeconds ? -1 : t / pulseSeconds;
}
// When every ring has reached its invisible end state.
inline constexpr double pulseEndSeconds = (rings - 1) * ringDelaySeconds + pulseSeconds;
}  // namespace finder

}  // namespace tamborix::overlay_style
