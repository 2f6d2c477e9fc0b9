// The real tamborix-helper on a private X server, outside dry run, driven by tamborix-remote: what
// the phone sends reaches a window on that display.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "e2e/helper_fixture.h"
#include "support/x_server.h"

namespace tamborix::testing {
namespace {

using namespace std::chrono_literals;

// A focused window over the whole screen that records presses and the pointer.
class Window {
public:
    explicit Window(const XServer& server) : c_(xcb_connect(server.display().c_str(), nullptr)) {
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        root_ = screen->root;
        const xcb_window_t w = xcb_generate_id(c_);
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, root_, 0, 0, screen->width_in_pixels,
                          screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c_, w);
        xcb_set_input_focus(c_, XCB_INPUT_FOCUS_POINTER_ROOT, w, XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    ~Window() { xcb_disconnect(c_); }

    std::vector<int> buttons;
    std::vector<xcb_keysym_t> keys;

    // Reads events until `done` holds or 10 s pass.
    template <class Pred>
    bool until(Pred done) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < end) {
            xcb_generic_event_t* e = xcb_poll_for_event(c_);
            if (!e) {
                std::this_thread::sleep_for(5ms);
                continue;
            }
            const auto type = e->response_type & 0x7f;
            if (type == XCB_BUTTON_PRESS) buttons.push_back(reinterpret_cast<xcb_button_press_event_t*>(e)->detail);
            if (type == XCB_KEY_PRESS) {
                const auto* k = reinterpret_cast<xcb_key_press_event_t*>(e);
                const auto sym = keysym(k->detail);
                if (!(sym >= 0xffe1 && sym <= 0xffee)) keys.push_back(sym);
            }
            std::free(e);
        }
        return done();
    }

    std::pair<int, int> pointer() {
        auto* r = xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root_), nullptr);
        std::pair<int, int> p{r->root_x, r->root_y};
        std::free(r);
        return p;
    }

private:
    xcb_keysym_t keysym(xcb_keycode_t kc) {
        auto* r = xcb_get_keyboard_mapping_reply(c_, xcb_get_keyboard_mapping(c_, kc, 1), nullptr);
        const xcb_keysym_t s = r && xcb_get_keyboard_mapping_keysyms_length(r) > 0
                                   ? xcb_get_keyboard_mapping_keysyms(r)[0]
                                   : 0;
        std::free(r);
        return s;
    }

    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
};

