#pragma once
// Window placement on a desktop that lets no other program move its windows (GNOME and KDE on
// Wayland): the desktop's own default keyboard shortcuts for tiling, maximising and moving to the
// next monitor, pressed through the input backend. The desktop acts on its focused window; where
// the user changed those shortcuts, the keys do what the user made them do.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/input_sink.h"
#include "ports/window_control.h"

namespace tamborix::shortcuts {

struct Chord {
    std::uint32_t keysym = 0;
    ModifierFlags mods = 0;  // modifier::super, shift, alt, control
    friend bool operator==(const Chord&, const Chord&) = default;
};

struct DesktopShortcuts {
    std::string desktop;                  // "GNOME", "KDE"
    std::map<std::string, Chord> places;  // "left", "right", "max", "next"
};

// The shortcuts of the desktop XDG_CURRENT_DESKTOP names (a colon-separated list, the first
// known one wins); nullopt for a desktop whose defaults are not known here.
[[nodiscard]] std::optional<DesktopShortcuts> shortcutsFor(std::string_view currentDesktop);

class ShortcutWindowControl final : public WindowControl {
public:
    ShortcutWindowControl(InputSink& sink, DesktopShortcuts shortcuts);

    // Frames are not known to other programs on these desktops.
    [[nodiscard]] std::optional<WindowHandle> frontWindow() const override { return std::nullopt; }
    [[nodiscard]] std::optional<Rect> frame(WindowHandle) const override { return std::nullopt; }
    bool setFrame(WindowHandle, const Rect&) override { return false; }
    [[nodiscard]] std::optional<bool> place(std::string_view op) override;
    [[nodiscard]] std::string unavailableReason() const override;

private:
    InputSink& sink_;
    DesktopShortcuts shortcuts_;
};

}  // namespace tamborix::shortcuts
