#pragma once
// What the session core publishes to the menu and the console: the live phones, the latest
// event, the statistics snapshot, the phones watching the screen and the front application.
// Listeners hear of every change. Main loop only.

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/change_signal.h"

namespace tamborix {

class CoreState {
public:
    struct FrontApp {
        std::string name;
        std::string id;
        friend bool operator==(const FrontApp&, const FrontApp&) = default;
    };

    enum class Property { active, lastEvent, lastStats, sharingWith, frontApp };
    using ChangeListener = std::function<void(Property)>;

    // Key: base64url of the session id; value: device name + " (" + transport + ")".
    [[nodiscard]] const std::map<std::string, std::string>& active() const noexcept {
        return active_;
    }
    [[nodiscard]] const std::optional<std::string>& lastEvent() const noexcept {
        return lastEvent_;
    }
    // What the console adds to the event line: which command was rejected and why.
    [[nodiscard]] const std::string& lastEventDetail() const noexcept { return lastEventDetail_; }
    [[nodiscard]] const nlohmann::json& lastStats() const noexcept { return lastStats_; }
    [[nodiscard]] const std::vector<std::string>& sharingWith() const noexcept {
        return sharingWith_;
    }
    [[nodiscard]] const std::optional<FrontApp>& frontApp() const noexcept { return frontApp_; }
    [[nodiscard]] Subscription subscribe(ChangeListener listener) {
        return changed_.subscribe(std::move(listener));
    }

    void setActive(const std::string& sessionKey, std::string description);
    void removeActive(const std::string& sessionKey);
    void setLastEvent(std::string text, std::string detail = {});
    void setLastStats(nlohmann::json stats);
    void setSharingWith(std::vector<std::string> names);
    void setFrontApp(FrontApp app);
    // The event line, unless this text was shown before in this run (a limit of the session,
    // told once rather than at every command that meets it).
    void tellOnce(const std::string& text);

private:
    std::map<std::string, std::string> active_;
    std::optional<std::string> lastEvent_;
    std::string lastEventDetail_;
    nlohmann::json lastStats_ = nlohmann::json::object();
    std::vector<std::string> sharingWith_;
    std::optional<FrontApp> frontApp_;
    std::set<std::string> told_;
    ChangeSignal<Property> changed_;
};

}  // namespace tamborix
