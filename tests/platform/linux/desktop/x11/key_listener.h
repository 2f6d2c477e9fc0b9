#pragma once
// An X client on a thread and connection of its own that records the keysyms of the key presses
// it receives, looking each up as an XKB client does: in the keymap it fetches from the server
// when it handles the first key event after a mapping change, with the modifiers and group the
// event carries. It can handle every event a fixed time after it arrived, as a busy program that
// reads its queue late would; a binding changed before then shows as a wrong keysym.

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tamborix::testing {

class KeyListener {
public:
    struct Options {
        // 0: a window of its own over the screen that takes the focus; else this window, whose
        // key presses it also selects.
        xcb_window_t window = 0;
        std::chrono::milliseconds lateBy{0};
    };
    KeyListener(const std::string& display, Options options);
    ~KeyListener();
    KeyListener(const KeyListener&) = delete;
    KeyListener& operator=(const KeyListener&) = delete;

    [[nodiscard]] xcb_window_t window() const { return window_; }
    // Key presses handled so far, modifier keys left out.
    [[nodiscard]] std::vector<xkb_keysym_t> typed() const;
    // XKB map notifications received so far (handled or not).
    [[nodiscard]] int mappingChanges() const { return mappingChanges_; }
    void clear();

private:
    void loop();

    xcb_connection_t* conn_ = nullptr;
    xcb_window_t window_ = 0;
    std::uint8_t xkbEvent_ = 0;
    Options options_;
    mutable std::mutex mutex_;
    std::vector<xkb_keysym_t> typed_;
    std::atomic<int> mappingChanges_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The keysyms of the characters of `s`.
[[nodiscard]] std::vector<xkb_keysym_t> keysymsOf(std::u32string_view s);

}  // namespace tamborix::testing
