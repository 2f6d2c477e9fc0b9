#include "platform/linux/factory/backends.h"

#include <cstdlib>

#include "platform/linux/factory/null_backends.h"
#include "platform/linux/factory/wayland_backends.h"

#ifdef TAMBORIX_HAVE_LAUNCHER
#include "platform/linux/services/launcher/launcher_workspace.h"
#endif
#ifdef TAMBORIX_HAVE_LOGIND
#include "platform/linux/services/logind/logind_activity.h"
#endif
#ifdef TAMBORIX_HAVE_HOSTNAME
#include "platform/linux/services/hostname/system_host_info.h"
#endif
#ifdef TAMBORIX_HAVE_SECRET
#include "platform/linux/services/secret/libsecret_store.h"
#endif
#ifdef TAMBORIX_HAVE_AVAHI
#include "platform/linux/services/avahi/avahi_advertiser.h"
#endif
#ifdef TAMBORIX_HAVE_BLUEZ
#include "platform/linux/services/bluez/bluez_peripheral.h"
#endif
#ifdef TAMBORIX_HAVE_X11
#include <xcb/xcb.h>

#include "platform/linux/factory/x11_backends.h"
#include "platform/linux/desktop/x11/x_connection.h"
#include "platform/linux/desktop/x11/x_reply.h"
#endif

namespace tamborix {

namespace {

// Without any Secret Service the identity key falls back to its private file.
class NoSecretStore final : public SecretStore {
public:
    [[nodiscard]] SecretLookup find(std::string_view) override { return failed(); }
    [[nodiscard]] SecretLookup lookup(std::string_view) override { return failed(); }
    [[nodiscard]] SecretWrite add(std::string_view, std::string_view, ByteView) override {
        return {false, "no secret store in this build"};
    }

private:
    static SecretLookup failed() {
        SecretLookup r;
        r.status = SecretLookup::Status::failed;
        r.error = "no secret store in this build";
        return r;
    }
};

class BookkeepingActivity final : public ActivityAssertion {
public:
    struct Empty final : ActivityHandle {};
    [[nodiscard]] std::unique_ptr<ActivityHandle> begin(std::string_view) override {
        return std::make_unique<Empty>();
    }
};

class PlainHostInfo final : public HostInfo {
public:
    [[nodiscard]] std::string hostName() const override { return {}; }
};

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "; ") + p;
    return out;
}

}  // namespace

bool x11DisplayReachable() {
#ifdef TAMBORIX_HAVE_X11
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    const x11::XcbConnection c(xcb_connect(nullptr, nullptr));
    return c && xcb_connection_has_error(c.get()) == 0;
#else
    return false;
#endif
}

