// The portal backend against a real desktop (compositor, xdg-desktop-portal and the desktop's
// portal backend), checked by what a window of our own receives. Built once per desktop.

#include <gtest/gtest.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/desktop/pipewire/pipewire_screen_capture.h"
#include "platform/linux/desktop/portal/desktop_keymap.h"
#include "platform/linux/desktop/shortcuts/shortcut_window_control.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/desktop/portal/portal_input_sink.h"
#include "platform/linux/desktop/portal/remote_desktop_session.h"
#include "support/jpeg_decode.h"
#include "support/mutter_user.h"
#include "support/qt_spin.h"
#include "support/wayland_desktop.h"

namespace tamborix::portal {
namespace {

using testing::InputRecorder;
using testing::spinUntil;
using testing::WaylandDesktop;
using Ms = testing::ChildProcess::Ms;

constexpr auto kind = WaylandDesktop::Kind::TAMBORIX_DESKTOP;

WaylandDesktop* desktop = nullptr;
std::string skipped;

class DesktopEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        desktop = new WaylandDesktop(kind);
        skipped = desktop->start();
    }
    void TearDown() override {
        delete desktop;
        desktop = nullptr;
    }
};

// Two programs that keep both cores busy while they live.
class Load {
public:
    Load() {
        for (int i = 0; i < 2; ++i)
            busy_.push_back(std::make_unique<testing::ServerProcess>(
                std::vector<std::string>{"sh", "-c", "while :; do :; done"}, std::vector<std::string>{}, -1, -1));
    }

private:
    std::vector<std::unique_ptr<testing::ServerProcess>> busy_;
};

class PortalDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!skipped.empty()) GTEST_SKIP() << skipped;
        std::string why;
        recorder_ = desktop->startRecorder(&why);
        ASSERT_TRUE(recorder_) << why;
        name_ = QStringLiteral("helper-%1").arg(++round_);
        bus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromStdString(desktop->busAddress()), name_));
        session_ = std::make_unique<RemoteDesktopSession>(*bus_, desktop->folder() / "token");
        const auto quirks = quirksFor(desktop->currentDesktop());
        session_->setAsksConsent(quirks.asksConsent);
        session_->start();
        startingStatus_ = session_->status();
        if (kind == WaylandDesktop::Kind::gnome) {
            // The user leaves once the dialog is answered, taking their keyboard along: the
            // helper's session starts on a desktop with no keyboard yet, as a headless one is.
            testing::MutterUser user(desktop->busAddress(), desktop->folder() / "runtime" / "pipewire-0");
            auto why = user.start();
            ASSERT_TRUE(why.empty()) << why;
            why = user.allowRemoteControl(std::filesystem::temp_directory_path() / "tamborix-consent-dialog.jpg");
            ASSERT_TRUE(why.empty()) << why;
            ASSERT_TRUE(spinUntil([&] { return session_->state() != RemoteDesktopSession::State::starting; }, 60000));
        }
        ASSERT_TRUE(spinUntil([&] { return session_->state() != RemoteDesktopSession::State::starting; }, 60000));
        ASSERT_EQ(session_->state(), RemoteDesktopSession::State::running) << session_->status() << "\n"
                                                                           << desktop->logs();
        sink_ = std::make_unique<PortalInputSink>(*session_, quirks);
    }
    void TearDown() override {
        if (HasFailure() && desktop) std::fprintf(stderr, "%s", desktop->logs().c_str());
        sink_.reset();
        session_.reset();
        testing::settle();
        recorder_.reset();
        if (bus_) QDBusConnection::disconnectFromBus(name_);
    }

    // Lets every queued portal call go out and be answered.
    void drain() { spinUntil([&] { return !sink_->busy(); }, 60000); }

    // The pointer's position as the window reports it once it stops at `want` (or the last one
    // reported when it never does).
    std::string moveTo(Point at) {
        sink_->mouse({MouseEventType::moved, MouseButton::left, at});
        drain();
        const std::string want = std::to_string(int(at.x)) + " " + std::to_string(int(at.y));
        std::string last = "(no motion)";
        while (auto line = recorder_->next("motion ", Ms(3000))) {
            last = *line;
            if (last == want) break;
        }
        return last;
    }

    // The text the window received from the key presses until they stop for a while.
    std::string typed() {
        std::string out;
        while (auto line = recorder_->next("key ", Ms(2500))) {
            unsigned sym = 0;
            unsigned down = 0;
            if (std::sscanf(line->c_str(), "%u %u", &sym, &down) != 2 || !down) continue;
            if (sym == XKB_KEY_BackSpace) {
                if (!out.empty()) out.pop_back();
                continue;
            }
            const auto c = xkb_keysym_to_utf32(sym);
            if (c >= 0x20 && c < 0x7f) out += char(c);
            else if (c) out += "<U+" + std::to_string(c) + ">";
        }
        return out;
    }

    void tap(std::uint32_t sym, ModifierFlags flags = 0) {
        sink_->key({KeyKind::keysym, sym, true, flags});
        sink_->key({KeyKind::keysym, sym, false, flags});
    }

    static inline int round_ = 0;
    std::string startingStatus_;
    QString name_;
    std::unique_ptr<QDBusConnection> bus_;
    std::unique_ptr<RemoteDesktopSession> session_;
    std::unique_ptr<PortalInputSink> sink_;
    std::unique_ptr<InputRecorder> recorder_;
};

