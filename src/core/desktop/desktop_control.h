#pragma once
// The desktop operations of the command layer and the context reports: displays and jumping
// between them, the open applications with their icons, activation and launching, web addresses
// and window placement. Keeps no state between calls; failure shows only in the result.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/desktop/cursor_finder.h"
#include "ports/display_source.h"
#include "ports/input_sink.h"
#include "ports/window_control.h"
#include "ports/workspace.h"
#include "protocol/bytes.h"

namespace tamborix {

class DesktopControl {
public:
    static constexpr std::size_t maxListedApps = 40;
    static constexpr std::size_t appNameLimit = 64;      // characters shown per name
    static constexpr std::size_t openAppNameLimit = 128;  // characters accepted by openApp
    static constexpr std::size_t iconByteLimit = 2700;    // PNG bytes

    struct OpenApp {
        std::string name;  // at most 64 characters, "App" when the application has none
        std::string id;    // application id
        bool front = false;
        RunningApp app;
    };

    DesktopControl(const DisplaySource& displaySource, Workspace& workspace, WindowControl& windows,
                   InputSink& sink, CursorFinder& finder);
    ~DesktopControl();
    DesktopControl(const DesktopControl&) = delete;
    DesktopControl& operator=(const DesktopControl&) = delete;

    // Sorted by left edge, then top edge.
    [[nodiscard]] std::vector<DisplayInfo> displayList() const;
    [[nodiscard]] std::vector<Rect> displays() const;
    // 1-based, in displays() order; 1 when the pointer is on no display.
    [[nodiscard]] int currentDisplay() const;

    // Puts the pointer at the centre of display `to` (1-based) and shows the finder there. The
    // injector's remembered position is left alone. False for no such display, or when input
    // cannot be posted at all.
    [[nodiscard]] bool jump(int to);

    // Regular applications other than the helper, by name (locale-aware, case-insensitive),
    // at most 40.
    [[nodiscard]] std::vector<OpenApp> openApps() const;
    // At most 2700 bytes of PNG, else nullopt.
    [[nodiscard]] std::optional<Bytes> iconPNG(const RunningApp& app, int px) const;
    // Only applications that openApps() lists can be activated.
    [[nodiscard]] bool activate(std::string_view id);
    // By application id, else by the name of an installed application (case-insensitive).
    [[nodiscard]] bool openApp(std::string_view name);
    [[nodiscard]] bool openWebsite(std::string_view text);
    // "left", "right", "max" or "next" for the focused window.
    [[nodiscard]] bool window(std::string_view op);
    // Why this session cannot place windows at all; empty when it can.
    [[nodiscard]] std::string windowsUnavailable() const { return windows_.unavailableReason(); }

    // The refusals of openApp that need no lookup: empty, too long, or path-like.
    [[nodiscard]] static bool isAcceptableAppName(std::string_view name);

private:
    [[nodiscard]] bool nameBefore(const std::string& a, const std::string& b) const;
    [[nodiscard]] static bool sameNameIgnoringCase(std::string_view a, std::string_view b);

    const DisplaySource& displaySource_;
    Workspace& workspace_;
    WindowControl& windows_;
    InputSink& sink_;
    CursorFinder& finder_;
    struct NameOrder;  // the locale's collator, built once
    std::unique_ptr<NameOrder> nameOrder_;
};

}  // namespace tamborix
