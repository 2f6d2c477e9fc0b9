#pragma once
// "Is my owner still alive" for work that outlives a call: a posted job, a timer, a D-Bus reply.
// The owner keeps a Liveness member; each closure captures a watch() and checks it before it
// touches the owner. Watches may be copied and checked on any thread, but only the owner's thread
// may rely on a true answer staying true.

#include <memory>

namespace tamborix {

class Liveness {
public:
    class Watch {
    public:
        Watch() = default;
        [[nodiscard]] bool alive() const noexcept { return !token_.expired(); }
        explicit operator bool() const noexcept { return alive(); }

    private:
        friend class Liveness;
        explicit Watch(std::weak_ptr<const void> token) : token_(std::move(token)) {}
        std::weak_ptr<const void> token_;
    };

    Liveness() = default;
    Liveness(const Liveness&) = delete;
    Liveness& operator=(const Liveness&) = delete;

    [[nodiscard]] Watch watch() const { return Watch(token_); }
    // From now on every watch says the owner is gone, before the owner actually is (a destructor
    // that still runs code which could call back, a connection that was cancelled).
    void end() noexcept { token_.reset(); }

private:
    std::shared_ptr<const void> token_ = std::make_shared<const char>();
};

}  // namespace tamborix
