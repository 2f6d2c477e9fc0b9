// The tray icon where the panel is a StatusNotifierItem host: the icon registers with the panel,
// the panel's menu entries run their actions and activating the icon opens the menu content.

#include <gtest/gtest.h>

#include <QWidget>
#include <functional>
#include <optional>

#include "desktop_fixture.h"
#include "sni_panel.h"
#include "support/qt_spin.h"

namespace tamborix::testing {
namespace {

using namespace std::chrono_literals;

// A line of the panel's that arrived by now (read without waiting, so the Qt loop keeps running).
std::optional<std::string> arrived(const std::function<bool(const std::string&)>& match) {
    (void)panel().lines();
    return panel().waitForLine(match, 0ms);
}

// Sends a line to the panel and runs the Qt loop (the panel calls back into this process) until
// it answers.
std::string ask(const std::string& line) {
    panel().write(line + "\n");
    std::optional<std::string> answer;
    spinUntil([&] {
        if (!answer) answer = arrived([](const std::string& l) { return l.rfind("done", 0) == 0 || l.rfind("error", 0) == 0; });
        return answer.has_value();
    });
    return answer.value_or("no answer");
}

TEST(StatusNotifierTray, TrayIcon_PanelOverDBus_RegistersAndItsMenuAndActivationAct) {
    DesktopFixture desk(/*launchedBefore=*/true);
    bool quitAsked = false;
    desk.model().setOnQuit([&] { quitAsked = true; });
    desk.ui().start();
    std::optional<std::string> item;
    spinUntil([&] {
        if (!item) item = arrived([](const std::string& l) { return l.rfind("item ", 0) == 0; });
        return item.has_value();
    });
    ASSERT_TRUE(item)
        << panel().transcript();
    EXPECT_TRUE(desk.ui().trayAvailable());
    EXPECT_EQ(desk.ui().statusWindow(), nullptr) << "a panel shows the icon, so the start stays quiet";

    EXPECT_EQ(ask("click Open Tamborix Helper"), "done click Open Tamborix Helper");
    ASSERT_TRUE(spinUntil([&] { return desk.ui().statusWindow() != nullptr; }));
    EXPECT_TRUE(desk.waitShown(desk.ui().statusWindow()));

    EXPECT_EQ(ask("activate"), "done activate");
    ASSERT_TRUE(spinUntil([&] { return desk.ui().trayPopup() != nullptr; }));
    EXPECT_TRUE(desk.waitShown(desk.ui().trayPopup()));

    EXPECT_EQ(ask("click Quit"), "done click Quit");
    EXPECT_TRUE(spinUntil([&] { return quitAsked; }));
}

}  // namespace
}  // namespace tamborix::testing
