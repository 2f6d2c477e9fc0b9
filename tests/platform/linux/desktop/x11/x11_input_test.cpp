#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/input/input_injector.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/desktop/x11/x11_display_source.h"
#include "platform/linux/desktop/x11/x11_input_sink.h"
#include "platform/linux/desktop/x11/x_reply.h"
#include "support/qt_spin.h"
#include "support/x_server.h"

namespace tamborix::x11 {
namespace {

using tamborix::testing::spinUntil;
using tamborix::testing::XServer;

std::vector<xcb_keysym_t> coreMapping(xcb_connection_t* c, int& perKeycode) {
    const auto* setup = xcb_get_setup(c);
    XReply<xcb_get_keyboard_mapping_reply_t> r(xcb_get_keyboard_mapping_reply(
        c,
        xcb_get_keyboard_mapping(c, setup->min_keycode,
                                 static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1)),
        nullptr));
    perKeycode = r->keysyms_per_keycode;
    const auto* s = xcb_get_keyboard_mapping_keysyms(r.get());
    return {s, s + xcb_get_keyboard_mapping_keysyms_length(r.get())};
}

// A window over the whole screen on a connection of its own, holding the focus, that records
// what arrives. It reads the keyboard mapping again only when it next needs it after a
// MappingNotify, as Xlib does: that is when a binding changed too early shows.
class Listener {
public:
    explicit Listener(const XServer& server) {
        std::string error;
        conn_ = XConnection::open(server.display(), error);
        xcb_connection_t* c = conn_->get();
        window_ = xcb_generate_id(c);
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                               XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                               XCB_EVENT_MASK_POINTER_MOTION};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, conn_->root(), 0, 0, 3840, 1080, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c, window_);
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
        XReply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        events_ = conn_->subscribe([this](const xcb_generic_event_t& e) { handle(e); });
    }

    std::vector<xcb_keysym_t> typed;            // key presses, modifiers left out
    std::vector<std::pair<bool, xcb_keysym_t>> keys;  // every press (true) and release, level 0
    std::vector<int> buttons;                   // presses
    std::vector<std::pair<int, int>> motions;
    std::vector<std::uint16_t> motionStates;

private:
    xcb_keysym_t lookup(xcb_keycode_t kc, int level) {
        if (stale_) {
            mapping_ = coreMapping(conn_->get(), perKeycode_);
            stale_ = false;
        }
        const auto min = xcb_get_setup(conn_->get())->min_keycode;
        const auto i = static_cast<std::size_t>((kc - min) * perKeycode_);
        xcb_keysym_t s = mapping_[i + static_cast<std::size_t>(level)];
        if (s == 0) s = mapping_[i];
        return s;
    }
    void handle(const xcb_generic_event_t& e) {
        switch (e.response_type & 0x7f) {
            case XCB_MAPPING_NOTIFY: stale_ = true; break;
            case XCB_KEY_PRESS:
            case XCB_KEY_RELEASE: {
                const auto& k = reinterpret_cast<const xcb_key_press_event_t&>(e);
                const bool press = (e.response_type & 0x7f) == XCB_KEY_PRESS;
                const auto base = lookup(k.detail, 0);
                keys.emplace_back(press, base);
                const auto sym = lookup(k.detail, (k.state & XCB_MOD_MASK_SHIFT) ? 1 : 0);
                if (press && !(sym >= 0xffe1 && sym <= 0xffee)) typed.push_back(sym);
                break;
            }
            case XCB_BUTTON_PRESS:
                buttons.push_back(reinterpret_cast<const xcb_button_press_event_t&>(e).detail);
                break;
            case XCB_MOTION_NOTIFY: {
                const auto& m = reinterpret_cast<const xcb_motion_notify_event_t&>(e);
                motions.emplace_back(m.root_x, m.root_y);
                motionStates.push_back(m.state);
                break;
            }
            default: break;
        }
    }

    std::unique_ptr<XConnection> conn_;
    xcb_window_t window_ = 0;
    std::unique_ptr<XConnection::Subscription> events_;
    bool stale_ = true;
    int perKeycode_ = 0;
    std::vector<xcb_keysym_t> mapping_;
};

class X11Input : public ::testing::Test {
protected:
    void start(X11InputSink::Options options = {}) {
        std::string error;
        conn_ = XConnection::open(server_.display(), error);
        ASSERT_NE(conn_, nullptr) << error;
        listener_ = std::make_unique<Listener>(server_);
        sink_ = std::make_unique<X11InputSink>(*conn_, loop_, options);
        displays_ = std::make_unique<X11DisplaySource>(*conn_);
        injector_ = std::make_unique<InputInjector>(loop_, *sink_, *displays_);
    }
    std::vector<xcb_keysym_t> syms(std::u32string_view s) {
        std::vector<xcb_keysym_t> out;
        for (char32_t c : s) out.push_back(xkb_utf32_to_keysym(c));
        return out;
    }

