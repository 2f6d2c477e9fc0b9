#pragma once
// Where each keysym of an XKB keymap's first group is typed: the key and the level modifiers
// (Shift, level 3, level 5) held around it, found at the lowest level first, lower keycodes
// first. Codes are evdev codes (XKB keycodes less 8), as uinput and Wayland keyboards send them.

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/owned.h"
#include "ports/input_sink.h"

namespace tamborix::xkb {

// XKB keycodes are evdev codes plus 8, a legacy of the X protocol's minimum keycode.
inline constexpr int evdevOffset = 8;

struct LayoutNames {
    std::string model, layout, variant, options;
};
// The layout the system is configured with: XKB_DEFAULT_MODEL/LAYOUT/VARIANT/OPTIONS where set,
// else the XKB* lines of `keyboardFile`.
[[nodiscard]] LayoutNames configuredLayout(const std::filesystem::path& keyboardFile = "/etc/default/keyboard");

using Context = Owned<xkb_context, xkb_context_unref>;
using Keymap = Owned<xkb_keymap, xkb_keymap_unref>;
struct CompiledKeymap {
    Context context;
    Keymap keymap;
};
// The keymap of `names` (an empty layout is "us"); nothing, with the reason in `error`, when
// libxkbcommon cannot start or compile it.
[[nodiscard]] std::optional<CompiledKeymap> compileLayout(const LayoutNames& names, std::string& error);

using State = Owned<xkb_state, xkb_state_unref>;

// What a key types at each level of one group, with the level modifiers (modifier::shift,
// level3, level5) held as the keys that reach them set them.
struct LevelKey {
    xkb_keycode_t keycode = 0;
    ModifierFlags mods = 0;
    xkb_keysym_t sym = XKB_KEY_NoSymbol;
};
struct LevelScan {
    xkb_layout_index_t group = 0;
    xkb_mod_mask_t locked = 0;  // Caps Lock and the like, as they are now
    xkb_keycode_t lowest = evdevOffset;
    xkb_keycode_t highest = XKB_KEYCODE_MAX;
    std::function<bool(xkb_keycode_t)> skip;  // keys left out, as level keys too
};
struct LevelTable {
    std::vector<LevelKey> keys;  // lowest level first, lower keycodes first; no NoSymbol
    std::unordered_map<ModifierFlags, xkb_keycode_t> modifierKeys;
};
// Asks the keymap what every key types under each combination of held level keys, exactly as a
// client reading the key events will.
[[nodiscard]] LevelTable scanLevels(xkb_keymap* keymap, const LevelScan& scan);

struct KeyPosition {
    int evdevCode = 0;
    ModifierFlags mods = 0;
};

class KeymapIndex {
public:
    KeymapIndex() = default;
    explicit KeymapIndex(xkb_keymap* keymap);

    [[nodiscard]] std::optional<KeyPosition> find(std::uint32_t keysym) const;
    // The evdev code of the key holding one level modifier, when the layout has one.
    [[nodiscard]] std::optional<int> modifierKey(ModifierFlags one) const;
    // The keys held around a key typed at the level of `mods`, in the order they are pressed
    // (Shift, level 3, level 5) and released in reverse.
    [[nodiscard]] std::vector<int> levelKeys(ModifierFlags mods) const;
    // Every key's character at every level it is found first.
    [[nodiscard]] const std::vector<LayoutEntry>& entries() const noexcept { return entries_; }

private:
    std::unordered_map<std::uint32_t, KeyPosition> keys_;
    std::unordered_map<ModifierFlags, int> modifierKeys_;
    std::vector<LayoutEntry> entries_;
};

}  // namespace tamborix::xkb
