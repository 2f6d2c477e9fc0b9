#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <filesystem>

#include "app/fake_helper_platform.h"
#include "app/helper_model.h"
#include "app/widgets/approval_dialogs.h"
#include "app/widgets/desktop_ui.h"
#include "app/widgets/menu_content.h"
#include "app/widgets/pairing_view.h"
#include "core/session/helper_core.h"
#include "protocol/wire.h"
#include "store/device_store.h"
#include "testing/fake_stream.h"
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
    EXPECT_EQ(network->text().toStdString(), "Network \u2014 Starting\u2026");

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
              "CPU 13% \u00B7 85 MB \u00B7 lag 3 ms \u00B7 40 cmds/s \u00B7 BT backlog 0");

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
    EXPECT_EQ(network->text().toStdString(), "Network \u2014 Off");
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
    EXPECT_EQ(labelText(*view, "closedText"), "Pairing is closed.");

    // Pair Another opens a fresh code; removing the view clears it.
    child<QPushButton>(*view, "pairAnother")->click();
    settle();
    EXPECT_TRUE(view->showsOpenState());
    EXPECT_TRUE(model_->store().pairCode());
    view.reset();
    EXPECT_FALSE(model_->store().pairCode());
    EXPECT_FALSE(model_->store().pairExpires());
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
        return [&answers, who](bool allowed) { answers.push_back(who + (allowed ? " yes" : " no")); };
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

    // B was asked 30 s after A: it refuses itself 60 s after it was asked, and its dialog goes.
    loop_.advance(29.0);
    EXPECT_EQ(answers.size(), 1u);
    loop_.advance(31.0);
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"A yes", "B no"}));
    ASSERT_NE(prompter.current(), nullptr);
    EXPECT_EQ(prompter.current()->text(), "Allow \u201Cphone C\u201D to see your screen?");
    EXPECT_EQ(prompter.current()->defaultButton()->text(), "Don't Allow");

    // The screen prompt has no time limit; Escape refuses.
    loop_.advance(600.0);
    EXPECT_EQ(answers.size(), 2u);
    prompter.current()->reject();
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"A yes", "B no", "C no"}));
    EXPECT_EQ(prompter.current(), nullptr);
}

}  // namespace
}  // namespace tamborix::ui
