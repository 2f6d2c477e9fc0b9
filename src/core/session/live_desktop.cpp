#include "core/session/live_desktop.h"

#include "core/desktop/web_address.h"

namespace tamborix {

namespace {

std::string schemeOf(const std::string& url) {
    const auto colon = url.find(':');
    return colon == std::string::npos ? url : url.substr(0, colon);
}

}  // namespace

LiveDesktop::LiveDesktop(MainLoop& loop, const PortBundle& ports)
    : overlay_(ports.overlay),
      clipboard_(ports.clipboard),
      laser_(loop, ports.displays, ports.overlay),
      finder_(loop, ports.displays, ports.overlay),
      control_(ports.displays, ports.workspace, ports.windows, ports.input, finder_) {}

std::string LiveDesktop::laser(bool on) {
    laser_.setOn(on);
    return on ? overlay_.unavailableReason() : std::string();
}

std::string LiveDesktop::findCursor() {
    finder_.show(std::nullopt);
    return overlay_.unavailableReason();
}

bool LiveDesktop::pointerTo(int display) { return control_.jump(display); }

std::string LiveDesktop::openUrl(const std::string& url) {
    if (!isOpenableWebAddress(url)) return "not a web address";
    if (!control_.openWebsite(url)) return "no handler for " + schemeOf(url);
    return {};
}

std::string LiveDesktop::openApp(const std::string& name) {
    return control_.openApp(name) ? std::string() : "no application named " + name;
}

std::string LiveDesktop::activate(const std::string& id) {
    return control_.activate(id) ? std::string() : "no open application with this id";
}

std::vector<ListedApp> LiveDesktop::openApps() {
    std::vector<ListedApp> list;
    for (auto& app : control_.openApps())
        list.push_back({std::move(app.name), std::move(app.id), app.front, std::move(app.app)});
    return list;
}

std::optional<Bytes> LiveDesktop::icon(const ListedApp& app, int px) { return control_.iconPNG(app.app, px); }

std::string LiveDesktop::setClipboard(const std::string& text, bool) {
    if (clipboard_.setText(text)) return {};
    const auto why = clipboard_.unavailableReason();
    return why.empty() ? "the clipboard could not be written" : why;
}

DesktopActions::ClipboardText LiveDesktop::clipboardText() {
    // An empty text would tell the phone the desktop's clipboard is empty.
    if (auto why = clipboard_.unavailableReason(); !why.empty()) return {{}, std::move(why)};
    return {clipboard_.text().value_or(std::string()), {}};
}

}  // namespace tamborix
