#pragma once
// An in-memory secret store that can be told to fail, and counts how it was used.

#include <map>
#include <string>

#include "ports/secret_store.h"

namespace tamborix::testing {

class FakeSecretStore final : public SecretStore {
public:
    struct Item {
        std::string label;
        Bytes secret;
    };

    SecretLookup find(std::string_view account) override;
    SecretLookup lookup(std::string_view account) override;
    SecretWrite add(std::string_view account, std::string_view label, ByteView secret) override;

    void requestUnlock(std::string_view account, std::function<void()> ready) override;
    // What a keyring answers once unlocked; runs the waiting request's callback, if any.
    void unlock();

    // Every call fails as it does where no Secret Service runs.
    bool unavailable = false;
    // Items exist but cannot be read or added to: a locked keyring.
    bool locked = false;
    std::function<void()> unlockRequest;
    int unlockRequests = 0;
    bool failAdds = false;

    std::map<std::string, Item, std::less<>> items;
    int finds = 0;
    int lookups = 0;
    int adds = 0;
    [[nodiscard]] int calls() const { return finds + lookups + adds; }
};

}  // namespace tamborix::testing
