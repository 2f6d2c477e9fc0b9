#include "transport/bluetooth_server.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "protocol/secure_session.h"

namespace tamborix {

namespace {

bool isJson(ByteView message) { return !message.empty() && message[0] == '{'; }

}  // namespace

BluetoothServer::BluetoothServer(MainLoop& loop, SessionEntry& core, PeripheralFactory& peripherals)
    : loop_(loop), core_(core), peripherals_(peripherals) {}

BluetoothServer::~BluetoothServer() {
    // Observers hear nothing of the teardown, but the core learns of every session's end.
    life_.end();
    reaper_.reset();
    manager_.reset();
    auto sessions = std::move(sessions_);
    sessions_.clear();
    for (auto& [id, conn] : sessions) core_.closed(conn);
}

Bytes BluetoothServer::infoValue() {
    try {
        return toBytes(nlohmann::json{{"t", "info"}, {"v", 2}, {"os", "linux"}}.dump());
    } catch (const std::exception&) {
        return {};
    }
}

std::string BluetoothServer::peerDescription(const CentralId& central) {
    std::string hex;
    for (const char c : central) {
        if (hex.size() == 8) break;
        if (std::isxdigit(static_cast<unsigned char>(c)))
            hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return "bluetooth:" + hex;
}

std::size_t BluetoothServer::backlog() const {
    std::size_t n = 0;
    for (const auto& [id, box] : outboxes_) n += box.size();
    return n;
}

void BluetoothServer::start() {
    if (manager_) return;
    serviceReady_ = false;
    manager_ = peripherals_.create(*this);
}

void BluetoothServer::stop() {
    if (manager_) {
        manager_->stopAdvertising();
        manager_->removeAllServices();
        manager_.reset();
    }
    serviceReady_ = false;
    reaper_.reset();
    std::vector<CentralId> ids;
    for (const auto& [id, conn] : sessions_) ids.push_back(id);
    for (const auto& id : ids) drop(id);
    limitation_.clear();
    setStatus("Off");
}

std::size_t BluetoothServer::closeDevice(const std::string& deviceId) {
    std::vector<CentralId> matching;
    for (const auto& [id, conn] : sessions_) {
        if (conn->device && conn->device->id == deviceId) matching.push_back(id);
    }
    for (const auto& id : matching) drop(id);
    return matching.size();
}

void BluetoothServer::stateChanged(Peripheral::State state, const std::string& detail) {
    switch (state) {
        case Peripheral::State::unsupported:
            setStatus("Not supported on this computer");
            break;
        case Peripheral::State::unauthorized:
            setStatus(detail.empty() ? "Needs Bluetooth permission"
                                     : "Needs Bluetooth permission (" + detail + ")");
            break;
        case Peripheral::State::poweredOff:
            setStatus("Bluetooth is off");
            break;
        case Peripheral::State::poweredOn: {
            GattService service;
            service.uuid = serviceUUID;
            service.characteristics = {
                {cmdUUID, gatt::propWrite | gatt::propWriteWithoutResponse, gatt::permWriteable},
                {statusUUID, gatt::propRead | gatt::propNotify, gatt::permReadable}};
            serviceReady_ = true;
            manager_->removeAllServices();
            manager_->addService(service);
            break;
        }
        case Peripheral::State::unknown:
        case Peripheral::State::resetting:
            break;
    }
}

void BluetoothServer::serviceAdded(const std::optional<std::string>& error) {
    if (!manager_) return;
    if (error) {
        setStatus("Failed: " + *error);
        return;
    }
    manager_->startAdvertising(Advertisement{{serviceUUID}, localName});
}

void BluetoothServer::advertisingStarted(const std::optional<std::string>& error) {
    if (error) {
        setStatus("Failed: " + *error);
        return;
    }
    setStatus(limitation_.empty() ? "On" : "On (" + limitation_ + ")");
}

void BluetoothServer::limitationChanged(const std::string& limitation) {
    limitation_ = limitation;
    if (status_.starts_with("On")) setStatus(limitation_.empty() ? "On" : "On (" + limitation_ + ")");
}

void BluetoothServer::subscribed(const CentralId& central, const std::string&) {
    centrals_.insert(central);
    if (manager_) manager_->setLowLatency(central);
}

void BluetoothServer::unsubscribed(const CentralId& central, const std::string&) {
    drop(central);
    centrals_.erase(central);
}

void BluetoothServer::writesReceived(const std::vector<Peripheral::WriteRequest>& requests) {
    for (const auto& request : requests) {
        if (request.characteristic != cmdUUID || !request.value) continue;
        handleWrite(*request.value, request.central);
    }
}

void BluetoothServer::handleWrite(ByteView value, const CentralId& central) {
    centrals_.insert(central);
    if (value.empty()) return;
    auto message = reassemblers_[central].push(value);
    if (!message) return;
    if (message->empty() || message->size() > maxMessage) return;
    if (isJson(*message))
        handleHandshake(*message, central);
    else
        handleFrame(std::move(*message), central);
}

void BluetoothServer::handleHandshake(const Bytes& message, const CentralId& central) {
    bool changed = false;
    if (auto it = sessions_.find(central); it != sessions_.end()) {
        auto old = std::move(it->second);
        sessions_.erase(it);
        core_.closed(old);
        changed = true;
    }
    // Whatever the old session still had waiting (a frame held for the user's approval and the
    // ones behind it, notifications not yet sent) belongs to a session that has ended: the new
    // one must neither wait behind it nor end with it.
    chains_.erase(central);
    outboxes_.erase(central);
    auto outcome = core_.handshake(message, peerDescription(central), transportName);
    std::string json;
    try {
        json = outcome.reply.dump();
    } catch (const std::exception&) {
        json.clear();
    }
    notify(toBytes(json), central);
    if (outcome.conn) {
        if (sessions_.size() >= maxSessions) {
            const auto oldest = std::min_element(
                sessions_.begin(), sessions_.end(),
                [](const auto& a, const auto& b) { return a.second->lastRx < b.second->lastRx; });
            drop(oldest->first);
        }
        auto conn = outcome.conn;
        sessions_[central] = conn;
        // Only sessions go idle: without one the reaper would wake an idle helper for nothing.
        if (!reaper_) {
            reaper_ = loop_.repeating(reapEvery, [this, alive = life_.watch()] {
                if (alive) reap();
            });
        }
        conn->push = [this, alive = life_.watch(), central](const Bytes& frame) {
            if (alive) notify(frame, central);
        };
        changed = true;
        if (auto ready = core_.readyFrame(conn)) notify(*ready, central);
    }
    if (changed) sessionsChanged_.notify();
}

void BluetoothServer::handleFrame(Bytes message, const CentralId& central) {
    const auto it = sessions_.find(central);
    if (it == sessions_.end()) return;
    const auto conn = it->second;
    const auto sid = SecureSession::frameSID(message);
    if (!sid || !conn->session || *sid != conn->session->sid()) return;

    if (conn->authenticated() && !chains_.contains(central)) {
        try {
            core_.onFrameNow(conn, message);
        } catch (...) {
            drop(central);
        }
        return;
    }
    auto& chain = chains_[central];
    if (!chain) chain = std::make_shared<Chain>();
    chain->waiting.push_back({conn, std::move(message)});
    runChain(central, chain);
}

void BluetoothServer::runChain(const CentralId& central, const std::shared_ptr<Chain>& chain) {
    if (chain->dispatching) return;  // the loop below picks the next frame up
    chain->dispatching = true;
    while (!chain->busy && !chain->waiting.empty()) {
        auto item = std::move(chain->waiting.front());
        chain->waiting.pop_front();
        const auto it = sessions_.find(central);
        // The session this frame belonged to ended or was replaced meanwhile.
        if (it == sessions_.end() || it->second != item.conn) continue;
        chain->busy = true;
        core_.onFrame(item.conn, std::move(item.message),
                      [this, alive = life_.watch(), central, chain](std::exception_ptr error,
                                                                   std::vector<Bytes> frames) {
                          if (alive) chainDone(central, chain, error, std::move(frames));
                      });
    }
    chain->dispatching = false;
    if (!chain->busy && chain->waiting.empty()) {
        if (auto it = chains_.find(central); it != chains_.end() && it->second == chain)
            chains_.erase(it);
    }
}

void BluetoothServer::chainDone(const CentralId& central, const std::shared_ptr<Chain>& chain,
                                std::exception_ptr error, std::vector<Bytes> frames) {
    chain->busy = false;
    // A new handshake of this central replaced the chain: the answer is for an ended session.
    if (const auto it = chains_.find(central); it == chains_.end() || it->second != chain) return;
    if (error) {
        drop(central);
    } else {
        for (const auto& frame : frames) notify(frame, central);
    }
    runChain(central, chain);
}

void BluetoothServer::notify(ByteView message, const CentralId& central) {
    if (!manager_ || !serviceReady_ || !centrals_.contains(central)) return;
    std::vector<Bytes> values;
    if (isJson(message)) {
        values.emplace_back(message.begin(), message.end());
        lastStatus_[central] = values.front();
    } else {
        values = BLEFragments::split(message, manager_->maximumUpdateValueLength(central));
        if (values.empty()) values.emplace_back();
    }
    auto& box = outboxes_[central];
    for (auto& value : values) {
        if (box.empty() && manager_->updateValue(value, statusUUID, central)) continue;
        box.push_back(std::move(value));
    }
    if (box.size() > maxOutbox) {
        outboxes_.erase(central);
        drop(central);
    } else if (box.empty()) {
        outboxes_.erase(central);
    }
}

void BluetoothServer::readyToUpdate() {
    if (!manager_ || !serviceReady_) return;
    std::vector<CentralId> ids;
    for (const auto& [id, box] : outboxes_) ids.push_back(id);
    for (const auto& id : ids) {
        if (!centrals_.contains(id)) {
            outboxes_.erase(id);
            continue;
        }
        auto& box = outboxes_[id];
        while (!box.empty()) {
            if (!manager_->updateValue(box.front(), statusUUID, id)) return;
            box.pop_front();
        }
        outboxes_.erase(id);
    }
}

Peripheral::ReadAnswer BluetoothServer::readReceived(const Peripheral::ReadRequest& request) {
    const auto it = lastStatus_.find(request.central);
    const Bytes value = it != lastStatus_.end() ? it->second : infoValue();
    if (request.offset > value.size()) return {Peripheral::ReadResult::invalidOffset, {}};
    return {Peripheral::ReadResult::success,
            Bytes(value.begin() + static_cast<std::ptrdiff_t>(request.offset), value.end())};
}

void BluetoothServer::drop(CentralId central) {
    bool changed = false;
    if (auto it = sessions_.find(central); it != sessions_.end()) {
        auto conn = std::move(it->second);
        sessions_.erase(it);
        if (sessions_.empty()) reaper_.reset();
        core_.closed(conn);
        changed = true;
    }
    lastStatus_.erase(central);
    outboxes_.erase(central);
    chains_.erase(central);
    reassemblers_.erase(central);
    if (changed) sessionsChanged_.notify();
}

void BluetoothServer::reap() {
    const auto now = loop_.now();
    std::vector<CentralId> idle;
    for (const auto& [id, conn] : sessions_) {
        if (now - conn->lastRx > idleLimit) idle.push_back(id);
    }
    for (const auto& id : idle) drop(id);
}

void BluetoothServer::setStatus(std::string status) {
    if (status == status_) return;
    status_ = std::move(status);
    statusChanged_.notify();
}

}  // namespace tamborix
