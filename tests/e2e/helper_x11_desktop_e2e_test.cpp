// The desktop commands end to end: the real helper on a private X server with openbox and two
// monitors, driven by tamborix-remote, with windows of made-up applications, desktop entries and
// a recording URL handler in temporary XDG folders, and X clients of the test on the clipboard.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include "e2e/helper_fixture.h"
#include "platform/linux/desktop/x11/x_reply.h"
#include "support/x_server.h"

namespace tamborix::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using x11::XReply;

template <class Pred>
bool within(std::chrono::milliseconds limit, Pred done) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::optional<json> firstOfType(const std::vector<json>& messages, const std::string& type) {
    for (const auto& m : messages) {
        if (m.value("t", "") == type) return m;
    }
    return std::nullopt;
}

struct Frame {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Frame&) const = default;
};

// Another application's X client: windows with a class and a process id, read back as the
// window manager placed them.
class Client {
public:
    explicit Client(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~Client() { xcb_disconnect(c_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    xcb_atom_t atom(const char* name) {
        XReply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    }

    xcb_window_t create(const std::string& klass, std::uint32_t pid, int x, int y) {
        const xcb_window_t w = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, root_, static_cast<std::int16_t>(x),
                          static_cast<std::int16_t>(y), 400, 300, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        const std::string wmClass = "e2e" + std::string(1, '\0') + klass + '\0';
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
        xcb_map_window(c_, w);
        sync();
        return w;
    }

    // Until openbox manages `w`; it may drop a map request that comes while it takes in the
    // new monitors, so the window is mapped again meanwhile.
    bool managed(xcb_window_t w) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (within(500ms, [&] {
                    const auto list = cardinals(root_, "_NET_CLIENT_LIST");
                    return std::find(list.begin(), list.end(), w) != list.end();
                })) {
                return true;
            }
            xcb_unmap_window(c_, w);
            xcb_map_window(c_, w);
            sync();
        }
        return false;
    }

    bool active(xcb_window_t w) {
        return within(10s, [&] {
            const auto a = cardinals(root_, "_NET_ACTIVE_WINDOW");
            return !a.empty() && a[0] == w;
        });
    }

    void clientMessage(xcb_window_t w, const char* type, std::uint32_t d0, std::uint32_t d1 = 0,
                       std::uint32_t d3 = 0) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = w;
        event.type = atom(type);
        event.data.data32[0] = d0;
        event.data.data32[1] = d1;
        event.data.data32[3] = d3;
        xcb_send_event(c_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
        sync();
    }

    bool hasState(xcb_window_t w, const char* state) {
        const auto list = cardinals(w, "_NET_WM_STATE");
        return std::find(list.begin(), list.end(), atom(state)) != list.end();
    }

    // The window with its decorations, in root coordinates.
    Frame frame(xcb_window_t w) {
        XReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr));
        XReply<xcb_translate_coordinates_reply_t> t(
            xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr));
        const auto e = cardinals(w, "_NET_FRAME_EXTENTS");
        if (!g || !t || e.size() != 4) return {};
        const int l = static_cast<int>(e[0]), r = static_cast<int>(e[1]), top = static_cast<int>(e[2]),
                  b = static_cast<int>(e[3]);
        return {t->dst_x - l, t->dst_y - top, g->width + l + r, g->height + top + b};
    }

    std::vector<std::uint32_t> cardinals(xcb_window_t w, const char* name) {
        XReply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, w, atom(name), XCB_ATOM_ANY, 0, 4096), nullptr));
        if (!r || r->format != 32) return {};
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(r.get()));
        return {data, data + xcb_get_property_value_length(r.get()) / 4};
    }

private:
    void sync() {
        XReply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }

    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
};

