#include "platform/linux/desktop/portal/remote_desktop_session.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <fcntl.h>

#include <filesystem>

#include "base/user_text.h"
#include "platform/linux/desktop/portal/portal_request.h"
#include "store/private_file.h"

namespace tamborix::portal {

namespace {

const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString screenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");

// Persist until the user revokes it.
constexpr uint persistUntilRevoked = 2;
constexpr uint sourceMonitor = 1;
constexpr uint cursorEmbedded = 2;

QString pathOf(const QVariant& v) {
    if (v.canConvert<QDBusObjectPath>()) return v.value<QDBusObjectPath>().path();
    return v.toString();
}

std::pair<int, int> pairOf(const QVariant& v) {
    int a = 0;
    int b = 0;
    if (v.canConvert<QDBusArgument>()) {
        const auto arg = v.value<QDBusArgument>();
        arg.beginStructure();
        arg >> a >> b;
        arg.endStructure();
    }
    return {a, b};
}

std::vector<PortalStream> parseStreams(const QVariant& v, bool& placed) {
    std::vector<PortalStream> out;
    placed = true;
    if (!v.canConvert<QDBusArgument>()) return out;
    bool anyPosition = false;
    const auto arg = v.value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        uint node = 0;
        QVariantMap props;
        arg.beginStructure();
        arg >> node >> props;
        arg.endStructure();
        anyPosition = anyPosition || props.contains(QStringLiteral("position"));
        const auto [x, y] = pairOf(props.value(QStringLiteral("position")));
        const auto [w, h] = pairOf(props.value(QStringLiteral("size")));
        out.push_back({node, Rect{double(x), double(y), double(w), double(h)}});
    }
    arg.endArray();
    if (!anyPosition) {
        placed = false;
        double x = 0;
        for (auto& s : out) {
            s.bounds.x = x;
            x += s.bounds.width;
        }
    }
    return out;
}

}  // namespace

RemoteDesktopSession::RemoteDesktopSession(QDBusConnection bus, std::filesystem::path tokenFile)
    : bus_(std::move(bus)), tokenFile_(std::move(tokenFile)) {}

RemoteDesktopSession::~RemoteDesktopSession() {
    pending_.reset();
    if (!session_.isEmpty()) {
        bus_.send(QDBusMessage::createMethodCall(QString::fromLatin1(desktopService), session_,
                                                 QString::fromLatin1(sessionInterface),
                                                 QStringLiteral("Close")));
    }
}

void RemoteDesktopSession::start() {
    if (state_ == State::starting || state_ == State::running) return;
    screenStatus_ = userText("Portal", "waiting for the desktop's screen-sharing permission").str();
    setState(State::starting, asksConsent_ ? userText("Portal", "waiting for the desktop's remote-control permission").str()
                                           : userText("Portal", "starting remote control with the desktop (it grants "
                                             "it without asking)").str());
    auto get = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService),
                                              QString::fromLatin1(desktopPath),
                                              QStringLiteral("org.freedesktop.DBus.Properties"),
                                              QStringLiteral("GetAll"));
    get << remoteDesktop;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get, 10'000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<QVariantMap> reply = *w;
        w->deleteLater();
        if (reply.isError()) {
            fail(State::failed, userText("Portal", "no remote-desktop portal in this session (%1)")
                                    .with({reply.error().message().toStdString()}));
            return;
        }
        version_ = reply.value().value(QStringLiteral("version")).toUInt();
        const uint available = reply.value().value(QStringLiteral("AvailableDeviceTypes")).toUInt();
        if ((available & (keyboard | pointer)) == 0) {
            fail(State::failed, userText("Portal", "the desktop offers no keyboard or pointer to remote control").str());
            return;
        }
        auto modes = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService),
                                                    QString::fromLatin1(desktopPath),
                                                    QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
        modes << screenCast << QStringLiteral("AvailableCursorModes");
        auto* next = new QDBusPendingCallWatcher(bus_.asyncCall(modes, 10'000), this);
        connect(next, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w2) {
            QDBusPendingReply<QDBusVariant> r = *w2;
            w2->deleteLater();
            cursorModes_ = r.isError() ? 0 : r.value().variant().toUInt();
            // The Clipboard interface (xdg-desktop-portal 1.18 and later) must be asked for before
            // Start; an older portal answers that it has no such interface.
            auto clip = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService),
                                                       QString::fromLatin1(desktopPath),
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
            clip << clipboardInterface << QStringLiteral("version");
            auto* last = new QDBusPendingCallWatcher(bus_.asyncCall(clip, 10'000), this);
            connect(last, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w3) {
                QDBusPendingReply<QDBusVariant> v = *w3;
                w3->deleteLater();
                clipboardOffered_ = !v.isError() && v.value().variant().toUInt() >= 1;
                createSession();
            });
        });
    });
}

