#include "platform/linux/factory/service_backends.h"

#include "base/user_text.h"

#include <memory>
#include <string>
#include <string_view>

#include "ports/standins/no_services.h"

#ifdef TAMBORIX_HAVE_LAUNCHER
#include "platform/linux/services/launcher/launcher_workspace.h"
#else
#include "ports/standins/no_desktop.h"
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
#ifdef TAMBORIX_HAVE_GIO
#include "platform/linux/support/gio/gio_settings_pages.h"
#endif

namespace tamborix {

std::string installLauncher(PlatformBackends& b) {
#ifdef TAMBORIX_HAVE_LAUNCHER
    b.workspace = std::make_unique<launcher::LauncherWorkspace>(std::make_shared<gio::DesktopEntries>(),
                                                                "io.tamborix.Helper.desktop");
    return userText("Backends", "Applications: launched through GIO; listed are those holding their name on the session "
                         "bus or launched by the helper, none in front (this desktop shows its windows to no "
                         "other program)");
#else
    b.workspace = std::make_unique<NoWorkspace>();
    return userText("Backends", "Applications: none in this build");
#endif
}

// A service not in this build keeps its stand-in and says so in the report.
void installServices(PlatformBackends& b, MainLoop& loop) {
    (void)loop;
#ifdef TAMBORIX_HAVE_LOGIND
    auto logind = std::make_unique<LogindActivity>();
    b.report.push_back(logind->available() ? userText("Backends", "Idle inhibitor: systemd-logind").str()
                                           : userText("Backends", "Idle inhibitor: none (no system bus)").str());
    b.activity = std::move(logind);
#else
    b.activity = std::make_unique<BookkeepingActivity>();
    b.report.push_back(userText("Backends", "Idle inhibitor: none"));
#endif

#ifdef TAMBORIX_HAVE_HOSTNAME
    auto host = std::make_unique<SystemHostInfo>();
    // Said the way a user names it: where the name can be changed.
    const std::string source = host->source();
    const std::string where = source == "hostnamed"      ? userText("Backends", "the system settings (pretty host name)").str()
                              : source == "machine-info" ? std::string("/etc/machine-info")
                              : source == "gethostname"  ? userText("Backends", "the computer's network host name").str()
                                                         : userText("Backends", "nowhere").str();
    b.report.push_back(userText("Backends", "Computer name: %1, taken from %2")
                           .with({host->hostName().empty() ? userText("Backends", "(none)").str() : host->hostName(), where}));
    b.host = std::move(host);
#else
    b.host = std::make_unique<PlainHostInfo>();
#endif

#ifdef TAMBORIX_HAVE_SECRET
    b.secrets = std::make_unique<LibsecretStore>(loop);
    b.report.push_back(userText("Backends", "Identity key: kept in the desktop's keyring, else in a private file"));
#else
    b.secrets = std::make_unique<NoSecretStore>();
    b.report.push_back(userText("Backends", "Identity key: kept in a private file"));
#endif

#ifdef TAMBORIX_HAVE_AVAHI
    b.advertiser = std::make_unique<AvahiServiceAdvertiser>();
#else
    b.report.push_back(userText("Backends", "Discovery: none in this build"));
#endif

#ifdef TAMBORIX_HAVE_BLUEZ
    b.peripherals = std::make_unique<bluez::BluezPeripheralFactory>(loop);
    b.report.push_back(userText("Backends", "Bluetooth: BlueZ over the system bus"));
#else
    b.report.push_back(userText("Backends", "Bluetooth: none in this build"));
#endif

#ifdef TAMBORIX_HAVE_GIO
    b.settingsPages = std::make_unique<gio::GioSettingsPages>();
#endif
}

}  // namespace tamborix
