#pragma once
// The helper's own X connection, independent of Qt's platform plugin. Events are read on the main
// thread when the socket becomes readable and also just before the loop blocks, because a reply
// waited for elsewhere may have pulled events into xcb's queue without the socket waking the loop.

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include <QObject>

#include "base/liveness.h"
#include "platform/linux/desktop/x11/x_reply.h"

class QSocketNotifier;

namespace tamborix::x11 {

class XConnection {
public:
    using EventHandler = std::function<void(const xcb_generic_event_t&)>;

    // A live subscription; dropping it stops the deliveries (also from inside a handler).
    class Subscription {
    public:
        virtual ~Subscription() = default;
    };

    // Opens `displayName` (the DISPLAY variable when empty). On failure returns null and says why
    // in `error` ("cannot open display :1").
    [[nodiscard]] static std::unique_ptr<XConnection> open(const std::string& displayName,
                                                           std::string& error);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    [[nodiscard]] xcb_connection_t* get() const noexcept { return conn_.get(); }
    [[nodiscard]] xcb_screen_t* screen() const noexcept { return screen_; }
    [[nodiscard]] xcb_window_t root() const noexcept { return screen_->root; }
    [[nodiscard]] const std::string& displayName() const noexcept { return displayName_; }
    // False once the server closed the connection or a protocol error broke it.
    [[nodiscard]] bool alive() const noexcept;

    // Interned once and remembered.
    [[nodiscard]] xcb_atom_t atom(std::string_view name);

    // Every event and error that arrives is handed to every subscriber in subscription order;
    // each looks at response_type itself. `onLost` runs once when the connection breaks.
    [[nodiscard]] std::unique_ptr<Subscription> subscribe(EventHandler handler);
    [[nodiscard]] std::unique_ptr<Subscription> onLost(std::function<void()> handler);

    // Adds to the events this connection selects on the root window. Every backend on the shared
    // connection asks through here: a plain ChangeWindowAttributes would replace the others' mask.
    void selectRootEvents(std::uint32_t mask);

    // Reads and dispatches whatever is already queued or readable, without blocking.
    void dispatchPending();
    // Dispatches only what earlier reads (a reply's) left queued: no system call.
    void dispatchQueued();
    void flush() noexcept { xcb_flush(conn_.get()); }
    // Reads and dispatches events, blocking, until `done` holds or `limit` passes; for the few
    // conversations (selections) that a synchronous caller must see through. True when done.
    [[nodiscard]] bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

private:
    XConnection(XcbConnection conn, xcb_screen_t* screen, std::string displayName);
    void dispatch(const xcb_generic_event_t& event);
    void noticeLoss();

    struct Registry;
    XcbConnection conn_;  // closed after everything below
    xcb_screen_t* screen_;
    std::string displayName_;
    std::unordered_map<std::string, xcb_atom_t> atoms_;
    std::unique_ptr<Registry> registry_;
    Liveness life_;  // subscriptions and a dispatch in progress check it
    std::unique_ptr<QObject> watcher_;  // owns the notifier; context of the connections
    QSocketNotifier* notifier_ = nullptr;
    QMetaObject::Connection beforeBlock_;
    std::uint32_t rootMask_ = 0;
    bool lost_ = false;
};

}  // namespace tamborix::x11
