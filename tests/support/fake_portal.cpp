#include "support/fake_portal.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace tamborix::testing {

QDBusArgument& operator<<(QDBusArgument& arg, const PortalIntPair& p) {
    arg.beginStructure();
    arg << p.a << p.b;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, PortalIntPair& p) {
    arg.beginStructure();
    arg >> p.a >> p.b;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const PortalStreamEntry& s) {
    arg.beginStructure();
    arg << s.node << s.props;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, PortalStreamEntry& s) {
    arg.beginStructure();
    arg >> s.node >> s.props;
    arg.endStructure();
    return arg;
}

namespace {

QString senderPart(const QDBusMessage& m) {
    QString s = m.service();
    if (s.startsWith(QLatin1Char(':'))) s.remove(0, 1);
    return s.replace(QLatin1Char('.'), QLatin1Char('_'));
}

}  // namespace

QVariant FakePortal::streams() const {
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalIntPair>();
        qDBusRegisterMetaType<PortalStreamEntry>();
        qDBusRegisterMetaType<QList<PortalStreamEntry>>();
        return true;
    }();
    (void)registered;
    QList<PortalStreamEntry> out;
    for (const auto& m : monitors) {
        out.push_back({m.node, {{QStringLiteral("position"), QVariant::fromValue(PortalIntPair{m.x, m.y})},
                                {QStringLiteral("size"), QVariant::fromValue(PortalIntPair{m.width, m.height})},
                                {QStringLiteral("source_type"), 1u}}});
    }
    return QVariant::fromValue(out);
}

void FakePortal::openRemote(const QDBusMessage& call) {
    ++remotesOpened;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = pipeWireSocket.string();
    const bool fits = !path.empty() && path.size() < sizeof addr.sun_path;
    if (fits) std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (fd < 0 || !fits || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) ::close(fd);
        bus_.send(call.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.Failed"),
                                        QStringLiteral("no PipeWire daemon")));
        return;
    }
    // The descriptor object keeps its own copy.
    bus_.send(call.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fd))));
    ::close(fd);
}

void FakePortal::respond(const QDBusMessage& call, const QString& token, uint response,
                         const QVariantMap& results) {
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/") +
                         senderPart(call) + QLatin1Char('/') + token;
    // As the real portal may: the Response goes out before the reply that names the request.
    auto signal = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.Request"),
                                             QStringLiteral("Response"));
    signal << response << results;
    bus_.send(signal);
    bus_.send(call.createReply(QVariant::fromValue(QDBusObjectPath(path))));
}

bool FakePortal::handleMessage(const QDBusMessage& m, const QDBusConnection&) {
    const QString member = m.member();
    const auto args = m.arguments();
    if (m.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
        const QString iface = args.value(0).toString();
        if (member == QLatin1String("GetAll") && iface.endsWith(QLatin1String("RemoteDesktop"))) {
            QVariantMap props{{QStringLiteral("version"), version}, {QStringLiteral("AvailableDeviceTypes"), 7u}};
            bus_.send(m.createReply(QVariant::fromValue(props)));
        } else if (member == QLatin1String("Get") && iface.endsWith(QLatin1String("Clipboard"))) {
            if (clipboardVersion > 0) {
                bus_.send(m.createReply(QVariant::fromValue(QDBusVariant(clipboardVersion))));
            } else {
                bus_.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                             QStringLiteral("No such interface")));
            }
        } else if (member == QLatin1String("Get")) {
            bus_.send(m.createReply(QVariant::fromValue(QDBusVariant(7u))));
        } else {
            bus_.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"), member));
        }
        return true;
    }
    if (m.interface() == QLatin1String("org.freedesktop.portal.Session") && member == QLatin1String("Close")) {
        ++sessionsClosed;
        return true;
    }
    if (m.interface() == QLatin1String("org.freedesktop.portal.Clipboard")) return clipboardMessage(m);
    const QVariantMap options = args.isEmpty() ? QVariantMap{} : qdbus_cast<QVariantMap>(args.last());
    const QString token = options.value(QStringLiteral("handle_token")).toString();
    if (member == QLatin1String("CreateSession")) {
        lastSession = QStringLiteral("/org/freedesktop/portal/desktop/session/") + senderPart(m) +
                      QLatin1Char('/') + options.value(QStringLiteral("session_handle_token")).toString();
        respond(m, token, 0, {{QStringLiteral("session_handle"), lastSession}});
    } else if (member == QLatin1String("SelectDevices")) {
        lastDeviceOptions = options;
        if (options.contains(QStringLiteral("restore_token")) && std::filesystem::exists(tokenFile)) {
            tokenStillStoredWhenOffered = true;
        }
        respond(m, token, 0, {});
    } else if (member == QLatin1String("SelectSources")) {
        lastSourceOptions = options;
        respond(m, token, 0, {});
    } else if (member == QLatin1String("Start")) {
        const QString offered = lastDeviceOptions.value(QStringLiteral("restore_token")).toString();
        const bool restored = version >= 2 && validTokens.remove(offered);
        if (!restored) {
            ++dialogsShown;
            if (dialog == Dialog::cancel) {
                respond(m, token, 1, {});
                return true;
            }
        }
        QVariantMap results{{QStringLiteral("devices"), 3u}, {QStringLiteral("streams"), streams()}};
        if (clipboardRequested) results.insert(QStringLiteral("clipboard_enabled"), true);
        if (version >= 2 && lastDeviceOptions.contains(QStringLiteral("persist_mode"))) {
            const QString fresh = QStringLiteral("token-%1").arg(++counter_);
            validTokens.insert(fresh);
            results.insert(QStringLiteral("restore_token"), fresh);
        }
        respond(m, token, 0, results);
    } else if (member == QLatin1String("OpenPipeWireRemote")) {
        openRemote(m);
    } else if (member.startsWith(QLatin1String("Notify"))) {
        input.push_back({member, args});
        bus_.send(m.createReply());
    } else {
        return false;
    }
    return true;
}

