#pragma once
// Messages the helper sends must open on the phone, which refuses frames over 4096 bytes. Text and
// lists that come from the system (the clipboard, application names and ids, the host name) are
// cut until their message fits, by the same rules that already limit them: fewer whole
// characters, fewer list entries.

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/secure_session.h"
#include "protocol/limits.h"

namespace tamborix::fit {

// The largest plaintext whose sealed frame the phone still opens.
inline constexpr std::size_t maxPlaintext = limits::maxPlaintext;

// The serialised size of a message, as it would be sealed.
[[nodiscard]] std::size_t size(const nlohmann::json& message);

// The longest prefix of at most `maxCharacters` whole characters of `text` for which `build`
// gives a message of at most `limit` bytes; nothing when not even the empty text fits.
[[nodiscard]] std::optional<std::string> longestPrefix(
    std::string_view text, std::size_t maxCharacters,
    const std::function<nlohmann::json(const std::string&)>& build,
    std::size_t limit = maxPlaintext);

struct App {
    std::string name;
    std::string id;
    bool front = false;
};
// The "apps" reply: every entry if it fits; otherwise names cut to fewer characters, and only if
// that is not enough, the first entries that fit.
[[nodiscard]] nlohmann::json appsMessage(const std::vector<App>& apps, std::size_t maxName,
                                         std::size_t limit = maxPlaintext);

}  // namespace tamborix::fit
