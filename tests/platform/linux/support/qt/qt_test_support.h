#pragma once
// Running the real Qt event loop from tests: until a condition holds, with a generous bound so
// that a broken test fails instead of hanging. The bound is a safety net, never an assertion
// about speed.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <functional>

namespace tamborix::testing {

inline bool runUntil(const std::function<bool()>& done, int boundMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > boundMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
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
