#pragma once
// A list of observers with RAII subscriptions. Observers may subscribe or unsubscribe (including
// themselves) while a notification runs, and a subscription may outlive the signal.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace tamborix {

class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset() {
        if (auto cancel = std::exchange(cancel_, {})) cancel();
    }
    [[nodiscard]] bool active() const { return static_cast<bool>(cancel_); }

private:
    std::function<void()> cancel_;
};

template <typename... Args>
class ChangeSignal {
public:
    using Observer = std::function<void(Args...)>;

    ChangeSignal() : observers_(std::make_shared<Map>()) {}
    ChangeSignal(const ChangeSignal&) = delete;
    ChangeSignal& operator=(const ChangeSignal&) = delete;

    [[nodiscard]] Subscription subscribe(Observer observer) {
        const auto id = nextId_++;
        (*observers_)[id] = std::make_shared<Observer>(std::move(observer));
        return Subscription([weak = std::weak_ptr<Map>(observers_), id] {
            if (auto map = weak.lock()) map->erase(id);
        });
    }

    void notify(Args... args) const {
        // A snapshot, so observers added during the call wait for the next one; an observer
        // removed during the call is skipped if it has not run yet.
        std::vector<std::pair<std::uint64_t, std::shared_ptr<Observer>>> snapshot(
            observers_->begin(), observers_->end());
        const std::weak_ptr<Map> weak = observers_;
        for (auto& [id, observer] : snapshot) {
            auto map = weak.lock();
            if (!map || !map->contains(id)) continue;
            (*observer)(args...);
        }
    }

    [[nodiscard]] std::size_t size() const { return observers_->size(); }

private:
    using Map = std::map<std::uint64_t, std::shared_ptr<Observer>>;
    std::shared_ptr<Map> observers_;
    std::uint64_t nextId_ = 1;
};

}  // namespace tamborix
