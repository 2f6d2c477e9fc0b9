#pragma once
// The desktop as the phone's commands ask for it: the laser dot, the cursor finder, the pointer
// put on a display, web addresses and applications opened, running applications listed and
// activated, the clipboard. The session core does each through the other ports; a backend that
// takes them whole (the dry run's recorder) is handed to the core in PortBundle::desktopActions
// instead. Where an action is refused or falls short, it answers why in a few words for the
// phone or the user; an empty answer means done.

#include <optional>
#include <string>
#include <vector>

#include "ports/workspace.h"
#include "protocol/bytes.h"

namespace tamborix {

// A running application as the phone's list shows it.
struct ListedApp {
    std::string name;
    std::string id;
    bool front = false;
    RunningApp app;  // what the icon is drawn from
};

class DesktopActions {
public:
    virtual ~DesktopActions() = default;

    // Answers why the dot cannot be drawn in this session, the command still counting as done.
    [[nodiscard]] virtual std::string laser(bool on) = 0;
    // Answers why the pulse cannot be drawn in this session, the command still counting as done.
    [[nodiscard]] virtual std::string findCursor() = 0;
    // Puts the pointer on display `display`, counted from 1; false when there is no such display.
    [[nodiscard]] virtual bool pointerTo(int display) = 0;

    [[nodiscard]] virtual std::string openUrl(const std::string& url) = 0;
    [[nodiscard]] virtual std::string openApp(const std::string& name) = 0;
    [[nodiscard]] virtual std::string activate(const std::string& id) = 0;
    // In the order the phone shows them.
    [[nodiscard]] virtual std::vector<ListedApp> openApps() = 0;
    // The application's icon as a px × px PNG; nullopt without one.
    [[nodiscard]] virtual std::optional<Bytes> icon(const ListedApp& app, int px) = 0;

    // `paste`: the core presses the paste key right after, through the input.
    [[nodiscard]] virtual std::string setClipboard(const std::string& text, bool paste) = 0;
    // The clipboard's text (empty when it holds none), or why it cannot be read.
    struct ClipboardText {
        std::string text;
        std::string why;
    };
    [[nodiscard]] virtual ClipboardText clipboardText() = 0;
};

}  // namespace tamborix
