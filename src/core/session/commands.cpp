// One command of an authenticated connection: the scope gate, the argument checks and the
// dispatch to input, desktop, laser, clipboard and screen.

#include <cmath>
#include <map>
#include <utility>

#include "core/desktop/text_limits.h"
#include "core/session/command_args.h"
#include "core/session/core_parts.h"
#include "core/session/json_text.h"
#include "core/session/move_frame.h"
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

struct Chord {
    const char* key;
    std::vector<std::string> mods;
};

const std::map<std::string, Chord, std::less<>>& actionKeys() {
    static const std::map<std::string, Chord, std::less<>> table{
        // Plain keys.
        {"next_slide", {"right", {}}},
        {"prev_slide", {"left", {}}},
        {"end_presentation", {"esc", {}}},
        {"escape", {"esc", {}}},
        {"black_screen", {"b", {}}},
        {"white_screen", {"w", {}}},
        {"page_down", {"page_down", {}}},
        {"page_up", {"page_up", {}}},
        {"space", {"space", {}}},
        {"enter", {"enter", {}}},
        {"tab", {"tab", {}}},
        {"arrow_up", {"up", {}}},
        {"arrow_down", {"down", {}}},
        {"arrow_left", {"left", {}}},
        {"arrow_right", {"right", {}}},
        {"play_pause", {"media_play_pause", {}}},
        {"next_track", {"media_next", {}}},
        {"prev_track", {"media_previous", {}}},
        {"volume_up", {"media_volume_up", {}}},
        {"volume_down", {"media_volume_down", {}}},
        {"mute", {"media_volume_mute", {}}},
        // Chords, as the Linux desktops bind them.
        {"start_presentation", {"f5", {}}},
        {"start_from_current", {"f5", {"shift"}}},
        {"app_switcher", {"tab", {"alt"}}},
        {"mission_control", {"super", {}}},
        {"show_desktop", {"d", {"cmd"}}},
        {"close_window", {"w", {"primary"}}},
        {"browser_back", {"left", {"alt"}}},
        {"browser_forward", {"right", {"alt"}}},
        {"copy", {"c", {"primary"}}},
        {"paste", {"v", {"primary"}}},
        {"undo", {"z", {"primary"}}},
        {"zoom_in", {"=", {"primary"}}},
        {"zoom_out", {"-", {"primary"}}},
        {"screenshot", {"print", {}}},
    };
    return table;
}

std::string boolText(bool b) { return b ? "true" : "false"; }

}  // namespace

void HelperCore::action(const std::string& name) {
    auto& injector = parts_->injector;
    if (name.empty() || name == "none") return;
    if (name == "left_click") return injector.click("left", 1);
    if (name == "right_click") return injector.click("right", 1);
    if (name == "middle_click") return injector.click("middle", 1);
    if (name == "double_click") return injector.click("left", 2);
    if (name == "scroll_up") return injector.scroll(0, -300);
    if (name == "scroll_down") return injector.scroll(0, 300);
    const auto it = actionKeys().find(name);
    if (it == actionKeys().end()) throw Rejected();
    injector.key(it->second.key, it->second.mods);
}

void HelperCore::runMove(const MoveFrame& move, PairedDevice::Scope scope) {
    // The same gate and limits as a move through run().
    if (scope == PairedDevice::Scope::presenter && !cmd::presenterTypes().contains("move"))
        throw Rejected();
    smoother().add(cmd::clampDelta(move.dx), cmd::clampDelta(move.dy));
}