// A clipboard manager as desktops run one: owns CLIPBOARD_MANAGER and, asked to SAVE_TARGETS,
// reads the CLIPBOARD as UTF-8 before it answers, on a thread of its own.
class ClipboardManager {
public:
    explicit ClipboardManager(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        manager_ = atom("CLIPBOARD_MANAGER");
        saveTargets_ = atom("SAVE_TARGETS");
        clipboard_ = atom("CLIPBOARD");
        utf8_ = atom("UTF8_STRING");
        into_ = atom("E2E_SAVED");
        xcb_set_selection_owner(c_, window_, manager_, XCB_CURRENT_TIME);
        XReply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, manager_), nullptr));
        owns_ = owner && owner->owner == window_;
        thread_ = std::thread([this] { serve(); });
    }
    ~ClipboardManager() {
        stop_ = true;
        thread_.join();
        xcb_disconnect(c_);
    }
    ClipboardManager(const ClipboardManager&) = delete;
    ClipboardManager& operator=(const ClipboardManager&) = delete;

    [[nodiscard]] bool owns() const { return owns_; }
    [[nodiscard]] std::optional<std::string> saved() {
        std::lock_guard lock(mutex_);
        return saved_;
    }

private:
    xcb_atom_t atom(const char* name) {
        XReply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    }

    void notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
        xcb_selection_notify_event_t n{};
        n.response_type = XCB_SELECTION_NOTIFY;
        n.time = request.time;
        n.requestor = request.requestor;
        n.selection = request.selection;
        n.target = request.target;
        n.property = property;
        xcb_send_event(c_, 0, request.requestor, 0, reinterpret_cast<const char*>(&n));
        xcb_flush(c_);
    }

    void serve() {
        std::optional<xcb_selection_request_event_t> saving;
        while (!stop_ && !xcb_connection_has_error(c_)) {
            pollfd p{xcb_get_file_descriptor(c_), POLLIN, 0};
            ::poll(&p, 1, 20);
            while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
                const auto type = e->response_type & 0x7f;
                if (type == XCB_SELECTION_REQUEST) {
                    const auto& r = *reinterpret_cast<xcb_selection_request_event_t*>(e);
                    if (r.selection == manager_ && r.target == saveTargets_ && !saving) {
                        saving = r;
                        xcb_convert_selection(c_, window_, clipboard_, utf8_, into_, r.time);
                        xcb_flush(c_);
                    } else {
                        notify(r, XCB_ATOM_NONE);
                    }
                } else if (type == XCB_SELECTION_NOTIFY && saving) {
                    const auto& n = *reinterpret_cast<xcb_selection_notify_event_t*>(e);
                    if (n.property != XCB_ATOM_NONE) {
                        XReply<xcb_get_property_reply_t> v(xcb_get_property_reply(
                            c_, xcb_get_property(c_, 1, window_, into_, XCB_ATOM_ANY, 0, 1 << 20), nullptr));
                        if (v && v->type == utf8_) {
                            std::lock_guard lock(mutex_);
                            saved_ = std::string(static_cast<const char*>(xcb_get_property_value(v.get())),
                                                 static_cast<std::size_t>(xcb_get_property_value_length(v.get())));
                        }
                    }
                    notify(*saving, saving->property);
                    saving.reset();
                }
                std::free(e);
            }
        }
    }

    xcb_connection_t* c_;
    xcb_window_t window_ = 0;
    xcb_atom_t manager_ = 0, saveTargets_ = 0, clipboard_ = 0, utf8_ = 0, into_ = 0;
    bool owns_ = false;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::optional<std::string> saved_;
    std::thread thread_;
};

void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

constexpr std::uint32_t editorPid = 0x7ffffff1;
constexpr std::uint32_t otherPid = 0x7ffffff2;
// Accents, a line break and characters outside the Basic Multilingual Plane.
const std::string sample = "caf\u00e9 \U0001F600\n\u65e5\u672c \U0001F680";

