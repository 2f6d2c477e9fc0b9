// The uinput backend over a socketpair standing in for /dev/uinput: the set-up ioctls are recorded
// as data, the input_event stream is read back from the other end.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <linux/uinput.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/linux/desktop/uinput/drm_outputs.h"
#include "platform/linux/desktop/uinput/uinput_input_sink.h"

namespace tamborix::uinput {
namespace {

struct Ioctl {
    unsigned long request;
    std::uintptr_t value;   // integer argument
    std::string name;       // UI_DEV_SETUP
    int absCode = -1, absMax = 0;  // UI_ABS_SETUP
};

struct FakeUinput {
    std::vector<int> peers;  // the test's ends, one per device
    std::vector<Ioctl> calls;
    int openError = 0;

    FdLayer layer() {
        return {[this]() -> int {
                    if (openError) return -openError;
                    int sv[2];
                    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -errno;
                    ::fcntl(sv[1], F_SETFL, O_NONBLOCK);
                    peers.push_back(sv[1]);
                    return sv[0];
                },
                [this](int, unsigned long request, std::uintptr_t arg) {
                    Ioctl c{request, arg, {}};
                    if (request == UI_DEV_SETUP) {
                        c.name = reinterpret_cast<const uinput_setup*>(arg)->name;
                        c.value = 0;
                    } else if (request == UI_ABS_SETUP) {
                        const auto* abs = reinterpret_cast<const uinput_abs_setup*>(arg);
                        c.absCode = abs->code;
                        c.absMax = abs->absinfo.maximum;
                        c.value = 0;
                    }
                    calls.push_back(c);
                    return 0;
                }};
    }
    ~FakeUinput() {
        for (int fd : peers) ::close(fd);
    }

