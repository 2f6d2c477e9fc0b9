#pragma once
// The CLIPBOARD selection as UTF-8 text. Text the helper sets is served from here for as long as
// the helper runs, and handed to a clipboard manager (SAVE_TARGETS) when it ends.

#include <memory>
#include <optional>
#include <string>

#include "platform/linux/desktop/x11/x_connection.h"
#include "ports/clipboard.h"

namespace tamborix::x11 {

class X11Clipboard final : public Clipboard {
public:
    // `keepAlive`, when given, owns the connection: the clipboard needs it until its destructor
    // has handed the text on, whatever order its owner drops things in.
    explicit X11Clipboard(XConnection& x, std::shared_ptr<void> keepAlive = {});
    ~X11Clipboard() override;
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    // Waits for the owner's answer for at most a second (most answer within milliseconds).
    [[nodiscard]] std::optional<std::string> text() const override;
    bool setText(const std::string& text) override;

private:
    void onEvent(const xcb_generic_event_t& event);
    void answer(const xcb_selection_request_event_t& request);
    [[nodiscard]] bool store(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t target);
    [[nodiscard]] std::optional<std::string> convert(xcb_atom_t target) const;
    [[nodiscard]] xcb_timestamp_t serverTime();
    void handToManager();

    std::shared_ptr<void> keepAlive_;
    XConnection& x_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    std::unique_ptr<XConnection::Subscription> subscription_;
    std::optional<std::string> owned_;  // what the helper serves while it owns the selection
    xcb_timestamp_t ownedSince_ = XCB_CURRENT_TIME;
    // The conversation in progress (text() waits on it).
    mutable bool notified_ = false;
    mutable xcb_atom_t notifiedProperty_ = XCB_ATOM_NONE;
    mutable bool propertyChanged_ = false;
    mutable xcb_timestamp_t lastTime_ = XCB_CURRENT_TIME;
};

}  // namespace tamborix::x11