    XServer server_;
    QtMainLoop loop_;
    std::unique_ptr<XConnection> conn_;
    std::unique_ptr<Listener> listener_;
    std::unique_ptr<X11InputSink> sink_;
    std::unique_ptr<X11DisplaySource> displays_;
    std::unique_ptr<InputInjector> injector_;
};

TEST_F(X11Input, Pointer_MovesClicksDragsAndWheel_ArriveWhereAndAsAsked) {
    server_.splitIntoTwoMonitors();
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(sink_->mayPost()) << sink_->reason();

    // Across onto the right monitor, then against its right edge.
    injector_->move(700, -240);  // from the centre (1920, 540)
    EXPECT_EQ(displays_->pointer(), (Point{2620, 300}));
    injector_->move(5000, 0);
    EXPECT_EQ(displays_->pointer(), (Point{3839, 300}));
    injector_->move(-1000, 5000);
    EXPECT_EQ(displays_->pointer(), (Point{2839, 1079}));

    injector_->click("right", 1);
    injector_->down("left");
    injector_->move(-10, -10);
    injector_->up("left");
    // 30 + 30 px: one click up with 10 carried; -120 px: two clicks down.
    injector_->scroll(0, -30);
    injector_->scroll(0, -30);
    injector_->scroll(0, 120);
    injector_->scroll(-50, 0);
    ASSERT_TRUE(spinUntil([&] { return listener_->buttons.size() >= 6; }));
    EXPECT_EQ(listener_->buttons, (std::vector<int>{3, 1, 4, 5, 5, 6}));
    ASSERT_FALSE(listener_->motions.empty());
    EXPECT_EQ(listener_->motions.back(), (std::pair<int, int>{2829, 1069}));
    EXPECT_TRUE(listener_->motionStates.back() & XCB_BUTTON_MASK_1);  // a drag
}

TEST_F(X11Input, Keys_ChordsAndCharMapPerLayout_RightKeysInTheRightOrder) {
    ASSERT_EQ(server_.run({"setxkbmap", "us"}), 0);
    ASSERT_NO_FATAL_FAILURE(start());
    injector_->key("a", {"cmd", "shift", "alt", "ctrl"});
    ASSERT_TRUE(spinUntil([&] { return listener_->keys.size() >= 10; }));
    using K = std::pair<bool, xcb_keysym_t>;
    EXPECT_EQ(listener_->keys,
              (std::vector<K>{{true, XKB_KEY_Super_L}, {true, XKB_KEY_Shift_L}, {true, XKB_KEY_Alt_L},
                              {true, XKB_KEY_Control_L}, {true, XKB_KEY_a}, {false, XKB_KEY_a},
                              {false, XKB_KEY_Control_L}, {false, XKB_KEY_Alt_L}, {false, XKB_KEY_Shift_L},
                              {false, XKB_KEY_Super_L}}));

    // de swaps y and z; the switch is picked up while running, also for characters both have.
    const auto usZ = injector_->charMap().at(U'z').keycode;
    auto serial = sink_->layoutSerial();
    ASSERT_EQ(server_.run({"setxkbmap", "de"}), 0);
    ASSERT_TRUE(spinUntil([&] { return sink_->layoutSerial() != serial; }));
    listener_->typed.clear();
    injector_->key("z", {});
    injector_->key("y", {});
    injector_->key("media_play_pause", {});
    ASSERT_TRUE(spinUntil([&] { return listener_->typed.size() >= 3; }));
    EXPECT_EQ(listener_->typed, (std::vector<xcb_keysym_t>{XKB_KEY_z, XKB_KEY_y, XKB_KEY_XF86AudioPlay}));
    EXPECT_NE(injector_->charMap().at(U'z').keycode, usZ);

    serial = sink_->layoutSerial();
    ASSERT_EQ(server_.run({"setxkbmap", "fr"}), 0);
    ASSERT_TRUE(spinUntil([&] { return sink_->layoutSerial() != serial; }));
    listener_->typed.clear();
    injector_->text("&1a");
    ASSERT_TRUE(spinUntil([&] { return listener_->typed.size() >= 3; }));
    EXPECT_EQ(listener_->typed, (std::vector<xcb_keysym_t>{XKB_KEY_ampersand, XKB_KEY_1, XKB_KEY_a}));
    injector_->key("1", {});
    EXPECT_TRUE(injector_->charMap().at(U'1').shift);
    EXPECT_FALSE(injector_->charMap().at(U'&').shift);
}

