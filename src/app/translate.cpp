#include "app/translate.h"

#include "base/user_text.h"

#include <utility>
#include <vector>

namespace tamborix {

namespace {
Translator& current() {
    static Translator translator;
    return translator;
}
}  // namespace

void setTranslator(Translator translator) { current() = std::move(translator); }

std::string translate(const char* context, const char* source) {
    if (const auto& t = current()) return t(context, source);
    return source;
}

std::string fillIn(std::string_view text, std::initializer_list<std::string_view> values) {
    return fillPlaceholders(text, std::vector<std::string_view>(values));
}

namespace {
// Texts nest a few deep at most (a backend's reason in the list of those tried in the backend
// line); the limit only guards against a text that a later one replaced with itself inside.
constexpr int deepestText = 8;

std::string localised(const std::string& text, int depth) {
    auto parts = depth < deepestText ? partsOf(text) : std::nullopt;
    if (!parts) return text;
    std::vector<std::string> values;
    values.reserve(parts->values.size());
    for (const auto& v : parts->values) values.push_back(localised(v, depth + 1));
    const std::string pattern =
        parts->context.empty() ? parts->source : translate(parts->context.c_str(), parts->source.c_str());
    return fillPlaceholders(pattern, std::vector<std::string_view>(values.begin(), values.end()));
}
}  // namespace

std::string localise(const std::string& text) { return localised(text, 0); }

}  // namespace tamborix
