#pragma once
// Runs the Qt loop as the application does (blocking between events) until a condition holds.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace tamborix::testing {

template <class Pred>
bool spinUntil(Pred done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

}  // namespace tamborix::testing
