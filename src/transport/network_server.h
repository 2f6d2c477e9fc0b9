#pragma once
// The helper's TCP entry point: listens on every interface, advertises itself over DNS-SD,
// serves up to 16 phones at once beside a budget of connections still proving themselves, and
// publishes a one-line status for the menu.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/liveness.h"
#include "core/session_entry.h"
#include "ports/main_loop.h"
#include "ports/service_advertiser.h"
#include "ports/stream.h"
#include "base/change_signal.h"
#include "transport/handshake_budget.h"
#include "transport/net_client.h"

namespace tamborix {

class NetworkServer {
public:
    static constexpr std::uint16_t defaultPort = 50505;
    // Sessions of phones that proved themselves (paired, or pairing with their proof sent).
    static constexpr std::size_t maxClients = 16;
    // Connections that have not proven themselves have places of their own, so that they can
    // never take a phone's: at most this many from one address (an IPv6 /64), this many in all,
    // the newest pushing out the oldest.
    static constexpr std::size_t maxUnprovenPerHost = HandshakeBudget::defaultPerGroup;
    static constexpr std::size_t maxUnproven = HandshakeBudget::defaultTotal;
    static constexpr const char* serviceType = "_velmorand._tcp";

    // `advertiser` may be null (no DNS-SD); `serviceName` is the core's host name.
    NetworkServer(MainLoop& loop, SessionEntry& core, StreamListenerFactory& listeners,
                  ServiceAdvertiser* advertiser, std::string serviceName,
                  std::uint16_t port = defaultPort);
    ~NetworkServer();
    NetworkServer(const NetworkServer&) = delete;
    NetworkServer& operator=(const NetworkServer&) = delete;

    // While stopped or after the listener failed (then it tries again). The status changes when
    // the listener reports its state.
    void start();
    // Cancels the listener, closes every client, withdraws the service; status "Off".
    void stop();

    // Ends every client whose session belongs to this paired device (after it was unpaired, so a
    // connected phone loses control at once). Returns how many were closed.
    std::size_t closeDevice(const std::string& deviceId);

    [[nodiscard]] const std::string& status() const noexcept { return status_; }
    [[nodiscard]] std::size_t clientCount() const noexcept { return clients_.size(); }
    [[nodiscard]] std::size_t unprovenCount() const noexcept { return unproven_.size(); }
    [[nodiscard]] std::uint16_t port() const noexcept { return port_; }
    // The port actually listened on, once the listener is ready.
    [[nodiscard]] std::optional<std::uint16_t> boundPort() const;
    // Listening, or on the way there; false once the listener failed.
    [[nodiscard]] bool running() const noexcept { return listener_ != nullptr && !failed_; }

    // Whether the listener can be found over DNS-SD (off when there is no advertiser).
    [[nodiscard]] DiscoveryState discovery() const;

    // Notified after status(), clientCount() or discovery() changed, respectively.
    [[nodiscard]] Subscription onStatusChanged(std::function<void()> fn) {
        return statusChanged_.subscribe(std::move(fn));
    }
    [[nodiscard]] Subscription onClientsChanged(std::function<void()> fn) {
        return clientsChanged_.subscribe(std::move(fn));
    }
    [[nodiscard]] Subscription onDiscoveryChanged(std::function<void()> fn) {
        return discoveryChanged_.subscribe(std::move(fn));
    }

private:
    void listenerState(StreamListener::State state, const std::string& error);
    void accept(std::unique_ptr<StreamConnection> conn);
    void removeClient(NetClient& client);
    void clientProven(NetClient& client);
    [[nodiscard]] std::size_t provenCount() const noexcept {
        return clients_.size() - unproven_.size();
    }
    void setStatus(std::string status);
    [[nodiscard]] std::string failureText(const std::string& error) const;
    [[nodiscard]] ServiceDescription service() const;

    MainLoop& loop_;
    SessionEntry& core_;
    StreamListenerFactory& listeners_;
    ServiceAdvertiser* advertiser_;
    std::string serviceName_;
    std::uint16_t port_;
    std::string status_ = "Starting…";
    std::unique_ptr<StreamListener> listener_;
    bool failed_ = false;
    std::map<const NetClient*, std::shared_ptr<NetClient>> clients_;
    HandshakeBudget unproven_;  // the clients of clients_ that have not proven themselves
    ChangeSignal<> statusChanged_;
    ChangeSignal<> clientsChanged_;
    ChangeSignal<> discoveryChanged_;
    // Handlers given away hold this weakly, so a late callback after destruction is harmless.
    Liveness life_;
};

}  // namespace tamborix
