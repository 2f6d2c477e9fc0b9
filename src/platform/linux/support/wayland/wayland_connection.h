#pragma once
// The helper's own connection to a Wayland compositor: the globals it announces, binding them,
// and its events read whenever the Qt loop sees the socket readable. Requests are flushed at once
// by flush() (input must not wait for the next loop turn) and before the loop blocks.

#include <wayland-client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/change_signal.h"
#include "base/owned.h"
#include "platform/linux/support/wayland/proxy.h"

class QObject;
class QSocketNotifier;

namespace tamborix::wayland {

struct Global {
    std::uint32_t name = 0;
    std::string interface;
    std::uint32_t version = 0;
};

class WaylandConnection {
public:
    // `display` as WAYLAND_DISPLAY takes it (a name in XDG_RUNTIME_DIR or an absolute path);
    // empty = WAYLAND_DISPLAY. Null with `error` set when no compositor answers.
    [[nodiscard]] static std::unique_ptr<WaylandConnection> connect(const std::string& display,
                                                                    std::string& error);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    [[nodiscard]] wl_display* display() const noexcept { return display_.get(); }
    [[nodiscard]] const std::vector<Global>& globals() const noexcept { return globals_; }
    [[nodiscard]] const Global* find(const wl_interface& interface) const;
    // Binds the first global of `interface` at min(its version, maxVersion); null when the
    // compositor offers none. The caller owns the proxy.
    template <class T>
    [[nodiscard]] T* bind(const wl_interface& interface, std::uint32_t maxVersion) {
        return static_cast<T*>(bindRaw(interface, maxVersion));
    }
    template <class T>
    [[nodiscard]] T* bindName(const Global& global, const wl_interface& interface, std::uint32_t maxVersion) {
        return static_cast<T*>(bindGlobal(global, interface, maxVersion));
    }

    // Called for globals announced after connect() (outputs plugged in) and for removed ones.
    void onGlobal(std::function<void(const Global&)> fn) { onGlobal_ = std::move(fn); }
    void onGlobalRemoved(std::function<void(std::uint32_t name)> fn) { onRemoved_ = std::move(fn); }

    // Called after each batch of events is dispatched, so that a change the compositor sends as
    // several events (one window deactivated, another activated) is seen whole. Dropping the
    // subscription ends the call.
    [[nodiscard]] Subscription afterDispatch(std::function<void()> fn) { return dispatched_.subscribe(std::move(fn)); }

    // Waits until the compositor has answered everything sent so far, dispatching what arrives.
    // False once the connection is lost.
    bool roundtrip();
    // Dispatches events until `done` holds; false when `timeoutMs` passed first or the connection
    // was lost. For a thread that owns this connection and has no loop watching it.
    bool dispatchUntil(const std::function<bool()>& done, int timeoutMs);
    void flush();
    [[nodiscard]] bool alive() const;

    // Watches the socket with the Qt loop of the calling thread (the main loop); without it the
    // owner dispatches through roundtrip().
    void watchWithQt();
    // Reads and dispatches what the socket holds without blocking.
    void dispatchPending();

    // The registry's listener.
    static void global(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version);
    static void globalRemove(void* data, wl_registry*, std::uint32_t name);

private:
    explicit WaylandConnection(wl_display* display);
    void* bindRaw(const wl_interface& interface, std::uint32_t maxVersion);
    void* bindGlobal(const Global& global, const wl_interface& interface, std::uint32_t maxVersion);

    Owned<wl_display, wl_display_disconnect> display_;
    Proxy<wl_registry> registry_;
    std::vector<Global> globals_;
    bool announced_ = false;  // the first roundtrip is over: later globals are news
    std::function<void(const Global&)> onGlobal_;
    std::function<void(std::uint32_t)> onRemoved_;
    ChangeSignal<> dispatched_;
    std::unique_ptr<QObject> watcher_;
};

}  // namespace tamborix::wayland
