#include "platform/linux/desktop/uinput/system_keymap.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>

namespace tamborix::uinput {

std::unique_ptr<SystemKeymap> SystemKeymap::compile(const LayoutNames& names, std::string& error) {
    Context context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context) {
        error = "libxkbcommon could not start";
        return nullptr;
    }
    auto field = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    const xkb_rule_names rmlvo{nullptr, field(names.model), names.layout.empty() ? "us" : names.layout.c_str(),
                               field(names.variant), field(names.options)};
    Keymap keymap(xkb_keymap_new_from_names(context.get(), &rmlvo, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        error = "cannot compile the keyboard layout \"" + (names.layout.empty() ? std::string("us") : names.layout) + "\"";
        return nullptr;
    }
    return std::unique_ptr<SystemKeymap>(new SystemKeymap(std::move(context), std::move(keymap)));
}

SystemKeymap::SystemKeymap(Context context, Keymap keymap)
    : context_(std::move(context)), keymap_(std::move(keymap)), index_(keymap_.get()) {}

SystemKeymap::~SystemKeymap() = default;

}  // namespace tamborix::uinput
