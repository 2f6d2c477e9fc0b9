#pragma once
// The platform's store of secrets (on Linux the Secret Service), reduced to what the identity key
// needs: one secret per account under the application's own service name.

#include <functional>
#include <string>
#include <string_view>

#include "protocol/bytes.h"

namespace tamborix {

struct SecretLookup {
    enum class Status {
        found,     // the item exists (and, for lookup, `secret` holds its value)
        notFound,  // the store answered and holds no such item
        failed,    // no answer: no service, locked, timed out, refused, ...
    };
    Status status = Status::failed;
    Bytes secret;       // only for a found lookup
    std::string error;  // only when failed

    [[nodiscard]] bool found() const { return status == Status::found; }
    [[nodiscard]] bool notFound() const { return status == Status::notFound; }
};

struct SecretWrite {
    bool ok = false;
    std::string error;  // when not ok; an existing item counts as a failure
};

class SecretStore {
public:
    virtual ~SecretStore() = default;

    // Whether an item exists for `account`, without reading (or unlocking) its value.
    [[nodiscard]] virtual SecretLookup find(std::string_view account) = 0;
    // The value of the item for `account`.
    [[nodiscard]] virtual SecretLookup lookup(std::string_view account) = 0;
    // Creates a new item. Never replaces an existing one: a secret we could not read may still be
    // somebody's only copy of an identity.
    [[nodiscard]] virtual SecretWrite add(std::string_view account, std::string_view label,
                                          ByteView secret) = 0;

    // Asks the store to make the item for `account` readable: the service shows its own unlock
    // prompt and is waited for however long the user takes. `ready` runs once, on the main loop,
    // when the item may have become readable (unlocked, or the service appeared); never after the
    // store is destroyed. A new request replaces an earlier one. Stores that cannot be unlocked
    // never call it.
    virtual void requestUnlock(std::string_view account, std::function<void()> ready) {
        (void)account;
        (void)ready;
    }
};

}  // namespace tamborix
