#include "platform/linux/desktop/x11/x11_clipboard.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::x11 {

namespace {

constexpr auto answerLimit = std::chrono::milliseconds(1000);
constexpr auto managerLimit = std::chrono::milliseconds(2000);
// Text past this is not read from another owner (the helper never needs more), nor served.
constexpr std::size_t readLimit = 1 << 20;

std::string latin1ToUtf8(const std::string& in) {
    std::string out;
    for (unsigned char c : in) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

X11Clipboard::X11Clipboard(XConnection& x, std::shared_ptr<void> keepAlive)
    : keepAlive_(std::move(keepAlive)), x_(x) {
    auto* c = x_.get();
    window_ = xcb_generate_id(c);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, x_.root(), -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    x_.flush();
    subscription_ = x_.subscribe([this](const xcb_generic_event_t& e) { onEvent(e); });
}

X11Clipboard::~X11Clipboard() {
    if (owned_ && x_.alive()) handToManager();
    subscription_.reset();
    if (x_.alive()) {
        xcb_destroy_window(x_.get(), window_);
        x_.flush();
    }
}

void X11Clipboard::onEvent(const xcb_generic_event_t& e) {
    switch (e.response_type & 0x7f) {
    case XCB_SELECTION_REQUEST: {
        const auto& request = reinterpret_cast<const xcb_selection_request_event_t&>(e);
        if (request.owner == window_) answer(request);
        break;
    }
    case XCB_SELECTION_CLEAR: {
        const auto& clear = reinterpret_cast<const xcb_selection_clear_event_t&>(e);
        if (clear.owner == window_ && clear.selection == x_.atom("CLIPBOARD")) owned_.reset();
        break;
    }
    case XCB_SELECTION_NOTIFY: {
        const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(e);
        if (notify.requestor != window_) break;
        notified_ = true;
        notifiedProperty_ = notify.property;
        break;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        if (notify.window != window_) break;
        lastTime_ = notify.time;
        if (notify.state == XCB_PROPERTY_NEW_VALUE) propertyChanged_ = true;
        break;
    }
    default:
        break;
    }
}

bool X11Clipboard::store(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t target) {
    auto* c = x_.get();
    if (target == x_.atom("TARGETS")) {
        const std::array<xcb_atom_t, 6> targets{x_.atom("TARGETS"), x_.atom("TIMESTAMP"),
                                                x_.atom("UTF8_STRING"), x_.atom("text/plain;charset=utf-8"),
                                                x_.atom("TEXT"), XCB_ATOM_STRING};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_ATOM, 32,
                            targets.size(), targets.data());
        return true;
    }
    if (target == x_.atom("TIMESTAMP")) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_INTEGER, 32, 1,
                            &ownedSince_);
        return true;
    }
    const bool utf8 = target == x_.atom("UTF8_STRING") || target == x_.atom("TEXT") ||
                      target == x_.atom("text/plain;charset=utf-8");
    // STRING is Latin-1; text that is plain ASCII is the same in both.
    const bool ascii = std::all_of(owned_->begin(), owned_->end(),
                                   [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
    if ((utf8 || (target == XCB_ATOM_STRING && ascii)) && owned_->size() <= readLimit) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property,
                            target == XCB_ATOM_STRING ? xcb_atom_t{XCB_ATOM_STRING} : x_.atom("UTF8_STRING"), 8,
                            static_cast<std::uint32_t>(owned_->size()), owned_->data());
        return true;
    }
    return false;
}

void X11Clipboard::answer(const xcb_selection_request_event_t& request) {
    xcb_selection_notify_event_t reply{};
    reply.response_type = XCB_SELECTION_NOTIFY;
    reply.time = request.time;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.property = XCB_ATOM_NONE;
    // Old clients leave the property to the owner.
    const xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
    const bool ours = owned_ && request.selection == x_.atom("CLIPBOARD") &&
                      (request.time == XCB_CURRENT_TIME || request.time >= ownedSince_);
    if (ours && store(request.requestor, property, request.target)) reply.property = property;
    xcb_send_event(x_.get(), 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&reply));
    x_.flush();
}

