#pragma once
// What the desktop commands do on the desktop itself, through the ports: the laser dot and the
// cursor finder drawn on the overlay, the pointer put on a display, launching, activation, the
// application list and the clipboard. Owns the overlay helpers and DesktopControl, which the
// display pushes and window placement use too.

#include "core/desktop/cursor_finder.h"
#include "core/desktop/desktop_control.h"
#include "core/desktop/laser_overlay.h"
#include "ports/desktop_actions.h"
#include "ports/port_bundle.h"

namespace tamborix {

class LiveDesktop final : public DesktopActions {
public:
    LiveDesktop(MainLoop& loop, const PortBundle& ports);
    LiveDesktop(const LiveDesktop&) = delete;
    LiveDesktop& operator=(const LiveDesktop&) = delete;

    [[nodiscard]] LaserOverlay& laserOverlay() noexcept { return laser_; }
    [[nodiscard]] DesktopControl& control() noexcept { return control_; }

    [[nodiscard]] std::string laser(bool on) override;
    [[nodiscard]] std::string findCursor() override;
    [[nodiscard]] bool pointerTo(int display) override;
    [[nodiscard]] std::string openUrl(const std::string& url) override;
    [[nodiscard]] std::string openApp(const std::string& name) override;
    [[nodiscard]] std::string activate(const std::string& id) override;
    [[nodiscard]] std::vector<ListedApp> openApps() override;
    [[nodiscard]] std::optional<Bytes> icon(const ListedApp& app, int px) override;
    [[nodiscard]] std::string setClipboard(const std::string& text, bool paste) override;
    [[nodiscard]] ClipboardText clipboardText() override;

private:
    OverlaySurface& overlay_;
    Clipboard& clipboard_;
    LaserOverlay laser_;
    CursorFinder finder_;
    DesktopControl control_;
};

}  // namespace tamborix
