#include "platform/linux/factory/backends.h"

#include <algorithm>
#include <cstdlib>

#include "core/recording/recording_desktop.h"
#include "core/recording/recording_input.h"
#include "platform/linux/factory/desktop_backends.h"
#include "ports/standins/no_desktop.h"
#include "ports/standins/placeholder_capture.h"
#include "ports/standins/recording_window_control.h"
#include "platform/linux/factory/service_backends.h"

namespace tamborix {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out = out.empty() ? p : joinedText("%1; %2", {out, p});
    return out;
}

const DesktopBackend* desktopBackend(std::string_view name) {
    for (const auto& backend : desktopBackends()) {
        if (backend.name == name) return &backend;
    }
    return nullptr;
}

// The backends tried when none is forced, in their order for this session.
std::vector<const DesktopBackend*> probeOrder(bool wayland) {
    const auto order = [wayland](const DesktopBackend* d) { return wayland ? d->waylandOrder : d->otherOrder; };
    std::vector<const DesktopBackend*> out;
    for (const auto& backend : desktopBackends()) {
        if (order(&backend) > 0 && (!backend.suitsSession || backend.suitsSession())) out.push_back(&backend);
    }
    std::ranges::sort(out, {}, order);
    return out;
}

}  // namespace

bool isBackendName(std::string_view name) { return name == "none" || desktopBackend(name); }

std::string backendNameList() {
    std::string out;
    for (const auto& backend : desktopBackends()) out += std::string(backend.name) + ", ";
    return out.substr(0, out.size() - 2) + " or none";
}

bool waylandSession() {
    return !env("WAYLAND_DISPLAY").empty() || env("XDG_SESSION_TYPE") == "wayland";
}

void applyBackendEnvironment(BackendRequest& request) {
    if (!request.forced.empty()) return;
    const std::string value = env("TAMBORIX_BACKEND");
    if (value.empty()) return;
    request.forced = value;
    request.forcedBy = "TAMBORIX_BACKEND";
}

PlatformBackends makePlatformBackends(MainLoop& loop, const BackendRequest& request) {
    PlatformBackends b;
    // Stand-ins first; a desktop backend replaces what it covers.
    b.backendName = "none";
    b.input = std::make_unique<NoInputSink>(std::string());
    if (request.dryRun) {
        b.displays = std::make_unique<VirtualDisplay>();
    } else {
        b.displays = std::make_unique<NoDisplay>();
    }
    // Launching and web addresses need no window list: a desktop backend that lists windows
    // replaces this one.
    const std::string appsLine = installLauncher(b);
    const Workspace* launcher = b.workspace.get();
    b.windows = std::make_unique<NoWindowControl>();
    b.overlay = std::make_unique<NoOverlay>();
    b.capture = std::make_unique<NoScreenCapture>(loop);
    b.clipboard = std::make_unique<UnsharedClipboard>(userText("Backends", "no desktop backend reaches it"));

    const auto withForcedNote = [&](const std::string& text) {
        return request.forced.empty() ? text : userText("Backends", "%1, forced by %2").with({text, request.forcedBy});
    };
    // Why each backend tried could not be used, in the order tried.
    std::vector<std::string> tried;
    const auto attempt = [&](const DesktopBackend& backend) -> bool {
        std::string why;
        if (!backend.install) {
            tried.push_back(backend.missing.str());
            return false;
        }
        if (request.dryRun && backend.startsDevices) {
            tried.push_back(joinedText("%1%2", {backend.reasonPrefix, userText("Backends", "not started in a dry run").str()}));
            return false;
        }
        if (backend.install(DesktopAttempt{b, loop, request, tried}, why)) return true;
        tried.push_back(joinedText("%1%2", {backend.reasonPrefix, why}));
        return false;
    };

    std::string why;
    bool chosen = false;
    if (!request.forced.empty() && !isBackendName(request.forced)) {
        why = userText("Backends", "%1 \"%2\" is not a backend (%3)").with({request.forcedBy, request.forced, backendNameList()});
    } else if (request.forced == "none") {
        why = withForcedNote(userText("Backends", "no desktop backend"));
    } else if (!request.forced.empty()) {
        chosen = attempt(*desktopBackend(request.forced));
    } else {
        const bool wayland = waylandSession();
        if (!wayland && env("DISPLAY").empty()) tried.push_back(userText("Backends", "no graphical session (DISPLAY is not set)"));
        for (const DesktopBackend* backend : probeOrder(wayland)) {
            if ((chosen = attempt(*backend))) break;
        }
    }
    if (why.empty() && !chosen) {
        why = withForcedNote(joined(tried));
        if (request.forced.empty() && waylandSession()) {
            const std::string wayland = env("WAYLAND_DISPLAY");
            why = userText("Backends", "Wayland session (%1): %2")
                      .with({wayland.empty() ? std::string("XDG_SESSION_TYPE=wayland") : "WAYLAND_DISPLAY=" + wayland,
                             why});
        }
    }

    if (!chosen) {
        // Without a desktop session the helper cannot reach one later; with one, the input
        // backends all failed for reasons `why` names.
        const bool desktop = !env("DISPLAY").empty() || !env("WAYLAND_DISPLAY").empty();
        b.input = std::make_unique<NoInputSink>(
            why, desktop ? userText("Backends", "Let your user write to /dev/uinput (the uinput group and udev rule in "
                                                "the README), then start the helper again.").str()
                         : userText("Backends", "Start the helper from your desktop session, where DISPLAY or "
                                                "WAYLAND_DISPLAY is set.").str());
        b.backendLine = userText("Backends", "Backend: none, %1").with({why});
        b.report.push_back(b.backendLine);
        b.report.push_back(userText("Backends", "Input: none"));
        b.report.push_back(request.dryRun ? userText("Backends", "Displays: one virtual display of 1920 \u00D7 1080 (dry run)").str()
                                          : userText("Backends", "Displays: none").str());
    }

    // Whatever the desktop, a dry run reads no screen and records instead of acting.
    if (request.dryRun) {
        b.journal = std::make_unique<ActionJournal>();
        b.inputActions = std::make_unique<RecordingInput>(loop, *b.journal);
        b.desktopActions = std::make_unique<RecordingDesktop>(*b.journal);
        b.capture = std::make_unique<PlaceholderCapture>(loop);
        b.windows = std::make_unique<RecordingWindowControl>(*b.journal);
    }
    if (b.workspace.get() == launcher) b.report.push_back(appsLine);
    installServices(b, loop);
    return b;
}

}  // namespace tamborix