TEST_F(X11Input, Text_CharactersWithoutKeysManyInARow_ArriveExactlyAndMappingRestored) {
    ASSERT_EQ(server_.run({"setxkbmap", "de"}), 0);
    X11InputSink::Options options;
    // Two slots and a short hold: most characters must wait for a slot to be rebound.
    options.spares.maxSlots = 2;
    options.spares.hold = seconds(0.3);
    options.idleRelease = seconds(0.3);
    options.spares.note = server_.dir() / "note";
    xcb_connection_t* other = xcb_connect(server_.display().c_str(), nullptr);
    int width = 0;
    const auto before = coreMapping(other, width);
    ASSERT_NO_FATAL_FAILURE(start(options));

    const std::u32string text = U"éßçλ中😀aλéçß中😀Z";
    injector_->text("éßçλ中😀aλéçß中😀Z");
    ASSERT_TRUE(spinUntil([&] { return listener_->typed.size() >= text.size(); }, 10000));
    EXPECT_EQ(listener_->typed, syms(text));

    // Given back once idle, and the note is gone.
    int widthAfter = 0;
    EXPECT_TRUE(spinUntil([&] { return coreMapping(other, widthAfter) == before; }, 3000));
    EXPECT_FALSE(std::filesystem::exists(options.spares.note));
    xcb_disconnect(other);
}

TEST_F(X11Input, Start_NoteOfACrashedRun_GivesBackOnlyWhatStillHoldsTheLentSymbol) {
    xcb_connection_t* other = xcb_connect(server_.display().c_str(), nullptr);
    int width = 0;
    const auto before = coreMapping(other, width);
    // Find two empty keycodes and bind them as a crashed run would have; the user rebound the
    // second one since.
    const auto min = xcb_get_setup(other)->min_keycode;
    std::vector<xcb_keycode_t> empty;
    for (std::size_t k = 0; k * width < before.size(); ++k) {
        bool none = true;
        for (int l = 0; l < width; ++l) none = none && before[k * width + l] == 0;
        if (none && k + min >= 8) empty.push_back(static_cast<xcb_keycode_t>(k + min));
    }
    ASSERT_GE(empty.size(), 2u);
    std::string error;
    auto crashed = XConnection::open(server_.display(), error);
    ASSERT_NE(crashed, nullptr) << error;
    ASSERT_TRUE(xkb_x11_setup_xkb_extension(crashed->get(), 1, 0, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr,
                                            nullptr, nullptr, nullptr));
    auto run = readKeySyms(*crashed, empty[0], empty[0]);
    ASSERT_TRUE(run);
    const auto original = run->at(empty[0]).text();
    run->at(empty[0]) = KeySymMap::lent(XKB_KEY_Greek_lambda);
    ASSERT_TRUE(writeKeySyms(*crashed, *run));
    const xcb_keysym_t users[2] = {XKB_KEY_F35, XKB_KEY_F35};
    xcb_change_keyboard_mapping(other, 1, empty[1], 2, users);
    XReply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
    const auto note = server_.dir() / "note";
    std::ofstream(note) << unsigned(empty[0]) << ' ' << XKB_KEY_Greek_lambda << ' ' << original << '\n'
                        << unsigned(empty[1]) << ' ' << XKB_KEY_Greek_mu << ' ' << original << '\n';

    X11InputSink::Options options;
    options.spares.note = note;
    options.spares.hold = seconds(0.05);
    ASSERT_NO_FATAL_FAILURE(start(options));
    std::vector<xcb_keysym_t> after;
    const auto at = [&](xcb_keycode_t kc) { return after[static_cast<std::size_t>((kc - min) * width)]; };
    EXPECT_TRUE(spinUntil([&] {
        after = coreMapping(other, width);
        return at(empty[0]) == 0u;
    }));
    EXPECT_EQ(at(empty[1]), static_cast<xcb_keysym_t>(XKB_KEY_F35));
    EXPECT_FALSE(std::filesystem::exists(note));

    // An orderly end gives back what is lent at that moment.
    injector_->text("λ");
    ASSERT_TRUE(spinUntil([&] { return listener_->typed.size() == 1; }));
    injector_.reset();
    sink_.reset();
    EXPECT_EQ(coreMapping(other, width), after);
    xcb_disconnect(other);
}

TEST_F(X11Input, MayPost_ServerGone_SaysTheConnectionWasLost) {
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_TRUE(sink_->mayPost());
    listener_.reset();
    server_.stop();
    EXPECT_TRUE(spinUntil([&] { return !conn_->alive(); }));
    EXPECT_FALSE(sink_->mayPost());
    EXPECT_EQ(sink_->reason(), "lost the connection to display " + server_.display());
    injector_->text("still nothing happens");
}

}  // namespace
}  // namespace tamborix::x11
