#pragma once
// Avahi's abstract event loop (AvahiPoll) on the Qt event loop of the current thread: watches
// are socket notifiers, timeouts are single-shot timers.

#include <avahi-common/watch.h>

#include <memory>
#include <vector>

namespace tamborix {

class QtAvahiPoll {
public:
    QtAvahiPoll();
    ~QtAvahiPoll();
    QtAvahiPoll(const QtAvahiPoll&) = delete;
    QtAvahiPoll& operator=(const QtAvahiPoll&) = delete;

    [[nodiscard]] const AvahiPoll* api() const noexcept { return &api_; }

    // Bookkeeping for objects that Avahi frees from inside their own callbacks.
    struct Dispatch;
    void beginDispatch() noexcept { ++dispatching_; }
    void endDispatch();
    [[nodiscard]] bool dispatching() const noexcept { return dispatching_ > 0; }
    void bury(AvahiWatch* watch);
    void bury(AvahiTimeout* timeout);

private:
    AvahiPoll api_{};
    int dispatching_ = 0;
    std::vector<AvahiWatch*> deadWatches_;
    std::vector<AvahiTimeout*> deadTimeouts_;
};

}  // namespace tamborix
