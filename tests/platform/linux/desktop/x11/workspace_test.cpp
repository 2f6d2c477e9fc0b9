// Running applications, their entries and icons, activation and the front application, launching
// and web addresses, against openbox and desktop entries of made-up applications.

#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include <iostream>

#include "core/desktop/desktop_control.h"
#include "desk_fixture.h"
#include "platform/linux/support/gio/desktop_entries.h"
#include "platform/linux/desktop/x11/ewmh_window_control.h"
#include "platform/linux/desktop/x11/x11_workspace.h"
#include "testing/fake_display_source.h"
#include "testing/fake_overlay_surface.h"
#include "testing/manual_loop.h"
#include "testing/recording_input_sink.h"

namespace tamborix::testing {
namespace {

constexpr std::uint32_t editorPid = 0x7ffffff1;
constexpr std::uint32_t otherPid = 0x7ffffff2;

// A 4 × 4 opaque red square, as a window would publish it.
std::vector<std::uint32_t> redIcon() {
    std::vector<std::uint32_t> v{4, 4};
    v.insert(v.end(), 16, 0xFFFF0000u);
    return v;
}

QImage decoded(const std::optional<Bytes>& png) {
    if (!png) return {};
    return QImage::fromData(png->data(), static_cast<int>(png->size()), "PNG");
}

class Apps : public Desk {
protected:
    bool launchesSettled(std::size_t count) {
        return spinUntil([&] { return recordedLaunches().size() >= count; });
    }

    x11::X11Workspace workspace{*x, std::make_shared<gio::DesktopEntries>(), "io.tamborix.Helper.desktop"};
    x11::EwmhWindowControl windows{*x};
    ManualLoop loop;
    FakeDisplaySource displays;
    RecordingInputSink sink;
    FakeOverlaySurface surface;
    CursorFinder finder{loop, displays, surface};
    DesktopControl desktop{displays, workspace, windows, sink, finder};
};

TEST_F(Apps, OpenApps_EntriesClassesAndTheHelper_ListedByEntryOrClass) {
    const auto editor = client->create({.instance = "editor", .klass = "TestEditor", .pid = editorPid});
    const auto second = client->create({.instance = "editor", .klass = "TestEditor", .pid = editorPid});
    const auto plain = client->create({.instance = "zz", .klass = "ZzNoEntry", .pid = otherPid,
                                       .icon = redIcon()});
    const auto own = client->create({.instance = "helper", .klass = "Tamborix",
                                     .pid = static_cast<std::uint32_t>(::getpid())});
    ASSERT_TRUE(managed(editor) && managed(second) && managed(plain) && managed(own));
    // openbox gives a new window the focus a little later; let that happen first.
    ASSERT_TRUE(active(own));
    client->activate(plain);
    ASSERT_TRUE(active(plain));

    const auto apps = desktop.openApps();
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_EQ(apps[0].name, "Test Editor");
    EXPECT_EQ(apps[0].id, "tamborix-test-editor.desktop");
    EXPECT_FALSE(apps[0].front);
    EXPECT_EQ(apps[1].name, "ZzNoEntry");
    EXPECT_EQ(apps[1].id, "ZzNoEntry");
    EXPECT_TRUE(apps[1].front);

    // The entry's SVG from the icon theme, and the window's own pixels for the other.
    const QImage themed = decoded(desktop.iconPNG(apps[0].app, 40));
    ASSERT_EQ(themed.size(), QSize(40, 40));
    EXPECT_EQ(QColor(themed.pixel(20, 20)), QColor("#3a7"));
    const QImage fromWindow = decoded(desktop.iconPNG(apps[1].app, 40));
    ASSERT_EQ(fromWindow.size(), QSize(40, 40));
    EXPECT_EQ(QColor(fromWindow.pixel(20, 20)), QColor(Qt::red));
    // The helper's own window is never the front application either.
    client->activate(own);
    ASSERT_TRUE(active(own));
    EXPECT_EQ(workspace.frontmost(), std::nullopt);
}

TEST_F(Apps, Activate_MinimisedApplication_RestoredAndFrontReportedOnce) {
    const auto editor = client->create({.instance = "editor", .klass = "TestEditor", .pid = editorPid});
    const auto plain = client->create({.instance = "zz", .klass = "ZzNoEntry", .pid = otherPid});
    ASSERT_TRUE(managed(editor) && managed(plain));
    client->activate(plain);
    ASSERT_TRUE(active(plain));
    client->minimise(editor);
    ASSERT_TRUE(spinUntil([&] { return client->hasState(editor, "_NET_WM_STATE_HIDDEN"); }));

    std::vector<std::optional<AppHandle>> seen;
    auto watch = workspace.watchFront([&] { seen.push_back(workspace.frontmost()); });
    ASSERT_NE(watch, nullptr);
    ASSERT_TRUE(desktop.activate("tamborix-test-editor.desktop"));
    ASSERT_TRUE(active(editor));
    EXPECT_TRUE(spinUntil([&] { return !client->hasState(editor, "_NET_WM_STATE_HIDDEN"); }));
    ASSERT_TRUE(spinUntil([&] { return !seen.empty() && seen.back() == workspace.frontmost(); }));
    const auto apps = desktop.openApps();
    EXPECT_TRUE(apps[0].front);
    EXPECT_EQ(workspace.frontmost(), apps[0].app.handle);
    // An id that is not running is not activated.
    EXPECT_FALSE(desktop.activate("tamborix-launch-me.desktop"));
    watch.reset();
    const auto reports = seen.size();
    client->activate(plain);
    ASSERT_TRUE(active(plain));
    spinUntil([] { return false; }, 100);
    EXPECT_EQ(seen.size(), reports);
}

TEST_F(Apps, OpenAppAndWebsite_RecordingHandlers_LaunchedWithoutStallingTheLoop) {
    // How late the loop's timer gets while the launches are requested and run.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = std::max(worst, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(8);
    spinUntil([] { return false; }, 50);
    worst = 0;
    spinUntil([] { return false; }, 300);
    const qint64 idle = worst;
    worst = 0;
    const std::size_t before = recordedLaunches().size();

    EXPECT_TRUE(desktop.openApp("launch me"));
    EXPECT_TRUE(desktop.openWebsite("https://example.org/a?b=c"));
    ASSERT_TRUE(launchesSettled(before + 2));
    std::cout << "[ figure ] worst gap of an 8 ms timer: " << worst << " ms while launching, " << idle
              << " ms idle\n";

    auto lines = recordedLaunches();
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(before));
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines[0], "https://example.org/a?b=c|");
    // The launch is announced for startup notification, and the id handed to the program.
    EXPECT_EQ(lines[1].rfind("launched|tamborix-", 0), 0u) << lines[1];

    EXPECT_FALSE(desktop.openApp("no such application"));
    EXPECT_FALSE(desktop.openWebsite("ftp://example.org/"));
}

}  // namespace
}  // namespace tamborix::testing