bool isBackendName(std::string_view name) {
    return name == "x11" || name == "portal" || name == "uinput" || name == "none";
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
#ifdef TAMBORIX_HAVE_LAUNCHER
    // Launching and web addresses need no window list: they work in any session.
    b.workspace = std::make_unique<launcher::LauncherWorkspace>(std::make_shared<gio::DesktopEntries>(),
                                                                "io.tamborix.Helper.desktop");
    const std::string appsLine =
        "Applications: launched through GIO; listed are those holding their name on the session bus "
        "or launched by the helper, none in front (this desktop shows its windows to no other program)";
#else
    b.workspace = std::make_unique<NoWorkspace>();
    const std::string appsLine = "Applications: none in this build";
#endif
    b.windows = std::make_unique<NoWindowControl>();
    b.overlay = std::make_unique<NoOverlay>();
    b.capture = std::make_unique<NoScreenCapture>(loop);
    b.clipboard = std::make_unique<UnsharedClipboard>("no desktop backend reaches it");

    const std::string forcedNote = request.forced.empty() ? "" : ", forced by " + request.forcedBy;
    // Why each backend tried could not be used, in the order tried.
    std::vector<std::string> tried;

#ifdef TAMBORIX_HAVE_X11
    std::shared_ptr<x11::XConnection> x;
#endif
    const auto tryX11 = [&]() -> bool {
#ifdef TAMBORIX_HAVE_X11
        std::string error;
        if (!env("DISPLAY").empty() || request.forced == "x11") x = x11::XConnection::open("", error);
        if (x) return true;
        tried.push_back(error.empty() ? "no X11 display (DISPLAY is not set)" : error);
#else
        tried.push_back("no X11 backend in this build");
#endif
        return false;
    };
    // A portal session would show the consent dialog and uinput would make devices: neither is
    // wanted by a run that posts nothing.
    const auto tryPortal = [&]() -> bool {
        std::string error;
        if (request.dryRun) {
            tried.push_back("portal: not started in a dry run");
            return false;
        }
        if (installPortalBackends(b, loop, request, error)) return true;
        tried.push_back("portal: " + error);
        return false;
    };
    const auto tryUinput = [&]() -> bool {
        std::string error;
        if (request.dryRun) {
            tried.push_back("uinput: not started in a dry run");
            return false;
        }
        if (installUinputBackends(b, request, error)) return true;
        tried.push_back("uinput: " + error);
        return false;
    };

    std::string why;
    bool x11Chosen = false;
    if (!request.forced.empty() && !isBackendName(request.forced)) {
        why = request.forcedBy + " \"" + request.forced + "\" is not a backend (x11, portal, uinput or none)";
    } else if (request.forced == "none") {
        why = "no desktop backend" + forcedNote;
    } else if (request.forced == "x11") {
        x11Chosen = tryX11();
    } else if (request.forced == "portal") {
        (void)tryPortal();
    } else if (request.forced == "uinput") {
        (void)tryUinput();
    } else if (waylandSession()) {
        // XTEST on XWayland reaches only X11 programs: the last resort of a Wayland session.
        if (!tryPortal() && !tryUinput()) {
            if (!env("DISPLAY").empty()) x11Chosen = tryX11();
        }
    } else if (env("DISPLAY").empty()) {
        tried.push_back("no graphical session (DISPLAY is not set)");
        (void)tryUinput();
    } else if (!(x11Chosen = tryX11())) {
        (void)tryUinput();
    }
    if (why.empty() && b.backendName == "none" && !x11Chosen) {
        why = joined(tried) + forcedNote;
        if (request.forced.empty() && waylandSession()) {
            const std::string wayland = env("WAYLAND_DISPLAY");
            why = "Wayland session (" +
                  (wayland.empty() ? std::string("XDG_SESSION_TYPE=wayland") : "WAYLAND_DISPLAY=" + wayland) +
                  "): " + why;
        }
    }

#ifdef TAMBORIX_HAVE_X11
    if (x11Chosen) {
        b.backendName = "x11";
        std::string line = "Backend: x11 on display " + x->displayName();
        if (!request.forced.empty()) {
            line += " (forced by " + request.forcedBy + ")";
        } else if (waylandSession()) {
            line += " (XWayland: only X11 programs see the input; " + joined(tried) + ")";
        }
        b.backendLine = line;
        b.report.push_back(line);
        installX11Backends(b, x, loop, request);
    }
#endif
    if (b.backendName == "none") {
        // Without a desktop session the helper cannot reach one later; with one, the input
        // backends all failed for reasons `why` names.
        const bool desktop = !env("DISPLAY").empty() || !env("WAYLAND_DISPLAY").empty();
        b.input = std::make_unique<NoInputSink>(
            why, desktop ? "Let your user write to /dev/uinput (the uinput group and udev rule in "
                           "the README), then start the helper again."
                         : "Start the helper from your desktop session, where DISPLAY or "
                           "WAYLAND_DISPLAY is set.");
        b.backendLine = "Backend: none, " + why;
        b.report.push_back(b.backendLine);
        b.report.push_back("Input: none");
        b.report.push_back(request.dryRun
                               ? "Displays: one virtual display of 1920 \u00D7 1080 (dry run)"
                               : "Displays: none");
    }

    if (b.backendName != "x11") b.report.push_back(appsLine);

#ifdef TAMBORIX_HAVE_LOGIND
    auto logind = std::make_unique<LogindActivity>();
    b.report.push_back(logind->available() ? "Idle inhibitor: systemd-logind"
                                           : "Idle inhibitor: none (no system bus)");
    b.activity = std::move(logind);
#else
    b.activity = std::make_unique<BookkeepingActivity>();
    b.report.push_back("Idle inhibitor: none");
#endif

#ifdef TAMBORIX_HAVE_HOSTNAME
    auto host = std::make_unique<SystemHostInfo>();
    // Said the way a user names it: where the name can be changed.
    const std::string source = host->source();
    const std::string where = source == "hostnamed"      ? "the system settings (pretty host name)"
                              : source == "machine-info" ? "/etc/machine-info"
                              : source == "gethostname"  ? "the computer's network host name"
                                                         : "nowhere";
    b.report.push_back("Computer name: " +
                       (host->hostName().empty() ? std::string("(none)") : host->hostName()) +
                       ", taken from " + where);
    b.host = std::move(host);
#else
    b.host = std::make_unique<PlainHostInfo>();
#endif

#ifdef TAMBORIX_HAVE_SECRET
    b.secrets = std::make_unique<LibsecretStore>(loop);
    b.report.push_back("Identity key: kept in the desktop's keyring, else in a private file");
#else
    b.secrets = std::make_unique<NoSecretStore>();
    b.report.push_back("Identity key: kept in a private file");
#endif

#ifdef TAMBORIX_HAVE_AVAHI
    b.advertiser = std::make_unique<AvahiServiceAdvertiser>();
#else
    b.report.push_back("Discovery: none in this build");
#endif

#ifdef TAMBORIX_HAVE_BLUEZ
    b.peripherals = std::make_unique<bluez::BluezPeripheralFactory>(loop);
    b.report.push_back("Bluetooth: BlueZ over the system bus");
#else
    b.report.push_back("Bluetooth: none in this build");
#endif
    return b;
}

}  // namespace tamborix
