#include "core/session/command_table.h"

#include <algorithm>
#include <array>

#include "core/session/command_args.h"
#include "core/session/desktop_commands.h"
#include "core/session/display_context.h"
#include "core/session/input_commands.h"
#include "core/session/screen_sharing.h"
#include "core/session/session_stats.h"

namespace tamborix {

namespace {

using P = PresenterScope;
using H = CommandHandlers;
using C = CommandCall;

const std::array table{
    CommandEntry{"move", P::allowed, [](H& h, const C& c) { h.input.move(c.command); },
                "move the pointer by dx, dy", false},
    CommandEntry{"click", P::allowed, [](H& h, const C& c) { h.input.click(c.command); },
                "click button b (left, right, middle) n times (1-3)"},
    CommandEntry{"down", P::allowed, [](H& h, const C& c) { h.input.down(c.command); },
                "press button b and hold it"},
    CommandEntry{"up", P::allowed, [](H& h, const C& c) { h.input.up(c.command); },
                "release button b"},
    CommandEntry{"scroll", P::allowed, [](H& h, const C& c) { h.input.scroll(c.command); },
                "scroll by dx, dy"},
    CommandEntry{"key", P::refused, [](H& h, const C& c) { h.input.key(c.command); },
                "type key k with the modifiers mods"},
    CommandEntry{"text", P::refused, [](H& h, const C& c) { h.input.text(c.command); },
                "type the text s"},
    CommandEntry{"action", P::presenterActions, [](H& h, const C& c) { h.input.action(c.command); },
                "run the named action a (a key, chord, click or scroll)"},
    CommandEntry{"laser", P::allowed, [](H& h, const C& c) { h.input.laser(c.command); },
                "turn the laser dot on or off"},
    CommandEntry{"pointer", P::allowed, [](H& h, const C& c) { h.displays.pointer(c.command); },
                "put the pointer on display d (1-16)"},
    CommandEntry{"screen", P::refused, [](H& h, const C& c) { h.screen.screen(c); },
                "start (on) or stop the live view of display d, mode fit or cursor"},
    CommandEntry{"scr_ack", P::refused, [](H& h, const C& c) { h.screen.ack(c); },
                "acknowledge live-view frame id"},
    CommandEntry{"tap", P::refused, [](H& h, const C& c) { h.screen.tap(c); },
                "put the pointer at x, y of live-view frame id, and click"},
    CommandEntry{"open", P::refused, [](H& h, const C& c) { h.desktop.open(c.command); },
                "open the website url or the application app"},
    CommandEntry{"stats_get", P::allowed, [](H& h, const C& c) { h.stats.send(c.conn); },
                "reply with the helper's statistics"},
    CommandEntry{"find_cursor", P::allowed, [](H& h, const C&) { h.desktop.findCursor(); },
                "show where the pointer is"},
    CommandEntry{"window", P::refused, [](H& h, const C& c) { h.desktop.window(c.command); },
                "move or resize the front window (op)"},
    CommandEntry{"clip_set", P::refused, [](H& h, const C& c) { h.desktop.setClipboard(c); },
                "put the text s on the clipboard, and paste it"},
    CommandEntry{"apps_get", P::refused, [](H& h, const C& c) { h.desktop.sendApps(c); },
                "reply with the open applications, with icons"},
    CommandEntry{"app_activate", P::refused,
                [](H& h, const C& c) { h.desktop.activate(c.command); },
                "bring the application id to the front"},
    CommandEntry{"clip_get", P::refused, [](H& h, const C& c) { h.desktop.sendClipboard(c.conn); },
                "reply with the clipboard's text"},
};

}  // namespace

std::span<const CommandEntry> commandTable() { return table; }

const CommandEntry* findCommand(std::string_view name) {
    const auto it = std::find_if(table.begin(), table.end(),
                                 [&](const CommandEntry& entry) { return entry.name == name; });
    return it == table.end() ? nullptr : &*it;
}

bool presenterMayRun(const CommandEntry& entry, const nlohmann::json& command) {
    switch (entry.presenter) {
        case PresenterScope::refused: return false;
        case PresenterScope::allowed: return true;
        case PresenterScope::presenterActions: {
            const auto* a = commands::stringMember(command, "a");
            return commands::presenterActions().contains(a ? std::string_view(*a)
                                                           : std::string_view());
        }
    }
    return false;
}

}  // namespace tamborix
