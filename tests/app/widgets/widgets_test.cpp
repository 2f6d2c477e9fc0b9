#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/fake_helper_platform.h"
#include "app/helper_model.h"
#include "app/widgets/approval_dialogs.h"
#include "app/widgets/desktop_ui.h"
#include "app/widgets/menu_content.h"
#include "app/widgets/pairing_view.h"
#include "core/session/helper_core.h"
#include "protocol/handshake.h"
#include "protocol/key_pair.h"
#include "protocol/wire.h"
#include "store/device_store.h"
#include "testing/fake_stream.h"
#include "testing/loopback_phone.h"
#include "testing/manual_loop.h"
#include "testing/small_disk.h"

namespace tamborix::ui {
namespace {

void settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

template <typename T>
T* child(QWidget& w, const char* name) {
    auto* found = w.findChild<T*>(name);
    if (!found) ADD_FAILURE() << "no " << name;
    return found;
}

QString labelText(QWidget& w, const char* name) {
    auto* l = child<QLabel>(w, name);
    return l ? l->text() : QString();
}

class WidgetsTest : public ::testing::Test {
protected:
    WidgetsTest() {
        dir_ = std::filesystem::temp_directory_path() /
               ("tamborix-widgets-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "store");
        auto env = fakes_.environment(loop_, dir_, listeners_);
        model_ = std::make_unique<HelperModel>(env);
    }
    ~WidgetsTest() override {
        model_.reset();
        std::filesystem::remove_all(dir_);
    }

    std::string addDevice(const std::string& name, std::uint8_t seed) {
        Bytes pub(32, seed);
        return model_->store().add(pub, name).value().id;
    }

    std::filesystem::path dir_;
    testing::ManualLoop loop_;
    testing::FakeHelperPlatform fakes_{loop_, "Ada's Laptop"};
    testing::FakeStreamListenerFactory listeners_{loop_};
    std::unique_ptr<HelperModel> model_;
};

TEST_F(WidgetsTest, MenuContent_ModelChanges_EveryLineAndSwitchFollows) {
    MenuContent menu(*model_, {});
    menu.show();
    settle();
    EXPECT_EQ(labelText(menu, "identity").toStdString(), "Identity " + model_->identityFingerprint());
    EXPECT_FALSE(child<QWidget>(menu, "inputWarning")->isVisible());
    EXPECT_FALSE(child<QWidget>(menu, "connected")->isVisible());
    EXPECT_FALSE(child<QWidget>(menu, "pairedDevices")->isVisible());
    EXPECT_FALSE(child<QLabel>(menu, "stats")->isVisible());
    auto* network = child<QCheckBox>(menu, "networkSwitch");
    EXPECT_TRUE(network->isChecked());
    EXPECT_EQ(labelText(menu, "networkStatus").toStdString(), "Network \u2014 Starting\u2026");

    // Input lost: the box appears with the reason at the next 2 s poll.
    fakes_.input.setMayPost(false, "no XTEST on this display");
    loop_.advance(2.0);
    settle();
    EXPECT_TRUE(child<QWidget>(menu, "inputWarning")->isVisible());
    EXPECT_EQ(labelText(menu, "inputWarningReason"), "no XTEST on this display");
    EXPECT_FALSE(child<QWidget>(menu, "captureWarning")->isVisible());
    fakes_.capture.isAvailable = false;
    fakes_.capture.reason = "no X display";
    loop_.advance(2.0);
    settle();
    EXPECT_TRUE(child<QWidget>(menu, "captureWarning")->isVisible());
    EXPECT_EQ(labelText(menu, "captureWarning"), "Screen capture is not available in this session: no X display");

    // Statistics as the Part's example, and the last event.
    model_->core().setLastStats({{"cpu", 12.6}, {"mem", 85.9}, {"lag", 3.2}, {"rx", 40}});
    settle();
    EXPECT_EQ(labelText(menu, "stats").toStdString(),
              "CPU 13% \u00B7 memory 85 MB \u00B7 delay 3 ms \u00B7 40 commands/s \u00B7 Bluetooth queue 0");

    // Devices: one row each in store order, scope text and the menu entries that fit it.
    const auto a = addDevice("Ada's phone", 1);
    addDevice("watch", 2);
    settle();
    ASSERT_TRUE(child<QWidget>(menu, "pairedDevices")->isVisible());
    auto* row = menu.findChild<QWidget*>(QString::fromStdString("device:" + a));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->findChild<QLabel*>("deviceScope")->text(), "Full control");
    auto entries = [&](QWidget* r) {
        std::vector<std::string> out;
        for (auto* action : r->findChild<QToolButton*>("deviceActions")->menu()->actions()) {
            if (!action->isSeparator()) out.push_back(action->text().toStdString());
        }
        return out;
    };
    EXPECT_EQ(entries(row), (std::vector<std::string>{"Limit to presenter (no typing)",
                                                      "Reset screen-viewing permission",
                                                      "Remove\u2026"}));
    row->findChild<QToolButton*>("deviceActions")->menu()->actions().front()->trigger();
    model_->store().setScreen(a, true);
    settle();
    row = menu.findChild<QWidget*>(QString::fromStdString("device:" + a));
    EXPECT_EQ(model_->store().deviceById(a)->scope, PairedDevice::Scope::presenter);
    EXPECT_EQ(row->findChild<QLabel*>("deviceScope")->text(), "Presenter only");
    EXPECT_EQ(entries(row), (std::vector<std::string>{"Allow full control",
                                                      "Stop allowing screen viewing",
                                                      "Remove\u2026"}));

