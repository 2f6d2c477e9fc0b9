#pragma once
// What a system service's port does where the platform offers no such service: the helper keeps
// working without it and says so where it matters.

#include <memory>
#include <string>
#include <string_view>

#include "base/liveness.h"
#include "ports/activity_assertion.h"
#include "ports/host_info.h"
#include "ports/main_loop.h"
#include "ports/peripheral.h"
#include "ports/secret_store.h"

namespace tamborix {

// Without any Secret Service the identity key falls back to its private file.
class NoSecretStore final : public SecretStore {
public:
    [[nodiscard]] SecretLookup find(std::string_view) override { return failed(); }
    [[nodiscard]] SecretLookup lookup(std::string_view) override { return failed(); }
    [[nodiscard]] SecretWrite add(std::string_view, std::string_view, ByteView) override {
        return {false, "no secret store in this build"};
    }

private:
    static SecretLookup failed() {
        SecretLookup r;
        r.status = SecretLookup::Status::failed;
        r.error = "no secret store in this build";
        return r;
    }
};

class BookkeepingActivity final : public ActivityAssertion {
public:
    struct Empty final : ActivityHandle {};
    [[nodiscard]] std::unique_ptr<ActivityHandle> begin(std::string_view) override {
        return std::make_unique<Empty>();
    }
};

class PlainHostInfo final : public HostInfo {
public:
    [[nodiscard]] std::string hostName() const override { return {}; }
};

// Where the platform offers no Bluetooth LE peripheral at all.
class UnsupportedPeripheral final : public Peripheral {
public:
    UnsupportedPeripheral(MainLoop& loop, Delegate& delegate) {
        loop.post([alive = life_.watch(), &delegate] {
            if (alive) delegate.stateChanged(State::unsupported, {});
        });
    }
    [[nodiscard]] State state() const override { return State::unsupported; }
    void removeAllServices() override {}
    void addService(const GattService&) override {}
    void startAdvertising(const Advertisement&) override {}
    void stopAdvertising() override {}
    [[nodiscard]] bool updateValue(ByteView, const std::string&, const CentralId&) override { return true; }
    [[nodiscard]] std::size_t maximumUpdateValueLength(const CentralId&) const override { return 20; }
    void setLowLatency(const CentralId&) override {}

private:
    Liveness life_;
};

class UnsupportedPeripheralFactory final : public PeripheralFactory {
public:
    explicit UnsupportedPeripheralFactory(MainLoop& loop) : loop_(loop) {}
    [[nodiscard]] std::unique_ptr<Peripheral> create(Peripheral::Delegate& delegate) override {
        return std::make_unique<UnsupportedPeripheral>(loop_, delegate);
    }

private:
    MainLoop& loop_;
};

}  // namespace tamborix
