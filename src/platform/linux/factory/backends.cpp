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

std::string sessionKind() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) return "a Wayland session";
    if (display && *display) return "an X11 session";
    return "no graphical session";
}

}  // namespace

PlatformBackends makePlatformBackends(MainLoop& loop, const BackendRequest& request) {
    PlatformBackends b;
    const std::string why = "no desktop backend in this build (" + sessionKind() + ")";
    b.input = std::make_unique<NoInputSink>(why);
    b.report.push_back("Input: none, " + why);
    if (request.dryRun) {
        b.displays = std::make_unique<VirtualDisplay>();
        b.report.push_back("Displays: one virtual display of 1920 \u00D7 1080 (dry run)");
    } else {
        b.displays = std::make_unique<NoDisplay>();
        b.report.push_back("Displays: none");
    }
    b.workspace = std::make_unique<NoWorkspace>();
    b.windows = std::make_unique<NoWindowControl>();
    b.overlay = std::make_unique<NoOverlay>();
    b.capture = std::make_unique<NoScreenCapture>(loop);
    b.clipboard = std::make_unique<ProcessClipboard>();

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
    b.secrets = std::make_unique<LibsecretStore>();
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
