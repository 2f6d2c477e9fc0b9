#include "base/user_text.h"
#include "platform/linux/factory/desktop_backends.h"
#include "platform/linux/factory/wayland_clipboard.h"
#include "ports/standins/no_desktop.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include <QDBusConnection>
#include <QString>
#include <atomic>

#include "platform/linux/desktop/portal/desktop_keymap.h"
#include "platform/linux/desktop/portal/portal_clipboard.h"
#include "platform/linux/desktop/portal/portal_input_sink.h"
#include "platform/linux/desktop/portal/portal_probe.h"
#include "platform/linux/desktop/portal/remote_desktop_session.h"
#ifdef TAMBORIX_HAVE_PIPEWIRE
#include "platform/linux/desktop/pipewire/pipewire_screen_capture.h"
#endif

namespace tamborix {

namespace {

// The portal answers within a few milliseconds once running; D-Bus activation of a portal that
// is not yet running can take seconds on a loaded desktop.
constexpr int portalProbeTimeoutMs = 5000;

// The helper's own session-bus connection (named, so that tests can give each helper a bus of
// its own) and the session over it; the backends that use the session are destroyed before it.
struct PortalConnection {
    QString name;
    std::unique_ptr<portal::RemoteDesktopSession> session;
    ~PortalConnection() {
        session.reset();
        QDBusConnection::disconnectFromBus(name);
    }
};

QString nextConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("tamborix-portal-%1").arg(++counter);
}

}  // namespace

namespace {

// The screen through the session's PipeWire streams, following the session: connected once the
// desktop shares the monitors, dropped (with the session's reason) when it stops.
std::string installPortalCapture(PlatformBackends& b, MainLoop& loop, portal::RemoteDesktopSession& session) {
#ifdef TAMBORIX_HAVE_PIPEWIRE
    auto capture = std::make_unique<pipewire::PipeWireScreenCapture>(loop, session.screenStatus());
    session.onChanged([&session, cap = capture.get()] {
        std::vector<pipewire::CastDisplay> displays;
        UniqueFd fd = session.dupPipeWireRemote();
        if (fd) {
            for (const auto& s : session.streams()) displays.push_back({s.nodeId, s.nodeId, s.bounds});
        }
        cap->setStreams(std::move(fd), std::move(displays), session.screenStatus());
    });
    b.capture = std::move(capture);
    return userText("Backends", "Screen capture: PipeWire (portal), JPEG through libyuv and libjpeg-turbo");
#else
    (void)b;
    (void)loop;
    (void)session;
    return userText("Backends", "Screen capture: none, no PipeWire in this build");
#endif
}

}  // namespace

// A session started at once: the user's consent arrives later, and the input's and the capture's
// reasons tell where it stands until then.
bool installPortalBackends(const DesktopAttempt& a, std::string& why) {
    PlatformBackends& b = a.backends;
    MainLoop& loop = a.loop;
    const BackendRequest& request = a.request;
    auto holder = std::make_shared<PortalConnection>();
    holder->name = nextConnectionName();
    // libdbus reads the session bus's address once per process; read it afresh for every helper.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    QDBusConnection bus = address && *address
                              ? QDBusConnection::connectToBus(QString::fromLocal8Bit(address), holder->name)
                              : QDBusConnection::connectToBus(QDBusConnection::SessionBus, holder->name);
    const auto probe = portal::probeRemoteDesktop(bus, portalProbeTimeoutMs);
    if (!probe.usable) {
        why = probe.error;
        return false;
    }
    std::filesystem::path folder = request.settingsFolder;
    if (folder.empty()) {
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
            folder = std::filesystem::path(xdg) / "tamborix-helper";
        } else if (const char* home = std::getenv("HOME"); home && *home) {
            folder = std::filesystem::path(home) / ".config" / "tamborix-helper";
        }
    }
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
    holder->session = std::make_unique<portal::RemoteDesktopSession>(bus, folder / "remote-desktop-token");
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    const auto quirks = portal::quirksFor(desktop ? desktop : "");
    holder->session->setAsksConsent(quirks.asksConsent);
    auto input = std::make_unique<portal::PortalInputSink>(*holder->session, quirks);
    auto keymap = portal::readDesktopKeymap();
    input->setTypable(std::move(keymap.keysyms));
    b.displays = std::make_unique<portal::PortalDisplaySource>(*holder->session, *input);
    b.input = std::move(input);

    b.backendName = "portal";
    b.backendLine = request.forced.empty()
                        ? userText("Backends", "Backend: portal (remote-desktop portal version %1)").with({std::to_string(probe.version)})
                        : userText("Backends", "Backend: portal (remote-desktop portal version %1, forced by %2)")
                              .with({std::to_string(probe.version), request.forcedBy});
    b.report.push_back(b.backendLine);
    b.report.push_back(!quirks.asksConsent
                           ? userText("Backends", "Input: through the portal; this desktop grants remote control without asking").str()
                       : probe.version >= 2
                           ? userText("Backends", "Input: through the portal; the desktop asks once and keeps the consent").str()
                           : userText("Backends", "Input: through the portal; the desktop asks for consent at every start "
                                                "(portal version 1 keeps no permission)").str());
    b.report.push_back(userText("Backends", "Typing: characters without a key in %1 are skipped and named; the portal "
                                 "cannot type them")
                           .with({keymap.source}));
    b.report.push_back(userText("Backends", "Displays: the monitors shared in the portal's dialog; the pointer is where the "
                                 "helper last put it (Wayland does not reveal it)"));
    b.report.push_back(installPortalCapture(b, loop, *holder->session));
    b.report.push_back(installShortcutWindows(b));
    b.overlay = std::make_unique<NoOverlay>(
        std::string(desktop ? desktop : "").find("GNOME") != std::string::npos
            ? userText("Backends", "GNOME lets no other program draw above its windows under Wayland").str()
            : userText("Backends", "the portal offers no surface above other windows").str());
    b.report.push_back(userText("Backends", "Overlays: none, %1").with({b.overlay->unavailableReason()}));
    // KWin offers data control; GNOME's compositor does not.
    installWaylandClipboard(
        b, userText("Backends", "the desktop portal has no Clipboard interface; xdg-desktop-portal 1.18 and later offer one"));
    // The portal's own Clipboard interface first, where the portal turns out to have one.
    b.clipboard = std::make_unique<portal::PortalClipboard>(*holder->session, std::move(b.clipboard));
    b.report.back() = userText("Backends", "%1 (unless the portal offers its Clipboard interface, which is then used)")
                          .with({b.report.back()});
    holder->session->start();
    b.session = std::move(holder);
    return true;
}

}  // namespace tamborix
