#include "testing/fake_workspace.h"

namespace tamborix::testing {

std::vector<RunningApp> FakeWorkspace::runningApps() const {
    ++calls;
    return running;
}

std::optional<AppHandle> FakeWorkspace::frontmost() const {
    ++calls;
    return front;
}

std::string FakeWorkspace::ownAppId() const {
    ++calls;
    return ownId;
}

std::unique_ptr<Workspace::FrontWatch> FakeWorkspace::watchFront(std::function<void()> changed) {
    ++calls;
    if (!reportsChanges) return nullptr;
    struct Watch final : FrontWatch {
        std::weak_ptr<std::function<void()>> slot;
        ~Watch() override {
            if (auto s = slot.lock()) *s = nullptr;
        }
    };
    *watcher_ = std::move(changed);
    auto watch = std::make_unique<Watch>();
    watch->slot = watcher_;
    return watch;
}

void FakeWorkspace::bringToFront(std::optional<AppHandle> handle) {
    front = handle;
    if (*watcher_) (*watcher_)();
}

void FakeWorkspace::unhide(const RunningApp& app) {
    ++calls;
    unhidden.push_back(app.handle);
}

bool FakeWorkspace::activate(const RunningApp& app) {
    ++calls;
    activated.push_back(app.handle);
    return activateResult;
}

std::optional<InstalledApp> FakeWorkspace::findApp(std::string_view appId) const {
    ++calls;
    for (const auto& app : installed) {
        if (app.appId == appId) return app;
    }
    return std::nullopt;
}

std::vector<InstalledApp> FakeWorkspace::installedApps() const {
    ++calls;
    return installed;
}

bool FakeWorkspace::launch(const InstalledApp& app) {
    ++calls;
    launched.push_back(app.appId);
    return launchResult;
}

bool FakeWorkspace::openUrl(const std::string& url) {
    ++calls;
    openedUrls.push_back(url);
    return openUrlResult;
}

std::optional<Bytes> FakeWorkspace::iconPNG(const RunningApp& app, int) const {
    ++calls;
    auto it = icons.find(app.handle);
    if (it == icons.end()) return std::nullopt;
    return it->second;
}

}  // namespace tamborix::testing
