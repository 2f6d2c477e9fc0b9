#pragma once
// Input posted through the remote-desktop portal: the compositor moves the pointer and types with
// its own keyboard layout, so keys and text travel as keysyms and no key ever has to be borrowed.

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/desktop/portal/remote_desktop_session.h"
#include "ports/display_source.h"
#include "ports/input_sink.h"

namespace tamborix::portal {

class PortalInputSink final : public InputSink {
public:
    explicit PortalInputSink(RemoteDesktopSession& session) : session_(session) {}

    [[nodiscard]] bool mayPost() const override;
    [[nodiscard]] std::string reason() const override;

    void mouse(const MouseEvent& event) override;
    void scroll(const ScrollEvent& event) override;
    void key(const KeyEvent& event) override;
    void text(std::u16string_view chunk) override;
    void warp(Point at) override;
    // Printable ASCII, each "keycode" being the character's own keysym: the compositor finds the
    // key in whatever layout it has.
    [[nodiscard]] std::vector<LayoutEntry> layout() override;

    // Where this sink last put the pointer; Wayland does not tell clients where it is.
    [[nodiscard]] std::optional<Point> lastPosition() const noexcept { return last_; }

private:
    void moveTo(Point at);
    void keysym(std::uint32_t sym, bool down);
    void call(const char* method, QVariantList args);

    RemoteDesktopSession& session_;
    std::optional<Point> last_;
    std::optional<Point> asked_;  // the target of the last move, before it was kept on a monitor
};

// The monitors the user shared, as the portal placed them; the pointer as far as the helper knows.
class PortalDisplaySource final : public DisplaySource {
public:
    PortalDisplaySource(const RemoteDesktopSession& session, const PortalInputSink& sink)
        : session_(session), sink_(sink) {}
    [[nodiscard]] std::vector<DisplayInfo> displays() const override;
    [[nodiscard]] std::optional<Point> pointer() const override;

private:
    const RemoteDesktopSession& session_;
    const PortalInputSink& sink_;
};

}  // namespace tamborix::portal
