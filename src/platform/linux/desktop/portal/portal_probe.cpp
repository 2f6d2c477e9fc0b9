#include "platform/linux/desktop/portal/portal_probe.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEventLoop>
#include <QVariantMap>

#include "platform/linux/desktop/portal/portal_request.h"
#include "platform/linux/desktop/portal/remote_desktop_session.h"

namespace tamborix::portal {

RemoteDesktopProbe probeRemoteDesktop(QDBusConnection bus, int timeoutMs) {
    RemoteDesktopProbe probe;
    if (!bus.isConnected()) {
        probe.error = "no session bus";
        return probe;
    }
    auto get = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService),
                                              QString::fromLatin1(desktopPath),
                                              QStringLiteral("org.freedesktop.DBus.Properties"),
                                              QStringLiteral("GetAll"));
    get << QStringLiteral("org.freedesktop.portal.RemoteDesktop");
    QDBusPendingCallWatcher watcher(bus.asyncCall(get, timeoutMs));
    // The portal may live in this very process (tests): wait with the loop running, not blocked.
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!watcher.isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    QDBusPendingReply<QVariantMap> reply = watcher;
    if (reply.isError()) {
        probe.error = reply.error().type() == QDBusError::UnknownInterface ||
                              reply.error().type() == QDBusError::InvalidArgs
                          ? "the desktop portal has no remote-desktop interface"
                          : "no remote-desktop portal (" + reply.error().message().toStdString() + ")";
        return probe;
    }
    probe.version = reply.value().value(QStringLiteral("version")).toUInt();
    const uint devices = reply.value().value(QStringLiteral("AvailableDeviceTypes")).toUInt();
    if ((devices & (RemoteDesktopSession::keyboard | RemoteDesktopSession::pointer)) == 0) {
        probe.error = "the remote-desktop portal offers no keyboard or pointer";
        return probe;
    }
    probe.usable = true;
    return probe;
}

}  // namespace tamborix::portal
