#pragma once
// Settings pages a test installs by desktop id; what was opened, in order.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ports/settings_pages.h"

namespace tamborix::testing {

class FakeSettingsPages final : public SettingsPages {
public:
    void install(const std::string& desktopId, const std::string& name) { pages_[desktopId] = name; }

    [[nodiscard]] std::optional<std::string> name(const std::string& desktopId) const override {
        const auto it = pages_.find(desktopId);
        if (it == pages_.end()) return std::nullopt;
        return it->second;
    }
    [[nodiscard]] bool open(const std::string& desktopId) override {
        if (!pages_.contains(desktopId)) return false;
        opened_.push_back(desktopId);
        return true;
    }

    [[nodiscard]] const std::vector<std::string>& opened() const { return opened_; }

private:
    std::map<std::string, std::string> pages_;
    std::vector<std::string> opened_;
};

}  // namespace tamborix::testing