void HelperCore::run(const json& command, PairedDevice::Scope scope, const HelperConnPtr& conn) {
    const auto* typePtr = cmd::stringMember(command, "t");
    if (typePtr == nullptr) throw Rejected();
    const std::string& t = *typePtr;
    if (scope == PairedDevice::Scope::presenter && !cmd::presenterAllows(command, t))
        throw Rejected();

    if (t == "move") {
        smoother().add(cmd::num(command, "dx"), cmd::num(command, "dy"));
        return;
    }
    // Pending motion lands before whatever this command does, even if it is then refused.
    if (parts_->smoother) parts_->smoother->flush();

    auto& injector = parts_->injector;
    auto& desktop = parts_->desktop;

    if (t == "click") {
        const auto b = cmd::button(command);
        int n = 1;
        if (const auto it = command.find("n"); it != command.end()) {
            const auto count = jsontext::integer(*it);
            if (!count || *count < 1 || *count > 3) throw Rejected();
            n = static_cast<int>(*count);
        }
        injector.click(b, n);
    } else if (t == "down") {
        injector.down(cmd::button(command));
    } else if (t == "up") {
        injector.up(cmd::button(command));
    } else if (t == "scroll") {
        const double dx = cmd::num(command, "dx");
        const double dy = cmd::num(command, "dy");
        injector.scroll(dx, dy);
    } else if (t == "key") {
        const auto it = command.find("k");
        const auto k = cmd::validKey(it == command.end() ? nullptr : &*it);
        const auto mods = cmd::modifiers(command);
        injector.key(k, mods);
    } else if (t == "text") {
        injector.text(cmd::boundedString(command, "s", cmd::maxTextCharacters));
    } else if (t == "action") {
        const auto* a = cmd::stringMember(command, "a");
        action(a ? *a : std::string());
    } else if (t == "pointer") {
        const auto d = jsontext::integerMember(command, "d");
        if (!d || *d < 1 || *d > cmd::maxDisplay) throw Rejected();
        if (dryRun_) {
            injector.record("pointer " + std::to_string(*d));
        } else if (!desktop.jump(static_cast<int>(*d))) {
            throw Rejected();
        }
        // The next relative move starts from where the pointer really is.
        injector.setLastPosted(std::nullopt);
        injector.setLastPostedAt(InputInjector::distantPast);
        pushDisplays(true);
    } else if (t == "laser") {
        const bool on = cmd::requiredBool(command, "on");
        if (dryRun_) {
            injector.record("laser " + boolText(on));
        } else {
            parts_->laser.setOn(on);
        }
        smoother().setGlide(on ? 0.5 : 1.0);
    } else if (t == "screen") {
        const bool on = cmd::requiredBool(command, "on");
        const auto* mode = cmd::stringMember(command, "mode");
        const bool cursorMode = mode && *mode == "cursor";
        std::int64_t d = 0;
        if (const auto it = command.find("d"); it != command.end()) {
            if (const auto value = jsontext::integer(*it)) {
                if (*value < 0 || *value > cmd::maxDisplay) throw Rejected();
                d = *value;
            } else if (jsontext::isIntegral(*it)) {
                throw Rejected();  // an integer too large even for int64 is out of range too
            }
        }
        if (on) {
            startScreen(conn, cursorMode, static_cast<int>(d));
        } else {
            stopScreen(conn);
        }
    } else if (t == "scr_ack") {
        const auto id = jsontext::integerMember(command, "id");
        if (!id) throw Rejected();
        if (const auto it = parts_->streamers.find(conn->session->sid());
            it != parts_->streamers.end())
            it->second->ack(*id);
    } else if (t == "tap") {
        const auto id = jsontext::integerMember(command, "id");
        const auto x = command.find("x");
        const auto y = command.find("y");
        if (!id || x == command.end() || !x->is_number() ||
            y == command.end() || !y->is_number())
            throw Rejected();
        const auto it = parts_->streamers.find(conn->session->sid());
        if (it == parts_->streamers.end()) throw Rejected();
        const auto p = it->second->point(*id, x->get<double>(), y->get<double>());
        if (!p) throw Rejected();
        if (dryRun_) {
            injector.record("tap " + std::to_string(static_cast<long long>(std::trunc(p->x))) +
                            "," + std::to_string(static_cast<long long>(std::trunc(p->y))));
        } else {
            injector.sink().warp(*p);
            injector.setLastPosted(*p);
            injector.setLastPostedAt(loop_.now());
        }
        if (cmd::optionalBool(command, "click", false)) injector.click("left", 1);
    } else if (t == "open") {
        if (const auto* url = cmd::stringMember(command, "url")) {
            if (dryRun_) {
                injector.record("open url");
            } else if (!desktop.openWebsite(*url)) {
                throw Rejected();
            }
        } else if (const auto* app = cmd::stringMember(command, "app")) {
            if (dryRun_) {
                injector.record("open app");
            } else if (!desktop.openApp(*app)) {
                throw Rejected();
            }
        } else {
            throw Rejected();
        }
    } else if (t == "stats_get") {
        sendTo(conn, currentStats());
    } else if (t == "find_cursor") {
        if (dryRun_) {
            injector.record("find_cursor");
        } else {
            parts_->finder.show(std::nullopt);
        }
    } else if (t == "window") {
        const auto* op = cmd::stringMember(command, "op");
        if (op == nullptr || !cmd::windowOps().contains(*op)) throw Rejected();
        if (dryRun_) {
            injector.record("window " + *op);
        } else {
            (void)desktop.window(*op);
        }
    } else if (t == "clip_set") {
        const auto s = cmd::boundedString(command, "s", cmd::maxClipCharacters);
        const bool paste = cmd::optionalBool(command, "paste", false);
        if (dryRun_) {
            injector.record("clip_set " + std::to_string(characterCount(s, cmd::maxClipCharacters)) +
                            " paste=" + boolText(paste));
        } else {
            (void)parts_->services.clipboard.setText(s);
        }
        if (paste) injector.key("v", {"primary"});
        setLastEvent("Clipboard received from " + conn->clientName);
    } else if (t == "apps_get") {
        const bool icons = cmd::optionalBool(command, "icons", false);
        json list = json::array();
        if (dryRun_) {
            list.push_back({{"n", dryRunAppName}, {"id", dryRunAppId}, {"f", true}});
            sendTo(conn, {{"t", "apps"}, {"list", std::move(list)}});
            return;
        }
        const auto apps = desktop.openApps();
        std::vector<fit::App> entries;
        entries.reserve(apps.size());
        for (const auto& app : apps) entries.push_back({app.name, app.id, app.front});
        sendTo(conn, fit::appsMessage(entries, cmd::maxAppNameCharacters));
        if (!icons) return;
        for (const auto& app : apps) {
            const auto png = desktop.iconPNG(app.app, iconPixels);
            if (!png) continue;
            json icon = {{"t", "app_icon"}, {"id", app.id}, {"png", Wire::b64std(*png)}};
            // An icon that cannot travel whole is one that could not be rendered.
            if (fit::size(icon) <= fit::maxPlaintext) sendTo(conn, icon);
        }
    } else if (t == "app_activate") {
        const auto id = cmd::boundedString(command, "id", cmd::maxAppIdCharacters);
        if (dryRun_) {
            injector.record("activate " + id);
        } else if (!desktop.activate(id)) {
            throw Rejected();
        }
    } else if (t == "clip_get") {
        const std::string text = dryRun_ ? std::string(dryRunClipboard)
                                         : parts_->services.clipboard.text().value_or(std::string());
        // At most 3000 characters, and fewer where their escaped JSON would not open on the phone.
        const auto fitted = fit::longestPrefix(text, cmd::maxClipCharacters, [](const std::string& s) {
            return json{{"t", "clip"}, {"s", s}};
        });
        sendTo(conn, {{"t", "clip"}, {"s", fitted.value_or(std::string())}});
    } else {
        throw Rejected();
    }
}

}  // namespace tamborix
