#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <cstring>
#include <memory>
#include <string>

#include "base/owned.h"
#include "base/unique_fd.h"
#include "platform/linux/desktop/wlroots/wlroots_session.h"
#include "probe.h"
#include "user_keyboard.h"
#include "support/sway_server.h"
#include "wayland/virtual-keyboard.h"

namespace tamborix {
namespace {

using testing::Probe;
using testing::SwayServer;
using testing::UserKeyboard;

class WlrootsInput : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sway_.running()) GTEST_SKIP() << sway_.why();
    }
    std::unique_ptr<wlroots::WlrootsSession> open() {
        std::string why;
        auto s = wlroots::WlrootsSession::open(sway_.display(), why);
        EXPECT_TRUE(s) << why;
        return s;
    }
    static MouseEvent moved(double x, double y) { return {MouseEventType::moved, MouseButton::left, {x, y}}; }
    static std::u16string utf16(const std::u32string& s) {
        std::u16string out;
        for (char32_t c : s) {
            if (c >= 0x10000) {
                out += char16_t(0xd800 + ((c - 0x10000) >> 10));
                out += char16_t(0xdc00 + ((c - 0x10000) & 0x3ff));
            } else {
                out += char16_t(c);
            }
        }
        return out;
    }
    // Types `text` as the injector does: chunks of at most 20 UTF-16 units, pairs kept whole.
    static void type(InputSink& sink, const std::u16string& text) {
        for (std::size_t i = 0; i < text.size();) {
            std::size_t n = std::min<std::size_t>(20, text.size() - i);
            if (n < text.size() - i && text[i + n - 1] >= 0xd800 && text[i + n - 1] <= 0xdbff) --n;
            sink.text(std::u16string_view(text).substr(i, n));
            i += n;
        }
    }

    SwayServer sway_;
};

TEST_F(WlrootsInput, Pointer_MovesAcrossOutputs_LandWhereAskedClampAtEdgesAndClick) {
    Probe left(sway_, "probe-left");
    ASSERT_EQ(left.ready(), "ready 1280 720");
    ASSERT_TRUE(sway_.swaymsg({"focus", "output", "HEADLESS-2"}));
    Probe right(sway_, "probe-right");
    ASSERT_EQ(right.ready(), "ready 1024 768");

    auto session = open();
    ASSERT_TRUE(session);
    auto sink = session->makeInput();
    ASSERT_TRUE(sink && sink->mayPost()) << (sink ? sink->reason() : "no sink");

    sink->mouse(moved(100, 200));
    EXPECT_TRUE(left.saw("enter 100 200"));
    sink->mouse(moved(1290, 20));
    EXPECT_TRUE(right.saw("enter 10 20"));
    sink->mouse(moved(99999, 99999));
    EXPECT_TRUE(right.saw("motion 1023 767"));
    sink->mouse(moved(-50, -50));
    EXPECT_TRUE(left.saw("enter 0 0"));

    sink->mouse({MouseEventType::leftDown, MouseButton::left, {0, 0}});
    sink->mouse({MouseEventType::leftUp, MouseButton::left, {0, 0}});
    EXPECT_EQ(left.next("button "), "button " + std::to_string(BTN_LEFT) + " down");
    EXPECT_EQ(left.next("button "), "button " + std::to_string(BTN_LEFT) + " up");

    // 100 px with the wheel turned up: two notches, scrolling towards the top.
    sink->scroll({100, 0});
    EXPECT_EQ(left.next("discrete "), "discrete v -2");
    EXPECT_EQ(left.next("axis "), "axis v -30");
    // 20 px and 30 px make one notch between them, not none.
    sink->scroll({20, 0});
    sink->scroll({30, 0});
    EXPECT_EQ(left.next("discrete "), "discrete v -1");
}

