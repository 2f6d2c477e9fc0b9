#include "platform/linux/support/xkb/keymap_index.h"

#include <utility>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace tamborix::xkb {

namespace {

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

namespace {

// The modifiers a key sets while it is held, found by pressing it in a state of its own.
xkb_mod_mask_t heldMods(xkb_keymap* keymap, xkb_layout_index_t group, xkb_keycode_t kc) {
    const State st(xkb_state_new(keymap));
    if (!st) return 0;
    xkb_state_update_mask(st.get(), 0, 0, 0, 0, 0, group);
    xkb_state_update_key(st.get(), kc, XKB_KEY_DOWN);
    return xkb_state_serialize_mods(st.get(), XKB_STATE_MODS_DEPRESSED);
}

}  // namespace

LevelTable scanLevels(xkb_keymap* keymap, const LevelScan& scan) {
    LevelTable table;
    const State st(xkb_state_new(keymap));
    if (!st) return table;
    const xkb_keycode_t lo = std::max(xkb_keymap_min_keycode(keymap), scan.lowest);
    const xkb_keycode_t hi = std::min(xkb_keymap_max_keycode(keymap), scan.highest);
    auto usable = [&](xkb_keycode_t kc) {
        return xkb_keymap_num_layouts_for_key(keymap, kc) > 0 && !(scan.skip && scan.skip(kc));
    };

    // The keys that reach the levels: the first key whose plain level is one of a level's keysyms
    // (in their order) and that sets a modifier while held.
    struct Holder {
        ModifierFlags flag;
        xkb_keysym_t syms[2];
    };
    static constexpr Holder holders[] = {{modifier::shift, {XKB_KEY_Shift_L, XKB_KEY_Shift_R}},
                                         {modifier::level3, {XKB_KEY_ISO_Level3_Shift, XKB_KEY_ISO_Level3_Shift}},
                                         {modifier::level5, {XKB_KEY_ISO_Level5_Shift, XKB_KEY_ISO_Level5_Shift}}};
    xkb_state_update_mask(st.get(), 0, 0, 0, 0, 0, scan.group);
    std::unordered_map<ModifierFlags, xkb_mod_mask_t> masks;
    for (const auto& h : holders) {
        for (const auto sym : h.syms) {
            for (xkb_keycode_t kc = lo; kc <= hi && !masks.contains(h.flag); ++kc) {
                if (!usable(kc)) continue;
                const xkb_keysym_t* syms = nullptr;
                const auto layout = xkb_state_key_get_layout(st.get(), kc);
                if (xkb_keymap_key_get_syms_by_level(keymap, kc, layout, 0, &syms) != 1 || syms[0] != sym) continue;
                const auto mask = heldMods(keymap, scan.group, kc);
                if (mask == 0) continue;
                masks[h.flag] = mask;
                table.modifierKeys[h.flag] = kc;
            }
        }
    }

    for (int rank = 0; rank < 8; ++rank) {
        ModifierFlags flags = 0;
        if (rank & 1) flags |= modifier::shift;
        if (rank & 2) flags |= modifier::level3;
        if (rank & 4) flags |= modifier::level5;
        xkb_mod_mask_t depressed = 0;
        bool reachable = true;
        for (const auto& h : holders) {
            if (!(flags & h.flag)) continue;
            const auto m = masks.find(h.flag);
            reachable = reachable && m != masks.end();
            if (m != masks.end()) depressed |= m->second;
        }
        if (!reachable) continue;
        xkb_state_update_mask(st.get(), depressed, 0, scan.locked, 0, 0, scan.group);
        for (xkb_keycode_t kc = lo; kc <= hi; ++kc) {
            if (!usable(kc)) continue;
            const xkb_keysym_t sym = xkb_state_key_get_one_sym(st.get(), kc);
            if (sym != XKB_KEY_NoSymbol) table.keys.push_back({kc, flags, sym});
        }
    }
    return table;
}

KeymapIndex::KeymapIndex(xkb_keymap* keymap) {
    const auto table = scanLevels(keymap, {});
    for (const auto& [flag, kc] : table.modifierKeys) modifierKeys_[flag] = static_cast<int>(kc) - evdevOffset;
    for (const auto& key : table.keys) {
        const int code = static_cast<int>(key.keycode) - evdevOffset;
        keys_.try_emplace(key.sym, KeyPosition{code, key.mods});
        const std::uint32_t c = xkb_keysym_to_utf32(key.sym);
        if (c >= 0x20 && c != 0x7f) {
            const auto levelMods = static_cast<ModifierFlags>(key.mods & (modifier::level3 | modifier::level5));
            entries_.push_back({static_cast<std::uint32_t>(code), (key.mods & modifier::shift) != 0,
                                static_cast<char32_t>(c), levelMods});
        }
    }
}

std::optional<KeyPosition> KeymapIndex::find(std::uint32_t keysym) const {
    if (auto it = keys_.find(keysym); it != keys_.end()) return it->second;
    return std::nullopt;
}

std::optional<int> KeymapIndex::modifierKey(ModifierFlags one) const {
    if (auto it = modifierKeys_.find(one); it != modifierKeys_.end()) return it->second;
    return std::nullopt;
}

std::vector<int> KeymapIndex::levelKeys(ModifierFlags mods) const {
    std::vector<int> out;
    for (const auto flag : {modifier::shift, modifier::level3, modifier::level5}) {
        if (!(mods & flag)) continue;
        if (auto key = modifierKey(flag)) out.push_back(*key);
    }
    return out;
}

std::optional<CompiledKeymap> compileLayout(const LayoutNames& names, std::string& error) {
    Context context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context) {
        error = "libxkbcommon could not start";
        return std::nullopt;
    }
    const std::string layout = names.layout.empty() ? "us" : names.layout;
    auto field = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    const xkb_rule_names rmlvo{nullptr, field(names.model), layout.c_str(), field(names.variant),
                               field(names.options)};
    Keymap keymap(xkb_keymap_new_from_names(context.get(), &rmlvo, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        error = "cannot compile the keyboard layout \"" + layout + "\"";
        return std::nullopt;
    }
    return CompiledKeymap{std::move(context), std::move(keymap)};
}

}  // namespace tamborix::xkb
