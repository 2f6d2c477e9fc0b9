#include "platform/linux/desktop/shortcuts/shortcut_window_control.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace tamborix::shortcuts {

namespace {

constexpr std::uint32_t keyLeft = 0xff51;    // Left
constexpr std::uint32_t keyUp = 0xff52;      // Up
constexpr std::uint32_t keyRight = 0xff53;   // Right
constexpr std::uint32_t keyPageUp = 0xff55;  // Prior

// The modifier keys in the order a chord presses them; released in reverse.
constexpr std::array<std::pair<ModifierFlags, std::uint32_t>, 4> modifierKeys{{
    {modifier::super, 0xffeb},    // Super_L
    {modifier::shift, 0xffe1},    // Shift_L
    {modifier::alt, 0xffe9},      // Alt_L
    {modifier::control, 0xffe3},  // Control_L
}};

std::string upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

// mutter's defaults: toggle-tiled-left/right, maximize, move-to-monitor-right.
DesktopShortcuts gnome() {
    return {"GNOME",
            {{"left", {keyLeft, modifier::super}},
             {"right", {keyRight, modifier::super}},
             {"max", {keyUp, modifier::super}},
             {"next", {keyRight, ModifierFlags(modifier::super | modifier::shift)}}}};
}

// KWin's defaults: Quick Tile Window to the Left/Right, Maximize Window, Window to Next Screen.
DesktopShortcuts kde() {
    return {"KDE",
            {{"left", {keyLeft, modifier::super}},
             {"right", {keyRight, modifier::super}},
             {"max", {keyPageUp, modifier::super}},
             {"next", {keyRight, ModifierFlags(modifier::super | modifier::shift)}}}};
}

}  // namespace

std::optional<DesktopShortcuts> shortcutsFor(std::string_view currentDesktop) {
    std::size_t start = 0;
    while (start <= currentDesktop.size()) {
        auto end = currentDesktop.find(':', start);
        if (end == std::string_view::npos) end = currentDesktop.size();
        const std::string name = upper(currentDesktop.substr(start, end - start));
        if (name == "GNOME" || name == "GNOME-CLASSIC" || name == "GNOME-FLASHBACK") return gnome();
        if (name == "KDE") return kde();
        start = end + 1;
    }
    return std::nullopt;
}

ShortcutWindowControl::ShortcutWindowControl(InputSink& sink, DesktopShortcuts shortcuts)
    : sink_(sink), shortcuts_(std::move(shortcuts)) {}

std::optional<bool> ShortcutWindowControl::place(std::string_view op) {
    const auto found = shortcuts_.places.find(std::string(op));
    if (found == shortcuts_.places.end() || !sink_.mayPost()) return false;
    const Chord chord = found->second;
    ModifierFlags held = 0;
    for (const auto& [flag, keysym] : modifierKeys) {
        if ((chord.mods & flag) == 0) continue;
        held |= flag;
        sink_.key({KeyKind::keysym, keysym, true, held});
    }
    sink_.key({KeyKind::keysym, chord.keysym, true, held});
    sink_.key({KeyKind::keysym, chord.keysym, false, held});
    for (auto it = modifierKeys.rbegin(); it != modifierKeys.rend(); ++it) {
        if ((chord.mods & it->first) == 0) continue;
        held &= ModifierFlags(~it->first);
        sink_.key({KeyKind::keysym, it->second, false, held});
    }
    return true;
}

std::string ShortcutWindowControl::unavailableReason() const {
    return sink_.mayPost() ? std::string() : sink_.reason();
}

}  // namespace tamborix::shortcuts
