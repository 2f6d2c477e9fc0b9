#pragma once
// DNS-SD advertising of the TCP listener. The Linux backend is Avahi. Advertising is best effort:
// whatever happens here never affects the listener itself.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tamborix {

struct ServiceDescription {
    std::string name;  // instance name; the advertiser may have to pick an alternative
    std::string type;  // for example "_velmorand._tcp"
    std::uint16_t port = 0;
    std::vector<std::pair<std::string, std::string>> txt;

    friend bool operator==(const ServiceDescription&, const ServiceDescription&) = default;
};

struct DiscoveryState {
    enum class Phase { off, registering, advertised, unavailable };
    Phase phase = Phase::off;
    std::string name;    // the name in use (registering, advertised)
    std::string reason;  // why it is unavailable

    [[nodiscard]] bool discoverable() const noexcept { return phase == Phase::advertised; }
    // The line the menu shows.
    [[nodiscard]] std::string text() const {
        switch (phase) {
            case Phase::off: return "Discovery — off";
            case Phase::registering: return "Discovery — registering “" + name + "”…";
            case Phase::advertised: return "Discovery — advertised as “" + name + "”";
            case Phase::unavailable: return "Discovery — unavailable: " + reason;
        }
        return {};
    }

    friend bool operator==(const DiscoveryState&, const DiscoveryState&) = default;
};

class ServiceAdvertiser {
public:
    virtual ~ServiceAdvertiser() = default;

    // Publishes `service`, replacing whatever was published before.
    virtual void advertise(ServiceDescription service) = 0;
    // Removes the published service, if any.
    virtual void withdraw() = 0;

    [[nodiscard]] virtual const DiscoveryState& state() const = 0;
    // Called on the main thread after every change of state().
    virtual void setOnChanged(std::function<void()> onChanged) = 0;
};

}  // namespace tamborix