TEST_F(PortalDesktopTest, Start_Version1_StatusSaysWhetherAndHowOftenTheDesktopAsks) {
    EXPECT_EQ(startingStatus_, kind == WaylandDesktop::Kind::kde
                                   ? "starting remote control with the desktop (it grants it without asking)"
                                   : "waiting for the desktop's remote-control permission");
    ASSERT_EQ(session_->version(), 1u) << "these desktops' portal keeps no permission";
    EXPECT_EQ(session_->status(), kind == WaylandDesktop::Kind::kde
                                      ? "remote control allowed; the desktop grants it without asking"
                                      : "remote control allowed for this run; the desktop asks again at "
                                        "every start (remote-desktop portal version 1)");
}

TEST_F(PortalDesktopTest, Start_DialogDismissed_RefusedWithTheReasonAndNothingPosted) {
    if (kind == WaylandDesktop::Kind::kde) GTEST_SKIP() << "KWin shows no dialog to dismiss";
    RemoteDesktopSession second(*bus_, desktop->folder() / "token-2");
    second.start();
    testing::MutterUser user(desktop->busAddress(), desktop->folder() / "runtime" / "pipewire-0");
    auto why = user.start();
    ASSERT_TRUE(why.empty()) << why;
    why = user.refuseRemoteControl(std::filesystem::temp_directory_path() / "tamborix-consent-dialog.jpg");
    ASSERT_TRUE(why.empty()) << why;
    ASSERT_TRUE(spinUntil([&] { return second.state() != RemoteDesktopSession::State::starting; }, 60000));
    EXPECT_EQ(second.state(), RemoteDesktopSession::State::refused);
    PortalInputSink refused(second, quirksFor(desktop->currentDesktop()));
    EXPECT_FALSE(refused.mayPost());
    EXPECT_EQ(refused.reason(), "remote control was refused in the desktop's dialog");
}

TEST_F(PortalDesktopTest, Move_PointsOnBothMonitors_PointerLandsOnEachExactly) {
    // The displays the helper reports are the outputs the compositor has, in the same places.
    PortalDisplaySource source(*session_, *sink_);
    std::vector<Rect> reported;
    for (const auto& d : source.displays()) reported.push_back(d.bounds);
    std::vector<Rect> outputs;
    for (const auto& line : recorder_->process().lines()) {
        int x = 0, y = 0, w = 0, h = 0;
        if (std::sscanf(line.c_str(), "output %d %d %d %d", &x, &y, &w, &h) == 4)
            outputs.push_back(Rect{double(x), double(y), double(w), double(h)});
    }
    auto byX = [](const Rect& a, const Rect& b) { return a.minX() < b.minX(); };
    std::sort(reported.begin(), reported.end(), byX);
    std::sort(outputs.begin(), outputs.end(), byX);
    ASSERT_EQ(outputs.size(), 2u) << recorder_->transcript();
    EXPECT_EQ(reported, outputs);

    const Rect second = outputs[1];
    for (const Point at : {Point{0, 0}, Point{300, 200}, Point{second.minX() + 300, 200}, Point{40, 700},
                           Point{second.maxX() - 1, second.maxY() - 1}, Point{300, 200}}) {
        EXPECT_EQ(moveTo(at), std::to_string(int(at.x)) + " " + std::to_string(int(at.y)));
    }
}

