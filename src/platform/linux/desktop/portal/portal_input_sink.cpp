#include "platform/linux/desktop/portal/portal_input_sink.h"

#include <xkbcommon/xkbcommon.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <algorithm>

#include "platform/linux/support/evdev/evdev_button.h"
#include "platform/linux/desktop/portal/portal_request.h"

namespace tamborix::portal {

namespace {

constexpr std::uint32_t keysymReturn = 0xff0d;
constexpr std::uint32_t keysymTab = 0xff09;

}  // namespace

bool PortalInputSink::mayPost() const {
    return session_.state() == RemoteDesktopSession::State::running &&
           (session_.devices() & (RemoteDesktopSession::keyboard | RemoteDesktopSession::pointer)) != 0;
}

std::string PortalInputSink::reason() const { return mayPost() ? std::string() : session_.status(); }

void PortalInputSink::call(const char* method, QVariantList args) {
    auto message = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService),
                                                  QString::fromLatin1(desktopPath),
                                                  QStringLiteral("org.freedesktop.portal.RemoteDesktop"),
                                                  QString::fromLatin1(method));
    args.prepend(QVariant::fromValue(QDBusObjectPath(session_.handle())));
    message.setArguments(args);
    // Input must not wait for a reply per event; the portal reports nothing we could act on.
    session_.bus().send(message);
}

void PortalInputSink::moveTo(Point at) {
    const auto& streams = session_.streams();
    if (streams.empty()) return;
    // The stream that holds the point, else the nearest one with the point kept on it.
    const PortalStream* target = &streams.front();
    double best = -1;
    for (const auto& s : streams) {
        const double dx = std::max({s.bounds.minX() - at.x, 0.0, at.x - (s.bounds.maxX() - 1)});
        const double dy = std::max({s.bounds.minY() - at.y, 0.0, at.y - (s.bounds.maxY() - 1)});
        const double d = dx * dx + dy * dy;
        if (best < 0 || d < best) {
            best = d;
            target = &s;
        }
    }
    const Rect& r = target->bounds;
    const double x = std::clamp(at.x, r.minX(), r.maxX() - 1) - r.minX();
    const double y = std::clamp(at.y, r.minY(), r.maxY() - 1) - r.minY();
    call("NotifyPointerMotionAbsolute", {QVariantMap{}, target->nodeId, x, y});
    last_ = Point{x + r.minX(), y + r.minY()};
    asked_ = at;
}

void PortalInputSink::mouse(const MouseEvent& event) {
    if (!mayPost()) return;
    if (isMotion(event.type)) {
        moveTo(event.at);
        return;
    }
    if (!asked_ || !(*asked_ == event.at)) moveTo(event.at);
    const bool down = isPress(event.type);
    if (!down && !isRelease(event.type)) return;
    call("NotifyPointerButton", {QVariantMap{}, evdevButton(event.button), uint(down ? 1 : 0)});
}

void PortalInputSink::scroll(const ScrollEvent& event) {
    if (!mayPost() || (event.vertical == 0 && event.horizontal == 0)) return;
    // The portal's axis follows the wheel: positive dy scrolls down (content moves up), the
    // opposite of the sink's sign.
    call("NotifyPointerAxis", {QVariantMap{{QStringLiteral("finish"), true}},
                               double(-event.horizontal), double(-event.vertical)});
}

void PortalInputSink::keysym(std::uint32_t sym, bool down) {
    call("NotifyKeyboardKeysym", {QVariantMap{}, int(sym), uint(down ? 1 : 0)});
}

void PortalInputSink::key(const KeyEvent& event) {
    if (!mayPost()) return;
    keysym(event.value, event.down);
}

void PortalInputSink::text(std::u16string_view chunk) {
    if (!mayPost()) return;
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        char32_t c = chunk[i];
        if (c >= 0xd800 && c <= 0xdbff && i + 1 < chunk.size()) {
            const char32_t low = chunk[i + 1];
            if (low >= 0xdc00 && low <= 0xdfff) {
                c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
                ++i;
            }
        }
        std::uint32_t sym = 0;
        if (c == U'\n' || c == U'\r') sym = keysymReturn;
        else if (c == U'\t') sym = keysymTab;
        else sym = xkb_utf32_to_keysym(static_cast<std::uint32_t>(c));
        if (sym == 0) continue;  // a lone surrogate or a control character
        keysym(sym, true);
        keysym(sym, false);
    }
}

void PortalInputSink::warp(Point at) {
    if (mayPost()) moveTo(at);
}

std::vector<LayoutEntry> PortalInputSink::layout() {
    std::vector<LayoutEntry> out;
    for (char32_t c = 0x20; c < 0x7f; ++c) out.push_back({xkb_utf32_to_keysym(c), false, c});
    return out;
}

std::vector<DisplayInfo> PortalDisplaySource::displays() const {
    std::vector<DisplayInfo> out;
    for (const auto& s : session_.streams()) out.push_back({s.nodeId, s.bounds, s.bounds});
    return out;
}

std::optional<Point> PortalDisplaySource::pointer() const {
    if (auto p = sink_.lastPosition()) return p;
    const auto& streams = session_.streams();
    if (streams.empty()) return std::nullopt;
    return Point{streams.front().bounds.midX(), streams.front().bounds.midY()};
}

}  // namespace tamborix::portal
