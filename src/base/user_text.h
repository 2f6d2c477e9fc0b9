#pragma once
// Texts the user reads (reasons, remedies, events), worded in English by code that knows nothing
// of the user's language. Each text made here is remembered with its parts, the English source
// and the values filled into it, so that whoever shows it can put it into the user's language
// (the application, through partsOf). The English is what every other reader gets: logs, tests
// and phones, which never receive a translated text.

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamborix {

struct UserTextParts {
    // Empty for a text that only joins others (nothing of it is translated, its values are).
    std::string context;
    std::string source;
    std::vector<std::string> values;
};

// A source text of `context` (the component that words it); both are string literals, so the
// translation tools find them as userText("Context", "Text with %1").
class UserText {
public:
    constexpr UserText(const char* context, const char* source) : context_(context), source_(source) {}

    // The English text with %1, %2, … replaced by `values` in order.
    [[nodiscard]] std::string with(std::initializer_list<std::string_view> values) const;
    [[nodiscard]] std::string str() const { return with({}); }
    operator std::string() const { return str(); }

private:
    const char* context_;
    const char* source_;
};

[[nodiscard]] constexpr UserText userText(const char* context, const char* source) { return {context, source}; }

// `pattern` filled with `values` (each may be a user text of its own), for texts that are only
// texts put together: "%1; %2", "%1%2".
[[nodiscard]] std::string joinedText(std::string_view pattern, std::initializer_list<std::string_view> values);

// How `text` was made, if it was made here lately (the newest few hundred distinct texts are
// kept; a text made again, or asked about, counts as new).
[[nodiscard]] std::optional<UserTextParts> partsOf(const std::string& text);

// `pattern` with %1 … %9 replaced by `values`; a placeholder without a value stays as it is.
[[nodiscard]] std::string fillPlaceholders(std::string_view pattern, const std::vector<std::string_view>& values);

}  // namespace tamborix
