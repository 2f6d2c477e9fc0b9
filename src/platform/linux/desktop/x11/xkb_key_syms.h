#pragma once
// The server's own XKB symbol maps of a run of keycodes, read and written whole. Writing a run
// with one XkbSetMap binds or gives back any number of keys in one mapping change, and keys
// inside the run that are written back as they were read stay exactly as they were (their types
// and actions are not recomputed, as a core ChangeKeyboardMapping would).

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/desktop/x11/x_connection.h"

namespace tamborix::x11 {

struct KeySymMap {
    std::array<std::uint8_t, 4> types{};  // key type index per group
    std::uint8_t groupInfo = 0;           // number of groups and out-of-range rule
    std::uint8_t width = 0;               // symbols per group
    std::vector<std::uint32_t> syms;
    friend bool operator==(const KeySymMap&, const KeySymMap&) = default;

    // One group of the one-level type holding `sym`: the same symbol whatever is held.
    [[nodiscard]] static KeySymMap lent(std::uint32_t sym);
    [[nodiscard]] bool empty() const { return syms.empty(); }
    // As numbers on one line, and back; nullopt for a line that is not one.
    [[nodiscard]] std::string text() const;
    [[nodiscard]] static std::optional<KeySymMap> parse(const std::string& text);
};

struct KeySymRun {
    xcb_keycode_t minKeyCode = 0;  // the device's range, which XkbSetMap must repeat
    xcb_keycode_t maxKeyCode = 0;
    xcb_keycode_t first = 0;
    std::vector<KeySymMap> keys;
    [[nodiscard]] KeySymMap& at(xcb_keycode_t kc) { return keys.at(static_cast<std::size_t>(kc - first)); }
};

// The core keyboard's maps of first…last; nullopt when the server does not answer.
[[nodiscard]] std::optional<KeySymRun> readKeySyms(XConnection& conn, xcb_keycode_t first, xcb_keycode_t last);
// Writes the run in one request and waits for the server's verdict.
[[nodiscard]] bool writeKeySyms(XConnection& conn, const KeySymRun& run);

// Holds the server for a read-modify-write of the mapping, so no other client changes it between.
class ServerGrab {
public:
    explicit ServerGrab(XConnection& conn);
    ~ServerGrab();
    ServerGrab(const ServerGrab&) = delete;
    ServerGrab& operator=(const ServerGrab&) = delete;

private:
    XConnection& conn_;
};

}  // namespace tamborix::x11
