#include "app/translate.h"

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
    const std::vector<std::string_view> v(values);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Single digits only: no text has more than nine values.
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(text[i + 1] - '1');
            if (n < v.size()) {
                out += v[n];
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

}  // namespace tamborix
