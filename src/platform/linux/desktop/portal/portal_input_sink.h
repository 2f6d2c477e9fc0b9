#pragma once
// Input posted through the remote-desktop portal: the compositor moves the pointer and types with
// its own keyboard layout, so keys and text travel as keysyms and no key ever has to be borrowed.
//
// Every call goes out only after the portal answered the one before: the portals hand events on
// in whatever order their calls happen to be served, so a burst sent at once arrives reordered,
// and a shift released before its letter leaves the wrong case or a modifier held.

#include <QObject>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/desktop/portal/remote_desktop_session.h"
#include "ports/display_source.h"
#include "ports/input_sink.h"

namespace tamborix::portal {

// How one desktop's portal differs from what the portal's description promises.
struct DesktopQuirks {
    // The smooth axis arrives reversed (KWin 5.27); wheel steps keep their sign.
    bool smoothScrollReversed = false;
    // Time between two key events for the desktop to type them in order.
    int keySpacingMs = 0;
    // The desktop asks the user before granting remote control (KWin grants it silently).
    bool asksConsent = true;
    // The desktop makes a session's virtual keyboard with its first key, and programs that see
    // a keyboard appear take a moment to listen to it (headless mutter): that key is lost. A
    // key that types nothing goes first, then this long a pause.
    int keyboardWarmUpMs = 0;
};

// From XDG_CURRENT_DESKTOP ("GNOME", "KDE", "ubuntu:GNOME", ...).
[[nodiscard]] DesktopQuirks quirksFor(std::string_view currentDesktop);

class PortalInputSink final : public InputSink {
public:
    explicit PortalInputSink(RemoteDesktopSession& session, DesktopQuirks quirks = {});
    // Releases whatever is still held down.
    ~PortalInputSink() override;

    [[nodiscard]] bool mayPost() const override;
    [[nodiscard]] std::string reason() const override;
    [[nodiscard]] std::string remedy() const override;

    void mouse(const MouseEvent& event) override;
    void scroll(const ScrollEvent& event) override;
    void key(const KeyEvent& event) override;
    void text(std::u16string_view chunk) override;
    void warp(Point at) override;
    // Printable ASCII, each "keycode" being the character's own keysym: the compositor finds the
    // key in whatever layout it has.
    [[nodiscard]] std::vector<LayoutEntry> layout() override;

    // The keysyms the desktop's layout has a key for; text() skips the characters of any other
    // keysym and says why. Empty (the default) sends every character.
    void setTypable(std::set<std::uint32_t> keysyms) { typable_ = std::move(keysyms); }

    // Whether posted input still waits to go out.
    [[nodiscard]] bool busy() const noexcept { return inFlight_ || !queue_.empty(); }

    // Where this sink last put the pointer; Wayland does not tell clients where it is.
    [[nodiscard]] std::optional<Point> lastPosition() const noexcept { return last_; }

private:
    struct Call {
        const char* method;  // none: only a pause
        QVariantList args;
        bool isKey = false;
        int pauseMs = 0;  // after the call
    };
    void moveTo(Point at);
    void keysym(std::uint32_t sym, bool down);
    void post(const char* method, QVariantList args, bool isKey = false);
    void sendNext();
    void releaseHeld();

    RemoteDesktopSession& session_;
    DesktopQuirks quirks_;
    QObject context_;  // owns reply watchers and timers: none outlives the sink
    std::deque<Call> queue_;
    bool inFlight_ = false;
    QString keyboardWarmFor_;  // the session whose keyboard was woken
    std::set<std::uint32_t> keysHeld_;
    std::set<int> buttonsHeld_;
    std::set<std::uint32_t> typable_;
    int scrollCarryX_ = 0;
    int scrollCarryY_ = 0;
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
