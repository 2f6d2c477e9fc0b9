#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>
#include <string>

#include "platform/linux/services/datacontrol/data_control_clipboard.h"
#include "support/child_process.h"
#include "support/qt_spin.h"
#include "support/sway_server.h"

namespace tamborix {
namespace {

using testing::ChildProcess;
using testing::spinUntil;
using testing::SwayServer;

// Both directions with other programs: what the helper sets is pasted by wl-paste while the
// helper keeps serving it from its loop, and what wl-copy sets replaces it in text().
TEST(DataControlClipboard, SetTextAndWlCopy_ReachWlPasteAndText) {
    SwayServer sway;
    if (!sway.running()) GTEST_SKIP() << sway.why();
    std::string why;
    auto clipboard = datacontrol::DataControlClipboard::open(sway.display(), why);
    ASSERT_TRUE(clipboard) << why;

    ASSERT_TRUE(clipboard->setText("Grüße ✓ 😀\nsecond line"));
    ChildProcess paste("/usr/bin/wl-paste", {}, sway.clientEnv(), false);
    ASSERT_TRUE(spinUntil([&] { return paste.wait(std::chrono::milliseconds(0)).has_value(); }));
    EXPECT_EQ(paste.lines(), (std::vector<std::string>{"Grüße ✓ 😀", "second line"})) << paste.errText();

    ChildProcess copy("/usr/bin/wl-copy", {"--foreground", "from wl-copy ✓"}, sway.clientEnv(), false);
    std::optional<std::string> seen;
    EXPECT_TRUE(spinUntil([&] { return (seen = clipboard->text()) == "from wl-copy ✓"; }))
        << (seen ? *seen : "(nothing)") << copy.errText();
}

}  // namespace
}  // namespace tamborix

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