class HelperX11DesktopE2E : public ::testing::Test {
protected:
    HelperX11DesktopE2E() {
        server.splitIntoTwoMonitors();
        const auto share = server.dir() / "xdg-share";
        const auto recorder = server.dir() / "record.sh";
        write(recorder, "#!/bin/sh\necho \"$*\" >> '" + launches().string() + "'\n");
        fs::permissions(recorder, fs::perms::owner_all);
        write(share / "applications/tamborix-e2e-editor.desktop",
              "[Desktop Entry]\nType=Application\nName=E2E Editor\nExec=/bin/true\nStartupWMClass=E2EEditor\n");
        write(share / "applications/tamborix-e2e-launcher.desktop",
              "[Desktop Entry]\nType=Application\nName=Launch Me\nExec=" + recorder.string() + " launched\n");
        write(share / "applications/tamborix-e2e-browser.desktop",
              "[Desktop Entry]\nType=Application\nName=Recording Browser\nExec=" + recorder.string() +
                  " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\nNoDisplay=true\n");
        write(server.dir() / "xdg-etc/mimeapps.list",
              "[Default Applications]\nx-scheme-handler/https=tamborix-e2e-browser.desktop\n"
              "x-scheme-handler/http=tamborix-e2e-browser.desktop\n");
        run = std::make_unique<HelperRun>(
            true, false,
            std::vector<std::string>{"DISPLAY=" + server.display(), "XDG_DATA_DIRS=" + share.string(),
                                     "XDG_CONFIG_DIRS=" + (server.dir() / "xdg-etc").string(),
                                     "GSETTINGS_BACKEND=memory", "GIO_USE_VFS=local"});
        EXPECT_EQ(run->pair().exitCode, 0);
    }

