// The real windows on a private X server: the tray icon in an XEmbed tray (trayer), the status
// window when no tray exists, the QR of the pairing window as a scanner reads it, and an approval
// answered by a click that pairs tamborix-remote.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <fstream>

#include "app/widgets/approval_dialogs.h"
#include "base/user_text.h"
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

// "-scale2" under QT_SCALE_FACTOR=2, so that the runs at each scale keep their own pictures.
std::string shotName(const std::string& name) {
    const char* scale = std::getenv("QT_SCALE_FACTOR");
    return scale && *scale && std::string(scale) != "1" ? name + "-scale" + scale : name;
}

// Every text of `window` whole: the frame (title bar included) on the screen, no label or button
// narrower or lower than its text needs, nothing to scroll sideways; and every control a screen
// reader can name.
void expectWholeAndNamed(QWidget* window) {
    const QRect area = window->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(window->frameGeometry()))
        << window->objectName().toStdString() << " frame " << window->frameGeometry().x() << ","
        << window->frameGeometry().y() << " " << window->frameGeometry().width() << "x"
        << window->frameGeometry().height() << " on " << area.width() << "x" << area.height();
    for (auto* scroll : window->findChildren<QScrollArea*>()) {
        EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible()) << "text wider than the window";
    }
    for (auto* label : window->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty()) continue;
        const std::string what = label->objectName().toStdString() + " \"" + label->text().toStdString() + "\"";
        if (label->wordWrap()) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << what;
        } else {
            EXPECT_GE(label->width(), label->sizeHint().width()) << what;
            EXPECT_GE(label->height(), label->sizeHint().height()) << what;
        }
    }
    for (auto* button : window->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(window)) continue;
        const std::string what = button->objectName().toStdString() + " \"" + button->text().toStdString() + "\"";
        if (!button->text().isEmpty()) EXPECT_GE(button->width(), button->sizeHint().width()) << what;
        QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(button);
        ASSERT_NE(a11y, nullptr);
        EXPECT_FALSE(a11y->text(QAccessible::Name).isEmpty()) << what << " has no accessible name";
    }
}

TEST(DesktopWindows, Start_NoTray_OpensTheStatusWindowWhoseClosingQuits) {
    XProbe probe;
    ASSERT_EQ(probe.selectionOwner("_NET_SYSTEM_TRAY_S0"), 0u);
    DesktopFixture desk(/*launchedBefore=*/true);
    int quits = 0;
    desk.model().setOnQuit([&] { ++quits; });
    desk.ui().start();
    ASSERT_TRUE(desk.waitShown(desk.ui().statusWindow()));
    EXPECT_EQ(desk.ui().statusWindow()->windowTitle().toStdString(), "Tamborix Helper");
    // The transports report their first states just after the start; the layout follows them.
    spinUntil([] { return false; }, 200);
    expectWholeAndNamed(desk.ui().statusWindow());
    (void)desk.screenshot(desk.ui().statusWindow(), shotName("status-window"));
    // Without a tray nothing would show that phones can still control the computer.
    desk.ui().statusWindow()->close();
    EXPECT_EQ(quits, 1);
}

TEST(DesktopWindows, Windows_AnyScale_FitTheScreenWithEveryTextWhole) {
    DesktopFixture desk(/*launchedBefore=*/true);
    // The longest lines a user meets: a reason for input, no Bluetooth, the identity of a phone.
    desk.fakes().input.setMayPost(
        false, "no X11 XTEST extension on display :5",
        "Log in to a desktop session whose X server has the XTEST extension (Xorg has it).");
    spinUntil([] { return false; }, 2100);
    desk.ui().showStatusWindow();
    ASSERT_TRUE(desk.waitShown(desk.ui().statusWindow()));
    spinUntil([] { return false; }, 200);
    expectWholeAndNamed(desk.ui().statusWindow());
    (void)desk.screenshot(desk.ui().statusWindow(), shotName("status-window-warnings"));
    desk.ui().showPairingWindow();
    ASSERT_TRUE(desk.waitShown(desk.ui().pairingWindow()));
    expectWholeAndNamed(desk.ui().pairingWindow());
    auto* code = desk.ui().pairingWindow()->findChild<QLabel*>("code");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(code)->text(QAccessible::Name).toStdString(),
              "Pairing code " + code->text().toStdString());
    desk.ui().closePairingWindow();
}

