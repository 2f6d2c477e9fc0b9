#pragma once
// A ServiceAdvertiser that records what it was asked to publish; the test decides the outcome.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ports/service_advertiser.h"

namespace tamborix::testing {

class FakeServiceAdvertiser final : public ServiceAdvertiser {
public:
    std::vector<ServiceDescription> advertised;  // every advertise() call
    std::size_t withdrawals = 0;
    std::optional<ServiceDescription> current;   // what is published now

    void advertise(ServiceDescription service) override {
        advertised.push_back(service);
        current = service;
        set({DiscoveryState::Phase::registering, service.name, {}});
    }
    void withdraw() override {
        ++withdrawals;
        current.reset();
        set({});
    }
    [[nodiscard]] const DiscoveryState& state() const override { return state_; }
    void setOnChanged(std::function<void()> onChanged) override { onChanged_ = std::move(onChanged); }

    // The daemon's verdict on the current registration.
    void establish() { set({DiscoveryState::Phase::advertised, current ? current->name : "", {}}); }
    void failWith(std::string reason) {
        set({DiscoveryState::Phase::unavailable, {}, std::move(reason)});
    }

private:
    void set(DiscoveryState state) {
        if (state == state_) return;
        state_ = std::move(state);
        if (onChanged_) onChanged_();
    }

    DiscoveryState state_;
    std::function<void()> onChanged_;
};

}  // namespace tamborix::testing
