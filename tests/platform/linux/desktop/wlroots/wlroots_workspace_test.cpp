#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/linux/desktop/wlroots/wlr_workspace.h"
#include "platform/linux/desktop/wlroots/wlroots_session.h"
#include "probe.h"
#include "support/qt_spin.h"
#include "support/sway_server.h"

namespace tamborix {
namespace {

using testing::Probe;
using testing::spinUntil;
using testing::SwayServer;

// The app_id of the window sway has focused, from its tree.
std::string focusedAppId(const SwayServer& sway) {
    const auto tree = sway.swaymsg({"-t", "get_tree"});
    if (!tree) return "(no tree)";
    std::function<std::string(const nlohmann::json&)> walk = [&](const nlohmann::json& node) -> std::string {
        if (node.value("focused", false)) return node.value("app_id", std::string("(no app_id)"));
        for (const char* kids : {"nodes", "floating_nodes"}) {
            for (const auto& child : node.value(kids, nlohmann::json::array())) {
                if (auto found = walk(child); !found.empty()) return found;
            }
        }
        return {};
    };
    return walk(nlohmann::json::parse(*tree, nullptr, false));
}

// Two windows of two applications: both listed by their desktop entries, the focused one in
// front; activating the other raises it (sway's own focus says so) and the front watch fires
// once for that one change.
TEST(WlrootsWorkspace, ActivateOtherApp_ListsByEntryRaisesAndReportsOnce) {
    SwayServer sway;
    if (!sway.running()) GTEST_SKIP() << sway.why();
    Probe a(sway, "tamborix-probe-a");
    ASSERT_TRUE(a.ready());
    Probe b(sway, "tamborix-probe-b");
    ASSERT_TRUE(b.ready());
    std::string why;
    auto session = wlroots::WlrootsSession::open(sway.display(), why);
    ASSERT_TRUE(session) << why;
    session->connection().watchWithQt();
    auto workspace = wlroots::WlrWorkspace::create(session->connection(), session->seat(),
                                                   std::make_shared<gio::DesktopEntries>(), "", why);
    ASSERT_TRUE(workspace) << why;

    const auto apps = workspace->runningApps();
    ASSERT_EQ(apps.size(), 2u);
    const RunningApp* probeA = apps[0].appId == "tamborix-probe-a.desktop" ? &apps[0] : &apps[1];
    const RunningApp* probeB = probeA == &apps[0] ? &apps[1] : &apps[0];
    EXPECT_EQ(probeA->appId, "tamborix-probe-a.desktop");
    EXPECT_EQ(probeA->name, "Probe A");
    EXPECT_EQ(probeB->appId, "tamborix-probe-b.desktop");
    EXPECT_EQ(workspace->frontmost(), probeB->handle);

    int calls = 0;
    auto watch = workspace->watchFront([&] { ++calls; });
    ASSERT_TRUE(workspace->activate(*probeA));
    EXPECT_TRUE(spinUntil([&] { return workspace->frontmost() == probeA->handle; }));
    EXPECT_TRUE(spinUntil([&] { return focusedAppId(sway) == "tamborix-probe-a"; })) << focusedAppId(sway);
    testing::settle();
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace tamborix
