#pragma once
// SecretStore on the freedesktop Secret Service (gnome-keyring, KWallet, KeePassXC, ...) through
// libsecret. Items carry the attributes "service" (the application id) and "account"; the value
// is the secret's bytes as standard base64 text (44 characters for a 32-byte key), which every
// Secret Service implementation keeps intact and `secret-tool lookup` shows readably.

#include <memory>
#include <string>

#include "base/liveness.h"
#include "ports/main_loop.h"
#include "ports/secret_store.h"

namespace tamborix {

class SecretUnlockWatch;

class LibsecretStore final : public SecretStore {
public:
    static constexpr std::string_view defaultService = "io.tamborix.Helper";

    // Every call waits at most `timeout` for the service (a locked keyring may show an unlock
    // prompt that nobody answers; D-Bus activation may stall) and then reports a failure.
    explicit LibsecretStore(std::string service = std::string(defaultService),
                            Duration timeout = std::chrono::seconds(5));
    // With a loop, requestUnlock works: the wait runs on a thread of its own, and `ready` is
    // posted to `loop`.
    explicit LibsecretStore(MainLoop& loop, std::string service = std::string(defaultService),
                            Duration timeout = std::chrono::seconds(5));
    ~LibsecretStore() override;
    LibsecretStore(const LibsecretStore&) = delete;
    LibsecretStore& operator=(const LibsecretStore&) = delete;

    SecretLookup find(std::string_view account) override;
    SecretLookup lookup(std::string_view account) override;
    SecretWrite add(std::string_view account, std::string_view label, ByteView secret) override;
    // Asks the service once to unlock the item's collection (its own prompt), then watches until
    // the item is readable, or the service appears where there was none, without a time limit.
    void requestUnlock(std::string_view account, std::function<void()> ready) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    MainLoop* loop_ = nullptr;
    Liveness life_;  // posted answers check it
    std::unique_ptr<SecretUnlockWatch> unlock_;
};

}  // namespace tamborix
