// The idle inhibitor against a stand-in for systemd-logind on a private bus that the test starts.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/linux/services/logind/logind_activity.h"
#include "support/qt_spin.h"

namespace tamborix {
namespace {

using testing::spinUntil;

// Answers Inhibit with the write end of a pipe and keeps the read end: the lock is held exactly
// while some process keeps a write end open.
class FakeLogind final : public QDBusVirtualObject {
public:
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("Inhibit")) return false;
        args = message.arguments();
        if (refuse) {
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                                     QStringLiteral("not allowed")));
            return true;
        }
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        readEnd = fds[0];
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]))));
        ::close(fds[1]);
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    QList<QVariant> args;
    int readEnd = -1;
    bool refuse = false;
};

// Whether every write end of the pipe is closed (the reader sees the end).
bool released(int readEnd) {
    pollfd p{readEnd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

bool accepts(const std::filesystem::path& socket) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, socket.c_str(), sizeof a.sun_path - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

class LogindActivityTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = std::filesystem::temp_directory_path() / ("tamborix-logind-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        const auto socket = dir_ / "bus";
        std::ofstream(dir_ / "bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:path=" << socket.string() << "</listen>"
               "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        daemon_ = ::fork();
        if (daemon_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test
            const int devNull = ::open("/dev/null", O_RDWR);
            ::dup2(devNull, STDIN_FILENO);
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
            ::execl("/usr/bin/dbus-daemon", "dbus-daemon", "--nofork", "--nopidfile",
                    ("--config-file=" + (dir_ / "bus.conf").string()).c_str(), nullptr);
            ::_exit(127);
        }
        // The socket file appears before the daemon listens on it: wait until it accepts.
        for (int i = 0; i < 500 && !accepts(socket); ++i) ::usleep(10000);
        address_ = "unix:path=" + socket.string();
        // The backend talks to "the system bus": make that ours before Qt first looks.
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
        static int argc = 1;
        static char name[] = "logind_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete app_;
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
            ::waitpid(daemon_, nullptr, 0);
        }
        std::filesystem::remove_all(dir_);
    }

    void SetUp() override {
        if (!std::filesystem::exists("/usr/bin/dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
        service_ = QDBusConnection::connectToBus(QString::fromStdString(address_), QStringLiteral("fake-logind"));
        ASSERT_TRUE(service_.isConnected());
        ASSERT_TRUE(service_.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &logind_));
        ASSERT_TRUE(service_.registerService(QStringLiteral("org.freedesktop.login1")));
    }
    void TearDown() override {
        service_.unregisterService(QStringLiteral("org.freedesktop.login1"));
        service_.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
        if (logind_.readEnd >= 0) ::close(logind_.readEnd);
    }

    static inline std::filesystem::path dir_;
    static inline pid_t daemon_ = -1;
    static inline std::string address_;
    static inline QCoreApplication* app_ = nullptr;
    QDBusConnection service_{QStringLiteral("unset")};
    FakeLogind logind_;
};

TEST_F(LogindActivityTest, Begin_LogindAnswers_HoldsIdleLockUntilHandleDropped) {
    LogindActivity activity;
    ASSERT_TRUE(activity.available());
    auto handle = activity.begin("Remote pointer control in progress");
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(spinUntil([&] { return logind_.readEnd >= 0; }));
    ASSERT_EQ(logind_.args.size(), 4);
    EXPECT_EQ(logind_.args[0].toString(), "idle");
    EXPECT_EQ(logind_.args[2].toString(), "Remote pointer control in progress");
    EXPECT_EQ(logind_.args[3].toString(), "block");
    // Let the reply reach the backend, then the lock must still be held.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    spinUntil([] { return false; }, 100);
    EXPECT_FALSE(released(logind_.readEnd));
    handle.reset();
    EXPECT_TRUE(spinUntil([&] { return released(logind_.readEnd); }));
}

TEST_F(LogindActivityTest, Begin_HandleDroppedBeforeReply_LockNotKept) {
    LogindActivity activity;
    auto handle = activity.begin("x");
    handle.reset();  // before logind answered
    ASSERT_TRUE(spinUntil([&] { return logind_.readEnd >= 0; }));
    EXPECT_TRUE(spinUntil([&] { return released(logind_.readEnd); }));
}

TEST_F(LogindActivityTest, Begin_LogindRefuses_EmptyHandleAndErrorKept) {
    logind_.refuse = true;
    LogindActivity activity;
    auto handle = activity.begin("x");
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(spinUntil([&] { return !activity.lastError().empty(); }));
    EXPECT_EQ(activity.lastError(), "not allowed");
}

}  // namespace
}  // namespace tamborix
