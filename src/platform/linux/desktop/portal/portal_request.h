#pragma once
// One call of a desktop-portal method that answers through a Request object: the caller chooses
// the request's last path element (handle_token), so the Response signal is subscribed to before
// the call is made and cannot be missed. Portals older than that scheme return another path; the
// subscription then moves there.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

namespace tamborix::portal {

inline constexpr const char* desktopService = "org.freedesktop.portal.Desktop";
inline constexpr const char* desktopPath = "/org/freedesktop/portal/desktop";
inline constexpr const char* requestInterface = "org.freedesktop.portal.Request";
inline constexpr const char* sessionInterface = "org.freedesktop.portal.Session";

// Response codes of a Request.
enum class Response : uint { success = 0, cancelled = 1, ended = 2 };

class PortalRequest final : public QObject {
    Q_OBJECT
public:
    // `response` is 0 (success), 1 (the user cancelled) or 2 (ended another way); `error` is set
    // instead when the call itself failed (no such portal, access denied…), and then response is 2.
    using Done = std::function<void(uint response, const QVariantMap& results, const QString& error)>;

    // Sends `call` with "handle_token" added to the options vardict, which must be its last
    // argument. `done` runs once on the loop; deleting the request before then cancels it.
    PortalRequest(QDBusConnection bus, QDBusMessage call, Done done);
    ~PortalRequest() override;

    // Where a portal puts the Request object for `token` of this connection.
    [[nodiscard]] static QString requestPath(const QDBusConnection& bus, const QString& token);
    // A fresh token, unique within this process.
    [[nodiscard]] static QString newToken(const char* prefix);

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results);

private:
    void listen(const QString& path);
    void stopListening();
    void finish(uint response, const QVariantMap& results, const QString& error);

    QDBusConnection bus_;
    QString path_;
    Done done_;
    bool finished_ = false;
};

}  // namespace tamborix::portal
