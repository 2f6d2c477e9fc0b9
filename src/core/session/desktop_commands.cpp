#include "core/session/desktop_commands.h"

#include <string>
#include <vector>

#include "core/desktop/laser_overlay.h"
#include "core/session/command_args.h"
#include "core/session/connection_registry.h"
#include "core/session/core_state.h"
#include "core/session/input_commands.h"
#include "core/session/reply_fit.h"
#include "protocol/wire.h"

namespace tamborix {

using nlohmann::json;
namespace cmd = commands;

namespace {

constexpr int iconPixels = 40;

}  // namespace

DesktopCommands::DesktopCommands(DesktopControl& control, DesktopActions& desktop, InputCommands& input,
                                 ConnectionRegistry& registry, CoreState& state)
    : desktop_(desktop), input_(input), registry_(registry), state_(state), control_(control) {}

void DesktopCommands::findCursor() {
    if (const auto why = desktop_.findCursor(); !why.empty()) state_.tellOnce(overlaysMissingText(why));
}

void DesktopCommands::window(const json& command) {
    const auto* op = cmd::stringMember(command, "op");
    if (op == nullptr || !cmd::windowOps().contains(*op)) throw CommandRejected("op is not a window placement");
    if (!control_.window(*op)) {
        // A placement that failed for want of a front window goes unremarked; one this session
        // can never make is refused with the reason.
        if (auto why = control_.windowsUnavailable(); !why.empty()) throw CommandRejected(std::move(why));
    }
}

void DesktopCommands::open(const json& command) {
    std::string why;
    if (const auto* url = cmd::stringMember(command, "url")) {
        why = desktop_.openUrl(*url);
    } else if (const auto* app = cmd::stringMember(command, "app")) {
        why = desktop_.openApp(*app);
    } else {
        why = "url or app must be a string";
    }
    if (!why.empty()) throw CommandRejected(std::move(why));
}

void DesktopCommands::activate(const json& command) {
    const auto id = cmd::boundedString(command, "id", cmd::maxAppIdCharacters);
    if (auto why = desktop_.activate(id); !why.empty()) throw CommandRejected(std::move(why));
}

void DesktopCommands::sendApps(const CommandCall& call) {
    const bool icons = cmd::optionalBool(call.command, "icons", false);
    const auto apps = desktop_.openApps();
    std::vector<fit::App> entries;
    entries.reserve(apps.size());
    for (const auto& app : apps) entries.push_back({app.name, app.id, app.front});
    registry_.sendTo(call.conn, fit::appsMessage(entries, cmd::maxAppNameCharacters));
    if (!icons) return;
    for (const auto& app : apps) {
        const auto png = desktop_.icon(app, iconPixels);
        if (!png) continue;
        json icon = {{"t", "app_icon"}, {"id", app.id}, {"png", Wire::b64std(*png)}};
        // An icon that cannot travel whole is one that could not be rendered.
        if (fit::size(icon) <= fit::maxPlaintext) registry_.sendTo(call.conn, icon);
    }
}

void DesktopCommands::setClipboard(const CommandCall& call) {
    const auto s = cmd::boundedString(call.command, "s", cmd::maxClipCharacters);
    const bool paste = cmd::optionalBool(call.command, "paste", false);
    if (auto why = desktop_.setClipboard(s, paste); !why.empty()) throw CommandRejected(std::move(why));
    if (paste) input_.actions().key("v", {"primary"});
    state_.setLastEvent("Clipboard received from " + call.conn->clientName);
}

void DesktopCommands::sendClipboard(const HelperConnPtr& conn) {
    auto clip = desktop_.clipboardText();
    if (!clip.why.empty()) throw CommandRejected(std::move(clip.why));
    // At most 3000 characters, and fewer where their escaped JSON would not open on the phone.
    const auto fitted = fit::longestPrefix(clip.text, cmd::maxClipCharacters, [](const std::string& s) {
        return json{{"t", "clip"}, {"s", s}};
    });
    registry_.sendTo(conn, {{"t", "clip"}, {"s", fitted.value_or(std::string())}});
}

}  // namespace tamborix
