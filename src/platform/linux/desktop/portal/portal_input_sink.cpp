#include "platform/linux/desktop/portal/portal_input_sink.h"

#include <xkbcommon/xkbcommon.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QTimer>
#include <algorithm>

#include "base/user_text.h"
#include "base/utf16.h"
#include "platform/linux/support/evdev/evdev_button.h"
#include "platform/linux/desktop/portal/portal_request.h"

namespace tamborix::portal {

namespace {

constexpr std::uint32_t keysymReturn = 0xff0d;
constexpr std::uint32_t keysymTab = 0xff09;
// Wheel steps are counted as the X11 backend counts its clicks, so a phone scrolls as far here.
constexpr int pixelsPerWheelStep = 50;
constexpr int replyTimeoutMs = 5000;

bool contains(std::string_view haystack, std::string_view name) {
    // XDG_CURRENT_DESKTOP is a colon-separated list.
    std::size_t start = 0;
    while (start <= haystack.size()) {
        const auto end = std::min(haystack.find(':', start), haystack.size());
        if (haystack.substr(start, end - start) == name) return true;
        start = end + 1;
    }
    return false;
}

// Whole steps out of the pixels plus what was carried; the rest is carried to the next scroll.
int steps(int& carry, std::int32_t pixels) {
    const std::int64_t total = std::int64_t(carry) + pixels;
    const auto n = total / pixelsPerWheelStep;
    carry = static_cast<int>(total - n * pixelsPerWheelStep);
    return static_cast<int>(n);
}

}  // namespace

DesktopQuirks quirksFor(std::string_view currentDesktop) {
    DesktopQuirks q;
    if (contains(currentDesktop, "KDE")) {
        q.smoothScrollReversed = true;
        q.asksConsent = false;
    }
    if (contains(currentDesktop, "GNOME")) {
        q.keySpacingMs = 5;
        q.keyboardWarmUpMs = 300;
    }
    return q;
}

PortalInputSink::PortalInputSink(RemoteDesktopSession& session, DesktopQuirks quirks)
    : session_(session), quirks_(quirks) {}

PortalInputSink::~PortalInputSink() { releaseHeld(); }

bool PortalInputSink::mayPost() const {
    return session_.state() == RemoteDesktopSession::State::running &&
           (session_.devices() & (RemoteDesktopSession::keyboard | RemoteDesktopSession::pointer)) != 0;
}

std::string PortalInputSink::reason() const { return mayPost() ? std::string() : session_.status(); }

std::string PortalInputSink::remedy() const {
    if (mayPost()) return {};
    return userText("Portal", "Allow remote control in the desktop's dialog (it may be behind other windows); if it was "
           "refused, start the helper again.").str();
}

void PortalInputSink::post(const char* method, QVariantList args, bool isKey) {
    args.prepend(QVariant::fromValue(QDBusObjectPath(session_.handle())));
    queue_.push_back({method, std::move(args), isKey, isKey ? quirks_.keySpacingMs : 0});
    sendNext();
}

void PortalInputSink::sendNext() {
    if (inFlight_ || queue_.empty()) return;
    if (!mayPost()) {
        queue_.clear();
        return;
    }
    Call next = std::move(queue_.front());
    queue_.pop_front();
    inFlight_ = true;
    const auto resume = [this] {
        inFlight_ = false;
        sendNext();
    };
    if (!next.method) {
        QTimer::singleShot(next.pauseMs, &context_, resume);
        return;
    }
    auto message = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService),
                                                  QString::fromLatin1(desktopPath),
                                                  QStringLiteral("org.freedesktop.portal.RemoteDesktop"),
                                                  QString::fromLatin1(next.method));
    message.setArguments(next.args);
    auto* watcher = new QDBusPendingCallWatcher(session_.bus().asyncCall(message, replyTimeoutMs), &context_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context_,
                     [this, resume, pause = next.pauseMs](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         // An error changes nothing for the events after it: the portal reports
                         // nothing a sender could mend, and a closed session empties the queue.
                         if (pause > 0) QTimer::singleShot(pause, &context_, resume);
                         else resume();
                     });
}

