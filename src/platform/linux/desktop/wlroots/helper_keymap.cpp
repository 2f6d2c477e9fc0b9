#include "platform/linux/desktop/wlroots/helper_keymap.h"

#include <algorithm>

namespace tamborix::wlroots {

namespace {

// XWayland programs see keycodes of one byte only.
constexpr xkb_keycode_t highestSpare = 255;

// Replaces the name of the keycodes section, keeping the rest of the text as it is.
std::string renameKeycodes(const std::string& text) {
    const auto at = text.find("xkb_keycodes");
    if (at == std::string::npos) return text;
    const auto open = text.find('"', at);
    const auto close = open == std::string::npos ? open : text.find('"', open + 1);
    const auto brace = text.find('{', at);
    if (close == std::string::npos || close > brace) {
        return text.substr(0, at) + "xkb_keycodes \"" + helperKeycodesName + "\" " + text.substr(brace);
    }
    return text.substr(0, open + 1) + helperKeycodesName + text.substr(close);
}

// The position of the "};" closing the top-level section that starts with `section`.
std::size_t sectionEnd(const std::string& text, const char* section) {
    const auto at = text.find(section);
    if (at == std::string::npos) return std::string::npos;
    return text.find("\n};", at);
}

}  // namespace

std::unique_ptr<HelperKeymap> HelperKeymap::fromText(const std::string& userKeymap, std::string& error) {
    Context context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context) {
        error = "libxkbcommon could not start";
        return nullptr;
    }
    Keymap keymap(xkb_keymap_new_from_string(context.get(), userKeymap.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                             XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        error = "the compositor's keymap cannot be read";
        return nullptr;
    }
    return std::unique_ptr<HelperKeymap>(new HelperKeymap(std::move(context), std::move(keymap)));
}

std::unique_ptr<HelperKeymap> HelperKeymap::fromNames(const xkb::LayoutNames& names, std::string& error) {
    auto compiled = xkb::compileLayout(names, error);
    if (!compiled) return nullptr;
    return std::unique_ptr<HelperKeymap>(new HelperKeymap(std::move(compiled->context), std::move(compiled->keymap)));
}

HelperKeymap::HelperKeymap(Context context, Keymap keymap)
    : context_(std::move(context)), keymap_(std::move(keymap)), index_(keymap_.get()) {
    Owned<char, freeMalloced> text(xkb_keymap_get_as_string(keymap_.get(), XKB_KEYMAP_FORMAT_TEXT_V1));
    userText_ = text ? renameKeycodes(text.get()) : std::string();
    const xkb_keycode_t min = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap_.get()), xkb::evdevOffset + 1);
    const xkb_keycode_t max = std::min(xkb_keymap_max_keycode(keymap_.get()), highestSpare);
    for (xkb_keycode_t kc = min; kc <= max; ++kc) {
        if (xkb_keymap_num_layouts_for_key(keymap_.get(), kc) != 0) continue;
        const char* name = xkb_keymap_key_get_name(keymap_.get(), kc);
        spares_.push_back({kc, name ? name : ""});
    }
}

HelperKeymap::~HelperKeymap() = default;

bool HelperKeymap::isHelpers(const std::string& keymapText) {
    const auto at = keymapText.find("xkb_keycodes");
    return at != std::string::npos &&
           keymapText.compare(keymapText.find('"', at) + 1, std::char_traits<char>::length(helperKeycodesName),
                              helperKeycodesName) == 0;
}

std::optional<int> HelperKeymap::lent(std::uint32_t keysym) const {
    if (auto it = lent_.find(keysym); it != lent_.end()) {
        return static_cast<int>(spares_[it->second].keycode) - xkb::evdevOffset;
    }
    return std::nullopt;
}

bool HelperKeymap::lend(const std::vector<std::uint32_t>& keysyms) {
    std::vector<std::uint32_t> wanted;
    for (auto s : keysyms) {
        if (std::find(wanted.begin(), wanted.end(), s) == wanted.end()) wanted.push_back(s);
    }
    if (wanted.size() > spares_.size()) return false;
    for (auto s : wanted) {
        if (lent_.contains(s)) continue;
        std::size_t slot = lent_.size();
        if (slot >= spares_.size()) {
            // The oldest loan not needed now goes back.
            auto old = std::find_if(lentOrder_.begin(), lentOrder_.end(), [&](std::uint32_t o) {
                return std::find(wanted.begin(), wanted.end(), o) == wanted.end();
            });
            slot = lent_[*old];
            lent_.erase(*old);
            lentOrder_.erase(old);
        } else {
            std::vector<bool> used(spares_.size());
            for (const auto& [sym, i] : lent_) used[i] = true;
            slot = static_cast<std::size_t>(std::find(used.begin(), used.end(), false) - used.begin());
        }
        lent_[s] = slot;
        lentOrder_.push_back(s);
    }
    return true;
}

std::string HelperKeymap::text() const {
    std::string out = userText_;
    std::string names, symbols;
    for (const auto& [sym, i] : lent_) {
        const Spare& spare = spares_[i];
        std::string name = spare.name;
        if (name.empty()) {
            name = "T" + std::to_string(spare.keycode);
            names += "\t<" + name + "> = " + std::to_string(spare.keycode) + ";\n";
        }
        char symName[64];
        if (xkb_keysym_get_name(sym, symName, sizeof symName) <= 0) continue;
        symbols += "\tkey <" + name + "> { [ " + symName + " ] };\n";
    }
    // Symbols first: inserting there does not move the keycodes section before it.
    if (auto end = sectionEnd(out, "xkb_symbols"); end != std::string::npos) out.insert(end + 1, symbols);
    if (auto end = sectionEnd(out, "xkb_keycodes"); end != std::string::npos) out.insert(end + 1, names);
    return out;
}

}  // namespace tamborix::wlroots
