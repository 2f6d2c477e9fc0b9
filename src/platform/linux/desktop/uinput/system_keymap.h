#pragma once
// The keyboard layout the system is configured with (XKB_DEFAULT_* variables, else
// /etc/default/keyboard, else "us"), compiled by libxkbcommon. A uinput keyboard sends evdev codes;
// this is what turns a keysym or a character into the key that types it.

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <unordered_map>
#include <vector>

#include "base/owned.h"
#include "platform/linux/support/xkb/keymap_index.h"
#include "ports/input_sink.h"

namespace tamborix::uinput {

using xkb::KeyPosition;

using xkb::configuredLayout;
using xkb::LayoutNames;

class SystemKeymap {
public:
    // Null with `error` set when libxkbcommon cannot compile the layout.
    [[nodiscard]] static std::unique_ptr<SystemKeymap> compile(const LayoutNames& names, std::string& error);
    ~SystemKeymap();

    // The key of the first group that gives `keysym` at the lowest level (plain, Shift, level 3,
    // level 3 + Shift, level 5…); lower keycodes first.
    [[nodiscard]] std::optional<KeyPosition> find(std::uint32_t keysym) const { return index_.find(keysym); }
    // The evdev code of the key holding one level modifier, when the layout has one.
    [[nodiscard]] std::optional<int> modifierKey(ModifierFlags one) const { return index_.modifierKey(one); }
    [[nodiscard]] std::vector<int> levelKeys(ModifierFlags mods) const { return index_.levelKeys(mods); }
    // Every key's character at every level it is found first, keycodes being evdev codes.
    [[nodiscard]] std::vector<LayoutEntry> entries() const { return index_.entries(); }

private:
    using Context = Owned<xkb_context, xkb_context_unref>;
    using Keymap = Owned<xkb_keymap, xkb_keymap_unref>;
    SystemKeymap(Context context, Keymap keymap);
    Context context_;
    Keymap keymap_;  // freed before its context
    xkb::KeymapIndex index_;
};

}  // namespace tamborix::uinput
