#include "platform/linux/services/secret/unlock_watch.h"

#include <gio/gio.h>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/owned.h"

namespace tamborix {
namespace {

constexpr const char* serviceName = "org.freedesktop.secrets";
constexpr const char* servicePath = "/org/freedesktop/secrets";
constexpr const char* serviceInterface = "org.freedesktop.Secret.Service";
constexpr int callTimeoutMs = 3000;
constexpr auto lookAgainEvery = std::chrono::seconds(1);

using BusPtr = Owned<GDBusConnection, g_object_unref>;
using VariantPtr = Owned<GVariant, g_variant_unref>;

BusPtr connect(const std::string& address) {
    BusPtr bus(g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr));
    if (bus) g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
    return bus;
}

// Null when the call failed (no service, no answer in time, an error reply).
VariantPtr call(GDBusConnection* bus, const char* path, const char* interface, const char* method,
                GVariant* args, const GVariantType* reply) {
    return VariantPtr(g_dbus_connection_call_sync(bus, serviceName, path, interface, method, args,
                                                  reply, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                  callTimeoutMs, nullptr, nullptr));
}

std::vector<std::string> paths(GVariant* array) {
    std::vector<std::string> out;
    GVariantIter iter;
    g_variant_iter_init(&iter, array);
    const gchar* path = nullptr;
    while (g_variant_iter_next(&iter, "&o", &path)) out.emplace_back(path);
    return out;
}

struct Search {
    std::vector<std::string> unlocked;
    std::vector<std::string> locked;
};

std::optional<Search> searchItems(GDBusConnection* bus, const std::string& service,
                                  const std::string& account) {
    GVariantBuilder attributes;
    g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&attributes, "{ss}", "service", service.c_str());
    g_variant_builder_add(&attributes, "{ss}", "account", account.c_str());
    auto reply = call(bus, servicePath, serviceInterface, "SearchItems",
                      g_variant_new("(a{ss})", &attributes), G_VARIANT_TYPE("(aoao)"));
    if (!reply) return std::nullopt;
    VariantPtr unlocked(g_variant_get_child_value(reply.get(), 0));
    VariantPtr locked(g_variant_get_child_value(reply.get(), 1));
    return Search{paths(unlocked.get()), paths(locked.get())};
}

// Asks the service to unlock `items`; true when they are unlocked at once. `prompt` is set when
// the service needs the user first.
bool unlock(GDBusConnection* bus, const std::vector<std::string>& items, std::string& prompt) {
    std::vector<const gchar*> raw;
    for (const auto& item : items) raw.push_back(item.c_str());
    auto reply = call(bus, servicePath, serviceInterface, "Unlock",
                      g_variant_new("(@ao)", g_variant_new_objv(raw.data(),
                                                                 static_cast<gssize>(raw.size()))),
                      G_VARIANT_TYPE("(aoo)"));
    if (!reply) return false;
    VariantPtr unlocked(g_variant_get_child_value(reply.get(), 0));
    const gchar* promptPath = nullptr;
    g_variant_get_child(reply.get(), 1, "&o", &promptPath);
    if (promptPath && std::string_view(promptPath) != "/") prompt = promptPath;
    return !paths(unlocked.get()).empty();
}

}  // namespace

SecretUnlockWatch::SecretUnlockWatch(std::string busAddress, std::string service,
                                     std::string account, std::function<void()> found)
    : busAddress_(std::move(busAddress)),
      service_(std::move(service)),
      account_(std::move(account)),
      found_(std::move(found)) {
    if (!busAddress_.empty()) worker_.post([this] { run(); });
}

SecretUnlockWatch::~SecretUnlockWatch() { worker_.stop(); }

void SecretUnlockWatch::run() {
    BusPtr bus;
    bool serviceMissing = false;
    bool asked = false;
    std::string prompt;
    for (bool first = true; first || worker_.pause(lookAgainEvery); first = false) {
        if (bus && g_dbus_connection_is_closed(bus.get())) bus.reset();
        if (!bus) bus = connect(busAddress_);
        const auto search = bus ? searchItems(bus.get(), service_, account_) : std::nullopt;
        if (!search) {
            serviceMissing = true;
            continue;
        }
        // A service that has just appeared may hold the item, or know for sure that it does not:
        // either way the caller looks again.
        if (!search->unlocked.empty() || (serviceMissing && search->locked.empty())) {
            found_();
            break;
        }
        serviceMissing = false;
        if (search->locked.empty() || asked) continue;
        // Only once: a user who dismissed the prompt may still unlock the keyring some other way,
        // which the next looks notice.
        asked = true;
        if (unlock(bus.get(), search->locked, prompt)) {
            found_();
            break;
        }
        if (!prompt.empty() &&
            !call(bus.get(), prompt.c_str(), "org.freedesktop.Secret.Prompt", "Prompt",
                  g_variant_new("(s)", ""), nullptr))
            prompt.clear();
    }
    // A prompt still open would otherwise stay on the screen after nobody waits for it.
    if (bus && !prompt.empty())
        (void)call(bus.get(), prompt.c_str(), "org.freedesktop.Secret.Prompt", "Dismiss", nullptr,
                   nullptr);
}

}  // namespace tamborix