xcb_timestamp_t X11Clipboard::serverTime() {
    // A zero-length append changes nothing but brings back the server's time.
    const xcb_atom_t probe = x_.atom("TAMBORIX_TIME");
    lastTime_ = XCB_CURRENT_TIME;
    xcb_change_property(x_.get(), XCB_PROP_MODE_APPEND, window_, probe, XCB_ATOM_STRING, 8, 0, "");
    if (!x_.waitFor([this] { return lastTime_ != XCB_CURRENT_TIME; }, answerLimit)) {
        return XCB_CURRENT_TIME;
    }
    return lastTime_;
}

bool X11Clipboard::setText(const std::string& text) {
    if (!x_.alive()) return false;
    auto* c = x_.get();
    const xcb_atom_t clipboard = x_.atom("CLIPBOARD");
    const xcb_timestamp_t time = serverTime();
    xcb_set_selection_owner(c, window_, clipboard, time);
    XReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
    if (!owner || owner->owner != window_) return false;
    owned_ = text;
    ownedSince_ = time;
    return true;
}

std::optional<std::string> X11Clipboard::convert(xcb_atom_t target) const {
    auto& x = const_cast<XConnection&>(x_);
    auto* c = x.get();
    const xcb_atom_t property = x.atom("TAMBORIX_CLIPBOARD");
    notified_ = false;
    xcb_delete_property(c, window_, property);
    xcb_convert_selection(c, window_, x.atom("CLIPBOARD"), target, property, XCB_CURRENT_TIME);
    if (!x.waitFor([this] { return notified_; }, answerLimit)) return std::nullopt;
    if (notifiedProperty_ == XCB_ATOM_NONE) return std::nullopt;

    auto read = [&]() -> XReply<xcb_get_property_reply_t> {
        propertyChanged_ = false;
        return XReply<xcb_get_property_reply_t>(xcb_get_property_reply(
            c, xcb_get_property(c, 1, window_, property, XCB_ATOM_ANY, 0, readLimit / 4 + 1), nullptr));
    };
    auto reply = read();
    if (!reply) return std::nullopt;
    std::string data;
    if (reply->type == x.atom("INCR")) {
        // Large text comes in pieces, each announced by a new value of the property; an empty
        // piece ends it. Deleting the property (done by the read) asks for the next.
        x.flush();
        for (;;) {
            if (!x.waitFor([this] { return propertyChanged_; }, answerLimit)) return std::nullopt;
            auto piece = read();
            if (!piece) return std::nullopt;
            const auto n = static_cast<std::size_t>(xcb_get_property_value_length(piece.get()));
            if (n == 0) break;
            if (data.size() < readLimit) {
                data.append(static_cast<const char*>(xcb_get_property_value(piece.get())), n);
            }
            x.flush();
        }
    } else {
        data.assign(static_cast<const char*>(xcb_get_property_value(reply.get())),
                    static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
        if (reply->type == XCB_ATOM_STRING) data = latin1ToUtf8(data);
    }
    return data;
}

std::optional<std::string> X11Clipboard::text() const {
    if (!x_.alive()) return std::nullopt;
    auto& x = const_cast<XConnection&>(x_);
    auto* c = x.get();
    XReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, x.atom("CLIPBOARD")), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE) return std::nullopt;
    if (owner->owner == window_ && owned_) return owned_;
    if (auto utf8 = convert(x.atom("UTF8_STRING"))) return utf8;
    return convert(XCB_ATOM_STRING);
}

void X11Clipboard::handToManager() {
    auto* c = x_.get();
    const xcb_atom_t manager = x_.atom("CLIPBOARD_MANAGER");
    XReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, manager), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE) return;
    // The manager asks for our targets while we wait; the loop answers its requests.
    notified_ = false;
    xcb_convert_selection(c, window_, manager, x_.atom("SAVE_TARGETS"), x_.atom("TAMBORIX_SAVE"),
                          XCB_CURRENT_TIME);
    (void)x_.waitFor([this] { return notified_; }, managerLimit);
}

}  // namespace tamborix::x11
