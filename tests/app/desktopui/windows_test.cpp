// The real windows on a private X server: the tray icon in an XEmbed tray (trayer), the status
// window when no tray exists, the QR of the pairing window as a scanner reads it, and an approval
// answered by a click that pairs tamborix-remote.

#include <gtest/gtest.h>

#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QWidget>
#include <fstream>

#include "app/widgets/approval_dialogs.h"
#include "desktop_fixture.h"
#include "support/child_process.h"
#include "store/device_store.h"
#include "support/qt_spin.h"

namespace tamborix::testing {
namespace {

using namespace std::chrono_literals;

QPoint centreOf(QWidget* w) { return w->mapToGlobal(w->rect().center()); }

// trayer docks XEmbed icons at the top right once it owns the tray selection.
class XEmbedTray {
public:
    XEmbedTray()
        : process_("/usr/bin/trayer",
                   {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "96",
                    "--height", "32", "--SetDockType", "true", "--expand", "false"},
                   desktopServer().environment(), false) {
        XProbe probe;
        ready_ = spinUntil([&] { return probe.selectionOwner("_NET_SYSTEM_TRAY_S0") != 0; });
    }
    [[nodiscard]] bool ready() const { return ready_; }

private:
    ChildProcess process_;
    bool ready_ = false;
};

TEST(DesktopWindows, Start_NoTray_OpensTheStatusWindow) {
    XProbe probe;
    ASSERT_EQ(probe.selectionOwner("_NET_SYSTEM_TRAY_S0"), 0u);
    DesktopFixture desk(/*launchedBefore=*/true);
    desk.ui().start();
    ASSERT_TRUE(desk.waitShown(desk.ui().statusWindow()));
    EXPECT_EQ(desk.ui().statusWindow()->windowTitle().toStdString(), "Tamborix Helper");
    const auto frame = probe.rootGeometry(static_cast<xcb_window_t>(desk.ui().statusWindow()->winId()));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->size(), QSize(370, 600));
    (void)desk.screenshot(desk.ui().statusWindow(), "status-window");
}

TEST(DesktopWindows, TrayIcon_XEmbedTray_ClickOpensTheMenuWhoseButtonsAct) {
    XEmbedTray tray;
    ASSERT_TRUE(tray.ready());
    DesktopFixture desk(/*launchedBefore=*/true);
    desk.ui().start();
    QSystemTrayIcon* icon = desk.ui().trayIcon();
    // Docked: the window under the icon's place on the screen is the icon itself.
    XProbe probe;
    ASSERT_TRUE(spinUntil([&] {
        const QRect place = icon->geometry();
        if (!place.isValid()) return false;
        const auto under = probe.rootGeometry(probe.windowAt(place.center()));
        return under && *under == place;
    })) << "icon at " << icon->geometry().x() << "," << icon->geometry().y();
    EXPECT_GT(icon->geometry().x(), 1280 - 96 - 1) << "inside trayer, top right";
    EXPECT_EQ(desk.ui().statusWindow(), nullptr) << "a tray exists, so the start stays quiet";

    ASSERT_TRUE(desk.click(icon->geometry().center()));
    ASSERT_TRUE(spinUntil([&] { return desk.ui().trayPopup() != nullptr; }));
    ASSERT_TRUE(desk.waitShown(desk.ui().trayPopup()));
    (void)desk.screenshot(desk.ui().trayPopup(), "tray-menu");
    auto* pair = desk.ui().trayPopup()->findChild<QPushButton*>("pairNewDevice");
    ASSERT_NE(pair, nullptr);
    ASSERT_TRUE(desk.click(centreOf(pair)));
    ASSERT_TRUE(spinUntil([&] { return desk.ui().pairingWindow() != nullptr; }));
    ASSERT_TRUE(desk.waitShown(desk.ui().pairingWindow()));
    EXPECT_FALSE(desk.ui().trayPopup()->isVisible());
    desk.ui().closePairingWindow();

    // The context menu reaches the status window too.
    ASSERT_EQ(desktopServer().run({"xdotool", "mousemove", "--sync",
                                   std::to_string(icon->geometry().center().x()),
                                   std::to_string(icon->geometry().center().y()), "click", "3"}),
              0);
    QMenu* menu = icon->contextMenu();
    ASSERT_TRUE(desk.waitShown(menu));
    QAction* open = menu->actions().value(0);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->text().toStdString(), "Open Tamborix Helper");
    ASSERT_TRUE(desk.click(menu->mapToGlobal(menu->actionGeometry(open).center())));
    ASSERT_TRUE(spinUntil([&] { return desk.ui().statusWindow() != nullptr; }));
    EXPECT_TRUE(desk.waitShown(desk.ui().statusWindow()));
}