// Run by desktopui_german_tests under LANG=de_DE.UTF-8: the locale alone picks the translation.
TEST(DesktopWindows, Windows_GermanLocale_GermanTextsWholeAndNamed) {
    if (QLocale().language() != QLocale::German) GTEST_SKIP() << "needs LANG=de_DE.UTF-8";
    DesktopFixture desk(/*launchedBefore=*/true);
    // A reason worded in English below the application, as the X11 backend words it.
    desk.fakes().input.setMayPost(
        false, userText("X11", "no X11 XTEST extension on display %1").with({":5"}),
        userText("X11", "Log in to a desktop session whose X server has the XTEST extension (Xorg has it).").str());
    spinUntil([] { return false; }, 2100);
    desk.ui().showStatusWindow();
    ASSERT_TRUE(desk.waitShown(desk.ui().statusWindow()));
    spinUntil([] { return false; }, 200);
    auto* status = desk.ui().statusWindow();
    auto* reason = status->findChild<QLabel*>("inputWarningReason");
    ASSERT_NE(reason, nullptr);
    EXPECT_EQ(reason->text().toStdString(), "keine X11-Erweiterung XTEST auf Display :5");
    auto* remedy = status->findChild<QLabel*>("inputWarningTodo");
    ASSERT_NE(remedy, nullptr);
    EXPECT_TRUE(remedy->text().contains(QString::fromUtf8("Melden Sie sich in einer Desktop-Sitzung an")))
        << remedy->text().toStdString();
    // Qt's own texts too, such as the menu of the scroll bar a window taller than the screen shows.
    auto* scroll = status->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    QStringList scrollMenu;
    QTimer::singleShot(0, status, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (auto* action : menu->actions()) scrollMenu << action->text();
            menu->close();
        }
    });
    QScrollBar* bar = scroll->verticalScrollBar();
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(1, 1), bar->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(bar, &menuEvent);
    EXPECT_TRUE(scrollMenu.contains("Hierher scrollen")) << scrollMenu.join(", ").toStdString();
    // German texts are longer: every one still whole.
    expectWholeAndNamed(status);
    auto* quit = status->findChild<QPushButton*>("quit");
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(quit->text().toStdString(), "Beenden");
    auto* network = status->findChild<QLabel*>("networkStatus");
    ASSERT_NE(network, nullptr);
    EXPECT_TRUE(network->text().startsWith(QString::fromUtf8("Netzwerk \u2014 "))) << network->text().toStdString();
    (void)desk.screenshot(status, "status-window-de");

    desk.ui().showPairingWindow();
    ASSERT_TRUE(desk.waitShown(desk.ui().pairingWindow()));
    expectWholeAndNamed(desk.ui().pairingWindow());
    EXPECT_EQ(desk.ui().pairingWindow()->windowTitle().toStdString(), "Ger\u00E4t koppeln");
    auto* code = desk.ui().pairingWindow()->findChild<QLabel*>("code");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(code)->text(QAccessible::Name).toStdString(),
              "Kopplungscode " + code->text().toStdString());
    (void)desk.screenshot(desk.ui().pairingWindow(), "pairing-window-de");
    desk.ui().closePairingWindow();
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
    EXPECT_EQ(icon->toolTip().toStdString(),
              "Tamborix Helper\n" + desk.model().networkStatusLine() + "\nNo phone connected");

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
    const auto shot = desk.screenshot(desk.ui().pairingWindow(), shotName("pairing-window"));
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
    EXPECT_EQ(QAccessible::queryAccessibleInterface(dialog)->text(QAccessible::Name), dialog->text());
    const auto closed = desk.ui().pairingWindow()->findChild<QLabel*>("closedText");
    ASSERT_NE(closed, nullptr);
    EXPECT_TRUE(spinUntil([&] { return closed->isVisible(); }));
    EXPECT_EQ(closed->text().toStdString(),
              "\u201CXvfb Phone\u201D entered the code. Allow or deny it in the approval prompt.");
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
    EXPECT_TRUE(spinUntil([&] { return closed->text() == "Paired Xvfb Phone"; }));
    (void)desk.screenshot(desk.ui().pairingWindow(), shotName("pairing-window-paired"));
}

}  // namespace
}  // namespace tamborix::testing
