#pragma once
#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>

namespace tamborix::testing {

// The private system bus of this test program ("" when dbus-daemon is missing).
extern std::string privateSystemBus;

// Runs the Qt loop until `done` holds; false after the bound (a safety net, not a timing claim).
inline bool spinUntil(const std::function<bool()>& done, int boundMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > boundMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

}  // namespace tamborix::testing