TEST(DesktopWindows, PairingWindow_Screenshot_ScansToThePairingLink) {
    DesktopFixture desk;
    desk.ui().showPairingWindow();
    ASSERT_TRUE(desk.waitShown(desk.ui().pairingWindow()));
    const auto& code = desk.ui().pairingView()->code();
    ASSERT_TRUE(code);
    const auto shot = desk.screenshot(desk.ui().pairingWindow(), "pairing-window");
    ASSERT_FALSE(shot.empty());
    std::string scanned;
    ASSERT_EQ(desktopServer().run({"zbarimg", "--quiet", "--raw", shot.string()}, &scanned), 0);
    while (!scanned.empty() && scanned.back() == '\n') scanned.pop_back();
    EXPECT_EQ(scanned, desk.model().pairingURI(*code));
    EXPECT_NE(scanned.find("p=" + std::to_string(desk.model().linkPort())), std::string::npos);
}

TEST(DesktopWindows, ApprovalDialog_ClickAllow_PairsTheRemote) {
    DesktopFixture desk;
    desk.ui().showPairingWindow();
    ASSERT_TRUE(desk.waitShown(desk.ui().pairingWindow()));
    const auto code = desk.ui().pairingView()->code();
    ASSERT_TRUE(code);

    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "HOME=" + (desk.dir() / "phone").string(),
                                    "XDG_CONFIG_HOME=" + (desk.dir() / "phone").string()};
    for (const char* pass : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* v = std::getenv(pass)) env.push_back(std::string(pass) + "=" + v);
    }
    ChildProcess remote(TAMBORIX_REMOTE_BIN, {"pair", desk.address(), *code, "--name", "Xvfb Phone"},
                        env, false);
    ASSERT_TRUE(spinUntil([&] { return desk.ui().dialogs().current() != nullptr; }, 20000))
        << remote.transcript();
    QMessageBox* dialog = desk.ui().dialogs().current();
    ASSERT_TRUE(desk.waitShown(dialog));
    EXPECT_EQ(dialog->text().toStdString(), "Allow \u201CXvfb Phone\u201D to control this computer?");
    (void)desk.screenshot(dialog, "approval-dialog");
    auto* allow = dialog->findChild<QPushButton*>("allow");
    ASSERT_NE(allow, nullptr);
    // The dialog stays above the pairing window, so the click lands on it.
    XProbe probe;
    const QPoint target = centreOf(allow);
    const auto top = probe.windowAt(target);
    const auto dialogFrame = probe.rootGeometry(static_cast<xcb_window_t>(dialog->winId()));
    ASSERT_TRUE(dialogFrame);
    EXPECT_TRUE(dialogFrame->contains(target));
    EXPECT_EQ(top, static_cast<xcb_window_t>(dialog->winId()));
    ASSERT_TRUE(desk.click(target));

    std::optional<int> exit;
    ASSERT_TRUE(spinUntil([&] { return (exit = remote.wait(0ms)).has_value(); }, 20000)) << remote.transcript();
    EXPECT_EQ(*exit, 0) << remote.transcript();
    const auto devices = desk.model().store().devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices.front().name, "Xvfb Phone");
    EXPECT_EQ(desk.ui().dialogs().current(), nullptr);
}

}  // namespace
}  // namespace tamborix::testing
