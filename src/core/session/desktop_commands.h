#pragma once
// The desktop a phone reaches: windows, the open applications and their icons, opening websites
// and applications, the clipboard both ways, and the pulse that shows where the pointer is.

#include <nlohmann/json.hpp>

#include "core/desktop/cursor_finder.h"
#include "core/desktop/desktop_control.h"
#include "core/helper_conn.h"
#include "core/session/command_table.h"

namespace tamborix {

class Clipboard;
class ConnectionRegistry;
class CoreState;
class InputCommands;

class DesktopCommands {
public:
    DesktopCommands(MainLoop& loop, const DisplaySource& displays, Workspace& workspace,
                    WindowControl& windows, OverlaySurface& overlay, Clipboard& clipboard,
                    InputCommands& input, ConnectionRegistry& registry, CoreState& state,
                    bool dryRun);
    DesktopCommands(const DesktopCommands&) = delete;
    DesktopCommands& operator=(const DesktopCommands&) = delete;

    [[nodiscard]] DesktopControl& control() noexcept { return control_; }

    void findCursor();
    void window(const nlohmann::json& command);
    void open(const nlohmann::json& command);
    void activate(const nlohmann::json& command);
    void sendApps(const CommandCall& call);
    void setClipboard(const CommandCall& call);
    void sendClipboard(const HelperConnPtr& conn);

private:
    Clipboard& clipboard_;
    InputCommands& input_;
    ConnectionRegistry& registry_;
    CoreState& state_;
    bool dryRun_;
    OverlaySurface& overlay_;
    CursorFinder finder_;
    DesktopControl control_;
};

}  // namespace tamborix
