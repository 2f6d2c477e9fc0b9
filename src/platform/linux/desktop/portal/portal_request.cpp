#include "platform/linux/desktop/portal/portal_request.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <atomic>

namespace tamborix::portal {

PortalRequest::PortalRequest(QDBusConnection bus, QDBusMessage call, Done done)
    : bus_(std::move(bus)), done_(std::move(done)) {
    const QString token = newToken("tamborix");
    auto args = call.arguments();
    QVariantMap options = args.isEmpty() ? QVariantMap{} : args.last().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    if (args.isEmpty()) args.append(options); else args.last() = options;
    call.setArguments(args);
    listen(requestPath(bus_, token));

    // No timeout: Start waits for the user's answer in the desktop's dialog.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, -1), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<QDBusObjectPath> reply = *w;
        w->deleteLater();
        if (finished_) return;
        if (reply.isError()) {
            finish(static_cast<uint>(Response::ended), {}, reply.error().message());
            return;
        }
        const QString actual = reply.value().path();
        if (actual != path_) listen(actual);
    });
}

PortalRequest::~PortalRequest() {
    stopListening();
    if (!finished_ && !path_.isEmpty()) {
        // The portal may still show its dialog; closing the request withdraws it.
        bus_.send(QDBusMessage::createMethodCall(QString::fromLatin1(desktopService), path_,
                                                 QString::fromLatin1(requestInterface),
                                                 QStringLiteral("Close")));
    }
}

QString PortalRequest::requestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService();  // ":1.42" → "1_42"
    if (sender.startsWith(QLatin1Char(':'))) sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/') + token;
}

QString PortalRequest::newToken(const char* prefix) {
    static std::atomic<unsigned> counter{0};
    return QString::fromLatin1(prefix) + QStringLiteral("_") + QString::number(++counter);
}

void PortalRequest::listen(const QString& path) {
    stopListening();
    path_ = path;
    bus_.connect(QString::fromLatin1(desktopService), path_, QString::fromLatin1(requestInterface),
                 QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::stopListening() {
    if (path_.isEmpty()) return;
    bus_.disconnect(QString::fromLatin1(desktopService), path_, QString::fromLatin1(requestInterface),
                    QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::onResponse(uint response, const QVariantMap& results) {
    if (finished_) return;
    finish(response, results, {});
}

void PortalRequest::finish(uint response, const QVariantMap& results, const QString& error) {
    finished_ = true;
    stopListening();
    path_.clear();
    auto done = std::move(done_);
    if (done) done(response, results, error);
}

}  // namespace tamborix::portal
