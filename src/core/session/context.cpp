// What the phones are told without asking: the front application and the display layout; and
// the statistics snapshot.

#include <algorithm>
#include <cmath>

#include "core/desktop/text_limits.h"
#include "core/session/core_parts.h"
#include "core/session/json_text.h"
#include "core/session/reply_fit.h"
#include "perf/main_thread_lag_probe.h"

namespace tamborix {

using nlohmann::json;

namespace {

constexpr auto displayPeriod = std::chrono::milliseconds(400);
// For a workspace that cannot report activations, the front application is polled; a change
// costs one look-up of the running applications.
constexpr auto frontAppPeriod = std::chrono::milliseconds(400);
constexpr std::size_t maxAppName = 64;
constexpr std::size_t maxAppId = 128;

}  // namespace

std::optional<Bytes> HelperCore::contextJSON() const {
    if (!shareFrontApp_ || !frontApp_) return std::nullopt;
    // Plain references: clang before 16 cannot capture structured bindings in a lambda.
    const std::string& name = frontApp_->name;
    const std::string& id = frontApp_->id;
    auto message = [](const std::string& n, const std::string& i) {
        return json{{"t", "context"}, {"app", n}, {"id", i}};
    };
    // 64 and 128 characters may still be too many bytes (long grapheme clusters): the name gives
    // way first, since the phone recognises the application by its id.
    if (const auto fitted = fit::longestPrefix(name, maxAppName,
                                               [&](const std::string& n) { return message(n, id); }))
        return jsontext::serialize(message(*fitted, id));
    const auto fittedId = fit::longestPrefix(
        id, maxAppId, [&](const std::string& i) { return message(std::string(), i); });
    if (!fittedId) return std::nullopt;
    return jsontext::serialize(message(std::string(), *fittedId));
}

std::optional<Bytes> HelperCore::displaysJSON() const {
    const auto n = parts_->desktop.displays().size();
    const int cur = parts_->desktop.currentDisplay();
    return jsontext::serialize({{"t", "displays"}, {"n", n}, {"cur", cur}});
}

std::optional<Bytes> HelperCore::displaysForNewPhone(const HelperConnPtr& conn) {
    const bool othersLive = std::any_of(live_.begin(), live_.end(),
                                        [&](const auto& entry) { return entry.second != conn; });
    // The watcher compares with what the phones were last told. When this phone is the only one,
    // what it is told now is that; with others live, a change they have not heard of yet must
    // still reach them.
    if (!othersLive) {
        lastDisplays_ = {static_cast<int>(parts_->desktop.displays().size()),
                         parts_->desktop.currentDisplay()};
        return jsontext::serialize(
            {{"t", "displays"}, {"n", lastDisplays_.first}, {"cur", lastDisplays_.second}});
    }
    return displaysJSON();
}

void HelperCore::pushDisplays(bool force) {
    if (live_.empty()) return;
    const std::pair<int, int> now{static_cast<int>(parts_->desktop.displays().size()),
                                  parts_->desktop.currentDisplay()};
    if (!force && now == lastDisplays_) return;
    const auto message =
        jsontext::serialize({{"t", "displays"}, {"n", now.first}, {"cur", now.second}});
    lastDisplays_ = now;
    pushToAll(message);
}

void HelperCore::pushContext() {
    if (const auto context = contextJSON()) pushToAll(*context);
}

void HelperCore::startWatchingDisplays() {
    if (displayTimer_) return;
    displayTimer_ = loop_.repeating(displayPeriod, [this] { pushDisplays(false); });
}

void HelperCore::startWatchingFrontApp() {
    if (parts_->frontAppTimer || parts_->frontAppWatch) return;
    auto check = [this] {
        auto& workspace = parts_->services.workspace;
        const auto handle = workspace.frontmost();
        if (handle == parts_->lastFrontHandle) return;
        parts_->lastFrontHandle = handle;
        if (!handle) return;
        for (const auto& app : workspace.runningApps()) {
            if (app.handle == *handle && !app.terminated) {
                updateFrontApp(FrontApp{app.name, app.appId}, workspace.ownAppId());
                return;
            }
        }
    };
    check();
    parts_->frontAppWatch = parts_->services.workspace.watchFront(check);
    if (!parts_->frontAppWatch) parts_->frontAppTimer = loop_.repeating(frontAppPeriod, check);
}

void HelperCore::updateFrontApp(const std::optional<FrontApp>& app, const std::string& ownId) {
    if (!app) return;
    // The helper's own windows coming to the front are not news to the phone.
    if (app->id == ownId) return;
    FrontApp next{characterPrefix(app->name.empty() ? std::string("App") : app->name, maxAppName),
                  characterPrefix(app->id, maxAppId)};
    if (frontApp_ != next) {
        frontApp_ = std::move(next);
        notify(Property::frontApp);
    }
    if (const auto context = contextJSON()) pushToAll(*context);
}

json HelperCore::currentStats() {
    json stats = json::object();
    stats["t"] = "stats";
    stats["cpu"] = std::round(parts_->process.cpuPercent() * 10) / 10;
    // Whole numbers go out as JSON integers ("12", not "12.0"), which a phone may read as Int.
    stats["mem"] = std::llround(parts_->process.memoryMiB().value_or(0));
    const auto* probe = parts_->services.lagProbe;
    stats["lag"] = std::llround(probe ? probe->worstMs() : 0.0);
    stats["rx"] = framesIn_.perSecond(loop_.wallNow());
    stats["sessions"] = live_.size();
    if (transportStats_) {
        const json extra = transportStats_();
        if (extra.is_object()) {
            for (const auto& [key, value] : extra.items())
                if (!stats.contains(key)) stats[key] = value;
        }
    }
    return stats;
}

void HelperCore::refreshStats() { setLastStats(currentStats()); }

void HelperCore::setLastStats(json stats) {
    lastStats_ = std::move(stats);
    notify(Property::lastStats);
}

std::int64_t HelperCore::framesPerSecond() { return framesIn_.perSecond(loop_.wallNow()); }

}  // namespace tamborix
