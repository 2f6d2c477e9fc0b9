#pragma once
// A stand-in for xdg-desktop-portal's RemoteDesktop and ScreenCast interfaces on a private bus,
// behaving as the real one does where the helper depends on it: Request objects named by the
// caller's handle_token, the Response signal sent before the method's own reply, a dialog unless a
// restore token it issued is offered, single-use tokens, version 1 without persistence, and
// OpenPipeWireRemote handing over a connection to a PipeWire daemon's socket.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QString>
#include <QVariantMap>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/private_session_bus.h"

namespace tamborix::testing {

struct PortalIntPair {
    int a = 0;
    int b = 0;
};
struct PortalStreamEntry {
    uint node = 0;
    QVariantMap props;
};

// One shared monitor as Start reports it.
struct CastMonitor {
    uint node = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
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
    std::vector<CastMonitor> monitors{{44, 0, 0, 1920, 1080}, {45, 1920, 0, 1280, 1024}};
    // OpenPipeWireRemote connects to this socket and hands the connection over; with an empty
    // path it answers with an error, as a portal without a running PipeWire does.
    std::filesystem::path pipeWireSocket;
    int remotesOpened = 0;

    // The Clipboard interface of xdg-desktop-portal 1.18 and later: absent while 0.
    uint clipboardVersion = 0;
    bool clipboardRequested = false;  // RequestClipboard came before Start
    QStringList offeredMimeTypes;     // the session's last SetSelection
    std::string pasted;               // what the session wrote for the last paste()
    std::string desktopClipboard;     // what SelectionRead hands out
    // A program on the desktop pastes (the session owns the selection): SelectionTransfer.
    void paste();
    // A program on the desktop copies `text`: the session no longer owns the selection.
    void copyOnDesktop(const std::string& text);

    // Ends the current session from the desktop's side (the user stopped sharing).
    void closeSession();

private:
    [[nodiscard]] QVariant streams() const;
    void openRemote(const QDBusMessage& call);
    void respond(const QDBusMessage& call, const QString& token, uint response, const QVariantMap& results);

    void clipboardSignal(const QString& name, const QList<QVariant>& args);
    bool clipboardMessage(const QDBusMessage& m);

    QDBusConnection bus_;
    int counter_ = 0;
    int pasteReadFd_ = -1;
};

// A private session bus for a test suite, in a temporary folder of its own, and on it per test a
// FakePortal answering from a connection of its own, so that one test's portal never answers the
// next test's calls.
class FakePortalBus {
public:
    // The folder is named after `name` and this process; error() says why a bus did not start.
    explicit FakePortalBus(const std::string& name);
    ~FakePortalBus();
    FakePortalBus(const FakePortalBus&) = delete;
    FakePortalBus& operator=(const FakePortalBus&) = delete;

    [[nodiscard]] const std::string& error() const noexcept { return error_; }
    [[nodiscard]] const std::filesystem::path& dir() const noexcept { return dir_; }
    [[nodiscard]] const std::string& address() const { return bus_.address(); }

    // The next test's portal, not yet on the bus; the last test's is closed first.
    FakePortal& open();
    // Puts the portal on the bus as org.freedesktop.portal.Desktop.
    [[nodiscard]] bool serve();
    void close();

private:
    std::filesystem::path dir_;
    PrivateSessionBus bus_;
    std::string error_;
    int round_ = 0;
    std::unique_ptr<QDBusConnection> connection_;
    std::unique_ptr<FakePortal> portal_;
};

}  // namespace tamborix::testing

Q_DECLARE_METATYPE(tamborix::testing::PortalIntPair)
Q_DECLARE_METATYPE(tamborix::testing::PortalStreamEntry)
