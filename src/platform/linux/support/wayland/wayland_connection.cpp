#include "platform/linux/support/wayland/wayland_connection.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QSocketNotifier>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace tamborix::wayland {

namespace {
const wl_registry_listener registryListener{&WaylandConnection::global, &WaylandConnection::globalRemove};
}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::connect(const std::string& display, std::string& error) {
    wl_display* d = wl_display_connect(display.empty() ? nullptr : display.c_str());
    if (!d) {
        const char* named = std::getenv("WAYLAND_DISPLAY");
        error = "no Wayland compositor answers at " +
                (!display.empty() ? display : named && *named ? std::string(named) : std::string("wayland-0"));
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> c(new WaylandConnection(d));
    if (!c->registry_ || !c->roundtrip()) {
        error = "the Wayland compositor closed the connection";
        return nullptr;
    }
    c->announced_ = true;
    return c;
}

WaylandConnection::WaylandConnection(wl_display* display)
    : display_(display), registry_(wl_display_get_registry(display)) {
    if (registry_) wl_registry_add_listener(registry_.get(), &registryListener, this);
}

WaylandConnection::~WaylandConnection() {
    watcher_.reset();
    registry_.reset();
    if (display_) wl_display_flush(display_.get());
}

void WaylandConnection::global(void* data, wl_registry*, std::uint32_t name, const char* interface,
                               std::uint32_t version) {
    auto* self = static_cast<WaylandConnection*>(data);
    self->globals_.push_back({name, interface, version});
    if (self->announced_ && self->onGlobal_) self->onGlobal_(self->globals_.back());
}

void WaylandConnection::globalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto* self = static_cast<WaylandConnection*>(data);
    std::erase_if(self->globals_, [name](const Global& g) { return g.name == name; });
    if (self->onRemoved_) self->onRemoved_(name);
}

const Global* WaylandConnection::find(const wl_interface& interface) const {
    for (const auto& g : globals_) {
        if (g.interface == interface.name) return &g;
    }
    return nullptr;
}

void* WaylandConnection::bindGlobal(const Global& global, const wl_interface& interface, std::uint32_t maxVersion) {
    return wl_registry_bind(registry_.get(), global.name, &interface, std::min(global.version, maxVersion));
}

void* WaylandConnection::bindRaw(const wl_interface& interface, std::uint32_t maxVersion) {
    const Global* g = find(interface);
    return g ? bindGlobal(*g, interface, maxVersion) : nullptr;
}

bool WaylandConnection::roundtrip() {
    const bool ok = wl_display_roundtrip(display_.get()) >= 0;
    dispatched_.notify();
    return ok;
}

bool WaylandConnection::dispatchUntil(const std::function<bool()>& done, int timeoutMs) {
    wl_display* d = display_.get();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (wl_display_get_error(d) != 0) return false;
        while (wl_display_prepare_read(d) != 0) wl_display_dispatch_pending(d);
        wl_display_flush(d);
        if (done()) {
            wl_display_cancel_read(d);
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{wl_display_get_fd(d), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            wl_display_cancel_read(d);
            return false;
        }
        if (wl_display_read_events(d) != 0) return false;
        wl_display_dispatch_pending(d);
    }
    return true;
}

void WaylandConnection::flush() { wl_display_flush(display_.get()); }

bool WaylandConnection::alive() const { return wl_display_get_error(display_.get()) == 0; }

void WaylandConnection::dispatchPending() {
    wl_display* d = display_.get();
    if (wl_display_get_error(d) != 0) return;
    while (wl_display_prepare_read(d) != 0) wl_display_dispatch_pending(d);
    pollfd p{wl_display_get_fd(d), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) {
        wl_display_read_events(d);
    } else {
        wl_display_cancel_read(d);
    }
    wl_display_dispatch_pending(d);
    wl_display_flush(d);
    dispatched_.notify();
}

void WaylandConnection::watchWithQt() {
    if (watcher_) return;
    watcher_ = std::make_unique<QObject>();
    auto* notifier = new QSocketNotifier(wl_display_get_fd(display_.get()), QSocketNotifier::Read, watcher_.get());
    QObject::connect(notifier, &QSocketNotifier::activated, watcher_.get(), [this, notifier] {
        dispatchPending();
        // A lost compositor would keep the socket readable for ever.
        if (!alive()) notifier->setEnabled(false);
    });
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, watcher_.get(), [this] {
            if (alive() && wl_display_dispatch_pending(display_.get()) > 0) dispatched_.notify();
            if (alive()) wl_display_flush(display_.get());
        });
    }
}

}  // namespace tamborix::wayland
