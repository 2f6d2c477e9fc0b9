#include "transport/network_server.h"

#include <utility>
#include <vector>

namespace tamborix {

NetworkServer::NetworkServer(MainLoop& loop, SessionEntry& core, StreamListenerFactory& listeners,
                             ServiceAdvertiser* advertiser, std::string serviceName,
                             std::uint16_t port)
    : loop_(loop),
      core_(core),
      listeners_(listeners),
      advertiser_(advertiser),
      serviceName_(std::move(serviceName)),
      port_(port) {
    if (advertiser_) advertiser_->setOnChanged([this] { discoveryChanged_.notify(); });
}

NetworkServer::~NetworkServer() {
    if (advertiser_) advertiser_->setOnChanged(nullptr);
    // Observers hear nothing of the teardown.
    life_.end();
    if (listener_) listener_->cancel();
    listener_.reset();
    if (advertiser_) advertiser_->withdraw();
    auto clients = std::move(clients_);
    clients_.clear();
    for (auto& [key, client] : clients) client->close();
}

DiscoveryState NetworkServer::discovery() const {
    return advertiser_ ? advertiser_->state() : DiscoveryState{};
}

std::optional<std::uint16_t> NetworkServer::boundPort() const {
    if (!listener_ || listener_->localPort() == 0) return std::nullopt;
    return listener_->localPort();
}

void NetworkServer::start() {
    if (running()) return;  // already listening: a second listener would only fail to bind
    if (listener_) {
        listener_->cancel();
        listener_.reset();
    }
    failed_ = false;
    auto created = listeners_.create(port_);
    if (!created.listener) {
        setStatus(failureText(created.error));
        return;
    }
    StreamListener::Handlers handlers;
    handlers.onState = [this, alive = life_.watch()](StreamListener::State state,
                                                     const std::string& error) {
        if (alive) listenerState(state, error);
    };
    handlers.onConnection = [this, alive = life_.watch()](std::unique_ptr<StreamConnection> conn) {
        if (alive)
            accept(std::move(conn));
        else
            conn->cancel();
    };
    listener_ = std::move(created.listener);
    listener_->start(std::move(handlers));
}

void NetworkServer::stop() {
    if (listener_) {
        listener_->cancel();
        listener_.reset();
    }
    failed_ = false;
    if (advertiser_) advertiser_->withdraw();
    auto clients = std::move(clients_);
    clients_.clear();
    unproven_.clear();
    for (auto& [key, client] : clients) client->close();
    const bool hadClients = !clients.empty();
    clients.clear();
    setStatus("Off");
    if (hadClients) clientsChanged_.notify();
}

std::size_t NetworkServer::closeDevice(const std::string& deviceId) {
    std::vector<std::shared_ptr<NetClient>> matching;
    for (const auto& [key, client] : clients_) {
        const auto& s = client->session();
        if (s && s->device && s->device->id == deviceId) matching.push_back(client);
    }
    for (auto& client : matching) client->close();
    return matching.size();
}

void NetworkServer::listenerState(StreamListener::State state, const std::string& error) {
    switch (state) {
        case StreamListener::State::waiting:
            setStatus("Waiting: " + error);
            break;
        case StreamListener::State::failed:
            failed_ = true;
            setStatus(failureText(error));
            if (advertiser_) advertiser_->withdraw();
            break;
        case StreamListener::State::ready: {
            const auto bound = boundPort().value_or(port_);
            setStatus("On (port " + std::to_string(bound) + ")");
            if (advertiser_) advertiser_->advertise(service());
            break;
        }
        case StreamListener::State::setup:
        case StreamListener::State::cancelled:
            break;
    }
}

std::string NetworkServer::failureText(const std::string& error) const {
    return "Failed: port " + std::to_string(port_) + ": " + error;
}

ServiceDescription NetworkServer::service() const {
    ServiceDescription s;
    s.name = serviceName_;
    s.type = serviceType;
    s.port = boundPort().value_or(port_);
    s.txt = {{"v", "2"}, {"os", "linux"}};
    return s;
}

void NetworkServer::accept(std::unique_ptr<StreamConnection> conn) {
    if (provenCount() >= maxClients) {
        conn->cancel();
        return;
    }
    const auto host = conn->remoteHost();
    auto client = std::make_shared<NetClient>(loop_, std::move(conn), core_,
                                              [this, alive = life_.watch()](NetClient& c) {
                                                  if (alive) removeClient(c);
                                              });
    client->setOnProven([this, alive = life_.watch()](NetClient& c) {
        if (alive) clientProven(c);
    });
    if (const auto pushedOut = unproven_.admit(client.get(), host)) {
        const auto it = clients_.find(static_cast<const NetClient*>(*pushedOut));
        if (it != clients_.end()) {
            const auto victim = it->second;
            victim->close();
        }
    }
    clients_.emplace(client.get(), client);
    clientsChanged_.notify();
    client->start();
}

void NetworkServer::clientProven(NetClient& client) {
    unproven_.release(&client);
    // Several may finish their handshakes while the phones' places are taken.
    if (provenCount() > maxClients) client.close();
}

void NetworkServer::removeClient(NetClient& client) {
    unproven_.release(&client);
    if (clients_.erase(&client) > 0) clientsChanged_.notify();
}

void NetworkServer::setStatus(std::string status) {
    if (status == status_) return;
    status_ = std::move(status);
    statusChanged_.notify();
}

}  // namespace tamborix