void PortalInputSink::releaseHeld() {
    queue_.clear();
    if (!mayPost()) return;
    auto send = [this](const char* method, QVariantList args) {
        auto message = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService),
                                                      QString::fromLatin1(desktopPath),
                                                      QStringLiteral("org.freedesktop.portal.RemoteDesktop"),
                                                      QString::fromLatin1(method));
        args.prepend(QVariant::fromValue(QDBusObjectPath(session_.handle())));
        message.setArguments(args);
        session_.bus().send(message);
    };
    for (const int button : buttonsHeld_) send("NotifyPointerButton", {QVariantMap{}, button, uint(0)});
    for (const auto sym : keysHeld_) send("NotifyKeyboardKeysym", {QVariantMap{}, int(sym), uint(0)});
    buttonsHeld_.clear();
    keysHeld_.clear();
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
    const Point kept{std::clamp(at.x, r.minX(), r.maxX() - 1), std::clamp(at.y, r.minY(), r.maxY() - 1)};
    asked_ = at;
    if (session_.streamsPlaced()) {
        post("NotifyPointerMotionAbsolute",
             {QVariantMap{}, target->nodeId, kept.x - r.minX(), kept.y - r.minY()});
        last_ = kept;
        return;
    }
    // Without the monitors' places an absolute motion cannot be aimed (KWin puts it on one
    // monitor whichever stream names it); relative motion adds up exactly across monitors. The
    // first move pushes the pointer into the top-left corner, where the desktop keeps it.
    if (!last_) {
        post("NotifyPointerMotion", {QVariantMap{}, -1e6, -1e6});
        last_ = Point{r.minX(), r.minY()};
        for (const auto& s : streams) last_ = Point{std::min(last_->x, s.bounds.minX()), std::min(last_->y, s.bounds.minY())};
    }
    const double dx = kept.x - last_->x;
    const double dy = kept.y - last_->y;
    if (dx != 0 || dy != 0) post("NotifyPointerMotion", {QVariantMap{}, dx, dy});
    last_ = kept;
}

void PortalInputSink::mouse(const MouseEvent& event) {
    if (!mayPost()) return;
    const auto button = moveForButton(event, asked_, [this](Point at) { moveTo(at); });
    if (!button) return;
    if (button->down) buttonsHeld_.insert(button->code);
    else buttonsHeld_.erase(button->code);
    post("NotifyPointerButton", {QVariantMap{}, button->code, uint(button->down ? 1 : 0)});
}

void PortalInputSink::scroll(const ScrollEvent& event) {
    if (!mayPost() || (event.vertical == 0 && event.horizontal == 0)) return;
    if (quirks_.smoothScrollReversed) {
        // The portal's steps follow the wheel: positive scrolls down or right, the opposite of
        // the sink's sign.
        const int v = steps(scrollCarryY_, event.vertical);
        const int h = steps(scrollCarryX_, event.horizontal);
        if (v != 0) post("NotifyPointerAxisDiscrete", {QVariantMap{}, uint(0), -v});
        if (h != 0) post("NotifyPointerAxisDiscrete", {QVariantMap{}, uint(1), -h});
        return;
    }
    // The portal's axis follows the wheel as well.
    post("NotifyPointerAxis", {QVariantMap{{QStringLiteral("finish"), true}}, double(-event.horizontal),
                               double(-event.vertical)});
}

void PortalInputSink::keysym(std::uint32_t sym, bool down) {
    if (keyboardWarmFor_ != session_.handle() && quirks_.keyboardWarmUpMs > 0) {
        keyboardWarmFor_ = session_.handle();
        constexpr std::uint32_t shiftL = 0xffe1;
        post("NotifyKeyboardKeysym", {QVariantMap{}, int(shiftL), uint(1)}, true);
        post("NotifyKeyboardKeysym", {QVariantMap{}, int(shiftL), uint(0)}, true);
        queue_.push_back({nullptr, {}, false, quirks_.keyboardWarmUpMs});
    }
    if (down) keysHeld_.insert(sym);
    else keysHeld_.erase(sym);
    post("NotifyKeyboardKeysym", {QVariantMap{}, int(sym), uint(down ? 1 : 0)}, true);
}

void PortalInputSink::key(const KeyEvent& event) {
    if (!mayPost()) return;
    keysym(event.value, event.down);
}

void PortalInputSink::text(std::u16string_view chunk) {
    if (!mayPost()) return;
    for (const char32_t c : codePoints(chunk)) {
        std::uint32_t sym = 0;
        if (c == U'\n' || c == U'\r') sym = keysymReturn;
        else if (c == U'\t') sym = keysymTab;
        else sym = xkb_utf32_to_keysym(static_cast<std::uint32_t>(c));
        if (sym == 0) continue;  // a lone surrogate or a control character
        if (!typable_.empty() && !typable_.contains(sym)) {
            untypable(c, userText("Typing", "the desktop's keyboard layout has no key for it").str());
            continue;
        }
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