TEST(HelperX11E2E, Remote_MovesClicksScrollsKeysAndText_ReachTheDisplay) {
    XServer server;
    ASSERT_EQ(server.run({"setxkbmap", "us"}), 0);
    Window window(server);
    HelperRun run(true, false, {"DISPLAY=" + server.display()});
    EXPECT_NE(run.helper().transcript().find("Backend: x11 on display " + server.display()), std::string::npos)
        << run.helper().transcript();
    EXPECT_NE(run.helper().transcript().find("Input: X11 XTEST + XKB"), std::string::npos);
    ASSERT_EQ(run.pair().exitCode, 0);

    const auto r = run.runRemote({"send", run.address(), R"({"t":"move","dx":100,"dy":50})"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Xvfb starts with the pointer at the centre of its 3840 × 1080 screen.
    EXPECT_TRUE(window.until([&] { return window.pointer() == std::pair<int, int>{2020, 590}; }))
        << window.pointer().first << "," << window.pointer().second;

    const auto r2 = run.runRemote({"send", run.address(), R"({"t":"click","b":"right"})",
                                   R"({"t":"scroll","dx":0,"dy":100})", R"({"t":"key","k":"a"})",
                                   R"({"t":"key","k":"enter"})", R"({"t":"text","s":"hé€"})"});
    ASSERT_EQ(r2.exitCode, 0) << r2.err;
    EXPECT_TRUE(window.until([&] { return window.buttons.size() >= 3 && window.keys.size() >= 5; }));
    EXPECT_EQ(window.buttons, (std::vector<int>{3, 5, 5}));
    EXPECT_EQ(window.keys, (std::vector<xcb_keysym_t>{0x61, 0xff0d, 0x68, 0xe9, 0x20ac}));
}

TEST(HelperX11E2E, TrayApplication_FirstStart_OpensItsWindowAndDrawsOverlaysWithX11Windows) {
    XServer server({.width = 1280, .height = 800, .windowManager = true});
    HelperRun run(false, false, {"DISPLAY=" + server.display()}, /*console=*/false, {});
    EXPECT_NE(run.helper().transcript().find("Overlays: X11 windows"), std::string::npos)
        << run.helper().transcript();
    // No tray on this desktop, and a first start: the status window is there to begin with.
    std::string found;
    EXPECT_EQ(server.run({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Tamborix Helper$"}, &found), 0);
    EXPECT_FALSE(found.empty());
}

TEST(HelperX11E2E, ConsoleHelper_OnX11_MapsNoGuiToolkitAndNoPipeWire) {
    XServer server({.width = 1280, .height = 800, .windowManager = false});
    HelperRun run(false, false, {"DISPLAY=" + server.display()}, /*console=*/true, {});
    ASSERT_NE(run.helper().transcript().find("\nBackend: x11"), std::string::npos) << run.helper().transcript();
    std::ifstream maps("/proc/" + std::to_string(run.helper().pid()) + "/maps");
    std::string loaded;
    for (std::string line; std::getline(maps, line);) {
        for (const char* library : {"libQt6Gui", "libQt6Widgets", "libpipewire", "tamborix-helper-"}) {
            if (line.find(library) != std::string::npos) loaded += line + "\n";
        }
    }
    EXPECT_EQ(loaded, "");
}

TEST(HelperX11E2E, TrayApplication_WithoutItsPlugin_ServesFromTheConsoleAndSaysWhy) {
    XServer server({.width = 1280, .height = 800, .windowManager = false});
    // The program alone, away from the folder its plugins are installed in.
    const auto alone = std::filesystem::temp_directory_path() /
                       ("tamborix-alone-" + std::to_string(::getpid())) / "bin" / "tamborix-helper";
    std::filesystem::create_directories(alone.parent_path());
    std::filesystem::copy_file(HelperRun::helperBinary(), alone, std::filesystem::copy_options::overwrite_existing);
    {
        HelperRun run(true, true, {"DISPLAY=" + server.display()}, /*console=*/false, {}, alone.string());
        const std::string transcript = run.helper().transcript();
        const auto said = transcript.find("\nThe windowed interface is not installed (no ");
        EXPECT_NE(said, std::string::npos) << transcript;
        EXPECT_NE(transcript.find("tamborix-helper-ui.so); the helper runs in the console.\n", said), std::string::npos);
        // Pairing is answered on the console, and the phone is served.
        ASSERT_EQ(run.pair().exitCode, 0) << run.helper().transcript();
        EXPECT_EQ(run.runRemote({"send", run.address(), R"({"t":"ping"})"}).exitCode, 0);
    }
    std::filesystem::remove_all(alone.parent_path().parent_path());
}

TEST(HelperX11E2E, TrayApplication_StartedAgain_SecondExitsZeroAndTheMinimisedWindowComesBack) {
    XServer server({.width = 1280, .height = 800, .windowManager = true});
    HelperRun run(false, true, {"DISPLAY=" + server.display()}, /*console=*/false, {});
    std::string window;
    ASSERT_EQ(server.run({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Tamborix Helper$"}, &window), 0)
        << run.helper().transcript();
    window = window.substr(0, window.find('\n'));
    ASSERT_EQ(server.run({"xdotool", "windowminimize", "--sync", window}), 0);
    ASSERT_NE(server.run({"xdotool", "search", "--onlyvisible", "--name", "^Tamborix Helper$"}), 0)
        << "the status window is still shown after minimising it";

    auto again = run.startAgain();
    const auto rc = again->wait(20s);
    ASSERT_TRUE(rc.has_value()) << "the second start kept running:\n" << again->transcript();
    EXPECT_EQ(*rc, 0) << again->transcript();
    EXPECT_TRUE(again->waitForPrefix("Tamborix Helper is already running", 0ms)) << again->transcript();
    std::string shown;
    EXPECT_EQ(server.run({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Tamborix Helper$"}, &shown), 0)
        << run.helper().transcript();
    EXPECT_EQ(shown.substr(0, shown.find('\n')), window) << "the same window comes back, not a second one";
}

}  // namespace
}  // namespace tamborix::testing