    // The switches call the model; the model's state is what they show.
    network->click();
    settle();
    EXPECT_FALSE(model_->networkOn());
    EXPECT_EQ(labelText(menu, "networkStatus").toStdString(), "Network \u2014 Off");
    child<QCheckBox>(menu, "shareFrontApp")->click();
    EXPECT_FALSE(model_->shareFrontApp());
    auto* login = child<QCheckBox>(menu, "startAtLogin");
    login->click();
    EXPECT_TRUE(model_->startAtLogin());
    EXPECT_TRUE(login->isChecked());
    EXPECT_TRUE(std::filesystem::exists(dir_ / "autostart" / "io.tamborix.Helper.desktop"));
    login->click();
    EXPECT_FALSE(std::filesystem::exists(dir_ / "autostart" / "io.tamborix.Helper.desktop"));
}

TEST_F(WidgetsTest, MenuContent_RevokeNotSaved_WarningStaysUntilItIsWritten) {
    testing::SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    model_.reset();
    auto env = fakes_.environment(loop_, dir_, listeners_);
    env.storeFolder = disk.path() / "store";
    model_ = std::make_unique<HelperModel>(env);
    const auto id = addDevice("Lost phone", 1);
    {
        MenuContent menu(*model_, {});
        menu.show();
        settle();
        auto* warning = child<QLabel>(menu, "saveWarning");
        ASSERT_NE(warning, nullptr);
        EXPECT_FALSE(warning->isVisible());
        ASSERT_TRUE(disk.setReadOnly(true));
        EXPECT_EQ(model_->revoke(id).status, DeviceChange::Status::notSaved);
        loop_.advance(DeviceStore::longestSaveRetry * 2);
        settle();
        EXPECT_TRUE(warning->isVisible());
        EXPECT_NE(warning->text().toStdString().find("Read-only file system"), std::string::npos);

        ASSERT_TRUE(disk.setReadOnly(false));
        loop_.advance(DeviceStore::longestSaveRetry);
        settle();
        EXPECT_FALSE(warning->isVisible());
    }
    model_.reset();
}

TEST_F(WidgetsTest, MenuContent_RemoveConfirmation_CancelKeepsRemoveRevokes) {
    const auto id = addDevice("Ada's phone", 7);
    MenuContent menu(*model_, {});
    menu.show();
    settle();
    menu.askRemove(id);
    ASSERT_NE(menu.removeConfirmation(), nullptr);
    EXPECT_EQ(menu.removeConfirmation()->text(), "Remove Ada's phone?");
    EXPECT_EQ(menu.removeConfirmation()->informativeText(),
              "It will be disconnected immediately and must pair again.");
    menu.removeConfirmation()->findChild<QPushButton*>("cancel")->click();
    settle();
    EXPECT_EQ(menu.removeConfirmation(), nullptr);
    EXPECT_FALSE(menu.confirmRemove());
    EXPECT_TRUE(model_->store().deviceById(id));

    menu.askRemove(id);
    menu.removeConfirmation()->findChild<QPushButton*>("remove")->click();
    settle();
    EXPECT_FALSE(model_->store().deviceById(id));
    EXPECT_FALSE(child<QWidget>(menu, "pairedDevices")->isVisible());
}

TEST_F(WidgetsTest, PairingView_ManualClock_CountsDownClosesAndClearsTheCode) {
    auto view = std::make_unique<PairingView>(*model_, [] {});
    EXPECT_FALSE(model_->store().pairCode());  // nothing opens before the window is shown
    view->show();
    settle();
    ASSERT_TRUE(view->code());
    EXPECT_EQ(model_->store().pairCode(), view->code());
    EXPECT_TRUE(view->showsOpenState());
    EXPECT_EQ(view->uri(), model_->pairingURI(*view->code()));
    EXPECT_EQ(labelText(*view, "countdown"), "Expires in 2:00 \u00B7 works once");
    EXPECT_EQ(labelText(*view, "footer").toStdString(), "This computer: " + model_->identityFingerprint());
    EXPECT_FALSE(child<QLabel>(*view, "qr")->pixmap().isNull());
    loop_.advance(1.0);
    EXPECT_EQ(labelText(*view, "countdown"), "Expires in 1:59 \u00B7 works once");
    loop_.advance(119.5);  // 0.5 s before the end
    EXPECT_EQ(labelText(*view, "countdown"), "Expires in 0:00 \u00B7 works once");
    EXPECT_TRUE(view->showsOpenState());
    loop_.advance(1.0);
    settle();
    EXPECT_FALSE(view->showsOpenState());
    EXPECT_EQ(labelText(*view, "closedText"), "The code expired before a phone used it.");

    // Pair Another opens a fresh code; removing the view clears it.
    child<QPushButton>(*view, "pairAnother")->click();
    settle();
    EXPECT_TRUE(view->showsOpenState());
    EXPECT_TRUE(model_->store().pairCode());
    view.reset();
    EXPECT_FALSE(model_->store().pairCode());
    EXPECT_FALSE(model_->store().pairExpires());
}

TEST_F(WidgetsTest, PairingView_EveryOutcome_SuccessSymbolOnlyWhenItsOwnCodePaired) {
    DialogPrompter prompter(loop_);
    model_->setPrompter(&prompter);
    PairingView view(*model_, [] {});
    view.show();
    settle();
    // A phone that proves the view's code, or `code` instead.
    const auto prove = [&](const std::string& name, std::optional<std::string> code = std::nullopt) {
        auto phone = std::make_unique<testing::LoopbackPhone>(model_->core(), KeyPair::generate());
        phone->connect(PhoneHandshake::Kind::pair, name);
        phone->send({{"t", "pair"},
                     {"proof", Wire::b64url(Wire::pairProof(code.value_or(*view.code()), phone->th()))}});
        loop_.runPosted();
        settle();
        return phone;
    };
    const auto shows = [&](const char* symbol, const std::string& text) {
        settle();
        EXPECT_FALSE(view.showsOpenState());
        EXPECT_EQ(child<QLabel>(view, "closedSymbol")->accessibleName().toStdString(), symbol) << text;
        EXPECT_EQ(labelText(view, "closedText").toStdString(), text);
    };
    const auto again = [&] {
        child<QPushButton>(view, "pairAnother")->click();
        settle();
        ASSERT_TRUE(view.showsOpenState());
    };

    // The code is used while the question is still open: that is not "closed", and not success.
    auto ada = prove("Ada");
    shows("Information", "\u201CAda\u201D entered the code. Allow or deny it in the approval prompt.");
    prompter.current()->findChild<QPushButton*>("refuse")->click();
    shows("Warning", "You denied \u201CAda\u201D. It was not paired.");

    again();
    auto bob = prove("Bob");
    loop_.advance(60.5);
    shows("Warning", "No answer within 60 seconds, so \u201CBob\u201D was not paired.");

    again();
    for (int i = 0; i < 3; ++i) prove("Eve", "ABCDEFGHJKMN");
    shows("Warning", "Three wrong codes were entered, so pairing was closed.");

    again();
    loop_.advance(121.0);
    shows("Information", "The code expired before a phone used it.");

    again();
    auto cleo = prove("Cleo");
    prompter.current()->findChild<QPushButton*>("allow")->click();
    shows("Paired", "Paired Cleo");
    // Later news of other phones is not this window's outcome.
    testing::LoopbackPhone back(model_->core(), cleo->device());
    back.connect(PhoneHandshake::Kind::hello, "Cleo");
    loop_.runPosted();
    ASSERT_EQ(model_->core().lastEvent(), "Cleo connected via Network");
    shows("Paired", "Paired Cleo");
    // A code opened elsewhere (the console's pair) is not this window's either.
    (void)model_->openPairing();
    settle();
    shows("Information", "Pairing is closed.");
    model_->setPrompter(nullptr);
}

TEST_F(WidgetsTest, MenuContent_Failures_SayWhyAndNothingElse) {
    MenuContent menu(*model_, {});
    menu.show();
    loop_.runPosted();
    settle();
    // No Bluetooth LE here: one state, one text, and no ticked switch beside it.
    auto* bluetooth = child<QCheckBox>(menu, "bluetoothSwitch");
    EXPECT_EQ(labelText(menu, "bluetoothStatus").toStdString(), "Bluetooth \u2014 Not supported on this computer");
    EXPECT_FALSE(bluetooth->isChecked());
    EXPECT_FALSE(bluetooth->isEnabled());
    EXPECT_FALSE(child<QWidget>(menu, "problems")->isVisible());

    // Start at login: a switch-off that works says nothing; one that fails says why.
    auto* login = child<QCheckBox>(menu, "startAtLogin");
    login->click();
    login->click();
    settle();
    EXPECT_FALSE(model_->startAtLogin());
    EXPECT_FALSE(child<QWidget>(menu, "startAtLoginError")->isVisible());
    std::filesystem::remove_all(dir_ / "autostart");
    std::ofstream(dir_ / "autostart") << "not a folder";
    login->click();
    settle();
    EXPECT_FALSE(login->isChecked());
    EXPECT_TRUE(child<QWidget>(menu, "startAtLoginError")->isVisible());
    EXPECT_TRUE(labelText(menu, "startAtLoginError").startsWith("Start at login could not be changed: "))
        << labelText(menu, "startAtLoginError").toStdString();
    EXPECT_GT(labelText(menu, "startAtLoginError").size(), 40);

    // A device that cannot be saved: the reason is on the panel, not only in the log.
    std::filesystem::create_directories(dir_ / "store" / "devices.json" / "in the way");
    Bytes pub(32, 9);
    EXPECT_FALSE(model_->store().add(pub, "Lost phone"));
    settle();
    EXPECT_TRUE(child<QWidget>(menu, "problems")->isVisible());
    EXPECT_TRUE(labelText(menu, "problems").startsWith("Warning: ")) << labelText(menu, "problems").toStdString();

    // Input: the reason and the one thing that helps.
    fakes_.input.setMayPost(false, "no X11 XTEST extension on display :5");
    loop_.advance(2.0);
    settle();
    EXPECT_EQ(labelText(menu, "inputWarningReason"), "no X11 XTEST extension on display :5");
    EXPECT_FALSE(labelText(menu, "inputWarningTodo").contains("Log in to an X11 session"));

    // A network switched off before this start was never started: it says Off, not Starting.
    model_->setNetworkOn(false);
    model_.reset();
    model_ = std::make_unique<HelperModel>(fakes_.environment(loop_, dir_, listeners_));
    EXPECT_EQ(model_->networkStatusLine(), "Network \u2014 Off");
}

TEST_F(WidgetsTest, MenuContent_InputSettingsPage_ButtonOnlyWhereItExistsAndOpensIt) {
    MenuContent menu(*model_, {});
    menu.show();
    // The keyboard layout cannot be read: GNOME's page first, then KDE's; only KDE's is installed.
    fakes_.input.setMayPost(false, "no keyboard layout");
    fakes_.input.setSettingsPages({"gnome-keyboard-panel.desktop", "kcm_keyboard.desktop"});
    loop_.advance(2.0);
    settle();
    auto* open = child<QPushButton>(menu, "inputSettings");
    ASSERT_NE(open, nullptr);
    EXPECT_FALSE(open->isVisibleTo(&menu)) << "no such page on this desktop yet";

    fakes_.settingsPages.install("kcm_keyboard.desktop", "Keyboard");
    fakes_.input.setMayPost(false, "no keyboard layout, still");
    loop_.advance(2.0);
    settle();
    ASSERT_TRUE(open->isVisibleTo(&menu));
    EXPECT_EQ(open->text().toStdString(), "Open Keyboard");
    open->click();
    EXPECT_EQ(fakes_.settingsPages.opened(), std::vector<std::string>{"kcm_keyboard.desktop"});

    // Input that works needs no page.
    fakes_.input.setMayPost(true);
    loop_.advance(2.0);
    settle();
    EXPECT_FALSE(open->isVisibleTo(&menu));
}

// WCAG's relative luminance of an sRGB colour.
double luminance(QColor c) {
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

TEST_F(WidgetsTest, TrayIcon_DarkAndLightPanels_StandsOutOnBoth) {
    DesktopUi ui(*model_);
    ui.start();
    const QIcon icon = ui.trayIcon()->icon();
    for (const QColor panel : {QColor(0x20, 0x20, 0x20), QColor(0xf2, 0xf2, 0xf2)}) {
        for (const int size : {16, 22, 32}) {
            QImage image(size, size, QImage::Format_ARGB32);
            image.fill(panel);
            {
                QPainter p(&image);
                icon.paint(&p, QRect(0, 0, size, size));
            }
            // Most of the icon's square differs clearly from the panel (contrast ratio >= 3).
            int clear = 0;
            const double back = luminance(panel);
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    const double l = luminance(image.pixelColor(x, y));
                    const double ratio = (std::max(l, back) + 0.05) / (std::min(l, back) + 0.05);
                    if (ratio >= 3.0) ++clear;
                }
            }
            EXPECT_GT(clear, size * size / 2) << "panel " << panel.name().toStdString() << " size " << size;
        }
    }
}

TEST_F(WidgetsTest, ShowStatusWindow_ClosedOrMinimised_ComesBackAsTheSameWindow) {
    // What a second start of the helper asks the running one to do.
    DesktopUi ui(*model_);
    ui.showStatusWindow();
    QWidget* window = ui.statusWindow();
    ASSERT_NE(window, nullptr);
    window->close();
    ui.showStatusWindow();
    EXPECT_EQ(ui.statusWindow(), window);
    EXPECT_TRUE(window->isVisible());
    window->showMinimized();
    settle();
    ui.showStatusWindow();
    settle();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(WidgetsTest, DialogPrompter_SeveralRequests_QueueTimeOutAndAnswerOnce) {
    DialogPrompter prompter(loop_);
    std::vector<std::string> answers;
    auto record = [&](std::string who) {
        return [&answers, who](Approval a) {
            const char* word = a == Approval::allowed ? " yes" : a == Approval::denied ? " no" : " unanswered";
            answers.push_back(who + word);
        };
    };
    prompter.askApproval("phone A", "AAAA-BBBB-CCCC-DDDD", record("A"));
    loop_.advance(30.0);
    prompter.askApproval("phone B", "1111-2222-3333-4444", record("B"));
    prompter.askScreenApproval("phone C", record("C"));
    settle();
    ASSERT_NE(prompter.current(), nullptr);
    EXPECT_EQ(prompter.current()->text(), "Allow \u201Cphone A\u201D to control this computer?");
    EXPECT_EQ(prompter.current()->informativeText().toStdString(),
              "It will be able to move the pointer, click and type.\nDevice key: AAAA-BBBB-CCCC-DDDD"
              "\n\nOnly allow devices you own and are pairing right now.");
    EXPECT_EQ(prompter.current()->defaultButton()->text(), "Deny");
    EXPECT_EQ(prompter.waiting(), 3u);

    prompter.current()->findChild<QPushButton*>("allow")->click();
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"A yes"}));
    ASSERT_NE(prompter.current(), nullptr);
    EXPECT_EQ(prompter.current()->text(), "Allow \u201Cphone B\u201D to control this computer?");

    // B is on screen from A's answer, 30 s in: it refuses itself 60 s later, and its dialog goes.
    loop_.advance(29.0);
    EXPECT_EQ(answers.size(), 1u);
    loop_.advance(31.0);
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"A yes", "B unanswered"}));
    ASSERT_NE(prompter.current(), nullptr);
    EXPECT_EQ(prompter.current()->text(), "Allow \u201Cphone C\u201D to see your screen?");
    EXPECT_EQ(prompter.current()->defaultButton()->text(), "Don't Allow");

    // The screen prompt has no time limit; Escape refuses.
    loop_.advance(600.0);
    EXPECT_EQ(answers.size(), 2u);
    prompter.current()->reject();
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"A yes", "B unanswered", "C no"}));
    EXPECT_EQ(prompter.current(), nullptr);

    // A pairing prompt behind an unanswered screen prompt waits unseen without losing its time.
    prompter.askScreenApproval("phone D", record("D"));
    prompter.askApproval("phone E", "5555-6666-7777-8888", record("E"));
    loop_.advance(600.0);
    settle();
    EXPECT_EQ(answers.size(), 3u) << "E refused without ever being shown";
    prompter.current()->reject();
    settle();
    ASSERT_NE(prompter.current(), nullptr);
    EXPECT_EQ(prompter.current()->text(), "Allow \u201Cphone E\u201D to control this computer?");
    loop_.advance(59.0);
    EXPECT_EQ(answers.size(), 4u);
    loop_.advance(1.5);
    EXPECT_EQ(answers.back(), "E unanswered");
}

}  // namespace
}  // namespace tamborix::ui
