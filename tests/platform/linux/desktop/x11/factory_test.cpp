// The backend factory puts the X11 desktop backends on its shared connection.

#include <QProcess>

#include "desk_fixture.h"
#include "platform/linux/factory/backends.h"
#include "platform/linux/support/qt/qt_main_loop.h"


namespace tamborix::testing {
namespace {

TEST_F(Desk, MakePlatformBackends_X11Session_WorkspaceReportsFrontChangesAndClipboardIsShared) {
    server.exportToThisProcess();
    QtMainLoop loop;
    auto b = makePlatformBackends(loop, BackendRequest{});
    ASSERT_EQ(b.backendName, "x11");
    // A workspace that reports changes: the core stops polling.
    int reports = 0;
    auto watch = b.workspace->watchFront([&] { ++reports; });
    ASSERT_NE(watch, nullptr);
    const auto w = client->create({.instance = "zz", .klass = "ZzNoEntry", .pid = 0x7ffffff2});
    ASSERT_TRUE(managed(w));
    client->activate(w);
    EXPECT_TRUE(spinUntil([&] { return reports > 0; }));
    EXPECT_TRUE(b.windows->frontWindow().has_value());
    // The clipboard is the desktop's: another client on the display sees what it sets.
    ASSERT_TRUE(b.clipboard->setText("shared"));
    QProcess xclip;
    QStringList env;
    for (const auto& e : server.environment()) env << QString::fromStdString(e);
    xclip.setEnvironment(env);
    xclip.start("xclip", {"-selection", "clipboard", "-o"});
    ASSERT_TRUE(spinUntil([&] { return xclip.state() == QProcess::NotRunning; }));
    EXPECT_EQ(xclip.readAllStandardOutput().toStdString(), "shared");
    ::unsetenv("DISPLAY");
}

}  // namespace
}  // namespace tamborix::testing