TEST_F(PortalDesktopTest, Scroll_PhoneScrollsDown_WindowScrollsDownThenUp) {
    ASSERT_EQ(moveTo({300, 200}), "300 200");
    // The phone's downward scroll reaches the sink negated: content moves up.
    for (const int vertical : {-300, 300}) {
        sink_->scroll({vertical, 0});
        drain();
        const auto line = recorder_->process().waitForLine(
            [](const std::string& l) { return l.starts_with("axis 0 ") || l.starts_with("discrete 0 "); },
            Ms(5000));
        ASSERT_TRUE(line) << recorder_->transcript();
        const double value = std::stod(line->substr(line->rfind(' ') + 1));
        if (vertical < 0) EXPECT_GT(value, 0) << *line << " for a scroll down";
        else EXPECT_LT(value, 0) << *line << " for a scroll up";
        while (recorder_->next("axis ", Ms(500)) || recorder_->next("discrete ", Ms(1))) {
        }
    }
}

TEST_F(PortalDesktopTest, Type_TextAndChordWhileBusy_ArriveExactlyAndNothingStaysDown) {
    const std::u16string text = u"Hello, World! 123 @#$%^&*()_+-=[]{};':\",./<>?`~|\\";
    const std::string expected = "Hello, World! 123 @#$%^&*()_+-=[]{};':\",./<>?`~|\\Ac";
    // Keyboard focus on the recorder, the way a user would give it.
    moveTo({300, 200});
    sink_->mouse({MouseEventType::leftDown, MouseButton::left, {300, 200}});
    sink_->mouse({MouseEventType::leftUp, MouseButton::left, {300, 200}});
    drain();
    Load load;
    for (int round = 0; round < 3; ++round) {
        for (std::size_t at = 0; at < text.size(); at += 20) sink_->text(std::u16string_view(text).substr(at, 20));
        sink_->key({KeyKind::keysym, XKB_KEY_Shift_L, true, modifier::shift});
        tap(XKB_KEY_a, modifier::shift);
        sink_->key({KeyKind::keysym, XKB_KEY_Shift_L, false, 0});
        tap(XKB_KEY_b);
        tap(XKB_KEY_BackSpace);
        tap(XKB_KEY_c);
        drain();
        EXPECT_EQ(typed(), expected) << "round " << round;
    }
    EXPECT_EQ(recorder_->held(), 0) << recorder_->transcript();
    std::string mods;
    for (const auto& line : recorder_->process().lines())
        if (line.starts_with("mods ")) mods = line;
    EXPECT_EQ(mods, "mods 0");
}

TEST_F(PortalDesktopTest, Destroy_WhileAButtonAndShiftAreDown_BothReleased) {
    moveTo({300, 200});
    sink_->mouse({MouseEventType::leftDown, MouseButton::left, {300, 200}});
    sink_->key({KeyKind::keysym, XKB_KEY_Shift_L, true, modifier::shift});
    drain();
    ASSERT_TRUE(recorder_->next("button ")) << recorder_->transcript();
    ASSERT_TRUE(recorder_->next("key ")) << recorder_->transcript();
    sink_.reset();  // the helper quits in the middle of a drag with Shift held
    std::optional<int> held;
    for (int i = 0; i < 50 && held != 0; ++i) {
        spinUntil([] { return false; }, 100);
        held = recorder_->held();
    }
    EXPECT_EQ(held, 0) << recorder_->transcript();
}

TEST_F(PortalDesktopTest, Type_FirstKeysOfASession_Arrive) {
    moveTo({300, 200});
    sink_->mouse({MouseEventType::leftDown, MouseButton::left, {300, 200}});
    sink_->mouse({MouseEventType::leftUp, MouseButton::left, {300, 200}});
    sink_->text(u"xy");
    drain();
    EXPECT_EQ(typed(), "xy");
}

TEST_F(PortalDesktopTest, Type_CharactersWithoutAKey_SkippedWithTheReasonAndTheRestTyped) {
    ::setenv("WAYLAND_DISPLAY", desktop->waylandDisplay().c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (desktop->folder() / "runtime").c_str(), 1);
    const auto keymap = readDesktopKeymap();
    // Headless mutter offers no keyboard before the first key; its layout is the default one.
    ASSERT_FALSE(keymap.keysyms.empty()) << keymap.source;
    sink_->setTypable(keymap.keysyms);
    std::vector<std::pair<char32_t, std::string>> skipped;
    sink_->setOnUntypable([&](char32_t c, const std::string& why) { skipped.emplace_back(c, why); });
    moveTo({300, 200});
    sink_->mouse({MouseEventType::leftDown, MouseButton::left, {300, 200}});
    sink_->mouse({MouseEventType::leftUp, MouseButton::left, {300, 200}});
    sink_->text(u"a\u00e9\u03bb\u4e2d\u0436b");
    drain();
    EXPECT_EQ(typed(), "ab");
    const std::vector<std::pair<char32_t, std::string>> expected{
        {U'\u00e9', "the desktop's keyboard layout has no key for it"},
        {U'\u03bb', "the desktop's keyboard layout has no key for it"},
        {U'\u4e2d', "the desktop's keyboard layout has no key for it"},
        {U'\u0436', "the desktop's keyboard layout has no key for it"}};
    EXPECT_EQ(skipped, expected);
}

