#include "platform/linux/factory/backends.h"

#include <cstdlib>

#include "platform/linux/factory/null_backends.h"

#ifdef TAMBORIX_HAVE_LOGIND
#include "platform/linux/logind/logind_activity.h"
#endif
#ifdef TAMBORIX_HAVE_HOSTNAME
#include "platform/linux/hostname/system_host_info.h"
#endif
#ifdef TAMBORIX_HAVE_SECRET
#include "platform/linux/secret/libsecret_store.h"
#endif
#ifdef TAMBORIX_HAVE_AVAHI
#include "platform/linux/avahi/avahi_advertiser.h"
#endif
#ifdef TAMBORIX_HAVE_BLUEZ
#include "platform/linux/bluez/bluez_peripheral.h"
#endif
#ifdef TAMBORIX_HAVE_X11
#include <xcb/xcb.h>

#include "platform/linux/factory/x11_backends.h"
#include "platform/linux/x11/x_connection.h"
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

// Why the probe found no desktop, when DISPLAY did not lead to one.
std::string noDisplayReason(const std::string& openError) {
    const std::string wayland = env("WAYLAND_DISPLAY");
    if (!wayland.empty())
        return "Wayland sessions are not supported yet (WAYLAND_DISPLAY=" + wayland +
               (openError.empty() ? ", no DISPLAY" : ", " + openError) + ")";
    if (!openError.empty()) return openError;
    return "no graphical session (DISPLAY is not set)";
}

}  // namespace

bool x11DisplayReachable() {
#ifdef TAMBORIX_HAVE_X11
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const bool ok = c && xcb_connection_has_error(c) == 0;
    if (c) xcb_disconnect(c);
    return ok;
#else
    return false;
#endif
}

bool isBackendName(std::string_view name) { return name == "x11" || name == "none"; }

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
    std::string why;
    const std::string forcedNote =
        request.forced.empty() ? "" : ", forced by " + request.forcedBy;
    if (!request.forced.empty() && !isBackendName(request.forced)) {
        why = request.forcedBy + " \"" + request.forced + "\" is not a backend (x11 or none)";
    } else if (request.forced == "none") {
        why = "no desktop backend" + forcedNote;
    }
    const bool probe = why.empty();

#ifdef TAMBORIX_HAVE_X11
    std::shared_ptr<x11::XConnection> x;
    if (probe) {
        std::string error;
        if (!env("DISPLAY").empty() || request.forced == "x11") x = x11::XConnection::open("", error);
        if (!x) why = request.forced == "x11" ? error + forcedNote : noDisplayReason(error);
    }
#else
    if (probe) {
        why = request.forced == "x11" ? "no X11 backend in this build" + forcedNote
                                      : "no desktop backend in this build (" + noDisplayReason({}) + ")";
    }
#endif

    b.input = std::make_unique<NoInputSink>(why);
    if (request.dryRun) {
        b.displays = std::make_unique<VirtualDisplay>();
    } else {
        b.displays = std::make_unique<NoDisplay>();
    }
    b.workspace = std::make_unique<NoWorkspace>();
    b.windows = std::make_unique<NoWindowControl>();
    b.overlay = std::make_unique<NoOverlay>();
    b.capture = std::make_unique<NoScreenCapture>(loop);
    b.clipboard = std::make_unique<ProcessClipboard>();

#ifdef TAMBORIX_HAVE_X11
    if (x) {
        b.backendName = "x11";
        std::string line = "Backend: x11 on display " + x->displayName();
        if (!request.forced.empty()) {
            line += " (forced by " + request.forcedBy + ")";
        } else if (!env("WAYLAND_DISPLAY").empty()) {
            line += " (XWayland: only X11 programs see the input)";
        }
        b.backendLine = line;
        b.report.push_back(line);
        installX11Backends(b, x, loop, request);
    }
#endif
    if (b.backendName == "none") {
        b.backendLine = "Backend: none, " + why;
        b.report.push_back(b.backendLine);
        b.report.push_back("Input: none");
        b.report.push_back(request.dryRun
                               ? "Displays: one virtual display of 1920 \u00D7 1080 (dry run)"
                               : "Displays: none");
    }

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
    b.report.push_back("Host name: " + (host->hostName().empty() ? std::string("(none)") : host->hostName()) +
                       " from " + host->source());
    b.host = std::move(host);
#else
    b.host = std::make_unique<PlainHostInfo>();
#endif

#ifdef TAMBORIX_HAVE_SECRET
    b.secrets = std::make_unique<LibsecretStore>(loop);
    b.report.push_back("Identity key: Secret Service, file fallback");
#else
    b.secrets = std::make_unique<NoSecretStore>();
    b.report.push_back("Identity key: private file");
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
