#pragma once
// DNS-SD advertising through the Avahi daemon (libavahi-client over the system D-Bus), driven by
// the Qt event loop. A missing or failing daemon only shows in the state: the client keeps
// waiting for the daemon and publishes as soon as it appears.

#include <avahi-client/client.h>
#include <avahi-client/publish.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/owned.h"
#include "platform/linux/services/avahi/qt_avahi_poll.h"
#include "ports/service_advertiser.h"

class QTimer;

namespace tamborix {

class AvahiServiceAdvertiser final : public ServiceAdvertiser {
public:
    // Needs a Qt event loop on this thread. Nothing talks to the daemon before advertise().
    AvahiServiceAdvertiser();
    ~AvahiServiceAdvertiser() override;
    AvahiServiceAdvertiser(const AvahiServiceAdvertiser&) = delete;
    AvahiServiceAdvertiser& operator=(const AvahiServiceAdvertiser&) = delete;

    void advertise(ServiceDescription service) override;
    void withdraw() override;
    [[nodiscard]] const DiscoveryState& state() const override { return state_; }
    void setOnChanged(std::function<void()> onChanged) override { onChanged_ = std::move(onChanged); }

    // DNS labels hold at most 63 bytes; longer names are cut at a character boundary.
    [[nodiscard]] static std::string serviceLabel(const std::string& name);

private:
    static void clientCallback(AvahiClient* client, AvahiClientState state, void* self);
    static void groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);

    void connectClient();
    void scheduleReconnect(int afterMs);
    void clientState(AvahiClient* client, AvahiClientState state);
    void groupState(AvahiEntryGroup* group, AvahiEntryGroupState state);
    void publish(AvahiClient* client);
    void renameAfterCollision();
    void unavailable(std::string reason);
    void set(DiscoveryState state);

    std::unique_ptr<QtAvahiPoll> poll_;
    Owned<AvahiClient, avahi_client_free> client_;  // uses poll_
    AvahiEntryGroup* group_ = nullptr;                // freed with client_
    std::unique_ptr<QTimer> reconnect_;
    std::optional<ServiceDescription> wanted_;
    std::string nameInUse_;
    int renames_ = 0;
    DiscoveryState state_;
    std::function<void()> onChanged_;
};

}  // namespace tamborix