    [[nodiscard]] fs::path launches() const { return server.dir() / "launches.txt"; }
    [[nodiscard]] std::vector<std::string> launched() const {
        std::vector<std::string> lines;
        std::ifstream in(launches());
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

    std::vector<json> send(const std::vector<std::string>& commands) {
        std::vector<std::string> args{"send", run->address()};
        args.insert(args.end(), commands.begin(), commands.end());
        const auto r = run->runRemote(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.messages();
    }

    std::optional<std::string> xclipOut() {
        std::string out;
        if (server.run({"xclip", "-selection", "clipboard", "-o"}, &out) != 0) return std::nullopt;
        return out;
    }

    XServer server{XServer::Options{.windowManager = true}};
    Client client{server.display()};
    std::unique_ptr<HelperRun> run;
};

TEST_F(HelperX11DesktopE2E, WindowAppsAndActivate_RealWindows_PlacedListedAndRaised) {
    const auto editor = client.create("E2EEditor", editorPid, 200, 150);
    ASSERT_TRUE(client.managed(editor));
    ASSERT_TRUE(client.active(editor));
    // A maximised window is placed too.
    client.clientMessage(editor, "_NET_WM_STATE", 1, client.atom("_NET_WM_STATE_MAXIMIZED_VERT"), 1);
    client.clientMessage(editor, "_NET_WM_STATE", 1, client.atom("_NET_WM_STATE_MAXIMIZED_HORZ"), 1);
    ASSERT_TRUE(within(10s, [&] { return client.hasState(editor, "_NET_WM_STATE_MAXIMIZED_HORZ"); }));

    send({R"({"t":"window","op":"left"})"});
    EXPECT_TRUE(within(10s, [&] { return client.frame(editor) == Frame{0, 0, 960, 1080}; }))
        << client.frame(editor).x << "," << client.frame(editor).y << " " << client.frame(editor).width;
    EXPECT_FALSE(client.hasState(editor, "_NET_WM_STATE_MAXIMIZED_HORZ"));
    send({R"({"t":"window","op":"next"})"});
    EXPECT_TRUE(within(10s, [&] { return client.frame(editor) == Frame{1920, 0, 960, 1080}; }));
    send({R"({"t":"window","op":"max"})"});
    EXPECT_TRUE(within(10s, [&] { return client.frame(editor) == Frame{1920, 0, 1920, 1080}; }));

    // A second application without a desktop entry takes the front.
    const auto other = client.create("ZzNoEntry", otherPid, 300, 300);
    ASSERT_TRUE(client.managed(other));
    ASSERT_TRUE(client.active(other));
    const auto apps = firstOfType(send({R"({"t":"apps_get"})"}), "apps");
    ASSERT_TRUE(apps.has_value());
    EXPECT_EQ((*apps)["list"], json::parse(R"([{"n":"E2E Editor","id":"tamborix-e2e-editor.desktop","f":false},
                                               {"n":"ZzNoEntry","id":"ZzNoEntry","f":true}])"));

    // Minimised, then brought back to the front by its entry's id.
    client.clientMessage(editor, "WM_CHANGE_STATE", 3);
    ASSERT_TRUE(within(10s, [&] { return client.hasState(editor, "_NET_WM_STATE_HIDDEN"); }));
    send({R"({"t":"app_activate","id":"tamborix-e2e-editor.desktop"})"});
    EXPECT_TRUE(client.active(editor));
    EXPECT_FALSE(client.hasState(editor, "_NET_WM_STATE_HIDDEN"));
}

TEST_F(HelperX11DesktopE2E, FrontApp_ActivationsWhileShared_OneContextEach) {
    const auto editor = client.create("E2EEditor", editorPid, 200, 150);
    ASSERT_TRUE(client.managed(editor));
    ASSERT_TRUE(client.active(editor));
    run->helper().write("share on\n");
    (void)run->console("status", "Switches:");
    ASSERT_NE(run->helper().transcript().find("front-app sharing on"), std::string::npos) << run->helper().transcript();
    auto phone = run->startRemote({"shell", run->address()}, true);
    const auto contexts = [&] {
        std::vector<std::string> apps;
        for (const auto& l : phone->lines()) {
            const auto m = json::parse(l, nullptr, false);
            if (m.is_object() && m.value("t", "") == "context") apps.push_back(m.value("app", ""));
        }
        return apps;
    };
    ASSERT_TRUE(within(10s, [&] { return contexts().size() == 1; })) << phone->transcript();

    const auto other = client.create("ZzNoEntry", otherPid, 300, 300);
    ASSERT_TRUE(client.managed(other));
    ASSERT_TRUE(client.active(other));
    client.clientMessage(editor, "_NET_ACTIVE_WINDOW", 2);
    ASSERT_TRUE(client.active(editor));
    ASSERT_TRUE(within(10s, [&] { return contexts().size() >= 3; })) << phone->transcript();
    // Anything the activations still had to say has arrived by the pong of a later ping.
    phone->write(R"({"t":"ping"})" "\n");
    ASSERT_TRUE(phone->waitForLine([](const std::string& l) { return l.find("pong") != std::string::npos; }));
    EXPECT_EQ(contexts(), (std::vector<std::string>{"E2E Editor", "ZzNoEntry", "E2E Editor"}));
    phone->closeStdin();
    EXPECT_EQ(phone->wait(10s), std::optional<int>(0));
}

TEST_F(HelperX11DesktopE2E, Open_AddressAndAppName_DefaultHandlerAndEntryLaunched) {
    send({R"({"t":"open","url":"https://example.org/e2e?q=1"})", R"({"t":"open","app":"launch me"})"});
    ASSERT_TRUE(within(10s, [&] { return launched().size() >= 2; })) << run->helper().transcript();
    auto lines = launched();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"https://example.org/e2e?q=1", "launched"}));
}

TEST_F(HelperX11DesktopE2E, Clipboard_BothWaysWithAnotherClient_SameUtf8) {
    send({json{{"t", "clip_set"}, {"s", sample}}.dump()});
    EXPECT_EQ(xclipOut(), sample);

    ASSERT_EQ(server.run({"sh", "-c", "printf '%s' 'from xclip \U0001F4CB' | xclip -selection clipboard -i"}), 0);
    // xclip's first process exits before its background one has taken the selection.
    ASSERT_TRUE(within(10s, [&] { return xclipOut() == std::optional<std::string>("from xclip \U0001F4CB"); }));
    const auto clip = firstOfType(send({R"({"t":"clip_get"})"}), "clip");
    ASSERT_TRUE(clip.has_value());
    EXPECT_EQ((*clip)["s"], "from xclip \U0001F4CB");
}

TEST_F(HelperX11DesktopE2E, ClipSet_HelperEnds_ClipboardManagerSavedTheText) {
    ClipboardManager manager(server.display());
    ASSERT_TRUE(manager.owns());
    send({json{{"t", "clip_set"}, {"s", sample}}.dump()});
    ASSERT_EQ(xclipOut(), sample);
    run->helper().signal(SIGTERM);
    ASSERT_TRUE(run->helper().wait(10s).has_value()) << run->helper().transcript();
    EXPECT_TRUE(within(5s, [&] { return manager.saved() == sample; })) << manager.saved().value_or("(nothing)");
}

}  // namespace
}  // namespace tamborix::testing
