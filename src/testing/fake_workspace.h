#pragma once
// A Workspace whose applications the test sets and whose every call is counted.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ports/workspace.h"

namespace tamborix::testing {

class FakeWorkspace final : public Workspace {
public:
    // Test controls.
    std::vector<RunningApp> running;
    std::optional<AppHandle> front;
    std::string ownId = "tamborix-helper.desktop";
    std::vector<InstalledApp> installed;
    std::map<AppHandle, Bytes> icons;
    bool activateResult = true;
    bool launchResult = true;
    bool openUrlResult = true;
    bool reportsChanges = false;  // else watchFront() declines and the core polls

    // Makes `handle` the front application and, when watched, reports it as the workspace would.
    void bringToFront(std::optional<AppHandle> handle);
    [[nodiscard]] bool watched() const { return static_cast<bool>(*watcher_); }

    // What happened.
    std::vector<AppHandle> unhidden;
    std::vector<AppHandle> activated;
    std::vector<std::string> launched;  // application ids
    std::vector<std::string> openedUrls;
    mutable int calls = 0;  // every call of the port, reads included

    [[nodiscard]] std::vector<RunningApp> runningApps() const override;
    [[nodiscard]] std::optional<AppHandle> frontmost() const override;
    [[nodiscard]] std::string ownAppId() const override;
    [[nodiscard]] std::unique_ptr<FrontWatch> watchFront(std::function<void()> changed) override;
    void unhide(const RunningApp& app) override;
    [[nodiscard]] bool activate(const RunningApp& app) override;
    [[nodiscard]] std::optional<InstalledApp> findApp(std::string_view appId) const override;
    [[nodiscard]] std::vector<InstalledApp> installedApps() const override;
    [[nodiscard]] bool launch(const InstalledApp& app) override;
    [[nodiscard]] bool openUrl(const std::string& url) override;
    [[nodiscard]] std::optional<Bytes> iconPNG(const RunningApp& app, int px) const override;

private:
    std::shared_ptr<std::function<void()>> watcher_ = std::make_shared<std::function<void()>>();
};

}  // namespace tamborix::testing
