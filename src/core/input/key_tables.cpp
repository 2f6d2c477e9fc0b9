#include "core/input/key_tables.h"

#include "core/input/keysyms.h"

namespace tamborix::keys {

const KeyTable& namedKeys() {
    static const KeyTable table = [] {
        KeyTable t{
            {"enter", keysym::returnKey}, {"esc", keysym::escape},
            {"tab", keysym::tab},         {"space", keysym::space},
            {"backspace", keysym::backSpace}, {"delete", keysym::deleteKey},
            {"up", keysym::up},           {"down", keysym::down},
            {"left", keysym::left},       {"right", keysym::right},
            {"home", keysym::home},       {"end", keysym::end},
            {"page_up", keysym::prior},   {"page_down", keysym::next},
            {"super", keysym::superL},    {"print", keysym::print},
        };
        for (std::uint32_t i = 1; i <= 20; ++i) t.emplace("f" + std::to_string(i), keysym::f1 + i - 1);
        return t;
    }();
    return table;
}

const KeyTable& mediaKeys() {
    static const KeyTable table{
        {"media_play_pause", keysym::audioPlay},
        {"media_next", keysym::audioNext},
        {"media_previous", keysym::audioPrev},
        {"media_volume_up", keysym::audioRaiseVolume},
        {"media_volume_down", keysym::audioLowerVolume},
        {"media_volume_mute", keysym::audioMute},
    };
    return table;
}

const std::set<std::string, std::less<>>& modifierNames() {
    static const std::set<std::string, std::less<>> names{"shift", "ctrl", "alt", "cmd", "primary"};
    return names;
}

ModifierFlags modifierFlag(std::string_view name) {
    if (name == "shift") return modifier::shift;
    if (name == "ctrl") return modifier::control;
    if (name == "alt") return modifier::alt;
    if (name == "cmd") return modifier::super;
    // The platform's main shortcut modifier, which on Linux desktops is Control.
    if (name == "primary") return modifier::control;
    return 0;
}

}  // namespace tamborix::keys
