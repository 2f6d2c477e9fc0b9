#pragma once
// Waits, on a thread of its own and over a private D-Bus connection, until the Secret Service
// item of one service and account is readable: it asks the service once to unlock the item (the
// service shows its own prompt) and then looks again every second, without a time limit, until
// the item is unlocked (by that prompt or any other way) or the service appeared where there was
// none. Stopped (and the prompt dismissed) when destroyed.

#include <functional>
#include <string>

#include "base/worker.h"

namespace tamborix {

class SecretUnlockWatch {
public:
    // `found` runs once, on the watch's thread. Without a session bus nothing is watched.
    SecretUnlockWatch(std::string busAddress, std::string service, std::string account,
                      std::function<void()> found);
    ~SecretUnlockWatch();
    SecretUnlockWatch(const SecretUnlockWatch&) = delete;
    SecretUnlockWatch& operator=(const SecretUnlockWatch&) = delete;

private:
    void run();

    std::string busAddress_;
    std::string service_;
    std::string account_;
    std::function<void()> found_;
    Worker worker_{Worker::AtStop::dropQueued};
};

}  // namespace tamborix
