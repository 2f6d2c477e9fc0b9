#include "platform/linux/desktop/x11/startup_notification.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

#include "platform/linux/desktop/x11/x_connection.h"

namespace tamborix::x11 {

namespace {

// Values are quoted; a quote or backslash inside is escaped.
std::string quoted(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string idWord(const std::string& appId) {
    std::string word;
    for (char c : appId) word += (std::isalnum(static_cast<unsigned char>(c)) || c == '.') ? c : '_';
    return word;
}

}  // namespace

std::string announceLaunch(XConnection& x, const std::string& name, const std::string& icon,
                           const std::string& appId) {
    static unsigned sequence = 0;
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    const std::string id = "tamborix-" + std::to_string(::getpid()) + "-" + idWord(appId) + "-" +
                           std::to_string(++sequence) + "-" + std::to_string(now);
    std::string message = "new: ID=" + quoted(id) + " NAME=" + quoted(name) + " SCREEN=0";
    if (!icon.empty()) message += " ICON=" + quoted(icon);
    if (!appId.empty()) message += " APPLICATION_ID=" + quoted(appId);
    message += '\0';

    auto* c = x.get();
    // The messages name a window of the sender's own, which only has to exist while they go out.
    const xcb_window_t sender = xcb_generate_id(c);
    const std::uint32_t overrideRedirect = 1;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, sender, x.root(), -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      &overrideRedirect);
    const xcb_atom_t begin = x.atom("_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = x.atom("_NET_STARTUP_INFO");
    for (std::size_t at = 0; at < message.size(); at += 20) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = sender;
        event.type = at == 0 ? begin : more;
        std::memcpy(event.data.data8, message.data() + at, std::min<std::size_t>(20, message.size() - at));
        xcb_send_event(c, 0, x.root(), XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(c, sender);
    x.flush();
    return id;
}

}  // namespace tamborix::x11
