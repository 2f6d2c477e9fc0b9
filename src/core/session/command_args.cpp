#include "core/session/command_args.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "core/desktop/text_limits.h"
#include "core/input/input_injector.h"

namespace tamborix::commands {

using nlohmann::json;

const NameSet& presenterActions() {
    static const NameSet set{
        "none",        "left_click",         "right_click",     "middle_click", "double_click",
        "next_slide",  "prev_slide",         "start_presentation",
        "start_from_current",                "end_presentation", "black_screen",
        "white_screen", "page_down",         "page_up",         "space",        "escape",
        "arrow_up",    "arrow_down",         "arrow_left",      "arrow_right",  "play_pause",
        "next_track",  "prev_track",         "volume_up",       "volume_down",  "mute",
        "scroll_up",   "scroll_down",        "zoom_in",         "zoom_out"};
    return set;
}

const NameSet& windowOps() {
    static const NameSet set{"left", "right", "max", "next"};
    return set;
}

const NameSet& buttons() {
    static const NameSet set{"left", "right", "middle"};
    return set;
}

const std::string* stringMember(const json& command, const char* key) {
    const auto it = command.find(key);
    if (it == command.end() || !it->is_string()) return nullptr;
    return it->get_ptr<const std::string*>();
}

double num(const json& command, const char* key) {
    const auto it = command.find(key);
    if (it == command.end()) return 0;
    if (!it->is_number()) throw CommandRejected(std::string(key) + " must be a number");
    return clampDelta(it->get<double>());
}

double clampDelta(double v) {
    if (!std::isfinite(v)) throw CommandRejected("a number must be finite");
    return std::clamp(v, -maxDelta, maxDelta);
}

std::string button(const json& command) {
    const auto* b = stringMember(command, "b");
    std::string name = b ? *b : "left";
    if (!buttons().contains(name)) throw CommandRejected("b must be left, right or middle");
    return name;
}

namespace {

// Exactly one user-perceived character whose first scalar is not a control character.
bool isSinglePrintableCharacter(const std::string& s) {
    if (s.empty() || characterCount(s, 1) != 1) return false;
    std::int32_t i = 0;
    UChar32 c = 0;
    U8_NEXT(reinterpret_cast<const std::uint8_t*>(s.data()), i, static_cast<std::int32_t>(s.size()),
            c);
    return c >= 0 && u_charType(c) != U_CONTROL_CHAR;
}

}  // namespace

std::string validKey(const json* value) {
    if (value == nullptr || !value->is_string()) throw CommandRejected("the key must be a string");
    const auto& s = value->get_ref<const std::string&>();
    if (isSinglePrintableCharacter(s) || InputInjector::isValidKeyName(s)) return s;
    throw CommandRejected("no key named " + s);
}

std::vector<std::string> modifiers(const json& command) {
    const auto it = command.find("mods");
    if (it == command.end()) return {};
    if (!it->is_array() || it->size() > maxModifiers)
        throw CommandRejected("mods must be a list of at most " + std::to_string(maxModifiers) + " modifiers");
    std::vector<std::string> mods;
    for (const auto& m : *it) {
        if (!m.is_string() || !InputInjector::isModifierName(m.get_ref<const std::string&>()))
            throw CommandRejected("mods names a key that is not a modifier");
        mods.push_back(m.get<std::string>());
    }
    return mods;
}

std::string boundedString(const json& command, const char* key, std::size_t limit) {
    const auto* s = stringMember(command, key);
    if (s == nullptr) throw CommandRejected(std::string(key) + " must be a string");
    if (longerThan(*s, limit))
        throw CommandRejected(std::string(key) + " is longer than " + std::to_string(limit) + " characters");
    return *s;
}

bool requiredBool(const json& command, const char* key) {
    const auto it = command.find(key);
    if (it == command.end() || !it->is_boolean()) throw CommandRejected(std::string(key) + " must be true or false");
    return it->get<bool>();
}

bool optionalBool(const json& command, const char* key, bool fallback) {
    const auto it = command.find(key);
    if (it == command.end() || !it->is_boolean()) return fallback;
    return it->get<bool>();
}

}  // namespace tamborix::commands
