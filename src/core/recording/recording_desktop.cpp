#include "core/recording/recording_desktop.h"

#include "core/desktop/text_limits.h"
#include "protocol/limits.h"

namespace tamborix {

std::string RecordingDesktop::laser(bool on) {
    journal_.record(std::string("laser ") + (on ? "true" : "false"));
    return {};
}

std::string RecordingDesktop::findCursor() {
    journal_.record("find_cursor");
    return {};
}

bool RecordingDesktop::pointerTo(int display) {
    journal_.record("pointer " + std::to_string(display));
    return true;
}

std::string RecordingDesktop::openUrl(const std::string&) {
    journal_.record("open url");
    return {};
}

std::string RecordingDesktop::openApp(const std::string&) {
    journal_.record("open app");
    return {};
}

std::string RecordingDesktop::activate(const std::string& id) {
    journal_.record("activate " + id);
    return {};
}

std::vector<ListedApp> RecordingDesktop::openApps() {
    return {ListedApp{appName, appId, true, {}}};
}

std::optional<Bytes> RecordingDesktop::icon(const ListedApp&, int) { return std::nullopt; }

std::string RecordingDesktop::setClipboard(const std::string& text, bool paste) {
    journal_.record("clip_set " + std::to_string(characterCount(text, limits::maxClipCharacters)) +
                    " paste=" + (paste ? "true" : "false"));
    return {};
}

DesktopActions::ClipboardText RecordingDesktop::clipboardText() { return {clipboard, {}}; }

}  // namespace tamborix
