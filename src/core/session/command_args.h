#pragma once
// The fixed tables and argument checks of the command path. Every check throws
// CommandRejected for a value it does not accept.

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/session/command_rejected.h"
#include "protocol/limits.h"

namespace tamborix::commands {

using NameSet = std::set<std::string, std::less<>>;

[[nodiscard]] const NameSet& presenterActions();
[[nodiscard]] const NameSet& windowOps();
[[nodiscard]] const NameSet& buttons();

using limits::maxAppIdCharacters;
using limits::maxAppNameCharacters;
using limits::maxClipCharacters;
using limits::maxDelta;
using limits::maxDisplay;
using limits::maxModifiers;
using limits::maxTextCharacters;

// A finite number (not a boolean), clamped to ±5000; absent = 0.
[[nodiscard]] double num(const nlohmann::json& command, const char* key);
// A finite number clamped to ±5000.
[[nodiscard]] double clampDelta(double v);
// "b" when it is a string, else "left"; must be a known button.
[[nodiscard]] std::string button(const nlohmann::json& command);
// One non-control character, or a named or media key.
[[nodiscard]] std::string validKey(const nlohmann::json* value);
// "mods": absent = none; else an array of at most four known modifier names.
[[nodiscard]] std::vector<std::string> modifiers(const nlohmann::json& command);
// A string member of at most `limit` characters; absent or otherwise is rejected.
[[nodiscard]] std::string boundedString(const nlohmann::json& command, const char* key,
                                        std::size_t limit);
// A boolean member; absent or otherwise is rejected.
[[nodiscard]] bool requiredBool(const nlohmann::json& command, const char* key);
// A boolean member when it is one, else `fallback`.
[[nodiscard]] bool optionalBool(const nlohmann::json& command, const char* key, bool fallback);
// A string member when it is one.
[[nodiscard]] const std::string* stringMember(const nlohmann::json& command, const char* key);

}  // namespace tamborix::commands