void RemoteDesktopSession::createSession() {
    QVariantMap options{{QStringLiteral("session_handle_token"), PortalRequest::newToken("session")}};
    request(remoteDesktop, QStringLiteral("CreateSession"), {options}, [this](const QVariantMap& results) {
        session_ = pathOf(results.value(QStringLiteral("session_handle")));
        if (session_.isEmpty()) {
            fail(State::failed, userText("Portal", "the remote-desktop portal gave no session").str());
            return;
        }
        bus_.connect(QString::fromLatin1(desktopService), session_,
                     QString::fromLatin1(sessionInterface), QStringLiteral("Closed"), this,
                     SLOT(onClosed(QVariantMap)));
        selectDevices();
    });
}

void RemoteDesktopSession::selectDevices() {
    QVariantMap options{{QStringLiteral("types"), uint(keyboard | pointer)}};
    if (version_ >= 2) {
        options.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        const std::string token = takeToken();
        if (!token.empty()) options.insert(QStringLiteral("restore_token"), QString::fromStdString(token));
    }
    request(remoteDesktop, QStringLiteral("SelectDevices"),
            {QVariant::fromValue(QDBusObjectPath(session_)), options},
            [this](const QVariantMap&) { selectSources(); });
}

void RemoteDesktopSession::selectSources() {
    QVariantMap options{{QStringLiteral("types"), sourceMonitor}, {QStringLiteral("multiple"), true}};
    if (cursorModes_ & cursorEmbedded) options.insert(QStringLiteral("cursor_mode"), cursorEmbedded);
    request(screenCast, QStringLiteral("SelectSources"),
            {QVariant::fromValue(QDBusObjectPath(session_)), options},
            [this](const QVariantMap&) {
                if (clipboardOffered_) {
                    // No reply to wait for: the portal takes it before the Start sent after it.
                    auto call = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService),
                                                               QString::fromLatin1(desktopPath),
                                                               clipboardInterface,
                                                               QStringLiteral("RequestClipboard"));
                    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap{};
                    bus_.send(call);
                }
                startSession();
            });
}

void RemoteDesktopSession::startSession() {
    request(remoteDesktop, QStringLiteral("Start"),
            {QVariant::fromValue(QDBusObjectPath(session_)), QString(), QVariantMap{}},
            [this](const QVariantMap& results) { started(results); });
}

void RemoteDesktopSession::started(const QVariantMap& results) {
    // Replace the used token before anything else can fail: the old one is spent.
    const QString token = results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty()) keepToken(token);
    devices_ = results.value(QStringLiteral("devices")).toUInt();
    clipboardEnabled_ = results.value(QStringLiteral("clipboard_enabled")).toBool();
    streams_ = parseStreams(results.value(QStringLiteral("streams")), streamsPlaced_);
    if ((devices_ & (keyboard | pointer)) == 0) {
        fail(State::refused, userText("Portal", "the desktop did not share a keyboard or pointer").str());
        return;
    }
    if (streams_.empty()) {
        screenStatus_ = userText("Portal", "the desktop shared no monitor").str();
        running();
        return;
    }
    openPipeWireRemote();
}