TEST_F(PortalDesktopTest, Screen_EachSharedMonitor_JpegOfThatMonitorShowingTheWindow) {
    if (kind == WaylandDesktop::Kind::kde) GTEST_SKIP() << "KWin's screen casts give no frames here";
    QtMainLoop loop;
    pipewire::PipeWireScreenCapture capture(loop, "not started", std::chrono::seconds(20));
    std::vector<pipewire::CastDisplay> cast;
    for (const auto& s : session_->streams()) cast.push_back({s.nodeId, s.nodeId, s.bounds});
    ASSERT_EQ(cast.size(), 2u);
    capture.setStreams(session_->dupPipeWireRemote(), cast, session_->screenStatus());
    for (const auto& display : cast) {
        CaptureRequest request;
        request.display = display.display;
        request.displayBounds = display.bounds;
        request.region = display.bounds;
        request.width = int(display.bounds.width / 2);
        request.height = int(display.bounds.height / 2);
        std::optional<testing::DecodedJpeg> picture;
        for (int attempt = 0; attempt < 100 && !picture; ++attempt) {
            bool answered = false;
            std::optional<Bytes> jpeg;
            capture.capture(request, [&](std::optional<Bytes> j) {
                answered = true;
                jpeg = std::move(j);
            });
            ASSERT_TRUE(spinUntil([&] { return answered; }, 30000));
            if (jpeg) picture = testing::decodeJpeg(*jpeg);
            else spinUntil([] { return false; }, 200);
        }
        ASSERT_TRUE(picture) << capture.unavailableReason();
        EXPECT_EQ(picture->width, request.width);
        EXPECT_EQ(picture->height, request.height);
        // The recorder's full-screen window on this very monitor: blue on the first, green on
        // the second.
        const auto c = picture->at(picture->width / 4, picture->height / 4);
        const bool first = display.bounds.x == 0;
        EXPECT_NEAR(c.r, 0x20, 24);
        EXPECT_NEAR(c.g, first ? 0x60 : 0xc0, 24) << "display at x " << display.bounds.x;
        EXPECT_NEAR(c.b, first ? 0xc0 : 0x60, 24) << "display at x " << display.bounds.x;
    }
}

// GNOME moves no window for another program: the helper presses GNOME's own placement shortcuts
// and the focused window tiles, maximises and goes to the next monitor. (KWin runs here without
// its global shortcuts, so the same is not checked on KDE.)
TEST_F(PortalDesktopTest, Place_GnomeShortcuts_TheFocusedWindowTilesMaximisesAndMovesOn) {
    if (kind != WaylandDesktop::Kind::gnome) GTEST_SKIP() << "KWin runs without its global shortcuts here";
    // New windows open on the monitor that holds the pointer: the first one.
    ASSERT_EQ(moveTo({300, 200}), "300 200");
    std::string why;
    auto window = desktop->startWindowedRecorder(&why);
    ASSERT_TRUE(window) << why;
    while (window->next("configure ", Ms(1500))) {
    }
    auto known = shortcuts::shortcutsFor(desktop->currentDesktop());
    ASSERT_TRUE(known);
    shortcuts::ShortcutWindowControl windows(*sink_, *known);
    const auto placed = [&](const char* op) {
        EXPECT_EQ(windows.place(op), true);
        drain();
        std::string last = "(no configure)";
        while (auto line = window->next("configure ", Ms(3000))) last = *line;
        return last.substr(0, last.find(' ', last.find(' ') + 1));  // "W H", the states left out
    };
    EXPECT_EQ(placed("left"), "640 720") << window->transcript();
    EXPECT_EQ(placed("max"), "1280 720") << window->transcript();
    EXPECT_EQ(placed("next"), "1024 768") << window->transcript();
}

}  // namespace
}  // namespace tamborix::portal

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    ::testing::AddGlobalTestEnvironment(new tamborix::portal::DesktopEnvironment);
    const int result = RUN_ALL_TESTS();
    if (result == 0 && !tamborix::portal::skipped.empty()) {
        std::fprintf(stderr, "SKIPPED: %s\n", tamborix::portal::skipped.c_str());
        return 77;
    }
    return result;
}
