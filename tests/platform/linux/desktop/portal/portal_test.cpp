// The portal backend against a stand-in portal on a private session bus started by the test.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/linux/factory/backends.h"
#include "platform/linux/desktop/portal/portal_input_sink.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/desktop/portal/remote_desktop_session.h"
#include "support/fake_portal.h"
#include "support/private_session_bus.h"
#include "support/qt_spin.h"

namespace tamborix::portal {
namespace {

using testing::FakePortal;
using testing::spinUntil;

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::string s;
    std::getline(in, s);
    return s;
}

class PortalTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bus_ = new testing::FakePortalBus("portal");
        dir_ = bus_->dir();
        ASSERT_TRUE(bus_->error().empty()) << bus_->error();
    }
    static void TearDownTestSuite() { delete bus_; }

    void SetUp() override {
        ++round_;
        tokenFile_ = dir_ / ("token-" + std::to_string(round_));
        fake_ = &bus_->open();
        fake_->tokenFile = tokenFile_;
    }
    void TearDown() override { bus_->close(); }

    void servePortal() { ASSERT_TRUE(bus_->serve()); }

    // A helper process's view: its own connection, as after a restart.
    std::unique_ptr<RemoteDesktopSession> startSession() {
        const QString name = QStringLiteral("client-%1-%2").arg(round_).arg(++clients_);
        auto session = std::make_unique<RemoteDesktopSession>(
            QDBusConnection::connectToBus(QString::fromStdString(bus_->address()), name), tokenFile_);
        session->start();
        EXPECT_TRUE(spinUntil([&] {
            return session->state() != RemoteDesktopSession::State::starting;
        })) << "no answer";
        return session;
    }

    static inline std::filesystem::path dir_;
    static inline testing::FakePortalBus* bus_ = nullptr;
    static inline int round_ = 0;
    int clients_ = 0;
    std::filesystem::path tokenFile_;
    FakePortal* fake_ = nullptr;
};

