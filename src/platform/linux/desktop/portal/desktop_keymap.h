#pragma once
// Which keysyms the desktop's keyboard layout can type. The portal types a keysym only when the
// compositor finds a key for it, and drops the rest without a word; knowing the layout lets the
// helper say which characters it skipped and why.

#include <cstdint>
#include <set>
#include <string>

namespace tamborix::portal {

struct DesktopKeymap {
    std::set<std::uint32_t> keysyms;  // every keysym on some key, at any shift level
    std::string source;               // where the layout came from, for the log
};

// The compositor's own keymap, as it hands it to every Wayland client with a keyboard; where it
// offers no keyboard yet (a headless desktop before its first key), the default XKB layout of
// this system (XKB_DEFAULT_LAYOUT, else "us"), which is what such a compositor starts with.
[[nodiscard]] DesktopKeymap readDesktopKeymap();

// The keysyms of a keymap in XKB's text form; empty when it does not compile.
[[nodiscard]] std::set<std::uint32_t> keysymsOf(const std::string& keymapText);

}  // namespace tamborix::portal
