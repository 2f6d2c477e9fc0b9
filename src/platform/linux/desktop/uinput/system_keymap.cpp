#include "platform/linux/desktop/uinput/system_keymap.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>

namespace tamborix::uinput {

std::unique_ptr<SystemKeymap> SystemKeymap::compile(const LayoutNames& names, std::string& error) {
    auto compiled = xkb::compileLayout(names, error);
    if (!compiled) return nullptr;
    return std::unique_ptr<SystemKeymap>(new SystemKeymap(std::move(compiled->context), std::move(compiled->keymap)));
}

SystemKeymap::SystemKeymap(Context context, Keymap keymap)
    : context_(std::move(context)), keymap_(std::move(keymap)), index_(keymap_.get()) {}

SystemKeymap::~SystemKeymap() = default;

}  // namespace tamborix::uinput
