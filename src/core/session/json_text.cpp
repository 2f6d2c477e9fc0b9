#include "core/session/json_text.h"

#include <cmath>

namespace tamborix::jsontext {

using nlohmann::json;

json parseContainer(ByteView text) {
    std::size_t i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
    if (i == text.size() || (text[i] != '{' && text[i] != '['))
        throw json::parse_error::create(101, i + 1, "expected an object or an array", nullptr);
    return json::parse(text.begin(), text.end());
}

Bytes serialize(const json& value) {
    const auto text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    return Bytes(text.begin(), text.end());
}

std::optional<std::int64_t> integer(const json& value) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned() &&
            value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
            return std::nullopt;
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        // 2^63 is the first double outside int64's range.
        if (!std::isfinite(d) || d != std::trunc(d) || d < -9.2233720368547758e18 ||
            d >= 9.2233720368547758e18)
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

bool isIntegral(const json& value) {
    if (value.is_number_integer()) return true;
    if (!value.is_number_float()) return false;
    const double d = value.get<double>();
    return std::isfinite(d) && d == std::trunc(d);
}

std::optional<std::int64_t> integerMember(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    return integer(*it);
}

}  // namespace tamborix::jsontext
