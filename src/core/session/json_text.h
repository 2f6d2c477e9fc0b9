#pragma once
// JSON in and out of sealed frames.

#include <nlohmann/json.hpp>
#include <optional>

#include "protocol/bytes.h"

namespace tamborix::jsontext {

// Parses a frame's plaintext. Only an object or an array may stand at the top level: a bare
// string, number, boolean or null is a parse error (nlohmann::json::parse_error), as is any text
// that is not JSON.
[[nodiscard]] nlohmann::json parseContainer(ByteView text);

// Compact serialisation. Ill-formed UTF-8 from the system (a window title, the clipboard) becomes
// U+FFFD rather than costing the whole message.
[[nodiscard]] Bytes serialize(const nlohmann::json& value);

// An integer value: a JSON integer, or a float with an integral value in range. Booleans and
// everything else give nullopt.
[[nodiscard]] std::optional<std::int64_t> integer(const nlohmann::json& value);
// A number with an integral value, however large (1e300 is one; 2.5 and true are not).
[[nodiscard]] bool isIntegral(const nlohmann::json& value);
[[nodiscard]] std::optional<std::int64_t> integerMember(const nlohmann::json& object,
                                                        const char* key);

}  // namespace tamborix::jsontext