void RemoteDesktopSession::openPipeWireRemote() {
    auto call = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService),
                                               QString::fromLatin1(desktopPath), screenCast,
                                               QStringLiteral("OpenPipeWireRemote"));
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap{};
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 10'000), this);
    const QString session = session_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, session](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        w->deleteLater();
        // Closed or failed meanwhile: that already said what happened.
        if (state_ != State::starting || session_ != session) return;
        if (reply.isError()) {
            screenStatus_ = userText("Portal", "the desktop did not open the screen's PipeWire stream (%1)")
                                .with({reply.error().message().toStdString()});
        } else if (!reply.value().isValid()) {
            screenStatus_ = userText("Portal", "the desktop opened no PipeWire stream for the screen").str();
        } else {
            remote_ = reply.value();
            screenStatus_.clear();
        }
        running();
    });
}

void RemoteDesktopSession::running() {
    setState(State::running,
             !asksConsent_ ? userText("Portal", "remote control allowed; the desktop grants it without asking").str()
             : version_ >= 2 ? userText("Portal", "remote control allowed; the desktop keeps this permission").str()
                           : userText("Portal", "remote control allowed for this run; the desktop asks again at every "
                             "start (remote-desktop portal version 1)").str());
}

UniqueFd RemoteDesktopSession::dupPipeWireRemote() const {
    if (state_ != State::running || !remote_.isValid()) return {};
    return UniqueFd(::fcntl(remote_.fileDescriptor(), F_DUPFD_CLOEXEC, 0));
}

void RemoteDesktopSession::onClosed(const QVariantMap&) {
    // A refused dialog also closes the session (GNOME signals it after the answer): the refusal
    // is what the user needs to read.
    if (state_ != State::starting && state_ != State::running) return;
    session_.clear();
    clipboardEnabled_ = false;
    devices_ = 0;
    streams_.clear();
    remote_ = {};
    screenStatus_ = userText("Portal", "the desktop ended the remote-control session").str();
    setState(State::closed, screenStatus_);
}

void RemoteDesktopSession::request(const QString& interface, const QString& method,
                                   QVariantList args, std::function<void(const QVariantMap&)> next) {
    auto call = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService),
                                               QString::fromLatin1(desktopPath), interface, method);
    call.setArguments(args);
    pending_ = std::make_unique<PortalRequest>(
        bus_, call, [this, method, next = std::move(next)](uint response, const QVariantMap& results,
                                                          const QString& error) {
            // The request is still on the stack: let the loop delete it.
            if (pending_) pending_.release()->deleteLater();
            if (response == static_cast<uint>(Response::success)) {
                next(results);
            } else if (response == static_cast<uint>(Response::cancelled)) {
                fail(State::refused, userText("Portal", "remote control was refused in the desktop's dialog").str());
            } else if (!error.isEmpty()) {
                fail(State::failed, userText("Portal", "the remote-desktop portal failed (%1: %2)")
                                        .with({method.toStdString(), error.toStdString()}));
            } else {
                fail(State::failed, userText("Portal", "the desktop ended the remote-control request").str());
            }
        });
}

void RemoteDesktopSession::fail(State state, std::string why) {
    if (!session_.isEmpty()) {
        // Its Closed signal may still come, and must not touch a later session.
        bus_.disconnect(QString::fromLatin1(desktopService), session_, QString::fromLatin1(sessionInterface),
                        QStringLiteral("Closed"), this, SLOT(onClosed(QVariantMap)));
        bus_.send(QDBusMessage::createMethodCall(QString::fromLatin1(desktopService), session_,
                                                 QString::fromLatin1(sessionInterface),
                                                 QStringLiteral("Close")));
        session_.clear();
    }
    clipboardEnabled_ = false;
    devices_ = 0;
    streams_.clear();
    remote_ = {};
    screenStatus_ = why;
    setState(state, std::move(why));
}

void RemoteDesktopSession::setState(State state, std::string status) {
    state_ = state;
    status_ = std::move(status);
    if (changed_) changed_();
}

std::string RemoteDesktopSession::takeToken() {
    const auto read = readWholeFile(tokenFile_, 4096);
    if (read.status == FileRead::Status::missing) return {};
    std::error_code ignored;
    std::filesystem::remove(tokenFile_, ignored);
    std::string token = read.contents;
    while (!token.empty() && (token.back() == '\n' || token.back() == ' ')) token.pop_back();
    return token;
}

void RemoteDesktopSession::keepToken(const QString& token) {
    (void)writePrivate(token.toStdString() + "\n", tokenFile_);
}

}  // namespace tamborix::portal
