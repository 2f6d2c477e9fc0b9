#include "core/session/desktop_commands.h"

#include <string>
#include <vector>

#include "core/desktop/laser_overlay.h"
#include "core/desktop/text_limits.h"
#include "core/desktop/web_address.h"
#include "core/session/command_args.h"
#include "core/session/connection_registry.h"
#include "core/session/core_state.h"
#include "core/session/input_commands.h"
#include "core/session/reply_fit.h"
#include "ports/clipboard.h"
#include "protocol/wire.h"

namespace tamborix {

using nlohmann::json;
namespace cmd = commands;

namespace {

constexpr const char* dryRunAppName = "Dry Run App";
constexpr const char* dryRunAppId = "org.tamborix.DryRunApp";
constexpr const char* dryRunClipboard = "dry-run clipboard";
constexpr int iconPixels = 40;

std::string schemeOf(const std::string& url) {
    const auto colon = url.find(':');
    return colon == std::string::npos ? url : url.substr(0, colon);
}

}  // namespace

DesktopCommands::DesktopCommands(MainLoop& loop, const DisplaySource& displays,
                                 Workspace& workspace, WindowControl& windows,
                                 OverlaySurface& overlay, Clipboard& clipboard,
                                 InputCommands& input, ConnectionRegistry& registry,
                                 CoreState& state, bool dryRun)
    : clipboard_(clipboard),
      input_(input),
      registry_(registry),
      state_(state),
      dryRun_(dryRun),
      overlay_(overlay),
      finder_(loop, displays, overlay),
      control_(displays, workspace, windows, input.injector().sink(), finder_) {}

void DesktopCommands::findCursor() {
    if (dryRun_) {
        input_.injector().record("find_cursor");
    } else {
        finder_.show(std::nullopt);
        if (const auto why = overlay_.unavailableReason(); !why.empty()) state_.tellOnce(overlaysMissingText(why));
    }
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
    if (const auto* url = cmd::stringMember(command, "url")) {
        if (dryRun_) {
            input_.injector().record("open url");
        } else if (!isOpenableWebAddress(*url)) {
            throw CommandRejected("not a web address");
        } else if (!control_.openWebsite(*url)) {
            throw CommandRejected("no handler for " + schemeOf(*url));
        }
    } else if (const auto* app = cmd::stringMember(command, "app")) {
        if (dryRun_) {
            input_.injector().record("open app");
        } else if (!control_.openApp(*app)) {
            throw CommandRejected("no application named " + *app);
        }
    } else {
        throw CommandRejected("url or app must be a string");
    }
}

void DesktopCommands::activate(const json& command) {
    const auto id = cmd::boundedString(command, "id", cmd::maxAppIdCharacters);
    if (dryRun_) {
        input_.injector().record("activate " + id);
    } else if (!control_.activate(id)) {
        throw CommandRejected("no open application with this id");
    }
}

void DesktopCommands::sendApps(const CommandCall& call) {
    const bool icons = cmd::optionalBool(call.command, "icons", false);
    if (dryRun_) {
        json list = json::array();
        list.push_back({{"n", dryRunAppName}, {"id", dryRunAppId}, {"f", true}});
        registry_.sendTo(call.conn, {{"t", "apps"}, {"list", std::move(list)}});
        return;
    }
    const auto apps = control_.openApps();
    std::vector<fit::App> entries;
    entries.reserve(apps.size());
    for (const auto& app : apps) entries.push_back({app.name, app.id, app.front});
    registry_.sendTo(call.conn, fit::appsMessage(entries, cmd::maxAppNameCharacters));
    if (!icons) return;
    for (const auto& app : apps) {
        const auto png = control_.iconPNG(app.app, iconPixels);
        if (!png) continue;
        json icon = {{"t", "app_icon"}, {"id", app.id}, {"png", Wire::b64std(*png)}};
        // An icon that cannot travel whole is one that could not be rendered.
        if (fit::size(icon) <= fit::maxPlaintext) registry_.sendTo(call.conn, icon);
    }
}

void DesktopCommands::setClipboard(const CommandCall& call) {
    const auto s = cmd::boundedString(call.command, "s", cmd::maxClipCharacters);
    const bool paste = cmd::optionalBool(call.command, "paste", false);
    if (dryRun_) {
        input_.injector().record("clip_set " +
                                 std::to_string(characterCount(s, cmd::maxClipCharacters)) +
                                 " paste=" + (paste ? "true" : "false"));
    } else if (!clipboard_.setText(s)) {
        const auto why = clipboard_.unavailableReason();
        throw CommandRejected(why.empty() ? "the clipboard could not be written" : why);
    }
    if (paste) input_.injector().key("v", {"primary"});
    state_.setLastEvent("Clipboard received from " + call.conn->clientName);
}

void DesktopCommands::sendClipboard(const HelperConnPtr& conn) {
    // An empty text would tell the phone the desktop's clipboard is empty.
    if (!dryRun_) {
        if (auto why = clipboard_.unavailableReason(); !why.empty()) throw CommandRejected(std::move(why));
    }
    const std::string text =
        dryRun_ ? std::string(dryRunClipboard) : clipboard_.text().value_or(std::string());
    // At most 3000 characters, and fewer where their escaped JSON would not open on the phone.
    const auto fitted = fit::longestPrefix(text, cmd::maxClipCharacters, [](const std::string& s) {
        return json{{"t", "clip"}, {"s", s}};
    });
    registry_.sendTo(conn, {{"t", "clip"}, {"s", fitted.value_or(std::string())}});
}

}  // namespace tamborix
