#include "platform/linux/desktop/uinput/system_keymap.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <fstream>

namespace tamborix::uinput {

namespace {

// xkb keycodes are evdev codes plus 8, a legacy of the X protocol's minimum keycode.
constexpr int evdevOffset = 8;

std::string unquote(std::string v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

}  // namespace

LayoutNames configuredLayout(const std::filesystem::path& keyboardFile) {
    LayoutNames n;
    std::ifstream in(keyboardFile);
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = unquote(line.substr(eq + 1));
        if (key == "XKBMODEL") n.model = value;
        else if (key == "XKBLAYOUT") n.layout = value;
        else if (key == "XKBVARIANT") n.variant = value;
        else if (key == "XKBOPTIONS") n.options = value;
    }
    auto env = [](const char* name, std::string& into) {
        if (const char* v = std::getenv(name); v && *v) into = v;
    };
    env("XKB_DEFAULT_MODEL", n.model);
    env("XKB_DEFAULT_LAYOUT", n.layout);
    env("XKB_DEFAULT_VARIANT", n.variant);
    env("XKB_DEFAULT_OPTIONS", n.options);
    return n;
}

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

SystemKeymap::~SystemKeymap() = default;

std::optional<KeyPosition> SystemKeymap::find(std::uint32_t keysym) const {
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap_.get());
    const xkb_keycode_t max = xkb_keymap_max_keycode(keymap_.get());
    for (xkb_level_index_t level = 0; level < 2; ++level) {
        for (xkb_keycode_t kc = min; kc <= max; ++kc) {
            if (kc < evdevOffset || level >= xkb_keymap_num_levels_for_key(keymap_.get(), kc, 0)) continue;
            const xkb_keysym_t* syms = nullptr;
            const int n = xkb_keymap_key_get_syms_by_level(keymap_.get(), kc, 0, level, &syms);
            for (int i = 0; i < n; ++i) {
                if (syms[i] == keysym) return KeyPosition{static_cast<int>(kc) - evdevOffset, level == 1};
            }
        }
    }
    return std::nullopt;
}

std::vector<LayoutEntry> SystemKeymap::entries() const {
    std::vector<LayoutEntry> out;
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap_.get());
    const xkb_keycode_t max = xkb_keymap_max_keycode(keymap_.get());
    for (xkb_keycode_t kc = min; kc <= max; ++kc) {
        if (kc < evdevOffset) continue;
        for (xkb_level_index_t level = 0; level < 2 && level < xkb_keymap_num_levels_for_key(keymap_.get(), kc, 0); ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap_.get(), kc, 0, level, &syms) < 1) continue;
            const std::uint32_t c = xkb_keysym_to_utf32(syms[0]);
            if (c >= 0x20 && c != 0x7f) {
                out.push_back({static_cast<std::uint32_t>(kc) - evdevOffset, level == 1, static_cast<char32_t>(c)});
            }
        }
    }
    return out;
}

}  // namespace tamborix::uinput
