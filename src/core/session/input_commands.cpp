#include "core/session/input_commands.h"

#include <map>
#include <vector>

#include "core/session/command_args.h"
#include "core/session/json_text.h"

namespace tamborix {

using nlohmann::json;
namespace cmd = commands;

namespace {

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

}  // namespace

InputCommands::InputCommands(MainLoop& loop, InputSink& sink, const DisplaySource& displays,
                             LaserOverlay& laser, DesktopActions& desktop, InputActions* wholeActions)
    : loop_(loop),
      injector_(loop, sink, displays),
      actions_(wholeActions != nullptr ? *wholeActions : injector_),
      laser_(laser),
      desktop_(desktop) {
    injector_.setOnMove([this](Point p) {
        if (laser_.isOn()) laser_.onInjectedMove(p);
    });
}

Smoother& InputCommands::smoother() {
    if (!smoother_) smoother_ = std::make_unique<Smoother>(loop_, actions_);
    return *smoother_;
}

void InputCommands::moveBy(double dx, double dy) {
    smoother().add(cmd::clampDelta(dx), cmd::clampDelta(dy));
}

void InputCommands::landPendingMotion() {
    if (smoother_) smoother_->flush();
}

void InputCommands::connectionEnded(bool nobodyLeft) {
    if (nobodyLeft && laser_.isOn()) laser_.setOn(false);
    landPendingMotion();
    actions_.releaseAll();
}

void InputCommands::move(const json& command) {
    smoother().add(cmd::num(command, "dx"), cmd::num(command, "dy"));
}

void InputCommands::click(const json& command) {
    const auto b = cmd::button(command);
    int n = 1;
    if (const auto it = command.find("n"); it != command.end()) {
        const auto count = jsontext::integer(*it);
        if (!count || *count < 1 || *count > 3) throw CommandRejected("n must be 1, 2 or 3");
        n = static_cast<int>(*count);
    }
    actions_.click(b, n);
}

void InputCommands::down(const json& command) { actions_.down(cmd::button(command)); }

void InputCommands::up(const json& command) { actions_.up(cmd::button(command)); }

void InputCommands::scroll(const json& command) {
    const double dx = cmd::num(command, "dx");
    const double dy = cmd::num(command, "dy");
    actions_.scroll(dx, dy);
}

void InputCommands::key(const json& command) {
    const auto it = command.find("k");
    const auto k = cmd::validKey(it == command.end() ? nullptr : &*it);
    const auto mods = cmd::modifiers(command);
    actions_.key(k, mods);
}

void InputCommands::text(const json& command) {
    actions_.text(cmd::boundedString(command, "s", cmd::maxTextCharacters));
}

void InputCommands::action(const json& command) {
    const auto* a = cmd::stringMember(command, "a");
    const std::string name = a ? *a : std::string();
    if (name.empty() || name == "none") return;
    if (name == "left_click") return actions_.click("left", 1);
    if (name == "right_click") return actions_.click("right", 1);
    if (name == "middle_click") return actions_.click("middle", 1);
    if (name == "double_click") return actions_.click("left", 2);
    if (name == "scroll_up") return actions_.scroll(0, -300);
    if (name == "scroll_down") return actions_.scroll(0, 300);
    const auto it = actionKeys().find(name);
    if (it == actionKeys().end()) throw CommandRejected("no action named " + std::string(name));
    actions_.key(it->second.key, it->second.mods);
}

void InputCommands::laser(const json& command) {
    const bool on = cmd::requiredBool(command, "on");
    if (const auto why = desktop_.laser(on); !why.empty() && overlayMissing_) overlayMissing_(overlaysMissingText(why));
    smoother().setGlide(on ? 0.5 : 1.0);
}

}  // namespace tamborix
