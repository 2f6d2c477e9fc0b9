#pragma once
// A stand-in for xdg-desktop-portal's RemoteDesktop and ScreenCast interfaces on a private bus,
// behaving as the real one does where the helper depends on it: Request objects named by the
// caller's handle_token, the Response signal sent before the method's own reply, a dialog unless a
// restore token it issued is offered, single-use tokens, version 1 without persistence.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <filesystem>
#include <vector>

namespace tamborix::testing {

struct PortalIntPair {
    int a = 0;
    int b = 0;
};
struct PortalStreamEntry {
    uint node = 0;
    QVariantMap props;
};

struct RecordedCall {
    QString member;
    QList<QVariant> args;
};

class FakePortal final : public QDBusVirtualObject {
public:
    enum class Dialog { allow, cancel };

    explicit FakePortal(QDBusConnection bus) : bus_(std::move(bus)) {}

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
    QString introspect(const QString&) const override { return {}; }

    uint version = 2;
    Dialog dialog = Dialog::allow;
    // Checked when a restore token is offered: a token offered must no longer be in this file.
    std::filesystem::path tokenFile;

    int dialogsShown = 0;
    bool tokenStillStoredWhenOffered = false;
    QSet<QString> validTokens;
    QVariantMap lastDeviceOptions;
    QVariantMap lastSourceOptions;
    std::vector<RecordedCall> input;  // Notify* calls
    int sessionsClosed = 0;
    QString lastSession;

    // Ends the current session from the desktop's side (the user stopped sharing).
    void closeSession();

private:
    void respond(const QDBusMessage& call, const QString& token, uint response, const QVariantMap& results);

    QDBusConnection bus_;
    int counter_ = 0;
};

}  // namespace tamborix::testing

Q_DECLARE_METATYPE(tamborix::testing::PortalIntPair)
Q_DECLARE_METATYPE(tamborix::testing::PortalStreamEntry)
