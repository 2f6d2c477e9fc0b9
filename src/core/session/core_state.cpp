#include "core/session/core_state.h"

#include <utility>

namespace tamborix {

void CoreState::setActive(const std::string& sessionKey, std::string description) {
    active_[sessionKey] = std::move(description);
    changed_.notify(Property::active);
}

void CoreState::removeActive(const std::string& sessionKey) {
    if (active_.erase(sessionKey) > 0) changed_.notify(Property::active);
}

void CoreState::setLastEvent(std::string text, std::string detail) {
    lastEvent_ = std::move(text);
    lastEventDetail_ = std::move(detail);
    changed_.notify(Property::lastEvent);
}

void CoreState::tellOnce(const std::string& text) {
    if (told_.insert(text).second) setLastEvent(text);
}

void CoreState::setLastStats(nlohmann::json stats) {
    lastStats_ = std::move(stats);
    changed_.notify(Property::lastStats);
}

void CoreState::setSharingWith(std::vector<std::string> names) {
    if (names == sharingWith_) return;
    sharingWith_ = std::move(names);
    changed_.notify(Property::sharingWith);
}

void CoreState::setFrontApp(FrontApp app) {
    if (frontApp_ == app) return;
    frontApp_ = std::move(app);
    changed_.notify(Property::frontApp);
}

}  // namespace tamborix
