#include "testing/fake_peripheral.h"

#include <utility>

namespace tamborix::testing {

FakePeripheral::FakePeripheral(FakePeripheralFactory& factory, MainLoop& loop, Delegate& delegate)
    : factory_(factory), loop_(loop), delegate_(delegate) {
    factory_.current_ = this;
    loop_.post([this, alive = life_.watch(), state = factory.initialState,
                detail = factory.initialDetail] {
        if (alive) setState(state, detail);
    });
}

FakePeripheral::~FakePeripheral() {
    life_.end();
    if (factory_.current_ == this) factory_.current_ = nullptr;
}

void FakePeripheral::removeAllServices() {
    ++removals;
    services.clear();
}

void FakePeripheral::addService(const GattService& service) {
    loop_.post([this, alive = life_.watch(), service] {
        if (!alive) return;
        if (!addServiceError) services.push_back(service);
        delegate_.serviceAdded(addServiceError);
    });
}

void FakePeripheral::startAdvertising(const Advertisement& advertisement) {
    loop_.post([this, alive = life_.watch(), advertisement] {
        if (!alive) return;
        if (!advertisingError) advertising = advertisement;
        delegate_.advertisingStarted(advertisingError);
    });
}

void FakePeripheral::stopAdvertising() { advertising.reset(); }

bool FakePeripheral::updateValue(ByteView value, const std::string&, const CentralId& central) {
    if (auto it = room.find(central); it != room.end()) {
        if (it->second == 0) {
            ++refusals;
            return false;
        }
        --it->second;
    }
    sent[central].emplace_back(value.begin(), value.end());
    return true;
}

std::size_t FakePeripheral::maximumUpdateValueLength(const CentralId& central) const {
    const auto it = mtu.find(central);
    return it == mtu.end() ? 20 : it->second;
}

void FakePeripheral::setState(State state, const std::string& detail) {
    state_ = state;
    delegate_.stateChanged(state, detail);
}

void FakePeripheral::subscribe(const CentralId& central, const std::string& characteristic) {
    delegate_.subscribed(central, characteristic);
}

void FakePeripheral::unsubscribe(const CentralId& central, const std::string& characteristic) {
    delegate_.unsubscribed(central, characteristic);
}

void FakePeripheral::write(const CentralId& central, const std::string& characteristic,
                           ByteView value) {
    writeBatch({WriteRequest{central, characteristic, Bytes(value.begin(), value.end())}});
}

void FakePeripheral::writeBatch(const std::vector<WriteRequest>& requests) {
    delegate_.writesReceived(requests);
}

Peripheral::ReadAnswer FakePeripheral::read(const CentralId& central,
                                            const std::string& characteristic,
                                            std::size_t offset) {
    return delegate_.readReceived({central, characteristic, offset});
}

void FakePeripheral::makeRoom(const CentralId& central, std::size_t values) {
    room[central] += values;
    delegate_.readyToUpdate();
}

void FakePeripheral::setLimitation(const std::string& text) { delegate_.limitationChanged(text); }

std::unique_ptr<Peripheral> FakePeripheralFactory::create(Peripheral::Delegate& delegate) {
    ++created;
    return std::make_unique<FakePeripheral>(*this, loop_, delegate);
}

}  // namespace tamborix::testing
