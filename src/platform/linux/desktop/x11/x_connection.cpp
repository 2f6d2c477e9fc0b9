#include "platform/linux/desktop/x11/x_connection.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QSocketNotifier>

#include <poll.h>

#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::x11 {

struct XConnection::Registry {
    std::map<unsigned, EventHandler> events;
    std::map<unsigned, std::function<void()>> losses;
    unsigned next = 1;
};

namespace {

template <class Map>
class RegistryEntry final : public XConnection::Subscription {
public:
    RegistryEntry(Liveness::Watch owner, Map* map, unsigned id)
        : owner_(std::move(owner)), map_(map), id_(id) {}
    ~RegistryEntry() override {
        if (owner_) map_->erase(id_);
    }

private:
    Liveness::Watch owner_;
    Map* map_;
    unsigned id_;
};

xcb_screen_t* screenNumber(xcb_connection_t* conn, int number) {
    auto it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (; it.rem; --number, xcb_screen_next(&it)) {
        if (number == 0) return it.data;
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<XConnection> XConnection::open(const std::string& displayName, std::string& error) {
    std::string name = displayName;
    if (name.empty()) {
        const char* env = std::getenv("DISPLAY");
        name = env ? env : "";
    }
    if (name.empty()) {
        error = "no X11 display (DISPLAY is not set)";
        return nullptr;
    }
    int screenIndex = 0;
    XcbConnection conn(xcb_connect(name.c_str(), &screenIndex));
    if (xcb_connection_has_error(conn.get())) {
        error = "cannot open display " + name;
        return nullptr;
    }
    xcb_screen_t* screen = screenNumber(conn.get(), screenIndex);
    if (!screen) {
        error = "display " + name + " has no screen " + std::to_string(screenIndex);
        return nullptr;
    }
    return std::unique_ptr<XConnection>(new XConnection(std::move(conn), screen, name));
}

XConnection::XConnection(XcbConnection conn, xcb_screen_t* screen, std::string displayName)
    : conn_(std::move(conn)),
      screen_(screen),
      displayName_(std::move(displayName)),
      registry_(std::make_unique<Registry>()),
      watcher_(std::make_unique<QObject>()) {
    notifier_ = new QSocketNotifier(xcb_get_file_descriptor(conn_.get()), QSocketNotifier::Read,
                                    watcher_.get());
    QObject::connect(notifier_, &QSocketNotifier::activated, watcher_.get(),
                     [this] { dispatchPending(); });
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        // The socket itself is read when the loop's poll reports it; before blocking only the
        // events a reply's read queued need delivering, and asking the socket again would cost a
        // recvmsg answering EAGAIN on every pass.
        beforeBlock_ = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock,
                                        watcher_.get(), [this] { dispatchQueued(); });
    }
}

XConnection::~XConnection() {
    life_.end();
    watcher_.reset();
}

bool XConnection::alive() const noexcept { return !lost_ && xcb_connection_has_error(conn_.get()) == 0; }

xcb_atom_t XConnection::atom(std::string_view name) {
    std::string key(name);
    if (auto it = atoms_.find(key); it != atoms_.end()) return it->second;
    XReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        conn_.get(), xcb_intern_atom(conn_.get(), 0, static_cast<std::uint16_t>(key.size()), key.data()),
        nullptr));
    if (!reply) return XCB_ATOM_NONE;
    atoms_.emplace(key, reply->atom);
    return reply->atom;
}

std::unique_ptr<XConnection::Subscription> XConnection::subscribe(EventHandler handler) {
    const unsigned id = registry_->next++;
    registry_->events.emplace(id, std::move(handler));
    return std::make_unique<RegistryEntry<decltype(Registry::events)>>(life_.watch(),
                                                                       &registry_->events, id);
}

std::unique_ptr<XConnection::Subscription> XConnection::onLost(std::function<void()> handler) {
    const unsigned id = registry_->next++;
    registry_->losses.emplace(id, std::move(handler));
    return std::make_unique<RegistryEntry<decltype(Registry::losses)>>(life_.watch(),
                                                                       &registry_->losses, id);
}

void XConnection::selectRootEvents(std::uint32_t mask) {
    if ((rootMask_ | mask) == rootMask_) return;
    rootMask_ |= mask;
    xcb_change_window_attributes(conn_.get(), root(), XCB_CW_EVENT_MASK, &rootMask_);
    xcb_flush(conn_.get());
}

void XConnection::dispatchPending() {
    if (lost_) return;
    XReply<xcb_generic_event_t> event;
    while ((event = XReply<xcb_generic_event_t>(xcb_poll_for_event(conn_.get())))) dispatch(*event);
    if (xcb_connection_has_error(conn_.get())) noticeLoss();
}

void XConnection::dispatchQueued() {
    if (lost_) return;
    XReply<xcb_generic_event_t> event;
    while ((event = XReply<xcb_generic_event_t>(xcb_poll_for_queued_event(conn_.get())))) dispatch(*event);
    if (xcb_connection_has_error(conn_.get())) noticeLoss();
}

bool XConnection::waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    flush();
    for (;;) {
        dispatchPending();
        if (done()) return true;
        if (lost_) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fd{xcb_get_file_descriptor(conn_.get()), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(left.count()) + 1);
    }
}

void XConnection::dispatch(const xcb_generic_event_t& event) {
    // A handler may subscribe or unsubscribe; deliver to those present when the event came.
    std::vector<unsigned> ids;
    ids.reserve(registry_->events.size());
    for (const auto& [id, handler] : registry_->events) ids.push_back(id);
    const auto alive = life_.watch();
    for (unsigned id : ids) {
        if (!alive) return;
        auto it = registry_->events.find(id);
        if (it == registry_->events.end()) continue;
        auto handler = it->second;  // survives its own unsubscription
        handler(event);
    }
}

void XConnection::noticeLoss() {
    if (lost_) return;
    lost_ = true;
    // The socket stays readable (end of file) and would spin the loop.
    notifier_->setEnabled(false);
    QObject::disconnect(beforeBlock_);
    auto losses = registry_->losses;
    for (auto& [id, handler] : losses) handler();
}

}  // namespace tamborix::x11
