#pragma once
// Running the real Qt event loop from tests, as the application runs it: blocking between events,
// so that what runs just before the loop blocks (the X connection's flush and drain) runs here too.
// QCoreApplication::processEvents with a time limit never blocks and would skip that.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace tamborix::testing {

// Until `done` holds; false when the bound passed first. The bound is a safety net so that a
// broken test fails instead of hanging, never an assertion about speed.
inline bool spinUntil(const std::function<bool()>& done, int boundMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > boundMs) return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// Lets queued work (posted jobs, deferred deletions) run without waiting for anything new.
inline void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

}  // namespace tamborix::testing