TEST_F(WlrootsInput, Text_OutsideLayoutAndBurstFromTheFirstKey_ArrivesExactly) {
    UserKeyboard us(sway_.display(), "us");
    ASSERT_TRUE(us.ready());
    Probe window(sway_, "probe-text");
    ASSERT_TRUE(window.ready());
    ASSERT_TRUE(window.focused());
    auto session = open();
    ASSERT_TRUE(session);
    auto sink = session->makeInput();
    ASSERT_TRUE(sink && sink->mayPost()) << (sink ? sink->reason() : "no sink");

    // Characters the US layout has no key for, mixed with ones it has, and more distinct ones
    // than one chunk holds; then a 60-character burst.
    const std::u32string foreign = U"Grüße, ĳ€✓ 😀 Ωμέγα ÆØÅ ñ";
    const std::u32string burst = U"the quick brown fox jumps over the lazy dog 0123456789 ABCDEF";
    std::string expected;
    for (char32_t c : foreign + burst) {
        char buf[8];
        const int n = xkb_keysym_to_utf8(xkb_utf32_to_keysym(c), buf, sizeof buf);
        expected.append(buf, n > 0 ? n - 1 : 0);
    }
    type(*sink, utf16(foreign));
    type(*sink, utf16(burst));
    EXPECT_EQ(window.typed(expected.size()), expected);

    // A chord: the window sees Control held while the key goes down.
    sink->key({KeyKind::keysym, XKB_KEY_Control_L, true, modifier::control});
    sink->key({KeyKind::keysym, XKB_KEY_a, true, modifier::control});
    sink->key({KeyKind::keysym, XKB_KEY_a, false, modifier::control});
    sink->key({KeyKind::keysym, XKB_KEY_Control_L, false, 0});
    EXPECT_TRUE(window.saw("key " + std::to_string(KEY_LEFTCTRL) + " down Control_L"));
    EXPECT_EQ(window.next("mods "), "mods 4");
    EXPECT_EQ(window.next("key "), "key " + std::to_string(KEY_A) + " down a");
    EXPECT_EQ(window.next("mods "), "mods 0");
}

// The user's keyboard is German: a key the injector names types on the German key, not on the
// key of the US layout (z and y are swapped).
TEST_F(WlrootsInput, Key_UserKeyboardIsGerman_TypesOnItsKey) {
    UserKeyboard german(sway_.display(), "de");
    ASSERT_TRUE(german.ready());
    Probe window(sway_, "probe-de");
    ASSERT_TRUE(window.ready());
    ASSERT_TRUE(window.focused());

    auto session = open();
    ASSERT_TRUE(session);
    auto sink = session->makeInput();
    ASSERT_TRUE(sink && sink->mayPost()) << sink->reason();
    EXPECT_EQ(sink->layoutSource(), "the compositor's keymap");
    sink->key({KeyKind::keysym, XKB_KEY_z, true, 0});
    sink->key({KeyKind::keysym, XKB_KEY_z, false, 0});
    EXPECT_EQ(window.next("key "), "key " + std::to_string(KEY_Y) + " down z z");
    sink->text(u"y");
    EXPECT_EQ(window.next("key "), "key " + std::to_string(KEY_Y) + " up z z");
    EXPECT_EQ(window.next("key "), "key " + std::to_string(KEY_Z) + " down y y");
    EXPECT_EQ(window.next("key "), "key " + std::to_string(KEY_Z) + " up y y");

    // The user switches to a US keyboard between two texts: the next keys follow it, and text
    // typed across the change arrives whole and in order.
    const auto serial = sink->layoutSerial();
    UserKeyboard us(sway_.display(), "us");
    ASSERT_TRUE(us.ready());
    EXPECT_TRUE(window.saw("key " + std::to_string(KEY_LEFTSHIFT) + " up Shift_L"));
    ASSERT_TRUE(session->connection().roundtrip());
    EXPECT_NE(sink->layoutSerial(), serial);
    sink->text(u"zy€");
    EXPECT_EQ(window.typed(std::strlen("zy€")), "zy€");
    std::string lastZ;
    for (const auto& line : window.window().lines()) {
        if (line.find(" down z z") != std::string::npos) lastZ = line;
    }
    EXPECT_EQ(lastZ, "key " + std::to_string(KEY_Z) + " down z z");
}

}  // namespace
}  // namespace tamborix
