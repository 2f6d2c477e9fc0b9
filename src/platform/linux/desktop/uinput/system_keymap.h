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
#include <vector>

#include "base/owned.h"
#include "ports/input_sink.h"

namespace tamborix::uinput {

struct KeyPosition {
    int evdevCode = 0;
    bool shift = false;
};

struct LayoutNames {
    std::string model, layout, variant, options;
};
// XKB_DEFAULT_MODEL/LAYOUT/VARIANT/OPTIONS where set, else the XKB* lines of `keyboardFile`.
[[nodiscard]] LayoutNames configuredLayout(const std::filesystem::path& keyboardFile = "/etc/default/keyboard");

class SystemKeymap {
public:
    // Null with `error` set when libxkbcommon cannot compile the layout.
    [[nodiscard]] static std::unique_ptr<SystemKeymap> compile(const LayoutNames& names, std::string& error);
    ~SystemKeymap();

    // The key of the first group that gives `keysym` at level 0, else at level 1 (Shift); lower
    // keycodes first.
    [[nodiscard]] std::optional<KeyPosition> find(std::uint32_t keysym) const;
    // Every key's character at levels 0 and 1, keycodes being evdev codes.
    [[nodiscard]] std::vector<LayoutEntry> entries() const;

private:
    using Context = Owned<xkb_context, xkb_context_unref>;
    using Keymap = Owned<xkb_keymap, xkb_keymap_unref>;
    SystemKeymap(Context context, Keymap keymap) : context_(std::move(context)), keymap_(std::move(keymap)) {}
    Context context_;
    Keymap keymap_;  // freed before its context
};

}  // namespace tamborix::uinput
