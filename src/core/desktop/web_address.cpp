#include "core/desktop/web_address.h"

#include <uriparser/Uri.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "core/desktop/text_limits.h"

namespace tamborix {
namespace {

std::string_view range(const UriTextRangeA& r) {
    if (r.first == nullptr || r.afterLast == nullptr || r.afterLast < r.first) return {};
    return {r.first, static_cast<std::size_t>(r.afterLast - r.first)};
}

bool equalsLower(std::string_view s, std::string_view lower) {
    return s.size() == lower.size() &&
           std::equal(s.begin(), s.end(), lower.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

class ParsedUri {
public:
    explicit ParsedUri(std::string_view text) {
        const char* errorPos = nullptr;
        ok_ = uriParseSingleUriExA(&uri_, text.data(), text.data() + text.size(), &errorPos) ==
              URI_SUCCESS;
    }
    ~ParsedUri() { uriFreeUriMembersA(&uri_); }
    ParsedUri(const ParsedUri&) = delete;
    ParsedUri& operator=(const ParsedUri&) = delete;

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] const UriUriA& uri() const { return uri_; }

private:
    UriUriA uri_{};
    bool ok_ = false;
};

}  // namespace

bool isOpenableWebAddress(std::string_view text) {
    if (text.empty() || longerThan(text, webAddressLimit)) return false;
    ParsedUri parsed(text);
    if (!parsed.ok()) return false;
    const auto scheme = range(parsed.uri().scheme);
    if (!equalsLower(scheme, "http") && !equalsLower(scheme, "https")) return false;
    return !range(parsed.uri().hostText).empty();
}

}  // namespace tamborix
