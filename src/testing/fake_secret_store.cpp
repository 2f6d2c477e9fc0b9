#include "testing/fake_secret_store.h"

#include <utility>

namespace tamborix::testing {
namespace {

SecretLookup failure() {
    SecretLookup result;
    result.status = SecretLookup::Status::failed;
    result.error = "The name org.freedesktop.secrets was not provided by any .service files";
    return result;
}

}  // namespace

SecretLookup FakeSecretStore::find(std::string_view account) {
    ++finds;
    if (unavailable) return failure();
    SecretLookup result;
    result.status = items.contains(account) ? SecretLookup::Status::found
                                            : SecretLookup::Status::notFound;
    return result;
}

SecretLookup FakeSecretStore::lookup(std::string_view account) {
    ++lookups;
    if (unavailable) return failure();
    if (locked) {
        SecretLookup result;
        result.error = "the keyring holding the item is locked";
        return result;
    }
    SecretLookup result;
    auto it = items.find(account);
    if (it == items.end()) {
        result.status = SecretLookup::Status::notFound;
    } else {
        result.status = SecretLookup::Status::found;
        result.secret = it->second.secret;
    }
    return result;
}

SecretWrite FakeSecretStore::add(std::string_view account, std::string_view label,
                                 ByteView secret) {
    ++adds;
    if (unavailable) return {false, failure().error};
    if (locked) return {false, "the keyring is locked"};
    if (failAdds) return {false, "refused"};
    if (items.contains(account)) return {false, "an item already exists"};
    items.emplace(std::string(account), Item{std::string(label), Bytes(secret.begin(), secret.end())});
    return {true, {}};
}

void FakeSecretStore::requestUnlock(std::string_view, std::function<void()> ready) {
    ++unlockRequests;
    unlockRequest = std::move(ready);
}

void FakeSecretStore::unlock() {
    locked = false;
    unavailable = false;
    if (auto ready = std::exchange(unlockRequest, nullptr)) ready();
}

}  // namespace tamborix::testing