void FakePortal::clipboardSignal(const QString& name, const QList<QVariant>& args) {
    auto signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                             QStringLiteral("org.freedesktop.portal.Clipboard"), name);
    signal.setArguments(args);
    bus_.send(signal);
}

bool FakePortal::clipboardMessage(const QDBusMessage& m) {
    const QString member = m.member();
    const auto args = m.arguments();
    const auto session = QVariant::fromValue(QDBusObjectPath(lastSession));
    if (member == QLatin1String("RequestClipboard")) {
        clipboardRequested = true;
        bus_.send(m.createReply());
    } else if (member == QLatin1String("SetSelection")) {
        offeredMimeTypes = qdbus_cast<QVariantMap>(args.value(1)).value(QStringLiteral("mime_types")).toStringList();
        bus_.send(m.createReply());
        clipboardSignal(QStringLiteral("SelectionOwnerChanged"),
                        {session, QVariantMap{{QStringLiteral("mime_types"), offeredMimeTypes},
                                              {QStringLiteral("session_is_owner"), true}}});
    } else if (member == QLatin1String("SelectionWrite")) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        if (pasteReadFd_ >= 0) ::close(pasteReadFd_);
        pasteReadFd_ = fds[0];
        bus_.send(m.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]))));
        ::close(fds[1]);
    } else if (member == QLatin1String("SelectionWriteDone")) {
        pasted.clear();
        char buffer[4096];
        ssize_t n = 0;
        while (pasteReadFd_ >= 0 && (n = ::read(pasteReadFd_, buffer, sizeof buffer)) > 0) pasted.append(buffer, std::size_t(n));
        if (!args.value(2).toBool()) pasted = "(failed)";
        if (pasteReadFd_ >= 0) ::close(pasteReadFd_);
        pasteReadFd_ = -1;
    } else if (member == QLatin1String("SelectionRead")) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        (void)!::write(fds[1], desktopClipboard.data(), desktopClipboard.size());
        ::close(fds[1]);
        bus_.send(m.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fds[0]))));
        ::close(fds[0]);
    } else {
        return false;
    }
    return true;
}

void FakePortal::paste() {
    clipboardSignal(QStringLiteral("SelectionTransfer"),
                    {QVariant::fromValue(QDBusObjectPath(lastSession)), QStringLiteral("text/plain;charset=utf-8"),
                     uint(++counter_)});
}

void FakePortal::copyOnDesktop(const std::string& text) {
    desktopClipboard = text;
    clipboardSignal(QStringLiteral("SelectionOwnerChanged"),
                    {QVariant::fromValue(QDBusObjectPath(lastSession)),
                     QVariantMap{{QStringLiteral("mime_types"), QStringList{QStringLiteral("text/plain;charset=utf-8")}},
                                 {QStringLiteral("session_is_owner"), false}}});
}

void FakePortal::closeSession() {
    auto signal = QDBusMessage::createSignal(lastSession, QStringLiteral("org.freedesktop.portal.Session"),
                                             QStringLiteral("Closed"));
    signal << QVariantMap{};
    bus_.send(signal);
}

FakePortalBus::FakePortalBus(const std::string& name)
    : dir_(std::filesystem::temp_directory_path() / ("tamborix-" + name + "-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
    error_ = bus_.start(dir_);
}

FakePortalBus::~FakePortalBus() {
    close();
    bus_.stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

FakePortal& FakePortalBus::open() {
    close();
    ++round_;
    connection_ = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QString::fromStdString(bus_.address()), QStringLiteral("portal-%1").arg(round_)));
    portal_ = std::make_unique<FakePortal>(*connection_);
    return *portal_;
}

bool FakePortalBus::serve() {
    return connection_->registerService(QStringLiteral("org.freedesktop.portal.Desktop")) &&
           connection_->registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), portal_.get(),
                                              QDBusConnection::SubPath);
}

void FakePortalBus::close() {
    if (!connection_) return;
    connection_->unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
    connection_->unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    connection_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("portal-%1").arg(round_));
    portal_.reset();
}

}  // namespace tamborix::testing
