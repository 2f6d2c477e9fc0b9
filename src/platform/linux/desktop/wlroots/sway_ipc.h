#pragma once
// Window placement on sway through its IPC socket (SWAYSOCK): the focused window, its frame, and
// moving and resizing it. The foreign-toplevel list can only maximise or move to an output, and a
// tiled window has no frame of its own to set: sway is asked to float the window and place it.
// Other wlroots compositors have no such socket, and the helper places no window there.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/unique_fd.h"
#include "ports/window_control.h"

namespace tamborix::wlroots {

class SwayIpc {
public:
    // The socket named by `path` (empty: SWAYSOCK); null with `why` set when sway is not there.
    [[nodiscard]] static std::unique_ptr<SwayIpc> connect(std::string path, std::string& why);
    // The reply's payload (JSON) to a message of `type`, nullopt when sway did not answer.
    [[nodiscard]] std::optional<std::string> request(std::uint32_t type, const std::string& payload);

    static constexpr std::uint32_t runCommand = 0;
    static constexpr std::uint32_t getTree = 4;

private:
    explicit SwayIpc(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

class SwayWindowControl final : public WindowControl {
public:
    explicit SwayWindowControl(std::unique_ptr<SwayIpc> ipc) : ipc_(std::move(ipc)) {}
    [[nodiscard]] std::optional<WindowHandle> frontWindow() const override;
    [[nodiscard]] std::optional<Rect> frame(WindowHandle window) const override;
    bool setFrame(WindowHandle window, const Rect& frame) override;

private:
    std::unique_ptr<SwayIpc> ipc_;
};

}  // namespace tamborix::wlroots
