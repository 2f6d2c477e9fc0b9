#include "platform/linux/services/avahi/avahi_advertiser.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include <QTimer>
#include <chrono>
#include <utility>

#include "base/owned.h"

namespace tamborix {

namespace {

constexpr int maxRenames = 32;          // alternative names tried after collisions
constexpr int reconnectAfterMs = 5000;  // after the client itself failed
// While waiting for a daemon the client relies on a bus signal announcing it; a daemon that
// appears while the client is still setting up can slip past that, so look again now and then.
constexpr int recheckDaemonMs = 10000;

std::string errorText(int error) { return avahi_strerror(error); }

}  // namespace

AvahiServiceAdvertiser::AvahiServiceAdvertiser()
    : poll_(std::make_unique<QtAvahiPoll>()), reconnect_(std::make_unique<QTimer>()) {
    reconnect_->setSingleShot(true);
    QObject::connect(reconnect_.get(), &QTimer::timeout, reconnect_.get(), [this] {
        if (client_) {
            client_.reset();
            group_ = nullptr;  // freed with its client
        }
        if (wanted_) connectClient();
    });
}

AvahiServiceAdvertiser::~AvahiServiceAdvertiser() {
    onChanged_ = nullptr;
    reconnect_.reset();
    client_.reset();  // withdraws and frees the entry group too
}

std::string AvahiServiceAdvertiser::serviceLabel(const std::string& name) {
    constexpr std::size_t maxBytes = 63;
    if (name.size() <= maxBytes) return name;
    std::size_t cut = maxBytes;
    // Back up over UTF-8 continuation bytes so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}

void AvahiServiceAdvertiser::advertise(ServiceDescription service) {
    service.name = serviceLabel(service.name);
    if (wanted_ == service && state_.phase != DiscoveryState::Phase::off &&
        state_.phase != DiscoveryState::Phase::unavailable)
        return;
    wanted_ = std::move(service);
    nameInUse_ = wanted_->name;
    renames_ = 0;
    if (!client_) {
        connectClient();
        return;
    }
    if (group_) avahi_entry_group_reset(group_);
    if (avahi_client_get_state(client_.get()) == AVAHI_CLIENT_S_RUNNING)
        publish(client_.get());
    else
        clientState(client_.get(), avahi_client_get_state(client_.get()));
}

void AvahiServiceAdvertiser::withdraw() {
    wanted_.reset();
    reconnect_->stop();
    if (group_) avahi_entry_group_reset(group_);
    set({});
}

void AvahiServiceAdvertiser::connectClient() {
    int error = 0;
    // NO_FAIL: without a daemon the client waits for one instead of failing.
    auto* client = avahi_client_new(poll_->api(), AVAHI_CLIENT_NO_FAIL, clientCallback, this,
                                    &error);
    if (!client) {
        unavailable(errorText(error));
        scheduleReconnect(reconnectAfterMs);
        return;
    }
    client_.reset(client);
}

void AvahiServiceAdvertiser::scheduleReconnect(int afterMs) {
    reconnect_->start(std::chrono::milliseconds(afterMs));
}

void AvahiServiceAdvertiser::clientCallback(AvahiClient* client, AvahiClientState state,
                                            void* self) {
    static_cast<AvahiServiceAdvertiser*>(self)->clientState(client, state);
}

void AvahiServiceAdvertiser::groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state,
                                           void* self) {
    static_cast<AvahiServiceAdvertiser*>(self)->groupState(group, state);
}

void AvahiServiceAdvertiser::clientState(AvahiClient* client, AvahiClientState state) {
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            reconnect_->stop();
            if (wanted_) publish(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The daemon is (re)establishing its host name; services follow once it runs.
            if (group_) avahi_entry_group_reset(group_);
            if (wanted_) set({DiscoveryState::Phase::registering, nameInUse_, {}});
            break;
        case AVAHI_CLIENT_CONNECTING:
            if (wanted_) unavailable(errorText(AVAHI_ERR_NO_DAEMON));
            scheduleReconnect(recheckDaemonMs);
            break;
        case AVAHI_CLIENT_FAILURE:
            if (wanted_) unavailable(errorText(avahi_client_errno(client)));
            // The client cannot be freed from inside its own callback.
            scheduleReconnect(avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED ? 0
                                                                                  : reconnectAfterMs);
            break;
    }
}

void AvahiServiceAdvertiser::publish(AvahiClient* client) {
    if (!wanted_) return;
    if (!group_) {
        group_ = avahi_entry_group_new(client, groupCallback, this);
        if (!group_) {
            unavailable(errorText(avahi_client_errno(client)));
            return;
        }
    }
    if (!avahi_entry_group_is_empty(group_)) avahi_entry_group_reset(group_);

    Owned<AvahiStringList, avahi_string_list_free> txt;
    // The list is built back to front; prepend in reverse to keep the given order.
    for (auto it = wanted_->txt.rbegin(); it != wanted_->txt.rend(); ++it)
        txt.reset(avahi_string_list_add_pair(txt.release(), it->first.c_str(), it->second.c_str()));
    for (;;) {
        const int added = avahi_entry_group_add_service_strlst(
            group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
            nameInUse_.c_str(), wanted_->type.c_str(), nullptr, nullptr, wanted_->port, txt.get());
        if (added == AVAHI_ERR_COLLISION && renames_ < maxRenames) {
            renameAfterCollision();
            continue;
        }
        if (added < 0) {
            unavailable(errorText(added));
            return;
        }
        break;
    }
    set({DiscoveryState::Phase::registering, nameInUse_, {}});
    if (const int committed = avahi_entry_group_commit(group_); committed < 0)
        unavailable(errorText(committed));
}

void AvahiServiceAdvertiser::renameAfterCollision() {
    ++renames_;
    const Owned<char, avahi_free> next(avahi_alternative_service_name(nameInUse_.c_str()));
    if (next) nameInUse_ = next.get();
}

void AvahiServiceAdvertiser::groupState(AvahiEntryGroup* group, AvahiEntryGroupState state) {
    if (group != group_ && group_) return;
    switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            if (wanted_) set({DiscoveryState::Phase::advertised, nameInUse_, {}});
            break;
        case AVAHI_ENTRY_GROUP_COLLISION:
            if (!wanted_) break;
            if (renames_ >= maxRenames) {
                unavailable(errorText(AVAHI_ERR_COLLISION));
                break;
            }
            renameAfterCollision();
            publish(avahi_entry_group_get_client(group));
            break;
        case AVAHI_ENTRY_GROUP_FAILURE:
            if (wanted_)
                unavailable(errorText(avahi_client_errno(avahi_entry_group_get_client(group))));
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
    }
}

void AvahiServiceAdvertiser::unavailable(std::string reason) {
    set({DiscoveryState::Phase::unavailable, {}, std::move(reason)});
}

void AvahiServiceAdvertiser::set(DiscoveryState state) {
    if (state == state_) return;
    state_ = std::move(state);
    if (onChanged_) onChanged_();
}

}  // namespace tamborix
