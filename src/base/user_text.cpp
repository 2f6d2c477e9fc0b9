#include "base/user_text.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace tamborix {

namespace {

// Enough for every reason a session shows at once many times over; a text that varies with each
// event (a character that could not be typed) pushes out only the longest unused.
constexpr std::size_t keptTexts = 512;

struct Kept {
    UserTextParts parts;
    std::uint64_t used = 0;
};

class Memory {
public:
    void keep(const std::string& text, UserTextParts parts) {
        const std::lock_guard lock(mutex_);
        auto& kept = texts_[text];
        kept.parts = std::move(parts);
        kept.used = ++clock_;
        if (texts_.size() > keptTexts) {
            const auto oldest = std::ranges::min_element(texts_, {}, [](const auto& e) { return e.second.used; });
            texts_.erase(oldest);
        }
    }

    std::optional<UserTextParts> find(const std::string& text) {
        const std::lock_guard lock(mutex_);
        const auto it = texts_.find(text);
        if (it == texts_.end()) return std::nullopt;
        it->second.used = ++clock_;
        return it->second.parts;
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::string, Kept> texts_;
    std::uint64_t clock_ = 0;
};

Memory& memory() {
    static Memory m;
    return m;
}

std::string made(std::string context, std::string_view pattern, std::initializer_list<std::string_view> values) {
    const std::vector<std::string_view> v(values);
    std::string text = fillPlaceholders(pattern, v);
    // A text that is one of its values unchanged ("%1" and an empty "%2") is that value's text.
    if (std::ranges::find(v, std::string_view(text)) != v.end()) return text;
    memory().keep(text, UserTextParts{std::move(context), std::string(pattern), {v.begin(), v.end()}});
    return text;
}

}  // namespace

std::string fillPlaceholders(std::string_view pattern, const std::vector<std::string_view>& values) {
    std::string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        // Single digits only: no text has more than nine values.
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (n < values.size()) {
                out += values[n];
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::string UserText::with(std::initializer_list<std::string_view> values) const {
    return made(context_, source_, values);
}

std::string joinedText(std::string_view pattern, std::initializer_list<std::string_view> values) {
    return made({}, pattern, values);
}

std::optional<UserTextParts> partsOf(const std::string& text) { return memory().find(text); }

}  // namespace tamborix
