#pragma once
// What the phones are told without asking: the front application ("context") and the display
// layout ("displays"), each pushed when it changes; and the jump of the pointer to a display.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "core/helper_conn.h"
#include "core/session/core_state.h"
#include "ports/desktop_actions.h"
#include "ports/main_loop.h"
#include "ports/workspace.h"
#include "protocol/bytes.h"

namespace tamborix {

class ConnectionRegistry;
class DesktopControl;
class InputCommands;

class DisplayContext {
public:
    // The pointer is put on a display through `actions`; `desktop` reports the displays.
    DisplayContext(MainLoop& loop, Workspace& workspace, DesktopControl& desktop, DesktopActions& actions,
                   InputCommands& input, ConnectionRegistry& registry, CoreState& state);
    ~DisplayContext();
    DisplayContext(const DisplayContext&) = delete;
    DisplayContext& operator=(const DisplayContext&) = delete;

    void setShareFrontApp(bool on) { shareFrontApp_ = on; }
    [[nodiscard]] bool shareFrontApp() const noexcept { return shareFrontApp_; }

    void startWatchingFrontApp();
    // The display layout, and the front application where it is polled, are looked at only
    // between these two (while a phone is there to hear of a change).
    void startWatchingDisplays();
    void stopWatchingDisplays();
    // Stops the watches, so that nothing calls back into a core being taken apart.
    void stopWatching();

    // Nothing while it cannot be built (sharing off, no front application known).
    [[nodiscard]] std::optional<Bytes> contextJSON() const;
    [[nodiscard]] std::optional<Bytes> displaysJSON() const;
    // The displays message of a ready or pairing sequence.
    [[nodiscard]] std::optional<Bytes> displaysForNewPhone(const HelperConnPtr& conn);
    void pushDisplays(bool force);
    void pushContext();

    void pointer(const nlohmann::json& command);

private:
    void updateFrontApp(const CoreState::FrontApp& app, const std::string& ownId);

    MainLoop& loop_;
    Workspace& workspace_;
    DesktopControl& desktop_;
    DesktopActions& actions_;
    InputCommands& input_;
    ConnectionRegistry& registry_;
    CoreState& state_;
    bool shareFrontApp_ = true;
    std::pair<int, int> lastDisplays_{0, 0};
    Timer displayTimer_;
    Timer frontAppTimer_;  // only where the workspace cannot report changes
    std::function<void()> frontAppCheck_;
    std::unique_ptr<Workspace::FrontWatch> frontAppWatch_;
    std::optional<AppHandle> lastFrontHandle_;
};

}  // namespace tamborix
