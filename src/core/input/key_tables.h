#pragma once
// Key names of the command layer and what they press.

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "core/input/keysyms.h"
#include "ports/input_sink.h"

namespace tamborix::keys {

using KeyTable = std::map<std::string, std::uint32_t, std::less<>>;

// Named keys (enter, arrows, f1…f20, super, print, …) to X keysyms.
[[nodiscard]] const KeyTable& namedKeys();
// Media key names to XF86Audio* keysyms.
[[nodiscard]] const KeyTable& mediaKeys();
// "shift", "ctrl", "alt", "cmd", "primary".
[[nodiscard]] const std::set<std::string, std::less<>>& modifierNames();

// The flag a modifier name sets; 0 for names that are not modifiers.
[[nodiscard]] ModifierFlags modifierFlag(std::string_view name);

struct ModifierKey {
    ModifierFlags flag;
    std::uint32_t keysym;
};
// Chords press their modifiers in this order and release them in reverse. The level keys come
// last, nearest the key, so that a chord's own modifiers are down before the level is chosen.
inline constexpr std::array<ModifierKey, 6> modifierPressOrder{{
    {modifier::super, keysym::superL},
    {modifier::shift, keysym::shiftL},
    {modifier::alt, keysym::altL},
    {modifier::control, keysym::controlL},
    {modifier::level3, keysym::isoLevel3Shift},
    {modifier::level5, keysym::isoLevel5Shift},
}};

}  // namespace tamborix::keys