TEST_F(PortalTest, Start_Version2_ConsentKeptAcrossRestartsWithSingleUseTokens) {
    servePortal();
    auto first = startSession();
    ASSERT_EQ(first->state(), RemoteDesktopSession::State::running) << first->status();
    EXPECT_EQ(fake_->dialogsShown, 1);
    EXPECT_EQ(fake_->lastDeviceOptions.value("persist_mode").toUInt(), 2u);
    EXPECT_EQ(fake_->lastDeviceOptions.value("types").toUInt(), 3u);
    EXPECT_EQ(fake_->lastSourceOptions.value("cursor_mode").toUInt(), 2u);
    EXPECT_TRUE(fake_->lastSourceOptions.value("multiple").toBool());
    const std::string token1 = readFile(tokenFile_);
    EXPECT_EQ(token1, "token-1");
    struct stat st {};
    ASSERT_EQ(::stat(tokenFile_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    first.reset();

    auto second = startSession();
    ASSERT_EQ(second->state(), RemoteDesktopSession::State::running) << second->status();
    EXPECT_EQ(fake_->lastDeviceOptions.value("restore_token").toString().toStdString(), token1);
    EXPECT_FALSE(fake_->tokenStillStoredWhenOffered) << "a token offered must leave its file first";
    EXPECT_EQ(fake_->dialogsShown, 1) << "a kept consent shows no dialog";
    EXPECT_EQ(readFile(tokenFile_), "token-2");
    EXPECT_EQ(second->streams().size(), 2u);
    EXPECT_EQ(second->streams()[1].bounds, (Rect{1920, 0, 1280, 1024}));
}

TEST_F(PortalTest, Start_SharedMonitors_PipeWireRemoteHandedOverOrItsAbsenceExplained) {
    // Stands in for the PipeWire daemon's socket: what the portal connects to must reach it.
    const auto socketPath = dir_ / ("pw-" + std::to_string(round_));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    fake_->pipeWireSocket = socketPath;
    servePortal();

    auto session = startSession();
    ASSERT_EQ(session->state(), RemoteDesktopSession::State::running) << session->status();
    EXPECT_EQ(fake_->remotesOpened, 1);
    EXPECT_EQ(session->screenStatus(), "");
    const UniqueFd owned = session->dupPipeWireRemote();
    const int remote = owned.get();
    ASSERT_GE(remote, 0);
    const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(server, 0);
    ASSERT_EQ(::write(remote, "pw", 2), 2);
    char got[2] = {};
    EXPECT_EQ(::read(server, got, 2), 2);
    EXPECT_EQ(std::string(got, 2), "pw");
    ::close(server);

    // Closed by the desktop: no remote is handed out any more.
    fake_->closeSession();
    ASSERT_TRUE(spinUntil([&] { return session->state() == RemoteDesktopSession::State::closed; }));
    EXPECT_EQ(session->dupPipeWireRemote().get(), -1);
    EXPECT_EQ(session->screenStatus(), "the desktop ended the remote-control session");
    ::close(listener);

    // Input still works without the screen; the reason names the portal's answer.
    fake_->pipeWireSocket.clear();
    auto without = startSession();
    ASSERT_EQ(without->state(), RemoteDesktopSession::State::running) << without->status();
    EXPECT_EQ(without->dupPipeWireRemote().get(), -1);
    EXPECT_EQ(without->screenStatus(), "the desktop did not open the screen's PipeWire stream (no PipeWire daemon)");

    // No monitor shared: the remote is not even asked for.
    fake_->monitors.clear();
    auto blind = startSession();
    ASSERT_EQ(blind->state(), RemoteDesktopSession::State::running) << blind->status();
    EXPECT_EQ(fake_->remotesOpened, 2);
    EXPECT_EQ(blind->screenStatus(), "the desktop shared no monitor");
}

TEST_F(PortalTest, Start_TokenThePortalForgot_DialogOnceMoreThenKeptAgain) {
    servePortal();
    std::ofstream(tokenFile_) << "forgotten-token\n";
    auto session = startSession();
    ASSERT_EQ(session->state(), RemoteDesktopSession::State::running) << session->status();
    EXPECT_EQ(fake_->dialogsShown, 1);
    EXPECT_EQ(readFile(tokenFile_), "token-1");
}

TEST_F(PortalTest, Start_Version1_NoPersistenceAskedAndTheStatusSaysSo) {
    fake_->version = 1;
    servePortal();
    auto session = startSession();
    ASSERT_EQ(session->state(), RemoteDesktopSession::State::running) << session->status();
    EXPECT_FALSE(fake_->lastDeviceOptions.contains("persist_mode"));
    EXPECT_FALSE(std::filesystem::exists(tokenFile_));
    EXPECT_NE(session->status().find("every start"), std::string::npos) << session->status();
}

TEST_F(PortalTest, Start_DialogCancelledOrNoPortal_NothingPostedAndTheReasonShown) {
    auto absent = startSession();
    EXPECT_EQ(absent->state(), RemoteDesktopSession::State::failed);
    EXPECT_NE(absent->status().find("no remote-desktop portal"), std::string::npos) << absent->status();

    fake_->dialog = FakePortal::Dialog::cancel;
    servePortal();
    auto refused = startSession();
    EXPECT_EQ(refused->state(), RemoteDesktopSession::State::refused);
    PortalInputSink sink(*refused);
    EXPECT_FALSE(sink.mayPost());
    EXPECT_EQ(sink.reason(), "remote control was refused in the desktop's dialog");
    sink.mouse({MouseEventType::moved, MouseButton::left, {10, 10}});
    sink.text(u"x");
    spinUntil([] { return false; }, 100);
    EXPECT_TRUE(fake_->input.empty());
    EXPECT_EQ(fake_->sessionsClosed, 1) << "a refused session is closed";
}

TEST_F(PortalTest, Sink_MovesClicksScrollKeysAndText_ReachThePortalAsNotifyCalls) {
    servePortal();
    auto session = startSession();
    ASSERT_EQ(session->state(), RemoteDesktopSession::State::running) << session->status();
    PortalInputSink sink(*session);
    PortalDisplaySource displays(*session, sink);
    ASSERT_TRUE(sink.mayPost());
    ASSERT_EQ(displays.displays().size(), 2u);

    sink.mouse({MouseEventType::moved, MouseButton::left, {2000.5, 30}});        // second monitor
    sink.mouse({MouseEventType::moved, MouseButton::left, {5000, 2000}});        // off every monitor
    sink.mouse({MouseEventType::leftDown, MouseButton::left, {5000, 2000}, 0, 0, 1});
    sink.mouse({MouseEventType::leftUp, MouseButton::left, {5000, 2000}, 0, 0, 1});
    sink.scroll({120, -40});
    sink.key({KeyKind::keysym, 0xffe3, true, modifier::control});  // Control_L
    sink.key({KeyKind::keycode, 0x63, true, modifier::control});   // "c" as layout() names it
    sink.key({KeyKind::keycode, 0x63, false, modifier::control});
    sink.key({KeyKind::keysym, 0xffe3, false, 0});
    sink.text(u"a\u00e9\u20ac\u4e2d\U0001F600\n");
    ASSERT_TRUE(spinUntil([&] { return fake_->input.size() >= 4 + 1 + 4 + 12; }));

    const auto& in = fake_->input;
    auto motion = [&](std::size_t i, uint node, double x, double y) {
        EXPECT_EQ(in[i].member, "NotifyPointerMotionAbsolute");
        EXPECT_EQ(in[i].args.value(0).value<QDBusObjectPath>().path(), session->handle());
        EXPECT_EQ(in[i].args.value(2).toUInt(), node);
        EXPECT_DOUBLE_EQ(in[i].args.value(3).toDouble(), x);
        EXPECT_DOUBLE_EQ(in[i].args.value(4).toDouble(), y);
    };
    motion(0, 45, 80.5, 30);
    motion(1, 45, 1279, 1023);  // kept on the nearest monitor's last pixel
    EXPECT_EQ(in[2].member, "NotifyPointerButton");
    EXPECT_EQ(in[2].args.value(2).toInt(), 0x110);  // BTN_LEFT
    EXPECT_EQ(in[2].args.value(3).toUInt(), 1u);
    EXPECT_EQ(in[3].args.value(3).toUInt(), 0u);
    EXPECT_EQ(in[4].member, "NotifyPointerAxis");
    EXPECT_DOUBLE_EQ(in[4].args.value(2).toDouble(), 40);    // dx
    EXPECT_DOUBLE_EQ(in[4].args.value(3).toDouble(), -120);  // dy: wheel sign
    const std::vector<std::pair<int, uint>> keys = {
        {0xffe3, 1}, {0x63, 1}, {0x63, 0}, {0xffe3, 0},
        {0x61, 1}, {0x61, 0}, {0xe9, 1}, {0xe9, 0}, {0x20ac, 1}, {0x20ac, 0},
        {0x1004e2d, 1}, {0x1004e2d, 0}, {0x101f600, 1}, {0x101f600, 0}, {0xff0d, 1}, {0xff0d, 0}};
    ASSERT_EQ(in.size(), 5 + keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(in[5 + i].member, "NotifyKeyboardKeysym");
        EXPECT_EQ(in[5 + i].args.value(2).toInt(), keys[i].first) << i;
        EXPECT_EQ(in[5 + i].args.value(3).toUInt(), keys[i].second) << i;
    }
    EXPECT_EQ(displays.pointer(), (Point{1920 + 1279, 1023}));
}

TEST_F(PortalTest, Session_ClosedByTheDesktop_StopsPostingWithTheReason) {
    servePortal();
    auto session = startSession();
    ASSERT_EQ(session->state(), RemoteDesktopSession::State::running);
    PortalInputSink sink(*session);
    fake_->closeSession();
    ASSERT_TRUE(spinUntil([&] { return session->state() == RemoteDesktopSession::State::closed; }));
    EXPECT_FALSE(sink.mayPost());
    EXPECT_EQ(sink.reason(), "the desktop ended the remote-control session");
}


// The factory's choice, with the portal on the private bus and uinput pointed at paths the test
// owns, so that no test reaches the machine's portal or /dev/uinput.
class PortalFactoryTest : public PortalTest {
protected:
    void SetUp() override {
        PortalTest::SetUp();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "TAMBORIX_BACKEND"})
            ::unsetenv(v);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
        settings_ = dir_ / ("settings-" + std::to_string(round_));
        drm_ = dir_ / ("drm-" + std::to_string(round_));
        std::filesystem::create_directories(drm_ / "card0-HDMI-A-1");
        std::ofstream(drm_ / "card0-HDMI-A-1" / "status") << "connected\n";
        std::ofstream(drm_ / "card0-HDMI-A-1" / "modes") << "1920x1080\n1280x720\n";
    }
    void TearDown() override {
        for (const char* v : {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) ::unsetenv(v);
        PortalTest::TearDown();
    }
    PlatformBackends make(std::string forced = {}, bool dryRun = false) {
        BackendRequest request{dryRun, forced, forced.empty() ? "" : "--backend", settings_,
                               dir_ / "no-uinput", drm_};
        return makePlatformBackends(loop_, request);
    }
    QtMainLoop loop_;
    std::filesystem::path settings_;
    std::filesystem::path drm_;
};

TEST_F(PortalFactoryTest, Make_WaylandSessionWithPortal_PortalInputOnceConsentedAndTokenKept) {
    servePortal();
    ::setenv("WAYLAND_DISPLAY", "wayland-7", 1);
    auto b = make();
    EXPECT_EQ(b.backendName, "portal");
    EXPECT_EQ(b.backendLine, "Backend: portal (remote-desktop portal version 2)");
    // Consent comes later, from the dialog; until then the reason says what is awaited.
    EXPECT_FALSE(b.input->mayPost());
    EXPECT_EQ(b.input->reason(), "waiting for the desktop's remote-control permission");
    ASSERT_TRUE(spinUntil([&] { return b.input->mayPost(); })) << b.input->reason();
    EXPECT_EQ(b.displays->displays().size(), 2u);
    EXPECT_EQ(readFile(settings_ / "remote-desktop-token"), "token-1");
    b = {};
    ASSERT_TRUE(spinUntil([&] { return fake_->sessionsClosed == 1; })) << "the session ends with the helper";

    // XDG_SESSION_TYPE alone marks a Wayland session too; the kept consent shows no dialog.
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("XDG_SESSION_TYPE", "wayland", 1);
    b = make();
    ASSERT_TRUE(spinUntil([&] { return b.input->mayPost(); })) << b.input->reason();
    EXPECT_EQ(fake_->dialogsShown, 1);
}

TEST_F(PortalFactoryTest, Make_WaylandWithoutPortalOrUinput_NoneWithEveryReason) {
    ::setenv("WAYLAND_DISPLAY", "wayland-7", 1);
    auto b = make();
    EXPECT_EQ(b.backendName, "none");
    const std::string reason = b.input->reason();
    EXPECT_EQ(reason.rfind("Wayland session (WAYLAND_DISPLAY=wayland-7): wlroots: no Wayland compositor answers "
                           "at wayland-7; portal: no remote-desktop portal (", 0), 0u)
        << reason;
    EXPECT_NE(reason.find("; uinput: " + (dir_ / "no-uinput").string() + " not writable (No such file or directory)"),
              std::string::npos) << reason;
    EXPECT_EQ(b.backendLine, "Backend: none, " + reason);

    // A dry run neither asks the portal nor makes devices.
    servePortal();
    b = make({}, true);
    EXPECT_EQ(b.backendName, "none");
    EXPECT_EQ(b.input->reason(), "Wayland session (WAYLAND_DISPLAY=wayland-7): wlroots: not started in a "
                                 "dry run; portal: not started in a dry run; uinput: not started in a dry run");
    spinUntil([] { return false; }, 50);
    EXPECT_EQ(fake_->dialogsShown, 0);
}

TEST_F(PortalFactoryTest, Make_Forced_PortalOutsideWaylandAndUinputWithItsReason) {
    servePortal();
    auto b = make("portal");
    EXPECT_EQ(b.backendLine, "Backend: portal (remote-desktop portal version 2, forced by --backend)");
    ASSERT_TRUE(spinUntil([&] { return b.input->mayPost(); })) << b.input->reason();

    ::setenv("WAYLAND_DISPLAY", "wayland-7", 1);
    b = make("uinput");
    EXPECT_EQ(b.backendName, "none");
    EXPECT_EQ(b.input->reason(), "uinput: " + (dir_ / "no-uinput").string() +
                                     " not writable (No such file or directory), forced by --backend");
}

// Other programs cannot move windows on GNOME or KDE under Wayland: the desktop's own shortcuts
// for the placement go through the portal's keyboard, as the user would press them.
TEST_F(PortalFactoryTest, Place_GnomeAndKde_TheDesktopsOwnShortcutsThroughThePortal) {
    servePortal();
    const auto chords = [&](const char* desktop, const char* op, std::size_t count) {
        ::setenv("XDG_CURRENT_DESKTOP", desktop, 1);
        auto b = make("portal");
        EXPECT_TRUE(spinUntil([&] { return b.input->mayPost(); })) << b.input->reason();
        fake_->input.clear();
        EXPECT_EQ(b.windows->place(op), true);
        // On GNOME a Shift tap wakes the session's keyboard before its first key.
        const bool gnome = std::string_view(desktop).ends_with("GNOME");
        EXPECT_TRUE(spinUntil([&] { return fake_->input.size() >= count + (gnome ? 2 : 0); }));
        std::vector<std::pair<int, uint>> keys;
        for (const auto& call : fake_->input) {
            EXPECT_EQ(call.member, "NotifyKeyboardKeysym");
            keys.emplace_back(call.args.value(2).toInt(), call.args.value(3).toUInt());
        }
        if (gnome) {
            const std::vector<std::pair<int, uint>> wake{{0xffe1, 1}, {0xffe1, 0}};
            EXPECT_TRUE(keys.size() >= 2 && std::equal(wake.begin(), wake.end(), keys.begin()));
            if (keys.size() >= 2) keys.erase(keys.begin(), keys.begin() + 2);
        }
        return keys;
    };
    constexpr int super = 0xffeb, shift = 0xffe1;
    EXPECT_EQ(chords("ubuntu:GNOME", "left", 4),
              (std::vector<std::pair<int, uint>>{{super, 1}, {0xff51, 1}, {0xff51, 0}, {super, 0}}));
    EXPECT_EQ(chords("GNOME", "next", 6), (std::vector<std::pair<int, uint>>{
                                           {super, 1}, {shift, 1}, {0xff53, 1}, {0xff53, 0}, {shift, 0}, {super, 0}}));
    EXPECT_EQ(chords("GNOME", "max", 4),
              (std::vector<std::pair<int, uint>>{{super, 1}, {0xff52, 1}, {0xff52, 0}, {super, 0}}));
    EXPECT_EQ(chords("KDE", "max", 4),
              (std::vector<std::pair<int, uint>>{{super, 1}, {0xff55, 1}, {0xff55, 0}, {super, 0}}));

    // A desktop whose shortcuts are not known: nothing pressed, and the reason for the phone.
    ::setenv("XDG_CURRENT_DESKTOP", "Unknown-Desktop", 1);
    auto b = make("portal");
    EXPECT_TRUE(spinUntil([&] { return b.input->mayPost(); }));
    EXPECT_NE(b.windows->place("left"), std::optional<bool>(true));
    EXPECT_EQ(b.windows->unavailableReason(),
              "windows cannot be placed on this desktop (no known shortcuts place windows on Unknown-Desktop)");
    ::unsetenv("XDG_CURRENT_DESKTOP");
}

// A portal with the Clipboard interface: the phone's text is what the desktop pastes, and what the
// desktop copied afterwards is what the phone reads.
TEST_F(PortalFactoryTest, Clipboard_PortalOffersIt_PastedOnTheDesktopAndReadBack) {
    fake_->clipboardVersion = 1;
    servePortal();
    auto b = make("portal");
    ASSERT_TRUE(spinUntil([&] { return b.input->mayPost(); })) << b.input->reason();
    EXPECT_TRUE(fake_->clipboardRequested);
    EXPECT_EQ(b.clipboard->unavailableReason(), "");
    ASSERT_TRUE(b.clipboard->setText("from the phone \u00e9"));
    EXPECT_TRUE(fake_->offeredMimeTypes.contains(QStringLiteral("text/plain;charset=utf-8")));
    fake_->paste();
    EXPECT_TRUE(spinUntil([&] { return !fake_->pasted.empty(); }));
    EXPECT_EQ(fake_->pasted, "from the phone \u00e9");

    fake_->copyOnDesktop("copied on the desktop");
    EXPECT_TRUE(spinUntil([&] { return b.clipboard->text() == std::optional<std::string>("copied on the desktop"); }))
        << b.clipboard->text().value_or("(none)");
}

// A portal without the Clipboard interface (xdg-desktop-portal before 1.18): a copy kept inside
// the helper would make the phone's paste insert the desktop's old clipboard.
TEST_F(PortalFactoryTest, Make_PortalWithoutClipboardInterface_ClipboardRefusedWithItsReason) {
    servePortal();
    auto b = make("portal");
    ASSERT_TRUE(spinUntil([&] { return b.input->mayPost(); })) << b.input->reason();
    EXPECT_FALSE(b.clipboard->setText("from the phone"));
    EXPECT_FALSE(b.clipboard->text().has_value());
    EXPECT_EQ(b.clipboard->unavailableReason().rfind("the clipboard cannot be shared on this desktop (", 0), 0u)
        << b.clipboard->unavailableReason();
}

}  // namespace
}  // namespace tamborix::portal

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
