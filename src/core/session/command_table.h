#pragma once
// The one list of the commands a phone may send: for each its name, whether a presenter-scope
// device may send it, the handler that runs it and a line of help. Adding a command is a handler
// method and a line here; nothing else lists commands.

#include <nlohmann/json.hpp>
#include <span>
#include <string_view>

#include "core/helper_conn.h"

namespace tamborix {

class DesktopCommands;
class DisplayContext;
class InputCommands;
class ScreenSharing;
class SessionStats;

// The handlers, each owning the state of its concern.
struct CommandHandlers {
    InputCommands& input;
    DesktopCommands& desktop;
    DisplayContext& displays;
    ScreenSharing& screen;
    SessionStats& stats;
};

// One command of an authenticated connection.
struct CommandCall {
    const nlohmann::json& command;
    const HelperConnPtr& conn;
};

enum class PresenterScope {
    refused,
    allowed,
    presenterActions,  // only the actions a presentation needs (commands::presenterActions)
};

struct CommandEntry {
    std::string_view name;
    PresenterScope presenter;
    // Throws CommandRejected for arguments it does not accept or an action that failed.
    void (*run)(CommandHandlers& handlers, const CommandCall& call);
    std::string_view help;
    // Pointer motion still being spread lands before the command runs; only a move adds to it.
    bool landsPendingMotion = true;
};

[[nodiscard]] std::span<const CommandEntry> commandTable();
[[nodiscard]] const CommandEntry* findCommand(std::string_view name);
// Whether a presenter-scope device may send `command` of this kind.
[[nodiscard]] bool presenterMayRun(const CommandEntry& entry, const nlohmann::json& command);

}  // namespace tamborix
