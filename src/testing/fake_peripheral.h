#pragma once
// A Peripheral whose radio, links and centrals the test plays. Outcomes of the port's calls
// (service added, advertising started) and the first state arrive later on the loop, as they do
// from a real stack; the test's own actions (writes, reads, subscriptions) reach the delegate at
// once.

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/liveness.h"
#include "ports/main_loop.h"
#include "ports/peripheral.h"

namespace tamborix::testing {

class FakePeripheralFactory;

class FakePeripheral final : public Peripheral {
public:
    FakePeripheral(FakePeripheralFactory& factory, MainLoop& loop, Delegate& delegate);
    ~FakePeripheral() override;

    // Port
    [[nodiscard]] State state() const override { return state_; }
    void removeAllServices() override;
    void addService(const GattService& service) override;
    void startAdvertising(const Advertisement& advertisement) override;
    void stopAdvertising() override;
    [[nodiscard]] bool updateValue(ByteView value, const std::string& characteristic,
                                   const CentralId& central) override;
    [[nodiscard]] std::size_t maximumUpdateValueLength(const CentralId& central) const override;
    void setLowLatency(const CentralId& central) override { lowLatency.insert(central); }

    // The radio.
    void setState(State state, const std::string& detail = {});
    // Centrals.
    void subscribe(const CentralId& central, const std::string& characteristic);
    void unsubscribe(const CentralId& central, const std::string& characteristic);
    void write(const CentralId& central, const std::string& characteristic, ByteView value);
    void writeBatch(const std::vector<WriteRequest>& requests);
    ReadAnswer read(const CentralId& central, const std::string& characteristic, std::size_t offset);
    // Lets `values` more notifications through to this central, then tells the delegate.
    void makeRoom(const CentralId& central, std::size_t values);
    void setLimitation(const std::string& text);

    // What happened.
    std::vector<GattService> services;  // published now
    std::size_t removals = 0;
    std::optional<Advertisement> advertising;
    std::set<CentralId> lowLatency;
    std::map<CentralId, std::vector<Bytes>> sent;  // delivered notification values
    std::size_t refusals = 0;

    // Behaviour.
    std::map<CentralId, std::size_t> mtu;           // default maximum value length: 20
    std::map<CentralId, std::size_t> room;          // values the link still takes; absent = any
    std::optional<std::string> addServiceError;
    std::optional<std::string> advertisingError;

private:
    FakePeripheralFactory& factory_;
    MainLoop& loop_;
    Delegate& delegate_;
    State state_ = State::unknown;
    Liveness life_;
};

class FakePeripheralFactory final : public PeripheralFactory {
public:
    explicit FakePeripheralFactory(MainLoop& loop) : loop_(loop) {}

    [[nodiscard]] std::unique_ptr<Peripheral> create(Peripheral::Delegate& delegate) override;

    // The state each new peripheral reports first.
    Peripheral::State initialState = Peripheral::State::poweredOn;
    std::string initialDetail;
    std::size_t created = 0;
    // The peripheral alive now, or null.
    [[nodiscard]] FakePeripheral* current() const { return current_; }

private:
    friend class FakePeripheral;
    MainLoop& loop_;
    FakePeripheral* current_ = nullptr;
};

}  // namespace tamborix::testing
