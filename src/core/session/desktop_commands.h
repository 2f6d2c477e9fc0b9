#pragma once
// The desktop a phone reaches: windows, the open applications and their icons, opening websites
// and applications, the clipboard both ways, and the pulse that shows where the pointer is.

#include <nlohmann/json.hpp>

#include "core/desktop/desktop_control.h"
#include "core/helper_conn.h"
#include "core/session/command_table.h"
#include "ports/desktop_actions.h"

namespace tamborix {

class ConnectionRegistry;
class CoreState;
class InputCommands;

class DesktopCommands {
public:
    // `control` places windows; every other command acts through `desktop`.
    DesktopCommands(DesktopControl& control, DesktopActions& desktop, InputCommands& input,
                    ConnectionRegistry& registry, CoreState& state);
    DesktopCommands(const DesktopCommands&) = delete;
    DesktopCommands& operator=(const DesktopCommands&) = delete;

    void findCursor();
    void window(const nlohmann::json& command);
    void open(const nlohmann::json& command);
    void activate(const nlohmann::json& command);
    void sendApps(const CommandCall& call);
    void setClipboard(const CommandCall& call);
    void sendClipboard(const HelperConnPtr& conn);

private:
    DesktopActions& desktop_;
    InputCommands& input_;
    ConnectionRegistry& registry_;
    CoreState& state_;
    DesktopControl& control_;
};

}  // namespace tamborix
