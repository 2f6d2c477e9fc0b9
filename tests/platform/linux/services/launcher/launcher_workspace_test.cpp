// Applications and web addresses through GIO without any window list, on a private session bus
// with desktop entries of the test's own (no display, no desktop).

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/desktop/cursor_finder.h"
#include "core/desktop/desktop_control.h"
#include "platform/linux/services/launcher/launcher_workspace.h"
#include "support/private_session_bus.h"
#include "testing/fake_display_source.h"
#include "testing/fake_overlay_surface.h"
#include "testing/fake_window_control.h"
#include "testing/manual_loop.h"
#include "testing/recording_input_sink.h"

namespace tamborix::launcher {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& file, const std::string& text, bool executable = false) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
    if (executable) fs::permissions(file, fs::perms::owner_all);
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file);
    std::string s;
    std::getline(in, s);
    return s;
}

bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// An application that holds its name on the session bus and counts the desktop's requests to
// come forward, served from a thread of its own (the helper's calls block the test's thread).
class BusApplication {
public:
    BusApplication(std::string address, std::string name) : address_(std::move(address)), name_(std::move(name)) {
        thread_ = std::thread([this] { run(); });
        ready_.wait(false);
    }
    ~BusApplication() {
        if (loop_) g_main_loop_quit(loop_);
        thread_.join();
    }
    [[nodiscard]] bool owned() const { return owned_; }
    std::atomic<int> activations{0};

private:
    void run() {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        GError* error = nullptr;
        GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
            address_.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        g_clear_error(&error);
        if (bus) {
            static const char* xml =
                "<node><interface name='org.freedesktop.Application'>"
                "<method name='Activate'><arg type='a{sv}' name='platform_data' direction='in'/></method>"
                "</interface></node>";
            GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
            static const GDBusInterfaceVTable vtable{
                [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
                   GDBusMethodInvocation* invocation, gpointer self) {
                    if (g_strcmp0(method, "Activate") == 0) ++static_cast<BusApplication*>(self)->activations;
                    g_dbus_method_invocation_return_value(invocation, nullptr);
                },
                nullptr, nullptr, {}};
            std::string path = "/" + name_;
            std::replace(path.begin(), path.end(), '.', '/');
            g_dbus_connection_register_object(bus, path.c_str(), node->interfaces[0], &vtable, this, nullptr,
                                              nullptr);
            g_dbus_node_info_unref(node);
            GVariant* reply = g_dbus_connection_call_sync(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                g_variant_new("(su)", name_.c_str(), 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000,
                nullptr, nullptr);
            if (reply) {
                owned_ = true;
                g_variant_unref(reply);
            }
        }
        loop_ = g_main_loop_new(context, false);
        ready_ = true;
        ready_.notify_all();
        g_main_loop_run(loop_);
        g_main_loop_unref(loop_);
        if (bus) {
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
        }
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    std::string address_;
    std::string name_;
    std::thread thread_;
    GMainLoop* loop_ = nullptr;
    std::atomic<bool> ready_{false};
    bool owned_ = false;
};

class LauncherTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tamborix-launcher-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        // GLib reads these once per process: they are set before anything of GIO runs.
        ::setenv("HOME", dir_.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (dir_ / "system-data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (dir_ / "system-config").c_str(), 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        const fs::path apps = dir_ / "data" / "applications";
        write(dir_ / "writer.sh", "#!/bin/sh\necho $$ > " + (dir_ / "writer.started").string() + "\nexec sleep 60\n",
              true);
        write(apps / "org.example.TamborixWriter.desktop",
              "[Desktop Entry]\nType=Application\nName=Tamborix Writer\nExec=" + (dir_ / "writer.sh").string() + "\n");
        write(apps / "org.example.TamborixViewer.desktop",
              "[Desktop Entry]\nType=Application\nName=Tamborix Viewer\nExec=true\n");
        write(dir_ / "browser.sh", "#!/bin/sh\necho \"$1\" > " + (dir_ / "opened").string() + "\n", true);
        write(apps / "tamborix-browser.desktop",
              "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" + (dir_ / "browser.sh").string() +
                  " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
        write(dir_ / "config" / "mimeapps.list",
              "[Default Applications]\nx-scheme-handler/https=tamborix-browser.desktop\n"
              "x-scheme-handler/http=tamborix-browser.desktop\n");
        bus_ = new testing::PrivateSessionBus;
        const auto error = bus_->start(dir_);
        ASSERT_TRUE(error.empty()) << error;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
    }
    static void TearDownTestSuite() {
        bus_->stop();
        delete bus_;
        fs::remove_all(dir_);
    }

    std::shared_ptr<gio::DesktopEntries> entries_ = std::make_shared<gio::DesktopEntries>();
    LauncherWorkspace workspace_{entries_, "io.tamborix.Helper.desktop"};
    testing::ManualLoop loop_;
    testing::FakeDisplaySource displays_;
    testing::FakeWindowControl windows_;
    testing::FakeOverlaySurface overlay_;
    testing::RecordingInputSink sink_;
    CursorFinder finder_{loop_, displays_, overlay_};
    DesktopControl control_{displays_, workspace_, windows_, sink_, finder_};

    void TearDown() override { stopWriter(); }
    // The launched program, by the process id it wrote.
    static void stopWriter() {
        const int pid = std::atoi(readFile(dir_ / "writer.started").c_str());
        if (pid > 0) ::kill(pid, SIGTERM);
        fs::remove(dir_ / "writer.started");
    }

    static inline fs::path dir_;
    static inline testing::PrivateSessionBus* bus_ = nullptr;
};

bool lists(const std::vector<DesktopControl::OpenApp>& apps, const std::string& id) {
    return std::any_of(apps.begin(), apps.end(), [&](const auto& a) { return a.id == id; });
}

TEST_F(LauncherTest, OpenApp_ByName_LaunchedThroughGioAndListedWhileItRuns) {
    EXPECT_FALSE(lists(control_.openApps(), "org.example.TamborixWriter.desktop"));
    ASSERT_TRUE(control_.openApp("tamborix writer"));
    ASSERT_TRUE(waitFor([&] { return fs::exists(dir_ / "writer.started"); })) << "the program did not start";
    entries_->afterLaunches([] {});
    ASSERT_TRUE(waitFor([&] { return lists(control_.openApps(), "org.example.TamborixWriter.desktop"); }));
    const auto apps = control_.openApps();
    const auto writer = std::find_if(apps.begin(), apps.end(), [](const auto& a) { return a.name == "Tamborix Writer"; });
    ASSERT_NE(writer, apps.end());
    EXPECT_FALSE(writer->front) << "this desktop does not tell which application is in front";
    // A program the helper launched but cannot raise: refused, not reported as done.
    EXPECT_FALSE(control_.activate("org.example.TamborixWriter.desktop"));

    stopWriter();
    EXPECT_TRUE(waitFor([&] { return !lists(control_.openApps(), "org.example.TamborixWriter.desktop"); }))
        << "a program that ended is no longer listed";
    EXPECT_FALSE(control_.openApp("no such application"));
}

TEST_F(LauncherTest, Activate_ApplicationHoldingItsBusName_ListedAndAskedToComeForward) {
    EXPECT_FALSE(control_.activate("org.example.TamborixViewer.desktop"));
    {
        BusApplication viewer(bus_->address(), "org.example.TamborixViewer");
        ASSERT_TRUE(viewer.owned());
        const auto apps = control_.openApps();
        ASSERT_TRUE(lists(apps, "org.example.TamborixViewer.desktop"));
        EXPECT_FALSE(lists(apps, "tamborix-browser.desktop"));
        EXPECT_TRUE(control_.activate("org.example.TamborixViewer.desktop"));
        EXPECT_EQ(viewer.activations, 1);
    }
    EXPECT_TRUE(waitFor([&] { return !lists(control_.openApps(), "org.example.TamborixViewer.desktop"); }));
    EXPECT_FALSE(control_.activate("org.example.TamborixViewer.desktop"));
}

TEST_F(LauncherTest, OpenWebsite_Https_TheUsersHandlerGetsTheAddress) {
    ASSERT_TRUE(control_.openWebsite("https://example.org/path?q=1"));
    EXPECT_TRUE(waitFor([&] { return readFile(dir_ / "opened") == "https://example.org/path?q=1"; }))
        << readFile(dir_ / "opened");
    EXPECT_FALSE(control_.openWebsite("ftp://example.org/"));
}

}  // namespace
}  // namespace tamborix::launcher
