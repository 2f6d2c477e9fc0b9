#include "core/session/reply_fit.h"

#include <vector>

#include "core/desktop/text_limits.h"
#include "core/session/json_text.h"

namespace tamborix::fit {

using nlohmann::json;

std::size_t size(const json& message) { return jsontext::serialize(message).size(); }

std::optional<std::string> longestPrefix(std::string_view text, std::size_t maxCharacters,
                                         const std::function<json(const std::string&)>& build,
                                         std::size_t limit) {
    std::string whole = characterPrefix(text, maxCharacters);
    if (size(build(whole)) <= limit) return whole;
    if (size(build(std::string())) > limit) return std::nullopt;
    // The size grows with every character, so the longest fitting prefix is found by halving.
    std::size_t fits = 0;
    std::size_t fails = characterCount(whole, maxCharacters);
    std::string best;
    while (fails - fits > 1) {
        const std::size_t mid = fits + (fails - fits) / 2;
        std::string candidate = characterPrefix(whole, mid);
        if (size(build(candidate)) <= limit) {
            fits = mid;
            best = std::move(candidate);
        } else {
            fails = mid;
        }
    }
    return best;
}

namespace {

json appsWith(const std::vector<App>& apps, std::size_t count, std::size_t nameCharacters) {
    json list = json::array();
    for (std::size_t i = 0; i < count && i < apps.size(); ++i) {
        list.push_back({{"n", characterPrefix(apps[i].name, nameCharacters)},
                        {"id", apps[i].id},
                        {"f", apps[i].front}});
    }
    return {{"t", "apps"}, {"list", std::move(list)}};
}

}  // namespace

json appsMessage(const std::vector<App>& apps, std::size_t maxName, std::size_t limit) {
    auto message = appsWith(apps, apps.size(), maxName);
    if (size(message) <= limit) return message;
    // Shorter names for every entry first: the phone still sees each application.
    std::size_t fits = 0;
    std::size_t fails = maxName;
    if (size(appsWith(apps, apps.size(), 0)) <= limit) {
        while (fails - fits > 1) {
            const std::size_t mid = fits + (fails - fits) / 2;
            (size(appsWith(apps, apps.size(), mid)) <= limit ? fits : fails) = mid;
        }
        return appsWith(apps, apps.size(), fits);
    }
    // Even bare ids are too many: the first entries that fit, with their names as far as they go.
    std::size_t count = apps.size();
    while (count > 0 && size(appsWith(apps, count, 0)) > limit) --count;
    fits = 0;
    fails = maxName + 1;
    while (fails - fits > 1) {
        const std::size_t mid = fits + (fails - fits) / 2;
        (size(appsWith(apps, count, mid)) <= limit ? fits : fails) = mid;
    }
    return appsWith(apps, count, fits);
}

}  // namespace tamborix::fit
