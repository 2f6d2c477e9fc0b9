#include "platform/linux/desktop/portal/portal_clipboard.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QStringList>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "base/user_text.h"
#include "platform/linux/desktop/portal/portal_request.h"
#include "platform/linux/desktop/portal/remote_desktop_session.h"

namespace tamborix::portal {

namespace {

const QString utf8Text = QStringLiteral("text/plain;charset=utf-8");
constexpr int callTimeoutMs = 2000;
// A program that offers a huge selection is cut here: the phone takes 3000 characters.
constexpr std::size_t readLimit = 64 * 1024;
constexpr auto readDeadline = std::chrono::milliseconds(1000);

QDBusMessage clipboardCall(const QString& method) {
    return QDBusMessage::createMethodCall(QString::fromLatin1(desktopService), QString::fromLatin1(desktopPath),
                                          clipboardInterface, method);
}

// Waits for the reply with the loop running: the portal may live in this very process (tests).
QDBusMessage callAndWait(QDBusConnection& bus, const QDBusMessage& call) {
    QDBusPendingCallWatcher watcher(bus.asyncCall(call, callTimeoutMs));
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!watcher.isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    return watcher.reply();
}

}  // namespace

PortalClipboard::PortalClipboard(RemoteDesktopSession& session, std::unique_ptr<Clipboard> otherwise)
    : session_(session), otherwise_(std::move(otherwise)) {
    session_.bus().connect(QString::fromLatin1(desktopService), QString::fromLatin1(desktopPath), clipboardInterface,
                           QStringLiteral("SelectionOwnerChanged"), this,
                           SLOT(onOwnerChanged(QDBusObjectPath, QVariantMap)));
    session_.bus().connect(QString::fromLatin1(desktopService), QString::fromLatin1(desktopPath), clipboardInterface,
                           QStringLiteral("SelectionTransfer"), this,
                           SLOT(onTransfer(QDBusObjectPath, QString, uint)));
}

bool PortalClipboard::portalServes() const {
    // Until the session answered, whether the portal has the interface is not known yet.
    return session_.clipboardOffered() || !otherwise_ || session_.state() == RemoteDesktopSession::State::starting;
}

std::string PortalClipboard::unavailableReason() const {
    if (!portalServes()) return otherwise_->unavailableReason();
    if (session_.state() != RemoteDesktopSession::State::running)
        return userText("Portal", "the clipboard cannot be shared on this desktop until remote control is allowed").str();
    if (!session_.clipboardEnabled())
        return userText("Portal", "the clipboard cannot be shared on this desktop (the desktop did not share its clipboard)").str();
    return {};
}

bool PortalClipboard::setText(const std::string& text) {
    if (!portalServes()) return otherwise_->setText(text);
    if (!unavailableReason().empty()) return false;
    auto call = clipboardCall(QStringLiteral("SetSelection"));
    call << QVariant::fromValue(QDBusObjectPath(session_.handle()))
         << QVariantMap{{QStringLiteral("mime_types"), QStringList{utf8Text, QStringLiteral("text/plain")}}};
    if (callAndWait(session_.bus(), call).type() == QDBusMessage::ErrorMessage) return false;
    offered_ = text;
    return true;
}

std::optional<std::string> PortalClipboard::text() const {
    if (!portalServes()) return otherwise_->text();
    if (!unavailableReason().empty()) return std::nullopt;
    if (offered_) return offered_;
    auto call = clipboardCall(QStringLiteral("SelectionRead"));
    call << QVariant::fromValue(QDBusObjectPath(session_.handle())) << utf8Text;
    const auto reply = callAndWait(session_.bus(), call);
    if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty()) return std::nullopt;
    const auto fd = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
    if (!fd.isValid()) return std::nullopt;
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + readDeadline;
    char buffer[4096];
    while (out.size() < readLimit) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd.fileDescriptor(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) break;
        const auto n = ::read(fd.fileDescriptor(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buffer, std::size_t(n));
    }
    if (out.size() > readLimit) out.resize(readLimit);
    return out;
}

void PortalClipboard::onOwnerChanged(const QDBusObjectPath& session, const QVariantMap& options) {
    if (session.path() != session_.handle()) return;
    // Another program copied something: the phone's text is no longer what a paste inserts.
    if (!options.value(QStringLiteral("session_is_owner")).toBool()) offered_.reset();
}

void PortalClipboard::onTransfer(const QDBusObjectPath& session, const QString& mimeType, uint serial) {
    if (session.path() != session_.handle()) return;
    bool written = false;
    if (offered_ && mimeType.startsWith(QStringLiteral("text/plain"))) {
        auto call = clipboardCall(QStringLiteral("SelectionWrite"));
        call << QVariant::fromValue(session) << serial;
        const auto reply = callAndWait(session_.bus(), call);
        if (reply.type() != QDBusMessage::ErrorMessage && !reply.arguments().isEmpty()) {
            const auto fd = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
            const std::string& data = *offered_;
            std::size_t done = 0;
            while (fd.isValid() && done < data.size()) {
                const auto n = ::write(fd.fileDescriptor(), data.data() + done, data.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                done += std::size_t(n);
            }
            written = fd.isValid() && done == data.size();
        }
    }
    auto finished = clipboardCall(QStringLiteral("SelectionWriteDone"));
    finished << QVariant::fromValue(session) << serial << written;
    session_.bus().send(finished);
}

}  // namespace tamborix::portal
