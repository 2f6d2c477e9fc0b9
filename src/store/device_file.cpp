#include "store/device_file.h"

#include <cmath>
#include <algorithm>
#include <exception>
#include <stdexcept>
#include <nlohmann/json.hpp>

#include "protocol/wire.h"
#include "store/display_name.h"

namespace tamborix::deviceFile {
namespace {

using nlohmann::json;

// Far more than a 32-byte key needs, so an over-long key is dropped as a record rather than
// spoiling the whole file.
constexpr std::size_t storedKeyTextLimit = 4096;

// A date outside this range (about ±290 years around 1970 in nanoseconds) cannot be represented.
constexpr double maxAbsSeconds = 9.0e9;

const json& member(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) throw std::runtime_error(std::string("missing ") + key);
    return *it;
}

const std::string& stringMember(const json& object, const char* key) {
    const auto& value = member(object, key);
    if (!value.is_string()) throw std::runtime_error(std::string("not a string: ") + key);
    return value.get_ref<const std::string&>();
}

double numberMember(const json& object, const char* key) {
    const auto& value = member(object, key);
    if (!value.is_number()) throw std::runtime_error(std::string("not a number: ") + key);
    // Dates beyond what the clock can hold are clamped rather than costing the user the device.
    return value.get<double>();
}

PairedDevice decodeRecord(const json& object) {
    if (!object.is_object()) throw std::runtime_error("record is not an object");
    PairedDevice device;
    device.id = stringMember(object, "id");
    device.name = cleanDisplayName(stringMember(object, "name"));
    device.pub = Wire::b64d(stringMember(object, "pub"), storedKeyTextLimit);
    auto scope = scopeFromName(stringMember(object, "scope"));
    if (!scope) throw std::runtime_error("unknown scope");
    device.scope = *scope;
    device.added = fromStoredSeconds(numberMember(object, "added"));
    device.lastSeen = fromStoredSeconds(numberMember(object, "lastSeen"));
    if (auto it = object.find("screen"); it != object.end()) {
        // Absent means undecided; a null written by hand means the same.
        if (it->is_boolean()) {
            device.screen = it->get<bool>();
        } else if (!it->is_null()) {
            throw std::runtime_error("screen is not a boolean");
        }
    }
    return device;
}

}  // namespace

// Whole seconds and the fraction are converted apart, so the double keeps all the precision it
// can hold and a millisecond date survives a save and load exactly.
double toStoredSeconds(WallTime t) {
    using namespace std::chrono;
    const auto since = duration_cast<nanoseconds>(t.time_since_epoch()) -
                       std::chrono::seconds(static_cast<std::int64_t>(referenceEpoch));
    const auto whole = floor<std::chrono::seconds>(since);
    return static_cast<double>(whole.count()) +
           static_cast<double>((since - whole).count()) / 1e9;
}

WallTime fromStoredSeconds(double s) {
    if (!std::isfinite(s)) s = 0;
    return fromUnixSeconds(std::clamp(s, -maxAbsSeconds, maxAbsSeconds) + referenceEpoch);
}

WallTime fromUnixSeconds(double s) {
    using namespace std::chrono;
    if (!std::isfinite(s)) s = 0;
    s = std::clamp(s, -maxAbsSeconds, maxAbsSeconds);
    const double whole = std::floor(s);
    const auto ns = std::chrono::seconds(static_cast<std::int64_t>(whole)) +
                    nanoseconds(std::llround((s - whole) * 1e9));
    return WallTime{} + duration_cast<WallTime::duration>(ns);
}

bool intact(const PairedDevice& device) {
    return device.pub.size() == Wire::keyLength && device.id == Wire::deviceID(device.pub);
}

std::string encode(const std::vector<PairedDevice>& devices, bool pretty) {
    json array = json::array();
    for (const auto& d : devices) {
        json object = {
            {"id", d.id},
            {"name", d.name},
            {"pub", Wire::b64std(d.pub)},
            {"scope", std::string(scopeName(d.scope))},
            {"added", toStoredSeconds(d.added)},
            {"lastSeen", toStoredSeconds(d.lastSeen)},
        };
        if (d.screen) object["screen"] = *d.screen;
        array.push_back(std::move(object));
    }
    // Names arrive from phones; replace rather than refuse a broken UTF-8 sequence.
    return array.dump(pretty ? 2 : -1, ' ', false, json::error_handler_t::replace);
}

std::optional<std::vector<PairedDevice>> decode(std::string_view text) {
    try {
        const auto root = json::parse(text);
        if (!root.is_array()) return std::nullopt;
        std::vector<PairedDevice> devices;
        devices.reserve(root.size());
        for (const auto& object : root) {
            auto device = decodeRecord(object);
            if (intact(device)) devices.push_back(std::move(device));
        }
        return devices;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace tamborix::deviceFile
