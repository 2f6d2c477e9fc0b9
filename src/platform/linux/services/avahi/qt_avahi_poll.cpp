#include "platform/linux/services/avahi/qt_avahi_poll.h"

#include <avahi-common/timeval.h>
#include <sys/time.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <memory>

using tamborix::QtAvahiPoll;

// Avahi declares these as opaque; each event-loop adapter defines them.
struct AvahiWatch {
    QtAvahiPoll* poll;
    int fd;
    AvahiWatchEvent wanted;
    AvahiWatchEvent last = static_cast<AvahiWatchEvent>(0);
    AvahiWatchCallback callback;
    void* userdata;
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

struct AvahiTimeout {
    QtAvahiPoll* poll;
    AvahiTimeoutCallback callback;
    void* userdata;
    std::unique_ptr<QTimer> timer;
};

namespace tamborix {

namespace {

QtAvahiPoll* pollOf(const AvahiPoll* api) { return static_cast<QtAvahiPoll*>(api->userdata); }

void fireWatch(AvahiWatch* w, AvahiWatchEvent event) {
    auto* poll = w->poll;
    w->last = event;
    poll->beginDispatch();
    w->callback(w, w->fd, event, w->userdata);  // may free w
    poll->endDispatch();
}

void applyEvents(AvahiWatch* w, AvahiWatchEvent events) {
    w->wanted = events;
    w->read->setEnabled((events & AVAHI_WATCH_IN) != 0);
    w->write->setEnabled((events & AVAHI_WATCH_OUT) != 0);
}

AvahiWatch* watchNew(const AvahiPoll* api, int fd, AvahiWatchEvent events,
                     AvahiWatchCallback callback, void* userdata) {
    auto* w = new AvahiWatch{pollOf(api), fd, events, {}, callback, userdata, nullptr, nullptr};
    w->read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    w->write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(w->read.get(), &QSocketNotifier::activated, w->read.get(),
                     [w] { fireWatch(w, AVAHI_WATCH_IN); });
    QObject::connect(w->write.get(), &QSocketNotifier::activated, w->write.get(),
                     [w] { fireWatch(w, AVAHI_WATCH_OUT); });
    applyEvents(w, events);
    return w;
}

void watchUpdate(AvahiWatch* w, AvahiWatchEvent events) { applyEvents(w, events); }

AvahiWatchEvent watchGetEvents(AvahiWatch* w) { return w->last; }

void watchFree(AvahiWatch* w) {
    w->read->setEnabled(false);
    w->write->setEnabled(false);
    if (w->poll->dispatching())
        w->poll->bury(w);
    else
        delete w;
}

void arm(AvahiTimeout* t, const struct timeval* tv) {
    t->timer->stop();
    if (!tv) return;  // a disabled timeout
    const AvahiUsec untilDue = -avahi_age(tv);
    const auto ms = std::max<AvahiUsec>(0, (untilDue + 999) / 1000);
    t->timer->start(std::chrono::milliseconds(ms));
}

AvahiTimeout* timeoutNew(const AvahiPoll* api, const struct timeval* tv,
                         AvahiTimeoutCallback callback, void* userdata) {
    auto* t = new AvahiTimeout{pollOf(api), callback, userdata, std::make_unique<QTimer>()};
    t->timer->setSingleShot(true);
    t->timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(t->timer.get(), &QTimer::timeout, t->timer.get(), [t] {
        auto* poll = t->poll;
        poll->beginDispatch();
        t->callback(t, t->userdata);  // may free or re-arm t
        poll->endDispatch();
    });
    arm(t, tv);
    return t;
}

void timeoutUpdate(AvahiTimeout* t, const struct timeval* tv) { arm(t, tv); }

void timeoutFree(AvahiTimeout* t) {
    t->timer->stop();
    if (t->poll->dispatching())
        t->poll->bury(t);
    else
        delete t;
}

}  // namespace

QtAvahiPoll::QtAvahiPoll() {
    api_.userdata = this;
    api_.watch_new = watchNew;
    api_.watch_update = watchUpdate;
    api_.watch_get_events = watchGetEvents;
    api_.watch_free = watchFree;
    api_.timeout_new = timeoutNew;
    api_.timeout_update = timeoutUpdate;
    api_.timeout_free = timeoutFree;
}

QtAvahiPoll::~QtAvahiPoll() {
    // Dead objects may still be referenced by a signal that is being delivered when the poll is
    // destroyed from inside a callback; the owner never does that, so free them now.
    for (auto* w : deadWatches_) delete w;
    for (auto* t : deadTimeouts_) delete t;
}

void QtAvahiPoll::bury(AvahiWatch* watch) { deadWatches_.push_back(watch); }

void QtAvahiPoll::bury(AvahiTimeout* timeout) { deadTimeouts_.push_back(timeout); }

void QtAvahiPoll::endDispatch() {
    if (--dispatching_ > 0) return;
    // Avahi may have freed the very watch or timeout whose signal is still on the stack; its Qt
    // object must outlive that signal, so it goes later.
    for (auto* w : std::exchange(deadWatches_, {})) {
        w->read.release()->deleteLater();
        w->write.release()->deleteLater();
        delete w;
    }
    for (auto* t : std::exchange(deadTimeouts_, {})) {
        t->timer.release()->deleteLater();
        delete t;
    }
}

}  // namespace tamborix
