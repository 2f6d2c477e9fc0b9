#pragma once
// Runs the Qt loop as the application does (blocking between events) until a condition holds.
// QCoreApplication::processEvents with a time limit never blocks, so the X connection's drain
// before blocking would not run.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace tamborix::testing {

template <class Pred>
bool spinUntil(Pred done, int timeoutMs = 10000) {
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
