#include "platform/linux/services/logind/logind_activity.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QObject>

#include "base/unique_fd.h"

namespace tamborix {

namespace {

// Owns the inhibitor's file descriptor; closing it releases the lock.
struct InhibitState {
    UniqueFd fd;
    bool dropped = false;
};

class LogindHandle final : public ActivityHandle {
public:
    explicit LogindHandle(std::shared_ptr<InhibitState> state) : state_(std::move(state)) {}
    ~LogindHandle() override {
        state_->dropped = true;
        state_->fd.reset();
    }

private:
    std::shared_ptr<InhibitState> state_;
};

class EmptyHandle final : public ActivityHandle {};

}  // namespace

LogindActivity::LogindActivity() { available_ = QDBusConnection::systemBus().isConnected(); }

LogindActivity::~LogindActivity() = default;

std::unique_ptr<ActivityHandle> LogindActivity::begin(std::string_view reason) {
    if (!available_) return std::make_unique<EmptyHandle>();
    auto state = std::make_shared<InhibitState>();
    auto call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("idle") << QStringLiteral("Tamborix Helper")
         << QString::fromUtf8(reason.data(), static_cast<qsizetype>(reason.size()))
         << QStringLiteral("block");
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [state, lastError = lastError_](QDBusPendingCallWatcher* w) {
                         QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
                         w->deleteLater();
                         if (reply.isError()) {
                             *lastError = reply.error().message().toStdString();
                             return;
                         }
                         if (state->dropped) return;  // the activity already ended
                         const int fd = reply.value().fileDescriptor();
                         if (fd >= 0) state->fd.reset(::dup(fd));
                     });
    return std::make_unique<LogindHandle>(std::move(state));
}

}  // namespace tamborix
