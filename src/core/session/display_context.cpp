#include "core/session/display_context.h"

#include "core/desktop/desktop_control.h"
#include "core/desktop/text_limits.h"
#include "core/session/command_args.h"
#include "core/session/connection_registry.h"
#include "core/session/input_commands.h"
#include "core/session/json_text.h"
#include "core/session/reply_fit.h"

namespace tamborix {

using nlohmann::json;
namespace cmd = commands;

namespace {

constexpr auto displayPeriod = std::chrono::milliseconds(400);
// For a workspace that cannot report activations, the front application is polled; a change
// costs one look-up of the running applications.
constexpr auto frontAppPeriod = std::chrono::milliseconds(400);
constexpr std::size_t maxAppName = 64;
constexpr std::size_t maxAppId = 128;

Bytes displaysMessage(int n, int cur) {
    return jsontext::serialize({{"t", "displays"}, {"n", n}, {"cur", cur}});
}

}  // namespace

DisplayContext::DisplayContext(MainLoop& loop, Workspace& workspace, DesktopControl& desktop,
                               DesktopActions& actions, InputCommands& input,
                               ConnectionRegistry& registry, CoreState& state)
    : loop_(loop),
      workspace_(workspace),
      desktop_(desktop),
      actions_(actions),
      input_(input),
      registry_(registry),
      state_(state) {}

DisplayContext::~DisplayContext() { stopWatching(); }

void DisplayContext::stopWatching() {
    displayTimer_.reset();
    frontAppTimer_.reset();
    frontAppWatch_.reset();
    frontAppCheck_ = nullptr;
}

std::optional<Bytes> DisplayContext::contextJSON() const {
    if (!shareFrontApp_ || !state_.frontApp()) return std::nullopt;
    // Plain references: clang before 16 cannot capture structured bindings in a lambda.
    const std::string& name = state_.frontApp()->name;
    const std::string& id = state_.frontApp()->id;
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

std::optional<Bytes> DisplayContext::displaysJSON() const {
    return displaysMessage(static_cast<int>(desktop_.displays().size()), desktop_.currentDisplay());
}

std::optional<Bytes> DisplayContext::displaysForNewPhone(const HelperConnPtr& conn) {
    // The watcher compares with what the phones were last told. When this phone is the only one,
    // what it is told now is that; with others live, a change they have not heard of yet must
    // still reach them.
    if (!registry_.othersLive(conn)) {
        lastDisplays_ = {static_cast<int>(desktop_.displays().size()), desktop_.currentDisplay()};
        return displaysMessage(lastDisplays_.first, lastDisplays_.second);
    }
    return displaysJSON();
}

void DisplayContext::pushDisplays(bool force) {
    if (registry_.empty()) return;
    const std::pair<int, int> now{static_cast<int>(desktop_.displays().size()),
                                  desktop_.currentDisplay()};
    if (!force && now == lastDisplays_) return;
    const auto message = displaysMessage(now.first, now.second);
    lastDisplays_ = now;
    registry_.pushToAll(message);
}

void DisplayContext::pushContext() {
    if (const auto context = contextJSON()) registry_.pushToAll(*context);
}

void DisplayContext::startWatchingDisplays() {
    if (!displayTimer_) displayTimer_ = loop_.repeating(displayPeriod, [this] { pushDisplays(false); });
    if (frontAppCheck_ && !frontAppWatch_ && !frontAppTimer_) {
        frontAppCheck_();
        frontAppTimer_ = loop_.repeating(frontAppPeriod, frontAppCheck_);
    }
}

void DisplayContext::stopWatchingDisplays() {
    displayTimer_.reset();
    frontAppTimer_.reset();
}

void DisplayContext::startWatchingFrontApp() {
    if (frontAppCheck_) return;
    frontAppCheck_ = [this] {
        const auto handle = workspace_.frontmost();
        if (handle == lastFrontHandle_) return;
        lastFrontHandle_ = handle;
        if (!handle) return;
        for (const auto& app : workspace_.runningApps()) {
            if (app.handle == *handle && !app.terminated) {
                updateFrontApp({app.name, app.appId}, workspace_.ownAppId());
                return;
            }
        }
    };
    frontAppCheck_();
    frontAppWatch_ = workspace_.watchFront(frontAppCheck_);
    if (!frontAppWatch_) frontAppTimer_ = loop_.repeating(frontAppPeriod, frontAppCheck_);
}

void DisplayContext::updateFrontApp(const CoreState::FrontApp& app, const std::string& ownId) {
    // The helper's own windows coming to the front are not news to the phone.
    if (app.id == ownId) return;
    state_.setFrontApp({characterPrefix(app.name.empty() ? std::string("App") : app.name, maxAppName),
                        characterPrefix(app.id, maxAppId)});
    pushContext();
}

void DisplayContext::pointer(const json& command) {
    const auto d = jsontext::integerMember(command, "d");
    if (!d || *d < 1 || *d > cmd::maxDisplay)
        throw CommandRejected("d must be a display from 1 to " + std::to_string(cmd::maxDisplay));
    if (!actions_.pointerTo(static_cast<int>(*d))) throw CommandRejected("no display " + std::to_string(*d));
    auto& injector = input_.injector();
    // The next relative move starts from where the pointer really is.
    injector.setLastPosted(std::nullopt);
    injector.setLastPostedAt(InputInjector::distantPast);
    pushDisplays(true);
}

}  // namespace tamborix