    // (type, code, value) of everything device `index` wrote so far.
    std::vector<std::tuple<int, int, int>> events(std::size_t index) {
        std::vector<std::tuple<int, int, int>> out;
        input_event e{};
        while (::read(peers.at(index), &e, sizeof e) == static_cast<ssize_t>(sizeof e)) {
            out.emplace_back(e.type, e.code, e.value);
        }
        return out;
    }
};

std::unique_ptr<SystemKeymap> keymap(const char* layout) {
    std::string error;
    auto k = SystemKeymap::compile({"", layout, "", ""}, error);
    EXPECT_NE(k, nullptr) << error;
    return k;
}

using Events = std::vector<std::tuple<int, int, int>>;
constexpr Rect desktop{0, 0, 3840, 1080};

TEST(UinputSink, Create_DeviceNotWritable_NothingPostedAndTheReasonSaysHow) {
    FakeUinput fake;
    fake.openError = EACCES;
    UinputInputSink sink(fake.layer(), desktop, keymap("us"), {});
    EXPECT_FALSE(sink.mayPost());
    EXPECT_EQ(sink.reason(), "/dev/uinput not writable (Permission denied)");
}

TEST(UinputSink, Create_TwoDevices_AbsoluteAxesSpanTheDesktopAndCreateComesLast) {
    FakeUinput fake;
    UinputInputSink sink(fake.layer(), desktop, keymap("us"), {});
    ASSERT_TRUE(sink.mayPost()) << sink.reason();
    ASSERT_EQ(fake.peers.size(), 2u);
    std::vector<std::string> names;
    int creates = 0;
    bool wheelHiRes = false;
    for (const auto& c : fake.calls) {
        if (c.request == UI_DEV_SETUP) names.push_back(c.name);
        if (c.request == UI_ABS_SETUP) {
            EXPECT_EQ(c.absMax, c.absCode == ABS_X ? 3839 : 1079);
        }
        if (c.request == UI_SET_RELBIT && c.value == REL_WHEEL_HI_RES) wheelHiRes = true;
        if (c.request == UI_DEV_CREATE) {
            ++creates;
            EXPECT_EQ(fake.calls[&c - fake.calls.data() - 1].request, UI_DEV_SETUP);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Tamborix Helper pointer", "Tamborix Helper keyboard"}));
    EXPECT_EQ(creates, 2);
    EXPECT_TRUE(wheelHiRes);
}

TEST(UinputSink, PointerAndWheel_EventsWithSyncAndCarriedRemainder) {
    FakeUinput fake;
    UinputInputSink sink(fake.layer(), desktop, keymap("us"), {});
    ASSERT_TRUE(sink.mayPost());
    sink.mouse({MouseEventType::moved, MouseButton::left, {100.4, 50}});
    sink.mouse({MouseEventType::leftDown, MouseButton::left, {100.4, 50}, 0, 0, 1});
    sink.mouse({MouseEventType::leftUp, MouseButton::left, {4000, -5}, 0, 0, 1});
    for (int i = 0; i < 5; ++i) sink.scroll({10, 0});  // 5 × 10 px = one notch of 50 px
    sink.scroll({0, 25});                                // half a notch to the left
    const Events expected = {
        {EV_ABS, ABS_X, 100}, {EV_ABS, ABS_Y, 50}, {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0},
        {EV_ABS, ABS_X, 3839}, {EV_ABS, ABS_Y, 0}, {EV_SYN, SYN_REPORT, 0},  // kept on the desktop
        {EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0},
        {EV_REL, REL_WHEEL_HI_RES, 24}, {EV_SYN, SYN_REPORT, 0},
        {EV_REL, REL_WHEEL_HI_RES, 24}, {EV_SYN, SYN_REPORT, 0},
        {EV_REL, REL_WHEEL_HI_RES, 24}, {EV_SYN, SYN_REPORT, 0},
        {EV_REL, REL_WHEEL_HI_RES, 24}, {EV_SYN, SYN_REPORT, 0},
        {EV_REL, REL_WHEEL_HI_RES, 24}, {EV_REL, REL_WHEEL, 1}, {EV_SYN, SYN_REPORT, 0},
        {EV_REL, REL_HWHEEL_HI_RES, -60}, {EV_SYN, SYN_REPORT, 0},
    };
    EXPECT_EQ(fake.events(0), expected);
}

TEST(UinputSink, KeysAndText_GermanLayout_ThroughTheLayoutsOwnKeys) {
    FakeUinput fake;
    UinputInputSink sink(fake.layer(), desktop, keymap("de"), {});
    ASSERT_TRUE(sink.mayPost());
    sink.key({KeyKind::keysym, 0xffe3, true, modifier::control});   // Control_L
    sink.key({KeyKind::keysym, 0x1008ff14, true, 0});              // XF86AudioPlay
    sink.text(u"zY\u00e4\u4e2d\n");  // z and y swap places on a German keyboard; 中 has no key
    const Events expected = {
        {EV_KEY, KEY_LEFTCTRL, 1}, {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, KEY_PLAYPAUSE, 1}, {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, KEY_Y, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, KEY_Y, 0}, {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, KEY_LEFTSHIFT, 1}, {EV_KEY, KEY_Z, 1}, {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, KEY_Z, 0}, {EV_KEY, KEY_LEFTSHIFT, 0}, {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, KEY_APOSTROPHE, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, KEY_APOSTROPHE, 0}, {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, KEY_ENTER, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, KEY_ENTER, 0}, {EV_SYN, SYN_REPORT, 0},
    };
    EXPECT_EQ(fake.events(1), expected);
    bool zOnY = false;
    for (const auto& e : sink.layout()) zOnY |= (e.character == U'z' && e.keycode == KEY_Y && !e.shift);
    EXPECT_TRUE(zOnY);
}


TEST(DrmOutputs, ConnectedOutputs_OnlyConnectedConnectorsWithAModeSideBySideInNameOrder) {
    const auto root = std::filesystem::temp_directory_path() / ("tamborix-drm-" + std::to_string(::getpid()));
    const auto connector = [&](const std::string& name, const std::string& status, const std::string& modes) {
        std::filesystem::create_directories(root / name);
        std::ofstream(root / name / "status") << status << "\n";
        std::ofstream(root / name / "modes") << modes;
    };
    connector("card0-eDP-1", "connected", "2560x1600\n1920x1200\n");
    connector("card0-DP-1", "disconnected", "");
    connector("card0-HDMI-A-1", "connected", "1920x1080i\n");
    connector("card1-DP-2", "connected", "");  // no mode read yet: nothing to reach
    connector("card0", "", "");                // the card itself
    const auto outputs = connectedOutputs(root);
    std::filesystem::remove_all(root);
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0], (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(outputs[1], (Rect{1920, 0, 2560, 1600}));
    EXPECT_EQ(outputsUnion(outputs), (Rect{0, 0, 4480, 1600}));
    EXPECT_TRUE(connectedOutputs(root).empty());
}

}  // namespace
}  // namespace tamborix::uinput
