#pragma once
// The keymap the helper's virtual keyboard types with: the user's own (as the compositor hands it
// to clients) so that keys and chords mean what they mean on the user's keyboard, plus keycodes
// the user's layout leaves empty, lent to characters that layout has no key for. The keymap text
// carries a keycodes section named by the helper, so that the helper can tell its own keymap
// from the user's when the compositor hands it back.

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/owned.h"
#include "platform/linux/support/xkb/keymap_index.h"

namespace tamborix::wlroots {

inline constexpr const char* helperKeycodesName = "tamborix-helper";

class HelperKeymap {
public:
    // Null with `error` set when libxkbcommon cannot read `userKeymap`.
    [[nodiscard]] static std::unique_ptr<HelperKeymap> fromText(const std::string& userKeymap, std::string& error);
    // The layout configured for the system, for a compositor that has no keyboard to report.
    [[nodiscard]] static std::unique_ptr<HelperKeymap> fromNames(const xkb::LayoutNames& names, std::string& error);
    ~HelperKeymap();

    [[nodiscard]] const xkb::KeymapIndex& user() const noexcept { return index_; }
    // A fresh keyboard state of the user's keymap: the lent keys set no modifier, so it tracks
    // the modifiers of the uploaded keymap as well.
    [[nodiscard]] Owned<xkb_state, xkb_state_unref> newState() const {
        return Owned<xkb_state, xkb_state_unref>(xkb_state_new(keymap_.get()));
    }
    [[nodiscard]] static bool isHelpers(const std::string& keymapText);

    // The evdev code lent to `keysym`, when one is.
    [[nodiscard]] std::optional<int> lent(std::uint32_t keysym) const;
    // Lends a spare keycode to each of `keysyms` not yet holding one, taking back the ones lent
    // longest ago when the spares run out. False when `keysyms` alone need more spares than the
    // layout leaves empty. text() changes whenever this lent anything new.
    [[nodiscard]] bool lend(const std::vector<std::uint32_t>& keysyms);
    // The whole keymap with the lent keys, as the virtual keyboard uploads it.
    [[nodiscard]] std::string text() const;
    [[nodiscard]] std::size_t spareCount() const noexcept { return spares_.size(); }

private:
    using Context = Owned<xkb_context, xkb_context_unref>;
    using Keymap = Owned<xkb_keymap, xkb_keymap_unref>;
    HelperKeymap(Context context, Keymap keymap);

    struct Spare {
        xkb_keycode_t keycode = 0;
        std::string name;  // empty: the keycode has no name in the user's keymap yet
    };
    Context context_;
    Keymap keymap_;
    xkb::KeymapIndex index_;
    std::string userText_;
    std::vector<Spare> spares_;
    // keysym → index into spares_, and the order they were lent in (oldest first).
    std::map<std::uint32_t, std::size_t> lent_;
    std::vector<std::uint32_t> lentOrder_;
};

}  // namespace tamborix::wlroots
