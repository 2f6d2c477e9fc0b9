#pragma once
// What the desktop's ports do without a desktop backend: nothing is posted, captured or drawn. In
// dry run one virtual display stands in for the screen so that pointer, display and screen
// commands behave as they would on a desktop.

#include <optional>
#include <string>
#include <vector>

#include "base/user_text.h"
#include "ports/standins/no_input_sink.h"
#include "ports/clipboard.h"
#include "ports/display_source.h"
#include "ports/input_sink.h"
#include "ports/main_loop.h"
#include "ports/overlay_surface.h"
#include "ports/screen_capture.h"
#include "ports/window_control.h"
#include "ports/workspace.h"

namespace tamborix {

// One display of 1920 × 1080 at (0, 0) with the pointer resting at its centre.
class VirtualDisplay final : public DisplaySource {
public:
    static constexpr Rect bounds{0, 0, 1920, 1080};
    [[nodiscard]] std::vector<DisplayInfo> displays() const override {
        return {DisplayInfo{1, bounds, bounds}};
    }
    [[nodiscard]] std::optional<Point> pointer() const override {
        return Point{bounds.midX(), bounds.midY()};
    }
};

class NoDisplay final : public DisplaySource {
public:
    [[nodiscard]] std::vector<DisplayInfo> displays() const override { return {}; }
    [[nodiscard]] std::optional<Point> pointer() const override { return std::nullopt; }
};

class NoWorkspace final : public Workspace {
public:
    [[nodiscard]] std::vector<RunningApp> runningApps() const override { return {}; }
    [[nodiscard]] std::optional<AppHandle> frontmost() const override { return std::nullopt; }
    [[nodiscard]] std::string ownAppId() const override { return "io.tamborix.Helper"; }
    void unhide(const RunningApp&) override {}
    [[nodiscard]] bool activate(const RunningApp&) override { return false; }
    [[nodiscard]] std::optional<InstalledApp> findApp(std::string_view) const override {
        return std::nullopt;
    }
    [[nodiscard]] std::vector<InstalledApp> installedApps() const override { return {}; }
    [[nodiscard]] bool launch(const InstalledApp&) override { return false; }
    [[nodiscard]] bool openUrl(const std::string&) override { return false; }
    [[nodiscard]] std::optional<Bytes> iconPNG(const RunningApp&, int) const override {
        return std::nullopt;
    }
};

class NoWindowControl final : public WindowControl {
public:
    explicit NoWindowControl(std::string why = userText("Desktop", "no desktop backend"))
        : reason_(userText("Desktop", "windows cannot be placed on this desktop (%1)").with({why})) {}
    [[nodiscard]] std::optional<WindowHandle> frontWindow() const override { return std::nullopt; }
    [[nodiscard]] std::optional<Rect> frame(WindowHandle) const override { return std::nullopt; }
    bool setFrame(WindowHandle, const Rect&) override { return false; }
    [[nodiscard]] std::string unavailableReason() const override { return reason_; }

private:
    std::string reason_;
};

class NoOverlay final : public OverlaySurface {
public:
    explicit NoOverlay(std::string why = userText("Desktop", "no desktop backend draws them"))
        : reason_(std::move(why)) {}
    [[nodiscard]] std::string unavailableReason() const override { return reason_; }
    void showLaser(Point) override {}
    void moveLaser(Point) override {}
    void hideLaser() override {}
    void showFinder(const Rect&) override {}
    void hideFinder() override {}

private:
    std::string reason_;
};

class NoScreenCapture final : public ScreenCapture {
public:
    explicit NoScreenCapture(MainLoop& loop) : loop_(loop) {}
    [[nodiscard]] bool available() const override { return false; }
    void capture(const CaptureRequest&, Done done) override {
        loop_.post([done = std::move(done)] { done(std::nullopt); });
    }

private:
    MainLoop& loop_;
};

// A session whose clipboard the helper cannot reach: every request is refused with the reason.
class UnsharedClipboard final : public Clipboard {
public:
    explicit UnsharedClipboard(const std::string& why)
        : reason_(userText("Desktop", "the clipboard cannot be shared on this desktop (%1)").with({why})) {}
    [[nodiscard]] std::optional<std::string> text() const override { return std::nullopt; }
    bool setText(const std::string&) override { return false; }
    [[nodiscard]] std::string unavailableReason() const override { return reason_; }

private:
    std::string reason_;
};

}  // namespace tamborix
