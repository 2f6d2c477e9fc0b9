// tamborix-helper: lets a paired phone control this computer. With an X11 display it is a tray
// application with windows; with --console, or without a display, a text interface on the
// terminal.

#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/console_input.h"
#include "app/console_output.h"
#include "app/console_writer.h"
#include "app/helper_model.h"
#include "app/instance_lock.h"
#include "app/options.h"
#include "app/settings.h"
#include "app/translate.h"
#include "app/widgets/desktop_ui.h"
#include "app/widgets/translations.h"
#include "base/unique_fd.h"
#include "platform/linux/factory/backends.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/support/qt/qt_stream.h"
#include "store/device_store.h"

namespace {

// Standard input, cut into lines as it arrives; its end answers every prompt with no.
class StdinLines {
public:
    explicit StdinLines(tamborix::Console& console)
        : console_(console),
          cutter_([this](std::string_view line) { console_.inputLine(line); },
                   [this] {
                       console_.print(tamborix::fillIn(
                           tamborix::translate("Main", "Line too long (over %1 bytes): ignored"),
                           {std::to_string(tamborix::ConsoleLineCutter::maxLine)}));
                   }) {
        if (::fcntl(STDIN_FILENO, F_GETFL) < 0) {
            console_.inputClosed();
            return;
        }
        // The descriptor stays blocking (a terminal is shared with the shell that started us):
        // one read per notification never blocks.
        notifier_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readable(); });
    }

private:
    void readable() {
        char buf[4096];
        auto n = ::read(STDIN_FILENO, buf, sizeof buf);
        while (n < 0 && errno == EINTR) n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0) {
            notifier_->setEnabled(false);
            cutter_.finish();
            console_.inputClosed();
            return;
        }
        cutter_.feed(std::string_view(buf, static_cast<std::size_t>(n)));
    }

    tamborix::Console& console_;
    tamborix::ConsoleLineCutter cutter_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace tamborix;
    const auto parsed = parseHelperOptions(std::vector<std::string>(argv + 1, argv + argc),
                                           BackendNames{isBackendName, backendNameList()});
    if (!parsed.options) {
        std::cerr << "tamborix-helper: " << parsed.error << "\n" << helperUsage();
        return 2;
    }
    if (parsed.options->help) {
        std::cout << helperUsage();
        return 0;
    }
    if (parsed.options->version) {
        std::cout << "tamborix-helper " << TAMBORIX_VERSION << "\n";
        return 0;
    }

    // Before anything in the data folder is read: two helpers on one folder would race for the
    // identity and answer the same phones.
    auto instance = InstanceLock::claim(DeviceStore::Locations::standard().folder,
                                        InstanceLock::runtimeFolderFromEnvironment());
    if (!instance.lock) {
        std::cout << (instance.reached
                          ? "Tamborix Helper is already running; it was asked to show itself.\n"
                          : "Tamborix Helper is already running, but it did not answer.\n");
        return 0;
    }

    // Block the stop signals before any thread exists so that only the signalfd sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    const UniqueFd stopSignalFd(::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
    const int signalFd = stopSignalFd.get();

    // Qt's own event dispatcher wakes up faster than the GLib one, and nothing here needs GLib's
    // loop (libsecret runs its own calls to completion).
    ::setenv("QT_NO_GLIB", "1", 0);
    const bool windowed = !parsed.options->console && x11DisplayReachable();
    std::unique_ptr<QCoreApplication> app;
    if (windowed) {
        // Qt would pick Wayland where both exist; the X11 backends need the X11 side.
        ::setenv("QT_QPA_PLATFORM", "xcb", 0);
        auto gui = std::make_unique<QApplication>(argc, argv);
        QGuiApplication::setDesktopFileName("io.tamborix.Helper");
        // Closing the last window leaves the helper running in the tray.
        QApplication::setQuitOnLastWindowClosed(false);
        app = std::move(gui);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // Windows, tray and console in the user's language; what goes to phones stays as it is.
    (void)tamborix::ui::installTranslations();
    QtMainLoop loop;
    const bool dryRun = dryRunFromValue(std::getenv("VELMORAND_DRY_RUN"));
    BackendRequest request{dryRun, parsed.options->backend,
                           parsed.options->backend.empty() ? "" : "--backend",
                           Settings::defaultFile().parent_path()};
    applyBackendEnvironment(request);
    auto backends = makePlatformBackends(loop, request);
    QtStreamListenerFactory listeners;

    std::filesystem::path dryRunLogFile;
    if (const char* log = std::getenv("VELMORAND_DRY_RUN_LOG"); log && *log && dryRun)
        dryRunLogFile = log;
    // The store, the login entry and the program keep their standard places.
    HelperEnvironment env{.loop = loop,
                          .ports = backends.ports(),
                          .listeners = listeners,
                          .settingsFile = Settings::defaultFile(),
                          .port = parsed.options->port,
                          .dryRun = dryRun,
                          .dryRunLogFile = std::move(dryRunLogFile),
                          .backendLine = backends.backendLine};

    // Standard output is written off the main loop: a reader that stops reading must not stop
    // the helper.
    ConsoleWriter consoleOut(STDOUT_FILENO);
    HelperModel model(env);
    // The console also writes the log of a windowed helper (start-up, status changes, events).
    Console console(loop, model, [&consoleOut](std::string_view line) { consoleOut.write(line); });
    ConsoleOutput output(model, console);
    std::unique_ptr<ui::DesktopUi> desktop;
    std::unique_ptr<StdinLines> input;
    if (windowed) {
        desktop = std::make_unique<ui::DesktopUi>(model);
        model.setPrompter(&desktop->prompter());
    } else {
        model.setPrompter(&console);
    }
    model.setOnQuit([] { QCoreApplication::quit(); });
    output.printStart(backends.report, dryRun);
    if (desktop) {
        desktop->start();
    } else {
        if (model.launched()) {
            // First start, or input cannot be posted: say where to begin.
            console.print(translate("Main", "To pair a phone type pair; status shows the helper's state."));
        }
        input = std::make_unique<StdinLines>(console);
    }

    if (!instance.warning.empty()) console.print(localise(instance.warning));
    KnockNotices knocks(loop, [&](std::size_t count, bool first) {
        console.print(knockNoticeText(count, first));
        if (desktop) desktop->showStatusWindow();
    });
    std::unique_ptr<QSocketNotifier> knockNotifier;
    if (instance.lock->listenFd() >= 0) {
        knockNotifier =
            std::make_unique<QSocketNotifier>(instance.lock->listenFd(), QSocketNotifier::Read);
        QObject::connect(knockNotifier.get(), &QSocketNotifier::activated, [&] {
            const int n = instance.lock->acceptKnocks();
            if (n > 0) knocks.knocked(static_cast<std::size_t>(n));
        });
    }

    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (signalFd >= 0) {
        stopNotifier = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, [signalFd] {
            signalfd_siginfo info{};
            while (::read(signalFd, &info, sizeof info) == sizeof info) {
            }
            QCoreApplication::quit();
        });
    }

    const int rc = QCoreApplication::exec();
    model.setPrompter(nullptr);
    // Waiting prompts are refused while the model can still answer the phones.
    desktop.reset();
    model.shutdown();
    console.print(translate("Main", "Stopped."));
    return rc;
}
