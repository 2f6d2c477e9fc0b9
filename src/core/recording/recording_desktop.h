#pragma once
// The dry run's desktop: every action is written to the journal in the words of the log ("laser
// true", "pointer 2", "open url", "activate <id>", "clip_set 11 paste=true") and counts as done.
// No display, application or clipboard of the desktop is touched: one made-up application is
// open and in front, and the clipboard always holds "dry-run clipboard".

#include "ports/action_journal.h"
#include "ports/desktop_actions.h"

namespace tamborix {

class RecordingDesktop final : public DesktopActions {
public:
    static constexpr const char* appName = "Dry Run App";
    static constexpr const char* appId = "org.tamborix.DryRunApp";
    static constexpr const char* clipboard = "dry-run clipboard";

    explicit RecordingDesktop(ActionJournal& journal) : journal_(journal) {}

    [[nodiscard]] std::string laser(bool on) override;
    [[nodiscard]] std::string findCursor() override;
    [[nodiscard]] bool pointerTo(int display) override;
    [[nodiscard]] std::string openUrl(const std::string& url) override;
    [[nodiscard]] std::string openApp(const std::string& name) override;
    [[nodiscard]] std::string activate(const std::string& id) override;
    [[nodiscard]] std::vector<ListedApp> openApps() override;
    [[nodiscard]] std::optional<Bytes> icon(const ListedApp& app, int px) override;
    [[nodiscard]] std::string setClipboard(const std::string& text, bool paste) override;
    [[nodiscard]] ClipboardText clipboardText() override;

private:
    ActionJournal& journal_;
};

}  // namespace tamborix
